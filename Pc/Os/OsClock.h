// The tick clock and the library's single time source.
//
// Every time-out, timed wait and sleep of the library goes through this
// clock. Tests may raise its rate (say 50x) so that the protocol's 1 s, 2 s,
// 5 s and 10 s limits pass in a fraction of the real time with unchanged
// code; production never changes it.
#pragma once

#include <cstdint>

namespace vos {

// Milliseconds of the (possibly accelerated) clock, wrapping at 32 bits,
// like GetTickCount.
uint32_t OsGetTickCount();

// Sleeps for ms milliseconds of the clock.
void OsSleep(uint32_t ms);

// Converts a clock time-out into real milliseconds (kOsInfinite stays).
uint32_t OsRealMs(uint32_t ms);

// Test hooks: the clock runs `rate` times faster than real time (1 = real).
// The tick count stays continuous across a change.
void OsSetClockRate(uint32_t rate);
uint32_t OsGetClockRate();
// Test hook: moves the tick count so that it reads `ticks` now (for testing
// the 32-bit wrap).
void OsSetTickCount(uint32_t ticks);

}  // namespace vos
