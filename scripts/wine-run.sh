#!/usr/bin/env bash
# Runs a Windows test binary under wine64 with a prefix of the build's own
# (WINEPREFIX defaults to <build>/wineprefix, next to the binary's folder).
# CMake uses it as CMAKE_CROSSCOMPILING_EMULATOR of the x86_64 build.
#
#   scripts/wine-run.sh EXE [ARGS...]
#   WINEPREFIX=DIR scripts/wine-run.sh --init    # only make the prefix
#
# A new prefix is made on first use (wineboot, about a minute on a busy
# machine). Gecko and Mono are not installed, and wine's own debug output is
# off unless WINEDEBUG says otherwise.
set -u
wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
[ -x "$wine" ] || { echo "wine-run.sh: wine64 not found (package wine64)" >&2; exit 127; }

init_only=0
if [ "${1:-}" = "--init" ]; then
  init_only=1
  [ -n "${WINEPREFIX:-}" ] || { echo "wine-run.sh --init needs WINEPREFIX" >&2; exit 2; }
else
  [ $# -ge 1 ] || { echo "usage: wine-run.sh EXE [ARGS...] | --init" >&2; exit 2; }
  exe="$1"; shift
  if [ -z "${WINEPREFIX:-}" ]; then
    dir=$(cd "$(dirname "$exe")" && pwd)
    while [ "$dir" != "/" ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
    [ "$dir" = "/" ] && dir=$(cd "$(dirname "$exe")" && pwd)
    export WINEPREFIX="$dir/wineprefix"
  fi
fi
# Wine wants a full path.
case "$WINEPREFIX" in /*) ;; *) WINEPREFIX="$(pwd)/$WINEPREFIX" ;; esac
export WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
wineserver=$(command -v wineserver || true)
[ -n "$wineserver" ] || wineserver=/usr/lib/wine/wineserver

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # Two runs starting at once must not both make the prefix.
  (
    flock -w 600 9 || exit 1
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$wine" wineboot --init >/dev/null 2>&1 || true
      # wineboot returns before the prefix is on disk: wait for the server.
      [ -x "$wineserver" ] && "$wineserver" -w 2>/dev/null
    fi
  ) 9>"$WINEPREFIX.lock"
  [ -f "$WINEPREFIX/system.reg" ] || { echo "wine-run.sh: could not make the prefix $WINEPREFIX" >&2; exit 1; }
fi
[ $init_only -eq 1 ] && exit 0

"$wine" "$exe" "$@"
exit $?
