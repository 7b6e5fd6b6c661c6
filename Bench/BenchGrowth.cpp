// Growth: how the cost of KovDir grows with the files listed (10 to 10000)
// and the cost of a copy (KovGetFile and KovPutFile) with its size (1 KiB to
// 64 MiB), against the exchanges the work needs, on the pty.
//   KovDir of N files: FindFirst, N-1 FindNext that find, one that does not,
//   FindClose = N + 2 exchanges; by design it also copies the whole array
//   for every entry it adds (N^2/2 entries of 592 bytes copied).
//   A copy of S bytes: ceil(S / 2538) chunks, plus open, close (and the
//   empty read that ends a KovGetFile).
// Each size prints a row (exchanges, best time of a few runs, time per
// exchange). The copy's verdict: time per exchange at the largest size over
// that at 256 KiB (linear growth keeps it near 1; target at most 1.5).
// KovDir's is reported.
// By default KovDir goes to 1000 files and the copy to 4 MiB; --full adds
// 10000 files and 64 MiB.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Bench/Support/Files.h"
#include "Bench/Support/Report.h"
#include "Bench/Support/Rig.h"
#include "Bench/Support/Stats.h"
#include "Bench/Support/Transfers.h"
#include "vantro/vantro_files.h"

namespace bench {
namespace {

const VWCHAR* W(const std::u16string& s) { return reinterpret_cast<const VWCHAR*>(s.c_str()); }

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

void DirGrowth(benchmark::State& state) {
    const std::string name = "growth/kovdir/pty";
    Rig rig;
    std::string error;
    if (!rig.Start(Link::Pty, false, &error)) return RecordFailure(state, name, error);
    std::vector<uint32_t> counts = {10, 100, 1000};
    if (Full()) counts.push_back(10000);
    std::string table;
    double firstPer = 0, lastPer = 0;
    for (auto _ : state) {
        for (uint32_t n : counts) {
            const std::string dir = "dir" + std::to_string(n);
            std::error_code ec;
            std::filesystem::create_directories(rig.DeviceRoot() + "/" + dir, ec);
            for (uint32_t i = 0; i < n; ++i) {
                char file[32];
                std::snprintf(file, sizeof file, "/f%05u.txt", i);
                std::FILE* f = std::fopen((rig.DeviceRoot() + "/" + dir + file).c_str(), "wb");
                if (f) std::fclose(f);
            }
            const std::u16string pattern = U16("\\" + dir + "\\*");
            std::vector<double> runs;  // best of a few
            const int repeats = n <= 1000 ? 3 : 1;
            for (int r = 0; r < repeats; ++r) {
                uint32_t count = 0;
                VFIND_DATAW* list = nullptr;
                const Clock::time_point t0 = Clock::now();
                const uint32_t ok = KovDir(W(pattern), &count, &list);
                runs.push_back(Seconds(Clock::now() - t0));
                if (ok != 1 || count != n) return RecordFailure(state, name, "KovDir listed the wrong count");
                KovDirFree();
            }
            const double seconds = Quantile(runs, 0);
            const uint32_t exchanges = n + 2;
            const double per = seconds * 1e6 / exchanges;
            if (n == counts.front()) firstPer = per;
            lastPer = per;
            char row[160];
            std::snprintf(row, sizeof row, "kovdir %6u files: %6u exchanges, %9.1f ms, %7.1f us/exchange, %8.1f MB copied\n",
                          n, exchanges, seconds * 1e3, per, 592.0 * n * (n - 1) / 2 / 1e6);
            table += row;
            std::fputs(row, stdout);
        }
        state.SetIterationTime(1);
    }
    rig.Stop();
    Record(state, Verdict{name, "us/exchange " + std::to_string(static_cast<int>(firstPer)) + " -> " +
                                    std::to_string(static_cast<int>(lastPer)) + " (see the rows above)",
                          lastPer / firstPer, 0, Goal::Report});
}

void CopyGrowth(benchmark::State& state) {
    const std::string name = "growth/copy/pty";
    Rig rig;
    std::string error;
    if (!rig.Start(Link::Pty, false, &error)) return RecordFailure(state, name, error);
    std::vector<uint64_t> sizes = {1u << 10, 16u << 10, 256u << 10, 4u << 20};
    if (Full()) sizes.push_back(64u << 20);
    double refPer = 0, lastPer = 0;
    for (auto _ : state) {
        for (uint64_t size : sizes) {
            for (Op op : {Op::Get, Op::Put}) {
                Transfer transfer(rig, op, size);
                if (!transfer.Ready()) return RecordFailure(state, name, "cannot write the source file");
                // Best of a few runs: the cost of the work itself, with as
                // little as possible of the shared machine's other load.
                std::vector<double> runs;
                const int repeats = size <= (256u << 10) ? 5 : 3;
                for (int r = 0; r < repeats; ++r) {
                    const Clock::time_point t0 = Clock::now();
                    if (!transfer.ByLibrary()) return RecordFailure(state, name, "transfer failed");
                    runs.push_back(Seconds(Clock::now() - t0));
                }
                if (!transfer.Arrived()) return RecordFailure(state, name, "transfer: wrong bytes");
                const double seconds = Quantile(runs, 0);
                const double per = seconds * 1e6 / static_cast<double>(transfer.Exchanges());
                if (size == (256u << 10)) refPer += per / 2;
                if (size == sizes.back()) lastPer += per / 2;
                char row[160];
                std::snprintf(row, sizeof row, "copy %-3s %8llu KiB: %6llu exchanges, %9.1f ms, %7.1f us/exchange, %6.2f MB/s\n",
                              OpName(op), static_cast<unsigned long long>(size >> 10),
                              static_cast<unsigned long long>(transfer.Exchanges()), seconds * 1e3, per,
                              static_cast<double>(size) / seconds / 1e6);
                std::fputs(row, stdout);
            }
        }
        state.SetIterationTime(1);
    }
    rig.Stop();
    char figure[160];
    std::snprintf(figure, sizeof figure, "us/exchange %.0f at 256 KiB -> %.0f at %llu KiB (see the rows above)", refPer,
                  lastPer, static_cast<unsigned long long>(sizes.back() >> 10));
    Record(state, Verdict{name, figure, lastPer / refPer, 1.5, Goal::AtMost});
}

BENCHMARK(DirGrowth)->Name("growth/kovdir/pty")->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(CopyGrowth)->Name("growth/copy/pty")->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bench
