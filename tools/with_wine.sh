#!/usr/bin/env bash
# with_wine.sh [--fixed-display] <build-dir> <command...>: runs the command with a ready Wine
# prefix in the build directory, a persistent wineserver (so each Wine process starts in ~70 ms)
# and an X display (Xvfb when none is set). With --fixed-display the command always gets an Xvfb
# of its own at 1920x1080x24, whatever DISPLAY says, and a prefix of its own
# (<build-dir>/wineprefix-fixed-display): a Wine session keeps the screen of the display it
# started on, so a fixed screen needs a session of its own. Everything started here is stopped
# on exit.
set -euo pipefail
fixed_display=""
if [ "${1:-}" = "--fixed-display" ]; then fixed_display=1; shift; fi
build_dir=$(cd "$1" && pwd); shift
prefix="$build_dir/wineprefix${fixed_display:+-fixed-display}"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=""
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
if [ -n "$fixed_display" ] || [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 250); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    if [ -e "/tmp/.X11-unix/X$n" ]; then
      export DISPLAY=":$n"
      break
    fi
    # Another run took the number first.
    kill "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  done
  [ -n "$xvfb_pid" ] || { echo "with_wine.sh: no free X display" >&2; exit 1; }
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
fi
wineserver -p </dev/null >/dev/null 2>&1 &
server_pid=$!
# Wait until the server listens; a Wine process started earlier would spawn a short-lived server
# of its own, and later ones would then inherit the test runner's output pipe.
for _ in $(seq 200); do
  kill -0 "$server_pid" 2>/dev/null || break
  server_dir=$(readlink "/proc/$server_pid/cwd" 2>/dev/null || true)
  case "$server_dir" in */server-*) [ -S "$server_dir/socket" ] && break ;; esac
  sleep 0.05
done
# Wine's service processes start with the first program and inherit its output; start them here
# so they cannot hold a test runner's output pipe open until the server ends.
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
"$@"
