// Events: manual and auto reset, waits on several, time-outs on the library
// clock, sets from other threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsEvent.h"
#include "Tests/Support/OsTestSupport.h"

namespace {

using vtest::ClockRate;
using vtest::Event;
using vtest::WaitUntil;

using RealClock = std::chrono::steady_clock;

TEST(OsEvent, ManualResetStaysSignalledUntilReset) {
    Event e(true);
    ASSERT_NE(nullptr, e.h);
    EXPECT_EQ(vos::kWaitTimeout, vos::EventWait(e.h, 0));
    EXPECT_TRUE(vos::EventSet(e.h));
    EXPECT_EQ(vos::kWaitObject0, vos::EventWait(e.h, 0));
    EXPECT_EQ(vos::kWaitObject0, vos::EventWait(e.h, 1000));
    EXPECT_TRUE(vos::EventReset(e.h));
    EXPECT_EQ(vos::kWaitTimeout, vos::EventWait(e.h, 0));

    Event initially(true, true);
    EXPECT_EQ(vos::kWaitObject0, vos::EventWait(initially.h, 0));
}

TEST(OsEvent, AutoResetIsTakenByOneWait) {
    Event e(false, true);
    EXPECT_EQ(vos::kWaitObject0, vos::EventWait(e.h, 0));
    EXPECT_EQ(vos::kWaitTimeout, vos::EventWait(e.h, 0));
    vos::EventSet(e.h);
    vos::EventSet(e.h);  // sets do not count up
    EXPECT_EQ(vos::kWaitObject0, vos::EventWait(e.h, 0));
    EXPECT_EQ(vos::kWaitTimeout, vos::EventWait(e.h, 0));
}

TEST(OsEvent, WaitAnyGivesLowestSignalledIndex) {
    Event a(false), b(false), c(true);
    vos::OsHandle list[] = {a.h, b.h, c.h};
    EXPECT_EQ(vos::kWaitTimeout, vos::EventWaitAny(list, 3, 0));
    vos::EventSet(c.h);
    vos::EventSet(b.h);
    EXPECT_EQ(vos::kWaitObject0 + 1, vos::EventWaitAny(list, 3, 0));
    // Only the auto-reset event that was reported is taken.
    EXPECT_EQ(vos::kWaitObject0 + 2, vos::EventWaitAny(list, 3, 0));
    EXPECT_EQ(vos::kWaitObject0 + 2, vos::EventWaitAny(list, 3, 0));
    vos::EventSet(a.h);
    EXPECT_EQ(vos::kWaitObject0, vos::EventWaitAny(list, 3, 0));
    EXPECT_EQ(vos::kWaitObject0 + 2, vos::EventWaitAny(list, 3, 0));
}

TEST(OsEvent, WaitAnyOnSixtyFourEvents) {
    std::vector<vos::OsHandle> list;
    for (int i = 0; i < 64; ++i) list.push_back(vos::EventCreate(true, false));
    std::thread setter([&] { vos::EventSet(list[63]); });
    EXPECT_EQ(vos::kWaitObject0 + 63, vos::EventWaitAny(list.data(), 64, 10000));
    setter.join();
    for (vos::OsHandle h : list) vos::EventClose(h);
}

TEST(OsEvent, BadArgumentsFail) {
    Event e(true);
    vos::OsHandle list[65] = {};
    for (auto& h : list) h = e.h;
    EXPECT_EQ(vos::kWaitFailed, vos::EventWait(nullptr, 0));
    EXPECT_EQ(vos::kWaitFailed, vos::EventWaitAny(list, 0, 0));
    EXPECT_EQ(vos::kWaitFailed, vos::EventWaitAny(list, 65, 0));
    EXPECT_EQ(vos::kWaitFailed, vos::EventWaitAny(nullptr, 1, 0));
    EXPECT_FALSE(vos::EventSet(nullptr));
    EXPECT_FALSE(vos::EventReset(nullptr));
    vos::EventClose(nullptr);
}

TEST(OsEvent, TimeOutsRunOnTheAcceleratedClock) {
    ClockRate rate(50);
    Event a(false), b(true);
    vos::OsHandle list[] = {a.h, b.h};
    uint32_t t0 = vos::OsGetTickCount();
    auto start = RealClock::now();
    EXPECT_EQ(vos::kWaitTimeout, vos::EventWaitAny(list, 2, 5000));
    EXPECT_EQ(vos::kWaitTimeout, vos::EventWait(a.h, 2000));
    uint32_t ticks = vos::OsGetTickCount() - t0;
    auto real = std::chrono::duration_cast<std::chrono::milliseconds>(RealClock::now() - start).count();
    EXPECT_GE(ticks, 6990u);
    EXPECT_LT(real, 3000);  // 140 ms at rate 50
}

TEST(OsEvent, SetFromAnotherThreadWakesTheWaiter) {
    Event a(false), b(true);
    vos::OsHandle list[] = {a.h, b.h};
    std::thread setter([&] { vos::EventSet(b.h); });
    EXPECT_EQ(vos::kWaitObject0 + 1, vos::EventWaitAny(list, 2, vos::kOsInfinite));
    setter.join();
}

TEST(OsEvent, EachSetOfAnAutoResetEventReleasesOneWaiter) {
    Event e(false);
    std::atomic<int> woken{0};
    auto waiter = [&] {
        if (vos::EventWait(e.h, 20000) == vos::kWaitObject0) ++woken;
    };
    std::thread t1(waiter), t2(waiter);
    vos::EventSet(e.h);
    ASSERT_TRUE(WaitUntil([&] { return woken.load() >= 1; }));
    vos::EventSet(e.h);
    ASSERT_TRUE(WaitUntil([&] { return woken.load() == 2; }));
    t1.join();
    t2.join();
    // Two sets, two takers: nothing is left over.
    EXPECT_EQ(vos::kWaitTimeout, vos::EventWait(e.h, 0));
}

TEST(OsEvent, ManualResetReleasesAllWaiters) {
    Event e(true);
    std::atomic<int> woken{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            if (vos::EventWait(e.h, 20000) == vos::kWaitObject0) ++woken;
        });
    vos::EventSet(e.h);
    for (auto& t : threads) t.join();
    EXPECT_EQ(4, woken.load());
}

}  // namespace
