#!/usr/bin/env bash
# Runs every test suite of Vantro:
#   Linux debug, Linux ASan+UBSan, Linux TSan, the Linux release build, the Windows i686 product DLL
#   (its export table checked against the table), the Windows x86_64 suites
#   under wine64, and short fuzzing runs.
#
# Usage: scripts/test-all.sh [--quick] [--only linux|asan|tsan|release|win32|win64|fuzz|demo]...
#   --quick   Linux debug only.
# Missing packages are installed when running as root (Debian); otherwise the
# parts that need them are skipped and the script says which and why.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

only=()
quick=0
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 ;;
    --only) shift; only+=("$1") ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
want() {
  if [ ${#only[@]} -gt 0 ]; then
    for o in "${only[@]}"; do [ "$o" = "$1" ] && return 0; done
    return 1
  fi
  [ $quick -eq 1 ] && [ "$1" != linux ] && return 1
  return 0
}

export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=true
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-4G}

skipped=()
failed_parts=()
total_pass=0
total_fail=0

# ---- packages ---------------------------------------------------------------
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
need=()
for p in cmake ninja-build g++ ccache googletest libgtest-dev libgmock-dev libbenchmark-dev \
         g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 libusb-1.0-0-dev pkg-config clang; do
  have_pkg "$p" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    echo "== installing: ${need[*]}"
    (apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}") >/tmp/vantro-apt.log 2>&1 \
      || { echo "apt-get failed; see /tmp/vantro-apt.log"; }
  else
    echo "== not root: cannot install ${need[*]}"
  fi
fi
wine=$(command -v wine64 || true)
[ -n "$wine" ] || { [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64; }

# ---- helpers ------------------------------------------------------------------
run_ctest() {  # preset
  local log="build/$1/ctest.log"
  # A test that meets a deadline only under load gets two more tries; a
  # failure that repeats still fails the part.
  ctest --preset "$1" --repeat until-pass:3 2>&1 | tee "$log" | grep -E "tests passed|tests failed|\*\*\*Failed|Failed|Timeout|Not Run" | tail -40
  local line
  line=$(grep -E "[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+" "$log" | tail -1)
  if [ -n "$line" ]; then
    local failed_n total_n
    failed_n=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
    total_n=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/')
    total_pass=$((total_pass + total_n - failed_n))
    total_fail=$((total_fail + failed_n))
    [ "$failed_n" = 0 ] || failed_parts+=("$1")
  else
    echo "ctest of $1 did not finish"
    total_fail=$((total_fail + 1))
    failed_parts+=("$1")
  fi
}

build_preset() {  # preset [targets...]
  local preset=$1; shift
  echo "== configure $preset"
  cmake --preset "$preset" >"build-$preset.log" 2>&1 || { cat "build-$preset.log" | tail -30; return 1; }
  echo "== build $preset"
  if [ $# -gt 0 ]; then
    cmake --build --preset "$preset" --target "$@" 2>&1 | tail -n 30 | grep -vE "^\[[0-9]+/[0-9]+\]" ; return "${PIPESTATUS[0]}"
  fi
  cmake --build --preset "$preset" 2>&1 | grep -vE "^\[[0-9]+/[0-9]+\]" | tail -n 40; return "${PIPESTATUS[0]}"
}
mkdir -p build

start=$(date +%s)
stamp() { echo "   ($(( $(date +%s) - start )) s so far)"; }

# ---- Linux --------------------------------------------------------------------
if want linux; then
  if build_preset linux-debug; then run_ctest linux-debug; else failed_parts+=(linux-debug-build); total_fail=$((total_fail+1)); fi
  stamp
fi
if want asan; then
  if build_preset linux-asan; then
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 run_ctest linux-asan
  else failed_parts+=(linux-asan-build); total_fail=$((total_fail+1)); fi
  stamp
fi
if want tsan; then
  if build_preset linux-tsan; then
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/Tests/tsan.supp" run_ctest linux-tsan
  else failed_parts+=(linux-tsan-build); total_fail=$((total_fail+1)); fi
  stamp
fi

# ---- release build ------------------------------------------------------------------
# The optimised build of the library, the tools and the benchmarks (GCC's -O3
# warnings differ from -O0's), and the benchmark floor client's own checks.
# The benchmarks themselves are measurements, not tests: scripts/bench.sh.
if want release; then
  if build_preset linux-release; then
    if [ -x build/linux-release/Bench/vantro-bench-selftest ]; then
      if build/linux-release/Bench/vantro-bench-selftest --gtest_brief=1; then total_pass=$((total_pass+1));
      else total_fail=$((total_fail+1)); failed_parts+=(bench-selftest); fi
    fi
  else failed_parts+=(linux-release-build); total_fail=$((total_fail+1)); fi
  stamp
fi

# ---- Windows --------------------------------------------------------------------
# The Linux debug build's pieces that the Windows parts use: the unit tests
# (they check the export directory of Vantro32.dll) and the simulator (it
# serves the COM port of the wine tests).
linux_piece() {  # target
  if [ ! -f build/linux-debug/CMakeCache.txt ]; then
    cmake --preset linux-debug >build-linux-debug.log 2>&1 || return 1
  fi
  cmake --build --preset linux-debug --target "$1" >>build-linux-debug.log 2>&1
}
if want win32; then
  if command -v i686-w64-mingw32-g++-posix >/dev/null; then
    if build_preset win32 vantro vantro-import-check package-zip; then
      echo "== export table of Vantro32.dll"
      if linux_piece vantro_unit_tests; then
        if VANTRO_WIN32_DLL="$root/build/win32/Vantro32.dll" build/linux-debug/Tests/vantro_unit_tests \
             --gtest_filter='ExportTable.*' --gtest_brief=1; then total_pass=$((total_pass+1));
        else total_fail=$((total_fail+1)); failed_parts+=(win32-exports); fi
      else
        echo "the Linux unit tests did not build; see build-linux-debug.log"
        total_fail=$((total_fail+1)); failed_parts+=(win32-exports)
      fi
      # A program linked with the import library by the header's names
      # imports exactly the names the DLL exports.
      if command -v i686-w64-mingw32-objdump >/dev/null; then
        imported=$(i686-w64-mingw32-objdump -p build/win32/vantro-import-check.exe |
                   awk '/DLL Name: Vantro32.dll/{f=1;getline;next} f && /^[[:space:]]*$/{f=0} f {print $3}' | sort)
        exported=$(i686-w64-mingw32-objdump -p build/win32/Vantro32.dll |
                   awk '/\[Ordinal\/Name Pointer\] Table/{f=1;next} f && /^\t\[/{print $NF}' | sort)
        if [ -n "$exported" ] && [ "$imported" = "$exported" ]; then
          echo "== import library: $(echo "$imported" | wc -l) names, as exported"; total_pass=$((total_pass+1))
        else
          echo "the import library's names differ from the DLL's exports:"
          diff <(echo "$imported") <(echo "$exported") | head -20
          total_fail=$((total_fail+1)); failed_parts+=(win32-import-library)
        fi
      fi
      # Only system DLLs may be imported.
      if command -v i686-w64-mingw32-objdump >/dev/null; then
        bad=$(i686-w64-mingw32-objdump -p build/win32/Vantro32.dll | sed -n 's/^[[:space:]]*DLL Name: //p' |
              grep -viE '^(kernel32|user32|advapi32|ws2_32|msvcrt)\.dll$|^winspool\.drv$|^api-ms-win-crt-' || true)
        if [ -z "$bad" ]; then total_pass=$((total_pass+1));
        else echo "Vantro32.dll imports non-system DLLs: $bad"; total_fail=$((total_fail+1)); failed_parts+=(win32-imports); fi
      fi
    else failed_parts+=(win32-build); total_fail=$((total_fail+1)); fi
  else
    skipped+=("win32: i686-w64-mingw32-g++-posix missing (package g++-mingw-w64-i686)")
  fi
  stamp
fi
if want win64; then
  if command -v x86_64-w64-mingw32-g++-posix >/dev/null && [ -n "$wine" ]; then
    if build_preset win64; then
      # The COM port tests talk to the simulator running natively on a pty
      # that wine's dosdevices maps as COM5; without it they are skipped.
      com=""
      if linux_piece vantro-sim && [ -x build/linux-debug/vantro-sim ]; then
        com=$(scripts/wine-com-sim.sh start build/linux-debug/vantro-sim build/win64/wineprefix COM5 | sed -n 's/^VANTRO_WINE_COM=//p')
      fi
      [ -n "$com" ] || echo "== no simulator on a wine COM port: the COM port tests will be skipped"
      VANTRO_WINE_COM="$com" run_ctest win64
      [ -n "$com" ] && scripts/wine-com-sim.sh stop build/win64/wineprefix
    else failed_parts+=(win64-build); total_fail=$((total_fail+1)); fi
  else
    skipped+=("win64: needs x86_64-w64-mingw32-g++-posix and wine64 (packages g++-mingw-w64-x86-64, wine64)")
  fi
  stamp
fi

# ---- fuzzing (bounded) ------------------------------------------------------------
if want fuzz && [ -f Fuzz/CMakeLists.txt ]; then
  if command -v clang++ >/dev/null; then
    if build_preset linux-fuzz; then
      if scripts/fuzz.sh build/linux-fuzz "${VANTRO_FUZZ_SECONDS:-20}"; then total_pass=$((total_pass+1));
      else total_fail=$((total_fail+1)); failed_parts+=(fuzz); fi
    else failed_parts+=(fuzz-build); total_fail=$((total_fail+1)); fi
  else
    skipped+=("fuzz: clang missing")
  fi
  stamp
fi

# ---- the demo ---------------------------------------------------------------------
if want demo && [ -x scripts/demo.sh ] && [ $quick -eq 0 ]; then
  echo "== demo"
  if timeout 300 scripts/demo.sh >build/demo.log 2>&1; then total_pass=$((total_pass+1)); tail -5 build/demo.log;
  else total_fail=$((total_fail+1)); failed_parts+=(demo); tail -30 build/demo.log; fi
  stamp
fi

echo
for s in "${skipped[@]}"; do echo "skipped: $s"; done
[ ${#failed_parts[@]} -gt 0 ] && echo "failed parts: ${failed_parts[*]}"
echo "total: $total_pass passed, $total_fail failed"
[ $total_fail -eq 0 ]
