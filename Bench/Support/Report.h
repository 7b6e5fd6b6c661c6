// The benchmarks' verdicts, collected while they run and printed as one
// table at the end: the figure, its floor, their ratio and the target.
#pragma once

#include <string>

namespace benchmark {
class State;
}

namespace bench {

// Whether the long runs were asked for (--full or VANTRO_BENCH_FULL=1).
bool Full();
void SetFull(bool full);

enum class Goal {
    AtMost,   // the ratio must not exceed the target
    AtLeast,  // the ratio must reach the target
    Report,   // no target: the figure is reported
};

struct Verdict {
    std::string name;      // "latency/pty"
    std::string figure;    // "library median 412 us vs floor 305 us"
    double ratio = 0;      // the compared number
    double target = 0;
    Goal goal = Goal::Report;
};

// Records a verdict and sets the benchmark's counters ("ratio", "target",
// "pass") so that they show in Google Benchmark's output too.
void Record(benchmark::State& state, const Verdict& verdict);
// A benchmark that could not run (no simulator, a failed exchange).
void RecordFailure(benchmark::State& state, const std::string& name, const std::string& why);

// Prints the table; returns the number of targets missed or failed.
int PrintSummary();

}  // namespace bench
