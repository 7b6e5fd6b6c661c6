// Threads: exit codes, waits with time-outs, termination of stuck threads,
// thread ids; critical sections.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsCritSec.h"
#include "Pc/Os/OsEvent.h"
#include "Pc/Os/OsThread.h"
#include "Tests/Support/OsTestSupport.h"

namespace {

using vtest::ClockRate;

constexpr uint32_t kStillActive = 259;

uint32_t ReturnArg(void* arg) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(arg)); }

struct Blocked {
    vos::OsHandle gate = vos::EventCreate(true, false);
    vos::OsHandle entered = vos::EventCreate(true, false);
    std::atomic<bool> unwound{false};
    std::atomic<uint32_t> id{0};
    ~Blocked() {
        vos::EventClose(gate);
        vos::EventClose(entered);
    }
};

// Sets the flag when the stack unwinds.
struct UnwindMark {
    explicit UnwindMark(std::atomic<bool>& f) : flag(f) {}
    ~UnwindMark() { flag = true; }
    std::atomic<bool>& flag;
};

uint32_t WaitOnGate(void* arg) {
    Blocked* b = static_cast<Blocked*>(arg);
    UnwindMark mark(b->unwound);
    b->id = vos::ThreadCurrentId();
    vos::EventSet(b->entered);
    return vos::EventWait(b->gate, vos::kOsInfinite) == vos::kWaitObject0 ? 7 : 8;
}

uint32_t SleepLong(void* arg) {
    Blocked* b = static_cast<Blocked*>(arg);
    UnwindMark mark(b->unwound);
    vos::EventSet(b->entered);
    vos::OsSleep(vos::kOsInfinite);
    return 0;
}

// Waits for the thread to end; its exit code.
uint32_t ExitCodeAtEnd(vos::OsHandle t) {
    EXPECT_EQ(vos::kWaitObject0, vos::ThreadWait(t, 10000));
    uint32_t code = 0;
    EXPECT_TRUE(vos::ThreadGetExitCode(t, &code));
    return code;
}

TEST(OsThread, RunsAndReportsItsExitCode) {
    vos::OsHandle t = vos::ThreadCreate(ReturnArg, reinterpret_cast<void*>(uintptr_t{42}));
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(42u, ExitCodeAtEnd(t));
    EXPECT_EQ(vos::kWaitObject0, vos::ThreadWait(t, 0));  // stays ended
    vos::ThreadClose(t);
    EXPECT_EQ(nullptr, vos::ThreadCreate(nullptr, nullptr));
}

TEST(OsThread, WaitTimesOutOnTheAcceleratedClockWhileItRuns) {
    ClockRate rate(50);
    Blocked b;
    vos::OsHandle t = vos::ThreadCreate(WaitOnGate, &b);
    ASSERT_NE(nullptr, t);
    ASSERT_EQ(vos::kWaitObject0, vos::EventWait(b.entered, 10000));
    uint32_t t0 = vos::OsGetTickCount();
    EXPECT_EQ(vos::kWaitTimeout, vos::ThreadWait(t, 1000));
    EXPECT_GE(vos::OsGetTickCount() - t0, 999u);
    uint32_t code = 0;
    EXPECT_TRUE(vos::ThreadGetExitCode(t, &code));
    EXPECT_EQ(kStillActive, code);
    EXPECT_NE(0u, b.id.load());
    EXPECT_NE(vos::ThreadCurrentId(), b.id.load());

    vos::EventSet(b.gate);
    EXPECT_EQ(7u, ExitCodeAtEnd(t));
    vos::ThreadClose(t);
}

TEST(OsThread, TerminateStopsAThreadStuckInAnEventWait) {
    SKIP_CANCELLATION_UNDER_SANITIZERS();
    Blocked b;
    vos::OsHandle t = vos::ThreadCreate(WaitOnGate, &b);
    ASSERT_EQ(vos::kWaitObject0, vos::EventWait(b.entered, 10000));
    EXPECT_TRUE(vos::ThreadTerminate(t, 0xFFFFFFFFu));
    EXPECT_EQ(0xFFFFFFFFu, ExitCodeAtEnd(t));
#if !defined(_WIN32)
    EXPECT_TRUE(b.unwound.load());  // cancellation unwinds the stack
#endif
    vos::ThreadClose(t);
    // The dead waiter left nothing behind: the gate's set is there for the
    // next wait, and waits on other events still work.
    vos::EventSet(b.gate);
    EXPECT_EQ(vos::kWaitObject0, vos::EventWait(b.gate, 0));
    vos::OsHandle other = vos::EventCreate(false, true);
    EXPECT_EQ(vos::kWaitObject0, vos::EventWait(other, 1000));
    vos::EventClose(other);
}

TEST(OsThread, TerminateStopsASleepingThread) {
    SKIP_CANCELLATION_UNDER_SANITIZERS();
    Blocked b;
    vos::OsHandle t = vos::ThreadCreate(SleepLong, &b);
    ASSERT_EQ(vos::kWaitObject0, vos::EventWait(b.entered, 10000));
    EXPECT_TRUE(vos::ThreadTerminate(t, 5));
    EXPECT_EQ(5u, ExitCodeAtEnd(t));
    vos::ThreadClose(t);
}

#if !defined(_WIN32)
struct Spinner {
    std::atomic<bool> running{false};
    std::atomic<bool> stop{false};
};

uint32_t Spin(void* arg) {
    Spinner* s = static_cast<Spinner*>(arg);
    s->running = true;
    while (!s->stop.load()) {
    }  // no cancellation point
    return 3;
}

TEST(OsThread, ThreadWithoutCancellationPointIsLeftToEndOnItsOwn) {
    Spinner s;
    vos::OsHandle t = vos::ThreadCreate(Spin, &s);
    while (!s.running.load()) std::this_thread::yield();
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(vos::ThreadTerminate(t, 9));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(900));  // the one-second grace
    EXPECT_LT(took, std::chrono::milliseconds(5000));
    EXPECT_EQ(vos::kWaitTimeout, vos::ThreadWait(t, 0));
    s.stop = true;
    EXPECT_EQ(vos::kWaitObject0, vos::ThreadWait(t, 10000));
    vos::ThreadClose(t);
}
#endif

TEST(OsThread, CloseLeavesARunningThreadRunning) {
    Blocked b;
    vos::OsHandle t = vos::ThreadCreate(WaitOnGate, &b);
    ASSERT_EQ(vos::kWaitObject0, vos::EventWait(b.entered, 10000));
    vos::ThreadClose(t);
    vos::EventSet(b.gate);
    // The thread ends by itself; its stack unwinds normally.
    EXPECT_TRUE(vtest::WaitUntil([&] { return b.unwound.load(); }));
}

TEST(OsCriticalSection, IsRecursiveAndExcludesOtherThreads) {
    vos::OsCriticalSection cs;
    cs.Enter();
    EXPECT_TRUE(cs.TryEnter());
    bool otherGot = true;
    std::thread([&] { otherGot = cs.TryEnter(); }).join();
    EXPECT_FALSE(otherGot);
    cs.Leave();
    std::thread([&] { otherGot = cs.TryEnter(); }).join();
    EXPECT_FALSE(otherGot);  // still held once
    cs.Leave();
    std::thread([&] {
        otherGot = cs.TryEnter();
        if (otherGot) cs.Leave();
    }).join();
    EXPECT_TRUE(otherGot);
}

TEST(OsCriticalSection, SerialisesUpdates) {
    vos::OsCriticalSection cs;
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 100000; ++i) {
            vos::OsLock lock(cs);
            counter = counter + 1;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(200000, counter);
}

}  // namespace
