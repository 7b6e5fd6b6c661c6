#!/usr/bin/env bash
# Soak test: two client processes make mixed calls with faults against
# vantro-sim for a long time, one over the simulated USB bus and one over a pty
# (a COM port, reached after a USB device that never answers), while this
# script samples the resident memory of both clients.
#
# Usage: scripts/soak.sh [DURATION_SECONDS] [BUILD_DIR]
#   DURATION_SECONDS  default 3600
#   BUILD_DIR         a Linux build with the tools and the tests
#                     (default build/linux-debug): vantro-sim and
#                     Tests/vantro_integration_tests are taken from it
#   $SOAK_CLIENT      another binary holding the soakClient role, if wanted
#   $SOAK_RSS_GROWTH_KB  allowed growth of a client's RSS from the first
#                     sample after the warm-up to the last (default 20480)
#   $SOAK_TRACE=1     the simulators trace every frame into their logs (kept
#                     in the work folder when the soak fails)
#
# Fails (exit 1) on a wrong result in a client, on a call that hangs (the
# client's own 60 s watchdog, or the whole run not ending in time), on a
# simulator that dies, or on RSS growth beyond the limit. Prints the calls,
# the faulted calls and the RSS figures of each client.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
duration=${1:-3600}
build=${2:-$root/build/linux-debug}
sim="$build/vantro-sim"
client=${SOAK_CLIENT:-$build/Tests/vantro_integration_tests}
growth_limit=${SOAK_RSS_GROWTH_KB:-20480}
for f in "$sim" "$client"; do
  [ -x "$f" ] || { echo "soak: $f missing (build the tools and the tests)"; exit 2; }
done

work=$(mktemp -d /tmp/vantro-soak-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/ports" "$work/noports" "$work/usb-root" "$work/pty-root"

# The faults: each caller-record command code is spoilt in one way, in every
# exchange; the client knows what each of them must return. A frame fault
# hits every sending of its frame (resends too), so the ones the library is
# to recover from hit a Reply, a Poll answer or a repeated Middle frame.
common='nak=0x4321@code=0x72,frame=1,times=0
repeat@code=0x73,frame=2,times=0
late=2500@code=0x107F,times=0
checksum@code=0x107F,on=poll,frame=1,times=0
checksum@code=0x117F,frame=1,times=0
late=1500@code=0x127F,times=0
refuse=0x00E0E0E7@code=0x137F,times=0
pollstate=1@code=0x147F,times=0
dropreply@code=0x157F,frame=1,times=0
late=2500@code=0x177F,times=0
length@code=0x177F,on=poll,frame=1,times=0'
# Noise before the Reply: 8 bytes (two whole 4-byte headers) on the serial
# line, 2 bytes on USB (a header beyond 517 bytes: the link skips to 0x02).
printf '%s\nclose=300@code=0x71,times=0\nnoise=8@code=0x167F,on=reply,frame=1,times=0\n' "$common" >"$work/pty.faults"
printf '%s\ndetach=300@code=0x71,times=0\nnoise=2@code=0x167F,on=reply,frame=1,times=0\n' "$common" >"$work/usb.faults"

trace=()
[ "${SOAK_TRACE:-0}" = 1 ] && trace=(--trace)
start_sim() {  # name args...
  local name=$1; shift
  "$sim" "$@" "${trace[@]}" >"$work/$name.out" 2>"$work/$name.err" &
  pids+=($!)
  eval "${name}_pid=$!"
  for _ in $(seq 1 100); do
    grep -q '^ready' "$work/$name.out" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "soak: vantro-sim ($name) did not start"; cat "$work/$name.err"; exit 1
}
start_sim usb --usb --root "$work/usb-root" --fault-file "$work/usb.faults"
start_sim mute --usb --fault 'silent@on=reply,times=0'
start_sim pty --pty --ports-dir "$work/ports" --port COM7 --root "$work/pty-root" --fault-file "$work/pty.faults"
usb_port=$(sed -n 's/^usb: //p' "$work/usb.out")
mute_port=$(sed -n 's/^usb: //p' "$work/mute.out")

export VANTRO_SOAK_MUTEX="DiZedoI/F-CommunicationMutex-soak-$$"
VANTRO_USB_BUS=$usb_port VANTRO_PORTS_DIR="$work/noports" \
  "$client" --vtest-child soakClient "$duration" "$work/usb.report" 11 2>"$work/usb.client.err" &
usb_client=$!
VANTRO_USB_BUS=$mute_port VANTRO_PORTS_DIR="$work/ports" \
  "$client" --vtest-child soakClient "$duration" "$work/pty.report" 29 2>"$work/pty.client.err" &
pty_client=$!
pids+=("$usb_client" "$pty_client")

rss() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status" 2>/dev/null; }
echo "soak: ${duration} s, USB client $usb_client, serial client $pty_client"
deadline=$(( $(date +%s) + duration + 120 ))
warm=$(( $(date +%s) + 30 ))
first_usb=""; first_pty=""; last_usb=""; last_pty=""
failed=0
while kill -0 "$usb_client" 2>/dev/null || kill -0 "$pty_client" 2>/dev/null; do
  now=$(date +%s)
  if [ "$now" -gt "$deadline" ]; then
    echo "soak: FAILED: the clients did not end in time (a hang)"
    failed=1
    break
  fi
  for s in usb mute pty; do
    eval "p=\$${s}_pid"
    kill -0 "$p" 2>/dev/null || { echo "soak: FAILED: vantro-sim ($s) died"; failed=1; break 2; }
  done
  u=$(rss "$usb_client"); t=$(rss "$pty_client")
  [ -n "$u" ] && last_usb=$u
  [ -n "$t" ] && last_pty=$t
  if [ "$now" -ge "$warm" ]; then
    [ -z "$first_usb" ] && [ -n "$u" ] && first_usb=$u
    [ -z "$first_pty" ] && [ -n "$t" ] && first_pty=$t
  fi
  echo "$((now - deadline + duration + 120)) ${u:-0} ${t:-0}" >>"$work/rss.log"
  sleep 10
done

for c in usb pty; do
  eval "pid=\$${c}_client"
  if kill -0 "$pid" 2>/dev/null; then kill -9 "$pid" 2>/dev/null; fi
  wait "$pid" 2>/dev/null; rc=$?
  line=$(tail -1 "$work/$c.report" 2>/dev/null)
  set -- $line
  eval "first=\$first_$c; last=\$last_$c"
  echo "soak: $c client: exit $rc, ${2:-0} calls (${3:-0} with a fault) in ${1:-0} s, RSS ${first:-?} kB after warm-up -> ${last:-?} kB at the end"
  if [ "$rc" -ne 0 ]; then
    failed=1
    [ "$rc" -eq 2 ] && echo "soak: FAILED: a call of the $c client hung"
    sed 's/^/    /' "$work/$c.client.err" | tail -5
  fi
  if [ -n "$first" ] && [ -n "$last" ] && [ $((last - first)) -gt "$growth_limit" ]; then
    echo "soak: FAILED: the $c client's RSS grew by $((last - first)) kB"
    failed=1
  fi
done
[ $failed -eq 0 ] && echo "soak: passed" || echo "soak: FAILED (logs: $work kept)"
if [ $failed -ne 0 ]; then trap - EXIT; for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; fi
exit $failed
