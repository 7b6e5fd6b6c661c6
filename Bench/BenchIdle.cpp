// Idle cost: the CPU time the library's threads take over 10 s with an open
// link and no calls, from the scheduler's per-thread accounting. The
// simulator runs in its own process and this process's main thread sleeps,
// so every other thread of the process is the library's (link threads, the
// USB library's threads). Target: below 0.1% of one core on both links.
// Reported too: how often those threads woke up (the link's transmit thread
// wakes once a second by design to pace the protocol's time-outs).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "Bench/Support/Report.h"
#include "Bench/Support/Rig.h"
#include "Bench/Support/Stats.h"
#include "Bench/Support/ThreadCpu.h"

namespace bench {
namespace {

constexpr double kTargetPercent = 0.1;

void IdleCost(benchmark::State& state, Link link) {
    const std::string name = std::string("idle/") + LinkName(link);
    Rig rig;
    std::string error;
    if (!rig.Start(link, false, &error)) return RecordFailure(state, name, error);
    const pid_t self = CurrentThreadId();
    const double window = 10.0;
    double percent = 0, wakeups = 0;
    std::string detail;
    for (auto _ : state) {
        // Let the opening's stragglers settle.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto before = SampleThreads();
        const Clock::time_point t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(window));
        const double seconds = Seconds(Clock::now() - t0);
        const auto after = SampleThreads();
        uint64_t cpuNs = 0, runs = 0;
        for (const auto& entry : after) {
            if (entry.first == self) continue;
            const auto b = before.find(entry.first);
            const uint64_t cpu0 = b == before.end() ? 0 : b->second.cpuNs;
            const uint64_t runs0 = b == before.end() ? 0 : b->second.runs;
            const uint64_t dCpu = entry.second.cpuNs - cpu0, dRuns = entry.second.runs - runs0;
            cpuNs += dCpu;
            runs += dRuns;
            char part[96];
            std::snprintf(part, sizeof part, "%s%s %.1f/s %.0fus", detail.empty() ? "" : ", ",
                          entry.second.name.c_str(), dRuns / seconds, dCpu / 1e3);
            detail += part;
        }
        percent = 100.0 * cpuNs / 1e9 / seconds;
        wakeups = runs / seconds;
        state.SetIterationTime(seconds);
    }
    rig.Stop();
    state.counters["cpu_percent"] = percent;
    state.counters["wakeups_per_s"] = wakeups;
    char figure[512];
    std::snprintf(figure, sizeof figure, "%.4f%% of a core, %.1f wake-ups/s [%s]", percent, wakeups,
                  detail.c_str());
    // The ratio is the share of the budget used.
    Record(state, Verdict{name, figure, percent / kTargetPercent, 1.0, Goal::AtMost});
}

BENCHMARK_CAPTURE(IdleCost, pty, Link::Pty)->Name("idle/pty")->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(IdleCost, usb, Link::Usb)->Name("idle/usb")->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bench
