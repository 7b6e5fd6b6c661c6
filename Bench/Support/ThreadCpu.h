// CPU time and wake-ups of this process's threads, from the scheduler's
// per-thread accounting (/proc/self/task/TID/schedstat: nanoseconds on the
// CPU and the number of times the thread was put on a CPU). Nanosecond
// resolution, unlike the clock ticks of /proc/.../stat.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>

namespace bench {

struct ThreadSample {
    std::string name;
    uint64_t cpuNs = 0;
    uint64_t runs = 0;  // times the thread got a CPU: its wake-ups, roughly
};

// Every thread of the process now, by thread id.
std::map<pid_t, ThreadSample> SampleThreads();

// The calling thread's id.
pid_t CurrentThreadId();

}  // namespace bench
