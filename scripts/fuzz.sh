#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time.
#
# Usage: scripts/fuzz.sh BUILD_DIR [SECONDS]
#   BUILD_DIR  a build of the linux-fuzz preset (clang, VANTRO_BUILD_FUZZ=ON)
#   SECONDS    time per target (default 20)
#   VANTRO_FUZZ_SEED  libFuzzer's seed (default 1, so that a CI run explores
#              the same way each time; 0 lets libFuzzer pick one, for long
#              exploring runs)
#
# Each target starts from its seed corpus in Fuzz/corpus/<target>/ (copied, so
# that the seeds in the tree stay as they are) and runs for SECONDS. A crash,
# a leak, a time-out of a single input or a sanitizer finding fails the run:
# the input that shows it is kept in BUILD_DIR/fuzz-findings/ and the script
# exits with 1. The path-mapping target runs first and stops the run on a
# finding, before the dispatcher target works on files below its root.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: scripts/fuzz.sh BUILD_DIR [SECONDS]}
seconds=${2:-20}
build=$(cd "$build" && pwd) || exit 2

targets=(fuzz_sim_paths fuzz_sim_frame_parser fuzz_settings fuzz_response_records fuzz_frame_receiver
         fuzz_usb_reassembly fuzz_serial_receive fuzz_sim_dispatch)
findings="$build/fuzz-findings"
mkdir -p "$findings"
work=$(mktemp -d /tmp/vantro-fuzz-XXXXXX)
trap 'rm -rf "$work"' EXIT

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
for t in "${targets[@]}"; do
  bin="$build/Fuzz/$t"
  if [ ! -x "$bin" ]; then
    echo "== $t: not built ($bin missing)"
    failed+=("$t")
    continue
  fi
  corpus="$work/$t"
  mkdir -p "$corpus"
  [ -d "$root/Fuzz/corpus/$t" ] && cp "$root/Fuzz/corpus/$t"/* "$corpus"/ 2>/dev/null
  log="$work/$t.log"
  "$bin" -seed="${VANTRO_FUZZ_SEED:-1}" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 -print_final_stats=1 \
         -artifact_prefix="$findings/$t-" "$corpus" >"$log" 2>&1
  rc=$?
  runs=$(grep -E "^stat::number_of_executed_units" "$log" | awk '{print $2}')
  cov=$(grep -E "^#[0-9]+.*cov:" "$log" | tail -1 | sed -E 's/.*cov: ([0-9]+).*/\1/')
  if [ $rc -eq 0 ]; then
    echo "== $t: ok, ${runs:-?} inputs in ${seconds} s, coverage ${cov:-?}, corpus $(ls "$corpus" | wc -l)"
  else
    echo "== $t: FAILED (exit $rc); findings in $findings"
    # The finding, its stack and the input (libFuzzer prints small ones in base64).
    sed -n '/ERROR\|runtime error\|escapes/,$p' "$log" | grep -vE '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse|INITED)' | head -60
    failed+=("$t")
    [ "$t" = fuzz_sim_paths ] && { echo "stopping: a device path escapes the simulator's root"; exit 1; }
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing failed: ${failed[*]}"
  exit 1
fi
echo "fuzzing: ${#targets[@]} targets, no finding"
