// The library clock: a steady clock that tests may run faster than real time.
//
// The tick count is base + (real time since the base point) x rate, in
// milliseconds, cut to 32 bits like GetTickCount. A change of rate or a forced
// tick count moves the base point, so the count stays continuous.
#include "Pc/Os/OsClock.h"

#include <chrono>
#include <mutex>

#include "Pc/Os/OsTypes.h"

namespace vos {
namespace {

using SteadyClock = std::chrono::steady_clock;

struct ClockState {
    std::mutex lock;
    SteadyClock::time_point baseReal = SteadyClock::now();
    // Milliseconds of the steady clock's epoch (the machine's start on the
    // systems we run on), as GetTickCount counts.
    uint64_t baseTicks = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(baseReal.time_since_epoch()).count());
    uint32_t rate = 1;
};

ClockState& State() {
    static ClockState state;
    return state;
}

// Ticks now; the caller holds the lock.
uint64_t TicksLocked(ClockState& s, SteadyClock::time_point now) {
    auto elapsedUs = std::chrono::duration_cast<std::chrono::microseconds>(now - s.baseReal).count();
    if (elapsedUs < 0) elapsedUs = 0;
    return s.baseTicks + static_cast<uint64_t>(elapsedUs) * s.rate / 1000u;
}

}  // namespace

uint32_t OsGetTickCount() {
    ClockState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return static_cast<uint32_t>(TicksLocked(s, SteadyClock::now()));
}

uint32_t OsRealMs(uint32_t ms) {
    if (ms == kOsInfinite) return kOsInfinite;
    uint32_t rate = OsGetClockRate();
    if (rate <= 1) return ms;
    // Rounded up, so that a non-zero time-out never becomes a poll.
    return static_cast<uint32_t>((static_cast<uint64_t>(ms) + rate - 1) / rate);
}

void OsSetClockRate(uint32_t rate) {
    if (rate == 0) rate = 1;
    ClockState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    SteadyClock::time_point now = SteadyClock::now();
    s.baseTicks = TicksLocked(s, now);
    s.baseReal = now;
    s.rate = rate;
}

uint32_t OsGetClockRate() {
    ClockState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.rate;
}

void OsSetTickCount(uint32_t ticks) {
    ClockState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.baseReal = SteadyClock::now();
    s.baseTicks = ticks;
}

}  // namespace vos
