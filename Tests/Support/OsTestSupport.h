// Helpers of the platform layer's tests: the library clock's rate for one
// test's scope, an event that closes itself, a bounded wait for a condition,
// and the skip of tests that cancel a blocked thread under the sanitizers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsEvent.h"
#include "Tests/Support/Wait.h"

// The sanitizers of GCC 12 do not follow cancellation unwinding: ThreadSanitizer
// loses track of a thread cancelled inside one of its interceptors and then
// reports its correctly locked accesses as races; AddressSanitizer trips over
// the red zones of the unwound frames. Tests that cancel a blocked thread
// run without them.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define VTEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
#define VTEST_SANITIZED 1
#endif
#endif
#if defined(VTEST_SANITIZED)
#define SKIP_CANCELLATION_UNDER_SANITIZERS() GTEST_SKIP() << "thread cancellation is beyond the sanitizers"
#else
#define SKIP_CANCELLATION_UNDER_SANITIZERS() (void)0
#endif

namespace vtest {

// The library clock runs `rate` times fast until the end of the scope.
struct ClockRate {
    explicit ClockRate(uint32_t rate) { vos::OsSetClockRate(rate); }
    ~ClockRate() { vos::OsSetClockRate(1); }
    ClockRate(const ClockRate&) = delete;
    ClockRate& operator=(const ClockRate&) = delete;
};

struct Event {
    explicit Event(bool manual, bool set = false) : h(vos::EventCreate(manual, set)) {}
    ~Event() { vos::EventClose(h); }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    vos::OsHandle h;
};

}  // namespace vtest
