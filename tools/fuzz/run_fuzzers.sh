#!/usr/bin/env bash
# run_fuzzers.sh [seconds-per-target]: builds the libFuzzer targets (fuzz preset) and runs each
# from its seed corpus. CI uses a short budget; give a longer one for a real session. New
# inputs go to build/fuzz/corpus-work, never into the committed seeds.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-20}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_targets -j "$(nproc)"
for target in read_next_value_fuzzer decode_call_fuzzer decode_reply_fuzzer plugin_message_fuzzer; do
  binary=build/fuzz/tools/fuzz/$target
  [ -x "$binary" ] || continue
  work=build/fuzz/corpus-work/$target
  mkdir -p "$work"
  echo "== $target: ${seconds}s"
  # A decoder must never allocate far beyond its input: 64 MiB per allocation is ample.
  "$binary" -max_total_time="$seconds" -timeout=10 -malloc_limit_mb=64 -rss_limit_mb=1024 -max_len=65536 \
    -print_final_stats=1 "$work" "tools/fuzz/corpus/$target" 2>&1 | tail -n 12
done
