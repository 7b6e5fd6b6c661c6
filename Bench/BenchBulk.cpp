// Bulk transfer: KovGetFile and KovPutFile of 16 MiB and KovVupPutFile of
// 4 MiB (--full), through the library and through the floor client doing
// the same chunked commands, on both links. Library and floor take turns, one
// transfer each (which goes first alternates), so that each pair sees the
// same moments of a shared machine. The figure is the median over the pairs
// of the library's throughput over the floor's; each side's best transfer
// (its throughput when the machine left it alone) and the totals are
// reported too.
// Target: the library's throughput at least 0.8 of the floor's.
//
// The default run pairs 32 transfers of 128 KiB (vup: 64 KiB): each benchmark
// stays well under a minute and a burst of load on the machine spoils a pair
// or two, not the figure; --full pairs 2 transfers of the sizes above (and
// is at the mercy of such bursts).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "Bench/Support/Report.h"
#include "Bench/Support/Rig.h"
#include "Bench/Support/Stats.h"
#include "Bench/Support/Transfers.h"

namespace bench {
namespace {

constexpr double kTarget = 0.8;

uint64_t SizeFor(Op op) {
    const uint64_t kib = 1u << 10;
    if (op == Op::Vup) return Full() ? 4096 * kib : 64 * kib;
    return Full() ? 16384 * kib : 128 * kib;
}

void Bulk(benchmark::State& state, Link link, Op op) {
    const std::string name = std::string("bulk/") + OpName(op) + "/" + LinkName(link);
    Rig rig;
    std::string error;
    if (!rig.Start(link, false, &error)) return RecordFailure(state, name, error);
    Transfer transfer(rig, op, SizeFor(op));
    if (!transfer.Ready()) return RecordFailure(state, name, "cannot write the source file");
    const int kRounds = Full() ? 2 : 32;
    double libSeconds = 0, floorSeconds = 0;
    std::vector<double> pairs, libTimes, floorTimes;
    for (auto _ : state) {
        floorc::Commands* floor = rig.UseFloor(&error);
        if (!floor) return RecordFailure(state, name, "floor: " + error);
        for (int round = 0; round < kRounds; ++round) {
            double lib = 0, flo = 0;
            for (int side = 0; side < 2; ++side) {
                const bool library = (side == 0) == (round % 2 == 0);
                const Clock::time_point t0 = Clock::now();
                const bool ok = library ? transfer.ByLibrary() : transfer.ByFloor(*floor);
                (library ? lib : flo) = Seconds(Clock::now() - t0);
                if (!ok) return RecordFailure(state, name, library ? "library transfer failed" : "floor: " + floor->Error());
                if (!transfer.Arrived()) return RecordFailure(state, name, "transfer: wrong bytes");
            }
            libSeconds += lib;
            floorSeconds += flo;
            libTimes.push_back(lib);
            floorTimes.push_back(flo);
            pairs.push_back(flo / lib);  // throughput ratio of the pair
        }
        state.SetIterationTime(libSeconds / kRounds);
    }
    rig.Stop();
    const double bytes = static_cast<double>(transfer.Size()) * kRounds;
    const double libRate = bytes / libSeconds / 1e6, floorRate = bytes / floorSeconds / 1e6;
    state.counters["lib_MBps"] = libRate;
    state.counters["floor_MBps"] = floorRate;
    state.SetBytesProcessed(static_cast<int64_t>(transfer.Size()));
    char figure[200];
    const double size = static_cast<double>(transfer.Size());
    const double libBest = size / Quantile(libTimes, 0) / 1e6, floorBest = size / Quantile(floorTimes, 0) / 1e6;
    state.counters["lib_best_MBps"] = libBest;
    state.counters["floor_best_MBps"] = floorBest;
    std::snprintf(figure, sizeof figure,
                  "pairs %.2f..%.2f; best %.2f MB/s vs floor %.2f; in all %.2f vs %.2f (%llu KiB x %d, %llu "
                  "exchanges each)",
                  Quantile(pairs, 0), Quantile(pairs, 1), libBest, floorBest, libRate, floorRate,
                  static_cast<unsigned long long>(transfer.Size() >> 10), kRounds,
                  static_cast<unsigned long long>(transfer.Exchanges()));
    Record(state, Verdict{name, figure, Median(pairs), kTarget, Goal::AtLeast});
}

#define BULK(label, name, link, op) \
    BENCHMARK_CAPTURE(Bulk, label, link, op)->Name(name)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond)

BULK(get_pty, "bulk/get/pty", Link::Pty, Op::Get);
BULK(put_pty, "bulk/put/pty", Link::Pty, Op::Put);
BULK(vup_pty, "bulk/vup/pty", Link::Pty, Op::Vup);
BULK(get_usb, "bulk/get/usb", Link::Usb, Op::Get);
BULK(put_usb, "bulk/put/usb", Link::Usb, Op::Put);
BULK(vup_usb, "bulk/vup/usb", Link::Usb, Op::Vup);

}  // namespace
}  // namespace bench
