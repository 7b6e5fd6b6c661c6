// Transfers on a line paced like the real cable (38400 baud, 8N1: 3840 bytes
// a second each way). The protocol waits for every frame's Reply, so the two
// directions never overlap and the line's limit for a transfer is all the
// bytes it must move (frames and Replies, both ways; WireCount.h) at 3840
// bytes a second. Target: the library reaches at least 0.95 of that limit.
// 32 KiB a transfer (about 9 s each); --full: 64 KiB.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "Bench/Support/Report.h"
#include "Bench/Support/Rig.h"
#include "Bench/Support/Stats.h"
#include "Bench/Support/Transfers.h"
#include "Bench/Support/WireCount.h"

namespace bench {
namespace {

constexpr double kTarget = 0.95;
constexpr double kLineBytesPerSecond = 3840.0;

void Paced(benchmark::State& state, Op op) {
    const std::string name = std::string("paced/") + OpName(op) + "/pty";
    Rig rig;
    std::string error;
    if (!rig.Start(Link::Pty, true, &error)) return RecordFailure(state, name, error);
    const uint64_t size = (Full() ? 64u : 32u) << 10;
    Transfer transfer(rig, op, size);
    if (!transfer.Ready()) return RecordFailure(state, name, "cannot write the source file");
    double seconds = 0;
    for (auto _ : state) {
        const Clock::time_point t0 = Clock::now();
        if (!transfer.ByLibrary()) return RecordFailure(state, name, "library transfer failed");
        seconds = Seconds(Clock::now() - t0);
        if (!transfer.Arrived()) return RecordFailure(state, name, "library transfer: wrong bytes");
        state.SetIterationTime(seconds);
    }
    rig.Stop();
    const uint64_t wire = TransferWireBytes(op, size);
    const double limit = wire / kLineBytesPerSecond;
    state.counters["wire_bytes"] = static_cast<double>(wire);
    state.counters["line_limit_s"] = limit;
    char figure[200];
    std::snprintf(figure, sizeof figure, "%.2f s for %llu KiB (%llu bytes on the line: %.2f s at 3840 B/s)", seconds,
                  static_cast<unsigned long long>(size >> 10), static_cast<unsigned long long>(wire), limit);
    Record(state, Verdict{name, figure, limit / seconds, kTarget, Goal::AtLeast});
}

BENCHMARK_CAPTURE(Paced, get, Op::Get)->Name("paced/get/pty")->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Paced, put, Op::Put)->Name("paced/put/pty")->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Paced, vup, Op::Vup)->Name("paced/vup/pty")->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bench
