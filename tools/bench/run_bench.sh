#!/usr/bin/env bash
# run_bench.sh: builds the benchmarks (bench preset, Release), runs them with repetitions and
# prints the ratios the performance targets are stated in. Raw results: build/bench/*.json.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset bench >/dev/null
cmake --build --preset bench --target benchmarks -j "$(nproc)"
for bench in codec_bench plugin_bench; do
  "build/bench/tools/bench/$bench" --benchmark_repetitions="${KESTRO_BENCH_REPETITIONS:-5}" \
    --benchmark_report_aggregates_only=true --benchmark_min_time=0.2 \
    --benchmark_format=json --benchmark_out="build/bench/$bench.json" >/dev/null
done
python3 tools/bench/ratios.py build/bench/codec_bench.json build/bench/plugin_bench.json
