#!/usr/bin/env bash
# run_host.sh [--screenshot OUT.png] [--script FILE] [-- ARGS...]
# Builds kestro_pos.exe with the stand-in engine and plug-in libraries (windows preset), lays
# out a run folder whose data/app.so is the application script (the demo that exercises the
# thermal printer bridge by default), runs the host under Wine (on Xvfb when there is no
# display) and prints the transcript of what the application side saw. ARGS reach the
# application as its command-line arguments. The exit code is the host's.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=build/windows
run_dir=$build/run

if [ "${1:-}" = "--inside-wine" ]; then
  # Second stage, with WINEPREFIX, DISPLAY and a persistent wineserver set up by with_wine.sh.
  shift
  screenshot=$1
  shift
  transcript="$root/$run_dir/transcript.txt"
  sends=$(grep -c '^send ' "$run_dir/data/app.so" || true)
  (cd "$run_dir" && KESTRO_STANDIN_TRANSCRIPT="$(winepath -w "$transcript")" \
    wine ./kestro_pos.exe "$@") &
  host=$!
  if [ -n "$screenshot" ]; then
    # Once every call has its reply the window shows the whole exchange; give it a frame.
    for _ in $(seq 300); do
      replies=$(grep -c '^reply' "$transcript" 2>/dev/null || true)
      [ "${replies:-0}" -ge "$sends" ] && grep -q '^next-frame' "$transcript" && break
      kill -0 "$host" 2>/dev/null || break
      sleep 0.1
    done
    sleep 0.5
    if import -window "Kestro POS" "$screenshot" 2>/dev/null ||
       import -window root "$screenshot"; then
      echo "Screenshot: $screenshot"
    fi
  fi
  status=0
  wait "$host" || status=$?
  echo "--- transcript ($transcript), messages decoded"
  python3 "$root/tools/decode_transcript.py" "$transcript"
  echo "--- kestro_pos.exe exit code: $status"
  calls=$(grep -c '^send ' "$transcript" || true)
  answered=$(grep -Ec '^reply [^ ]+ [0-9a-f-]+$' "$transcript" || true)
  unanswered=$(grep -Ec '^reply [^ ]+ none|^reply-duplicate' "$transcript" || true)
  echo "--- ${calls:-0} channel calls, ${answered:-0} answered once, ${unanswered:-0} unanswered or answered twice"
  exit "$status"
fi

screenshot=""
script=tools/demo/app_script.txt
while [ $# -gt 0 ]; do
  case "$1" in
    --screenshot) screenshot=$(realpath -m "$2"); shift 2 ;;
    --script) script=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "usage: $0 [--screenshot OUT.png] [--script FILE] [-- ARGS...]" >&2; exit 2 ;;
  esac
done

tools/install_packages.sh
cmake --preset windows >/dev/null
# The engine and plug-in DLLs are link dependencies of the executable, so they are built too.
cmake --build --preset windows --target kestro_pos

rm -rf "$run_dir"
mkdir -p "$run_dir/data/flutter_assets"
cp "$build"/bin/kestro_pos.exe "$build"/bin/*.dll "$run_dir/"
printf 'stand-in ICU data\n' >"$run_dir/data/icudtl.dat"
cp "$script" "$run_dir/data/app.so"

exec tools/with_wine.sh "$build" "$0" --inside-wine "$screenshot" "$@"
