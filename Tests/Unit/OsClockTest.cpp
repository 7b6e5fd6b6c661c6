// The library clock: accelerated rate, continuity, 32-bit wrap.
#include <gtest/gtest.h>

#include <chrono>

#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsTypes.h"
#include "Tests/Support/OsTestSupport.h"

namespace {

using vtest::ClockRate;

using RealClock = std::chrono::steady_clock;

int64_t RealMsSince(RealClock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(RealClock::now() - start).count();
}

TEST(OsClock, RealMsScalesWithRateAndRoundsUp) {
    ClockRate rate(50);
    EXPECT_EQ(50u, vos::OsGetClockRate());
    EXPECT_EQ(20u, vos::OsRealMs(1000));
    EXPECT_EQ(200u, vos::OsRealMs(10000));
    EXPECT_EQ(1u, vos::OsRealMs(1));  // a short time-out never becomes a poll
    EXPECT_EQ(0u, vos::OsRealMs(0));
    EXPECT_EQ(vos::kOsInfinite, vos::OsRealMs(vos::kOsInfinite));
    vos::OsSetClockRate(1);
    EXPECT_EQ(1000u, vos::OsRealMs(1000));
}

TEST(OsClock, SleepRunsOnTheAcceleratedClock) {
    ClockRate rate(50);
    uint32_t t0 = vos::OsGetTickCount();
    auto start = RealClock::now();
    vos::OsSleep(2000);
    uint32_t ticks = vos::OsGetTickCount() - t0;
    EXPECT_GE(ticks, 1999u);
    EXPECT_LT(RealMsSince(start), 1000);  // 40 ms at rate 50
}

TEST(OsClock, TicksStayContinuousAcrossRateChanges) {
    ClockRate rate(50);
    vos::OsSleep(500);
    uint32_t before = vos::OsGetTickCount();
    vos::OsSetClockRate(1);
    uint32_t after = vos::OsGetTickCount();
    EXPECT_LT(after - before, 50u);  // no jump back to real time (nor forward)
    vos::OsSetClockRate(50);
    EXPECT_LT(vos::OsGetTickCount() - after, 50u);
}

TEST(OsClock, TickCountWrapsAt32Bits) {
    ClockRate rate(50);
    vos::OsSetTickCount(0xFFFFFFFFu - 100);
    uint32_t first = vos::OsGetTickCount();
    EXPECT_GE(first, 0xFFFFFFFFu - 100);
    auto start = RealClock::now();
    uint32_t now = first;
    while (now >= first && RealMsSince(start) < 5000) now = vos::OsGetTickCount();
    ASSERT_LT(now, first) << "the count did not wrap";
    EXPECT_LT(now, 1000u);
    // Unsigned differences still measure time across the wrap.
    EXPECT_GE(static_cast<uint32_t>(now - first), 100u);
    EXPECT_LT(static_cast<uint32_t>(now - first), 100000u);
}

}  // namespace
