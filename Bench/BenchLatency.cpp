// Exchange latency: KovGetMode (1 request byte, 6 response bytes) through the
// library against the floor client's same exchange, on the pty and on the
// simulated USB bus. Library and floor alternate in short runs (each on its
// own simulator process of the same program), so that both see the same
// moments of a shared, noisy machine.
// Target: the library's median at most 1.5 times the floor's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "Bench/Support/Report.h"
#include "Bench/Support/Rig.h"
#include "Bench/Support/Stats.h"
#include "vantro/vantro_status.h"

namespace bench {
namespace {

constexpr double kTarget = 1.5;
constexpr int kRun = 10;  // exchanges counted per run

void ExchangeLatency(benchmark::State& state, Link link) {
    const std::string name = std::string("latency/") + LinkName(link);
    Rig rig;
    std::string error;
    if (!rig.Start(link, false, &error)) return RecordFailure(state, name, error);
    // Short blocks, many turns: a burst of load on the machine falls on
    // both sides alike.
    const int count = Full() ? 10000 : 2000;
    std::vector<double> lib, flo;
    for (auto _ : state) {
        floorc::Commands* floor = rig.UseFloor(&error);
        uint32_t mode = 0;
        if (!floor || !floor->GetMode(&mode)) return RecordFailure(state, name, "floor: " + error);
        // Short runs of back-to-back exchanges in turn: a burst of load on
        // the machine falls on both sides alike. The first exchange of a run
        // finds the simulator's threads asleep and is not counted.
        for (int i = 0; i < count / kRun; ++i) {
            for (int k = 0; k <= kRun; ++k) {
                const Clock::time_point t0 = Clock::now();
                mode = KovGetMode();
                if (k) lib.push_back(Micros(Clock::now() - t0));
                if (mode >= 0x90000000u) return RecordFailure(state, name, "library exchange failed");
            }
            for (int k = 0; k <= kRun; ++k) {
                const Clock::time_point t0 = Clock::now();
                const bool ok = floor->GetMode(&mode);
                if (k) flo.push_back(Micros(Clock::now() - t0));
                if (!ok) return RecordFailure(state, name, "floor: " + floor->Error());
            }
        }
        state.SetIterationTime(Median(lib) * 1e-6);
    }
    rig.Stop();
    const double libMedian = Median(lib), floorMedian = Median(flo);
    state.counters["lib_median_us"] = libMedian;
    state.counters["floor_median_us"] = floorMedian;
    state.counters["lib_p90_us"] = Quantile(lib, 0.9);
    state.counters["floor_p90_us"] = Quantile(flo, 0.9);
    char figure[200];
    std::snprintf(figure, sizeof figure, "median %.0f us vs floor %.0f us (p90 %.0f vs %.0f; %zu each)", libMedian,
                  floorMedian, Quantile(lib, 0.9), Quantile(flo, 0.9), lib.size());
    Record(state, Verdict{name, figure, libMedian / floorMedian, kTarget, Goal::AtMost});
}

BENCHMARK_CAPTURE(ExchangeLatency, pty, Link::Pty)->Name("latency/pty")->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ExchangeLatency, usb, Link::Usb)->Name("latency/usb")->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace bench
