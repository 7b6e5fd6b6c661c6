#include "Bench/Support/Report.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <mutex>
#include <vector>

namespace bench {
namespace {

bool g_full = false;
std::mutex g_lock;

struct Row {
    Verdict verdict;
    bool failed = false;
    std::string why;
};
std::vector<Row> g_rows;

bool Passes(const Verdict& v) {
    switch (v.goal) {
        case Goal::AtMost: return v.ratio <= v.target;
        case Goal::AtLeast: return v.ratio >= v.target;
        case Goal::Report: return true;
    }
    return true;
}

}  // namespace

bool Full() { return g_full; }
void SetFull(bool full) { g_full = full; }

void Record(benchmark::State& state, const Verdict& v) {
    state.counters["ratio"] = v.ratio;
    if (v.goal != Goal::Report) {
        state.counters["target"] = v.target;
        state.counters["pass"] = Passes(v) ? 1 : 0;
    }
    std::lock_guard<std::mutex> lock(g_lock);
    g_rows.push_back(Row{v, false, ""});
}

void RecordFailure(benchmark::State& state, const std::string& name, const std::string& why) {
    state.SkipWithError(why.c_str());
    std::lock_guard<std::mutex> lock(g_lock);
    Row row;
    row.verdict.name = name;
    row.failed = true;
    row.why = why;
    g_rows.push_back(row);
}

int PrintSummary() {
    std::lock_guard<std::mutex> lock(g_lock);
    int missed = 0;
    std::printf("\n%-34s %-8s %-10s %-6s %s\n", "benchmark", "ratio", "target", "", "figures");
    for (const Row& r : g_rows) {
        const Verdict& v = r.verdict;
        if (r.failed) {
            std::printf("%-34s %-8s %-10s %-6s %s\n", v.name.c_str(), "-", "-", "FAILED", r.why.c_str());
            ++missed;
            continue;
        }
        char target[32] = "-";
        if (v.goal == Goal::AtMost) std::snprintf(target, sizeof target, "<= %.3g", v.target);
        if (v.goal == Goal::AtLeast) std::snprintf(target, sizeof target, ">= %.3g", v.target);
        const bool ok = Passes(v);
        if (!ok) ++missed;
        std::printf("%-34s %-8.3f %-10s %-6s %s\n", v.name.c_str(), v.ratio, target,
                    v.goal == Goal::Report ? "" : (ok ? "ok" : "MISSED"), v.figure.c_str());
    }
    std::fflush(stdout);
    return missed;
}

}  // namespace bench
