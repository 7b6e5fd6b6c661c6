// vantro-bench: the performance targets of the library, each measured side by
// side with its floor in the same run, and a table of the ratios at the end.
//
//   vantro-bench [--full] [Google Benchmark flags, e.g. --benchmark_filter=latency]
//
// --full (or VANTRO_BENCH_FULL=1) runs the long sizes; without it every
// benchmark stays well under a minute. The exit status is 1 when a target was
// missed or a benchmark failed.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "Bench/Support/ChildMode.h"
#include "Bench/Support/Report.h"

int main(int argc, char** argv) {
    // A copy of this program started by a benchmark as a worker process.
    if (argc > 1 && std::strcmp(argv[1], bench::kChildFlag) == 0) return bench::RunChild(argc - 2, argv + 2);

    const char* env = std::getenv("VANTRO_BENCH_FULL");
    bench::SetFull(env && *env && std::strcmp(env, "0") != 0);
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--full") == 0) bench::SetFull(true);
        else args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return bench::PrintSummary() == 0 ? 0 : 1;
}
