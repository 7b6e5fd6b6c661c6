// Contention: several processes, several threads each, making exchanges
// through the one device (KovCommandExecute with an echoed record that
// names process, thread and sequence), against one thread alone.
// Target: the crowd's aggregate exchanges per second at least 0.9 of one
// thread alone, every answer its own request's, no error.
//
// Every worker process is started once and follows one schedule of time
// slots: "alone" slots (one thread of one process works) alternate with
// "crowd" slots (every thread of every process works). Each crowd slot is
// compared with the mean of the alone slots around it, and the figure is the
// median of those ratios, so a burst of load on the shared machine spoils
// one pair, not the figure.
//
// USB: 4 processes x 4 threads (every process is a host on the simulated
// bus). The pty: a COM port has one opener at a time, so 1 process x 4
// threads.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "Bench/Support/ChildMode.h"
#include "Bench/Support/Report.h"
#include "Bench/Support/Rig.h"
#include "Bench/Support/Stats.h"

namespace bench {
namespace {

constexpr double kTarget = 0.9;

struct Outcome {
    std::vector<uint64_t> perSlot;
    uint64_t errors = 0, mismatches = 0;
};

// Runs the workers through `slots` slots of `slotMs`.
bool RunSchedule(Link link, int processes, int threads, int slotMs, int slots, Outcome* out, std::string* error) {
    // Time enough for every worker to start and open its link first.
    const Clock::time_point start = Clock::now() + std::chrono::milliseconds(2500);
    const long long startNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count();
    std::vector<Child> children(static_cast<size_t>(processes));
    for (int p = 0; p < processes; ++p) {
        if (!StartChild({"contention", LinkName(link), std::to_string(p), std::to_string(threads),
                         std::to_string(startNs), std::to_string(slotMs), std::to_string(slots)},
                        &children[static_cast<size_t>(p)], error))
            return false;
    }
    *out = Outcome();
    out->perSlot.assign(static_cast<size_t>(slots), 0);
    bool ok = true;
    for (Child& c : children) {
        std::string line;
        const bool ended = FinishChild(c, 2500 + slotMs * slots + 30000, &line);
        std::istringstream in(line);
        std::string word;
        unsigned long long e = 0, m = 0;
        if (!ended || !(in >> word >> e >> m) || word != "ok") {
            *error = "worker failed: " + line;
            ok = false;
            continue;
        }
        out->errors += e;
        out->mismatches += m;
        for (uint64_t& n : out->perSlot) {
            unsigned long long v = 0;
            in >> v;
            n += v;
        }
    }
    return ok;
}

void Contention(benchmark::State& state, Link link) {
    const std::string name = std::string("contention/") + LinkName(link);
    const int processes = link == Link::Usb ? 4 : 1;
    const int threads = 4;
    const int slotMs = Full() ? 2000 : 750;
    const int pairs = Full() ? 10 : 7;
    const int slots = 2 * pairs + 1;  // alone, crowd, alone, ..., alone
    Rig rig;
    std::string error;
    if (!rig.Start(link, false, &error)) return RecordFailure(state, name, error);
    ReleaseLibrary();  // the workers have the line to themselves
    Outcome outcome;
    for (auto _ : state) {
        if (!RunSchedule(link, processes, threads, slotMs, slots, &outcome, &error))
            return RecordFailure(state, name, error);
        state.SetIterationTime(slots * slotMs / 1000.0);
    }
    rig.Stop();
    const double seconds = slotMs / 1000.0;
    std::vector<double> ratios, alone, crowd;
    for (int s = 0; s < slots; ++s) (s % 2 ? crowd : alone).push_back(outcome.perSlot[static_cast<size_t>(s)] / seconds);
    for (size_t k = 0; k < crowd.size(); ++k) ratios.push_back(crowd[k] / ((alone[k] + alone[k + 1]) / 2));
    uint64_t exchanges = 0;
    for (uint64_t n : outcome.perSlot) exchanges += n;
    state.counters["crowd_per_s"] = Median(crowd);
    state.counters["alone_per_s"] = Median(alone);
    state.counters["errors"] = static_cast<double>(outcome.errors);
    state.counters["mismatches"] = static_cast<double>(outcome.mismatches);
    char figure[300];
    std::snprintf(figure, sizeof figure,
                  "%dx%d: median %.0f/s vs one thread %.0f/s; pairs %.2f..%.2f; %llu exchanges, %llu errors, "
                  "%llu mismatched",
                  processes, threads, Median(crowd), Median(alone), Quantile(ratios, 0), Quantile(ratios, 1),
                  static_cast<unsigned long long>(exchanges), static_cast<unsigned long long>(outcome.errors),
                  static_cast<unsigned long long>(outcome.mismatches));
    // Any error or mismatch fails the target outright.
    const double ratio = (outcome.errors || outcome.mismatches) ? 0 : Median(ratios);
    Record(state, Verdict{name, figure, ratio, kTarget, Goal::AtLeast});
}

BENCHMARK_CAPTURE(Contention, pty, Link::Pty)->Name("contention/pty")->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Contention, usb, Link::Usb)->Name("contention/usb")->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bench
