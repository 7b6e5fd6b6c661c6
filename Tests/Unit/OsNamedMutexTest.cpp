// The named mutex: recursion, ownership, time-outs, and abandonment by a dead
// thread or process (a second process is this test binary started again).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsEvent.h"
#include "Pc/Os/OsFile.h"
#include "Pc/Os/OsNamedMutex.h"
#include "Pc/Os/OsThread.h"
#include "Tests/Support/ChildProcess.h"
#include "Tests/Support/OsTestSupport.h"

namespace fs = std::filesystem;

namespace {

using vtest::ClockRate;

std::string UniqueSuffix() {
    static std::atomic<int> counter{0};
    return std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
           std::to_string(++counter);
}

// A mutex name of this test only; the '/' exercises the name's mapping.
struct MutexName {
    std::string name = "VantroTest/NamedMutex-" + UniqueSuffix();
    ~MutexName() { vos::NamedMutexRemove(name.c_str()); }
};

bool WaitForFile(const fs::path& p, int realMs) {
    return vtest::WaitUntil([&] {
        std::error_code ec;
        return fs::exists(p, ec);
    }, realMs);
}

// Child: takes the mutex, announces it by creating the file, then either
// holds it until killed ("hold") or ends without releasing it ("exit").
VTEST_CHILD_ROLE(holdNamedMutex) {
    if (args.size() != 3) return 2;
    vos::OsHandle m = vos::NamedMutexCreate(args[0].c_str());
    if (!m || vos::NamedMutexWait(m, 30000) != vos::kWaitObject0) return 3;
    vos::OsHandle f = vos::FileCreate(args[1].c_str(), vos::kGenericWrite, 0, vos::kCreateAlways,
                                      vos::kFileAttributeNormal);
    if (!vos::IsValidHandle(f)) return 4;
    vos::FileClose(f);
    if (args[2] == "hold") vos::OsSleep(vos::kOsInfinite);
    vos::NamedMutexClose(m);  // still owned: ending the process abandons it
    return 0;
}

struct ChildHolder {
    vtest::Child child;
    fs::path ready = fs::temp_directory_path() / ("vantro-mutex-ready-" + UniqueSuffix());
    ~ChildHolder() {
        vtest::KillChild(child);
        std::error_code ec;
        fs::remove(ready, ec);
    }
};

TEST(OsNamedMutex, IsRecursiveAndOwnedByOneThread) {
    MutexName n;
    vos::OsHandle m = vos::NamedMutexCreate(n.name.c_str());
    ASSERT_NE(nullptr, m);
    EXPECT_EQ(vos::kWaitObject0, vos::NamedMutexWait(m, 0));
    EXPECT_EQ(vos::kWaitObject0, vos::NamedMutexWait(m, vos::kOsInfinite));

    uint32_t otherWait = 0;
    bool otherRelease = true;
    std::thread([&] {
        otherRelease = vos::NamedMutexRelease(m);
        otherWait = vos::NamedMutexWait(m, 0);
    }).join();
    EXPECT_FALSE(otherRelease);  // not the owner
    EXPECT_EQ(vos::kWaitTimeout, otherWait);

    EXPECT_TRUE(vos::NamedMutexRelease(m));
    EXPECT_TRUE(vos::NamedMutexRelease(m));
    EXPECT_FALSE(vos::NamedMutexRelease(m));  // no longer owned
    std::thread([&] {
        otherWait = vos::NamedMutexWait(m, 0);
        if (otherWait == vos::kWaitObject0) vos::NamedMutexRelease(m);
    }).join();
    EXPECT_EQ(vos::kWaitObject0, otherWait);
    vos::NamedMutexClose(m);
}

TEST(OsNamedMutex, SameNameIsTheSameMutex) {
    MutexName n;
    vos::OsHandle a = vos::NamedMutexCreate(n.name.c_str());
    vos::OsHandle b = vos::NamedMutexCreate(n.name.c_str());
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    ASSERT_EQ(vos::kWaitObject0, vos::NamedMutexWait(a, 0));
    uint32_t otherWait = 0;
    std::thread([&] { otherWait = vos::NamedMutexWait(b, 0); }).join();
    EXPECT_EQ(vos::kWaitTimeout, otherWait);
    EXPECT_TRUE(vos::NamedMutexRelease(a));
    vos::NamedMutexClose(a);
    vos::NamedMutexClose(b);
    EXPECT_EQ(nullptr, vos::NamedMutexCreate(""));
    EXPECT_EQ(nullptr, vos::NamedMutexCreate(nullptr));
    EXPECT_EQ(vos::kWaitFailed, vos::NamedMutexWait(nullptr, 0));
}

uint32_t TakeAndEnd(void* m) { return vos::NamedMutexWait(m, 10000); }

TEST(OsNamedMutex, ThreadEndingWhileOwnerAbandonsIt) {
    MutexName n;
    vos::OsHandle m = vos::NamedMutexCreate(n.name.c_str());
    vos::OsHandle t = vos::ThreadCreate(TakeAndEnd, m);
    ASSERT_EQ(vos::kWaitObject0, vos::ThreadWait(t, 10000));
    uint32_t code = 1;
    vos::ThreadGetExitCode(t, &code);
    EXPECT_EQ(vos::kWaitObject0, code);
    vos::ThreadClose(t);

    EXPECT_EQ(vos::kWaitAbandoned, vos::NamedMutexWait(m, 1000));
    EXPECT_TRUE(vos::NamedMutexRelease(m));  // the waiter owned it
    EXPECT_EQ(vos::kWaitObject0, vos::NamedMutexWait(m, 1000));
    EXPECT_TRUE(vos::NamedMutexRelease(m));
    vos::NamedMutexClose(m);
}

struct MutexWaiter {
    vos::OsHandle mutex;
    vos::OsHandle entered = vos::EventCreate(true, false);
    ~MutexWaiter() { vos::EventClose(entered); }
};

uint32_t WaitForever(void* arg) {
    MutexWaiter* w = static_cast<MutexWaiter*>(arg);
    vos::EventSet(w->entered);
    return vos::NamedMutexWait(w->mutex, vos::kOsInfinite);
}

TEST(OsNamedMutex, TerminateStopsAThreadWaitingForIt) {
    SKIP_CANCELLATION_UNDER_SANITIZERS();
    MutexName n;
    MutexWaiter w;
    w.mutex = vos::NamedMutexCreate(n.name.c_str());
    ASSERT_EQ(vos::kWaitObject0, vos::NamedMutexWait(w.mutex, 0));
    vos::OsHandle t = vos::ThreadCreate(WaitForever, &w);
    ASSERT_EQ(vos::kWaitObject0, vos::EventWait(w.entered, 10000));
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(vos::ThreadTerminate(t, 0xFFFFFFFFu));
    EXPECT_EQ(vos::kWaitObject0, vos::ThreadWait(t, 10000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    vos::ThreadClose(t);
    EXPECT_TRUE(vos::NamedMutexRelease(w.mutex));
    vos::NamedMutexClose(w.mutex);
}

TEST(OsNamedMutex, ProcessKilledWhileOwnerAbandonsItOnce) {
    ClockRate rate(50);
    MutexName n;
    vos::OsHandle m = vos::NamedMutexCreate(n.name.c_str());
    ASSERT_NE(nullptr, m);
    ChildHolder h;
    h.child = vtest::SpawnChild("holdNamedMutex", {n.name, h.ready.string(), "hold"});
    ASSERT_TRUE(h.child.valid());
    ASSERT_TRUE(WaitForFile(h.ready, 30000)) << "the child did not take the mutex";

    // Held by the other process: a finite wait times out on the fast clock.
    uint32_t t0 = vos::OsGetTickCount();
    EXPECT_EQ(vos::kWaitTimeout, vos::NamedMutexWait(m, 2000));
    EXPECT_GE(vos::OsGetTickCount() - t0, 1999u);

    vtest::KillChild(h.child);
    EXPECT_EQ(vos::kWaitAbandoned, vos::NamedMutexWait(m, 10000));
    // The waiter owns it now: another thread cannot take it.
    uint32_t otherWait = 0;
    std::thread([&] { otherWait = vos::NamedMutexWait(m, 0); }).join();
    EXPECT_EQ(vos::kWaitTimeout, otherWait);
    EXPECT_TRUE(vos::NamedMutexRelease(m));
    // Abandonment is reported once; afterwards it is a plain mutex.
    EXPECT_EQ(vos::kWaitObject0, vos::NamedMutexWait(m, 10000));
    EXPECT_TRUE(vos::NamedMutexRelease(m));
    vos::NamedMutexClose(m);
}

TEST(OsNamedMutex, ProcessEndingWhileOwnerAbandonsIt) {
    MutexName n;
    vos::OsHandle m = vos::NamedMutexCreate(n.name.c_str());
    ChildHolder h;
    h.child = vtest::SpawnChild("holdNamedMutex", {n.name, h.ready.string(), "exit"});
    int exitCode = -1;
    ASSERT_TRUE(vtest::WaitChild(h.child, 30000, &exitCode));
    EXPECT_EQ(0, exitCode);
    EXPECT_EQ(vos::kWaitAbandoned, vos::NamedMutexWait(m, 10000));
    EXPECT_TRUE(vos::NamedMutexRelease(m));
    EXPECT_EQ(vos::kWaitObject0, vos::NamedMutexWait(m, 0));
    EXPECT_TRUE(vos::NamedMutexRelease(m));
    vos::NamedMutexClose(m);
}

}  // namespace
