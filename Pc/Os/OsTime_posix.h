// Monotonic deadlines for the POSIX side of the platform layer (internal).
//
// Time-outs of the library clock are turned into real milliseconds with
// OsRealMs first; the deadlines below are on CLOCK_MONOTONIC.
#pragma once

#include <cstdint>
#include <ctime>

namespace vos {
namespace posix {

inline struct timespec MonoNow() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts;
}

inline int64_t MonoNowNs() {
    struct timespec ts = MonoNow();
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

inline struct timespec NsToTimespec(int64_t ns) {
    if (ns < 0) ns = 0;
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(ns / 1000000000LL);
    ts.tv_nsec = static_cast<long>(ns % 1000000000LL);
    return ts;
}

// The monotonic time realMs real milliseconds from now, in nanoseconds.
inline int64_t DeadlineNs(uint32_t realMs) {
    return MonoNowNs() + static_cast<int64_t>(realMs) * 1000000LL;
}

}  // namespace posix
}  // namespace vos
