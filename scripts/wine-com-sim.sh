#!/usr/bin/env bash
# Serves the simulated device on a pty that a wine prefix sees as a COM port,
# for the Windows tests of the COM link (Tests/Windows/ComPortLinkTest.cpp).
#
#   scripts/wine-com-sim.sh start SIM PREFIX [PORT]   # PORT: COM5 by default
#   scripts/wine-com-sim.sh stop PREFIX
#
# start: makes the wine prefix if it does not exist yet, runs SIM (the Linux
# build's vantro-sim) with --pty and the link PREFIX/dosdevices/comN -> pty,
# waits until the simulator is ready, and prints "VANTRO_WINE_COM=COMn" for
# the caller to export. The simulator ends by itself after
# VANTRO_WINE_SIM_SECONDS (default 3600) if nobody stops it; its output goes
# to PREFIX/vantro-sim-comN.log.
# stop: ends the simulator started for PREFIX (SIGTERM, then SIGKILL after 10
# s) and removes the link if it is still there.
set -u
here=$(cd "$(dirname "$0")" && pwd)

usage() { sed -n '2,15p' "$0" >&2; exit 2; }
[ $# -ge 2 ] || usage
cmd=$1

stop_sim() {  # prefix
  local prefix=$1 pidfile pid port
  for pidfile in "$prefix"/vantro-sim-com*.pid; do
    [ -f "$pidfile" ] || continue
    pid=$(cat "$pidfile")
    port=$(basename "$pidfile" .pid); port=${port#vantro-sim-}
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null
      for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
    fi
    rm -f "$pidfile"
    [ -L "$prefix/dosdevices/$port" ] && rm -f "$prefix/dosdevices/$port"
  done
  return 0
}

case "$cmd" in
  start)
    [ $# -ge 3 ] || usage
    sim=$2; prefix=$3; port=${4:-COM5}
    upper=$(echo "$port" | tr '[:lower:]' '[:upper:]')
    lower=$(echo "$port" | tr '[:upper:]' '[:lower:]')
    case "$upper" in COM[1-9]|COM[1-9][0-9]|COM[1-2][0-9][0-9]) ;; *) echo "bad port $port" >&2; exit 2 ;; esac
    [ -x "$sim" ] || { echo "no simulator at $sim" >&2; exit 1; }
    mkdir -p "$prefix"
    prefix=$(cd "$prefix" && pwd)
    WINEPREFIX="$prefix" "$here/wine-run.sh" --init || { echo "cannot make the wine prefix $prefix" >&2; exit 1; }
    stop_sim "$prefix"
    log="$prefix/vantro-sim-$lower.log"
    : >"$log"
    # setsid: the simulator must not get the terminal's signals of the caller.
    setsid timeout "${VANTRO_WINE_SIM_SECONDS:-3600}" "$sim" --pty --ports-dir "$prefix/dosdevices" --port "$lower" \
      >"$log" 2>&1 </dev/null &
    echo $! >"$prefix/vantro-sim-$lower.pid"
    for _ in $(seq 300); do
      grep -q '^ready' "$log" && break
      kill -0 "$(cat "$prefix/vantro-sim-$lower.pid")" 2>/dev/null || break
      sleep 0.1
    done
    if ! grep -q '^ready' "$log" || [ ! -L "$prefix/dosdevices/$lower" ]; then
      echo "the simulator did not come up; its output:" >&2
      cat "$log" >&2
      stop_sim "$prefix"
      exit 1
    fi
    echo "VANTRO_WINE_COM=$upper"
    ;;
  stop)
    prefix=$2
    [ -d "$prefix" ] && stop_sim "$(cd "$prefix" && pwd)"
    ;;
  *) usage ;;
esac
