#!/usr/bin/env bash
# Builds the release preset and runs the benchmarks, printing each figure as a
# ratio against its floor measured in the same run (see docs/benchmarks.md).
#
#   scripts/bench.sh [--full] [--build-dir DIR] [--filter REGEX] [--no-isolate]
#
#   --full        the long sizes (16 MiB transfers, 64 KiB paced, 10000 files,
#                 64 MiB copies, 10 s contention); without it every benchmark
#                 stays well under a minute
#   --build-dir   build there instead of the preset's build/linux-release
#                 (configured like the preset: Release, benchmarks on)
#   --filter      only the benchmarks whose name matches (Google Benchmark's
#                 --benchmark_filter), e.g. 'latency|idle'
#   --no-isolate  run in the machine's own /dev/shm
#
# The communication mutex is a named object that every process using the
# library on the machine shares. When run as root with unshare(1) available,
# the benchmarks get a private /dev/shm (a mount namespace of their own), so
# another program using the library cannot take turns with them.
#
# Exit status: 0 when every target was met, 1 when one was missed or a
# benchmark failed, 2 on a build failure.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

full=()
build=""
filter=""
isolate=1
while [ $# -gt 0 ]; do
  case "$1" in
    --full) full=(--full) ;;
    --build-dir) shift; build="$1" ;;
    --filter) shift; filter="$1" ;;
    --no-isolate) isolate=0 ;;
    *) echo "unknown option $1 (see the head of $0)" >&2; exit 2 ;;
  esac
  shift
done

export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=true

echo "== build (release, benchmarks on)"
if [ -z "$build" ]; then
  build="$root/build/linux-release"
  cmake --preset linux-release -DVANTRO_BUILD_TESTS=OFF >/dev/null || exit 2
else
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTRO_BUILD_BENCH=ON \
        -DVANTRO_BUILD_TESTS=OFF >/dev/null || exit 2
fi
cmake --build "$build" -j2 --target vantro-bench vantro-sim || exit 2
# The floor client's own checks (its frames and codes, its copies against the
# simulator), when GoogleTest is installed: a wrong floor makes every ratio
# wrong.
if cmake --build "$build" -j2 --target vantro-bench-selftest >/dev/null 2>&1; then
  echo "== floor client checks"
  "$build/Bench/vantro-bench-selftest" --gtest_brief=1 || { echo "the floor client is broken"; exit 1; }
fi

echo "== machine"
echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//') x $(nproc)"
echo "kernel: $(uname -r); load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "commit: $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)"

args=("${full[@]}" --benchmark_out="$build/bench-results.json" --benchmark_out_format=json)
[ -n "$filter" ] && args+=(--benchmark_filter="$filter")
run=("$build/Bench/vantro-bench" "${args[@]}")

echo "== benchmarks: ${run[*]}"
if [ $isolate -eq 1 ] && [ "$(id -u)" = 0 ] && command -v unshare >/dev/null &&
   unshare -m --propagation private true 2>/dev/null; then
  echo "(private /dev/shm)"
  unshare -m --propagation private sh -c 'mount -t tmpfs tmpfs /dev/shm && exec "$0" "$@"' "${run[@]}"
else
  "${run[@]}"
fi
status=$?
echo "== results also in $build/bench-results.json"
exit $status
