#!/usr/bin/env bash
# A short tour of the vantro command-line tool against the simulated device:
# device information, a listing, a copy and a firmware update with their
# progress bars, and the VIN and live engine data read over J2534 from the
# simulated vehicle. No hardware needed: every step runs `vantro --sim`,
# which starts the simulator inside the tool.
#
# Builds the linux-debug preset's vantro and vantro-sim first (configuring it
# when it is not). VANTRO_DEMO_BIN=DIR runs the binaries of DIR instead and
# builds nothing. Exits non-zero as soon as a step fails.
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"

if [[ -n "${VANTRO_DEMO_BIN:-}" ]]; then
    bin="$VANTRO_DEMO_BIN"
else
    bin="$here/build/linux-debug"
    if [[ ! -f "$bin/CMakeCache.txt" ]]; then
        cmake --preset linux-debug
    fi
    cmake --build --preset linux-debug --target vantro-cli vantro-sim
fi
vantro="$bin/vantro"
[[ -x "$vantro" ]] || { echo "demo: $vantro is missing" >&2; exit 1; }
[[ -x "$bin/vantro-sim" ]] || { echo "demo: $bin/vantro-sim is missing" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/vantro-demo.XXXXXX")"
trap 'rm -rf "$work"' EXIT

bold="" plain=""
if [[ -t 1 ]]; then bold=$'\033[1m' plain=$'\033[0m'; fi

step=0
run() {
    local title="$1"
    shift
    step=$((step + 1))
    printf '\n%s== %d. %s%s\n$ vantro %s\n' "$bold" "$step" "$title" "$plain" "$*"
    "$vantro" "$@"
}

started=$SECONDS

run "The device: versions, supply voltage, the link in use" --sim info

run "Its files" --sim ls '\Data'

run "A file copied from the device, with its progress bar" \
    --sim --progress get '\Data\trip-0001.bin' "$work/trip-0001.bin"
ls -l "$work/trip-0001.bin"

# A firmware image of 384 KiB (its content does not matter to the device).
head -c $((384 * 1024)) /dev/urandom > "$work/vantro-1.5.0.fw"
run "A firmware update: sent, checked and written by the device" \
    --sim --progress firmware "$work/vantro-1.5.0.fw"

run "The VIN over J2534 (ISO 15765, OBD-II service 09)" --sim obd vin

run "Live engine data over J2534 (OBD-II service 01)" \
    --sim obd live --samples 5 --interval 300

# Several commands against one device: a script.
cat > "$work/tour.vantro" <<'SCRIPT'
put "WORK/trip-0001.bin" \Data\copy-of-trip.bin
ls \Data
reg set HKLM\Software\Vantro Owner "Demo user"
reg get HKLM\Software\Vantro Owner
SCRIPT
sed -i "s|WORK|$work|" "$work/tour.vantro"
run "Several commands against one simulated device" --sim script "$work/tour.vantro"

printf '\n%sDone:%s %d steps in %d s, all passed.\n' "$bold" "$plain" "$step" $((SECONDS - started))
