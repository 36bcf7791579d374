#!/usr/bin/env bash
# run_host.sh [--bluetooth simulated|windows] [--screenshot OUT.png] [--script FILE] [-- ARGS...]
# Builds the host with the stand-in engine and plug-in libraries (windows preset), lays out a
# run folder whose data/app.so is the application script (by default the demo that prints a
# long image receipt through the thermal printer bridge, made by tools/demo/make_app_script.py), runs the host under Wine (on Xvfb when there
# is no display) and prints the transcript of what the application side saw, then what each
# printer received. By default it runs kestro_pos_simulated.exe in the demo Bluetooth world
# (tools/demo/simulated_bluetooth.txt: one printer that works, one switched off);
# "--bluetooth windows" runs kestro_pos.exe on the platform's Bluetooth (under Wine: no radio).
# ARGS reach the application as its command-line arguments. The exit code is the host's.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=build/windows
run_dir=$build/run

if [ "${1:-}" = "--inside-wine" ]; then
  # Second stage, with WINEPREFIX, DISPLAY and a persistent wineserver set up by with_wine.sh.
  shift
  screenshot=$1
  executable=$2
  shift 2
  transcript="$root/$run_dir/transcript.txt"
  sends=$(grep -Ec '^send(-async)? ' "$run_dir/data/app.so" || true)
  (cd "$run_dir" && KESTRO_STANDIN_TRANSCRIPT="$(winepath -w "$transcript")" \
    wine "./$executable" "$@") &
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
  echo "--- $executable exit code: $status"
  echo "--- what the printers received ($run_dir/printers)"
  python3 "$root/tools/render_printers.py" "$root/$run_dir/printers"
  calls=$(grep -c '^send ' "$transcript" || true)
  answered=$(grep -Ec '^reply [^ ]+ [0-9a-f-]+$' "$transcript" || true)
  unanswered=$(grep -Ec '^reply [^ ]+ none|^reply-duplicate' "$transcript" || true)
  echo "--- ${calls:-0} channel calls, ${answered:-0} answered once, ${unanswered:-0} unanswered or answered twice"
  exit "$status"
fi

screenshot=""
script=""
bluetooth=simulated
usage="usage: $0 [--bluetooth simulated|windows] [--screenshot OUT.png] [--script FILE] [-- ARGS...]"
while [ $# -gt 0 ]; do
  case "$1" in
    --bluetooth) bluetooth=${2:-}; shift 2 ;;
    --screenshot) screenshot=$(realpath -m "$2"); shift 2 ;;
    --script) script=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
case "$bluetooth" in
  simulated) executable=kestro_pos_simulated.exe ;;
  windows) executable=kestro_pos.exe ;;
  *) echo "$usage" >&2; exit 2 ;;
esac

tools/install_packages.sh
cmake --preset windows >/dev/null
# The engine and plug-in DLLs are link dependencies of the executable, so they are built too.
cmake --build --preset windows --target "${executable%.exe}"

rm -rf "$run_dir"
mkdir -p "$run_dir/data/flutter_assets"
cp "$build/bin/$executable" "$build"/bin/*.dll "$run_dir/"
printf 'stand-in ICU data\n' >"$run_dir/data/icudtl.dat"
if [ -n "$script" ]; then
  cp "$script" "$run_dir/data/app.so"
else
  python3 tools/demo/make_app_script.py "$run_dir/data/app.so"
fi
if [ "$bluetooth" = simulated ]; then
  cp tools/demo/simulated_bluetooth.txt "$run_dir/"
fi

exec tools/with_wine.sh "$build" "$0" --inside-wine "$screenshot" "$executable" "$@"
