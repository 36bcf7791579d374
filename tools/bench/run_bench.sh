#!/usr/bin/env bash
# run_bench.sh: builds the benchmarks (bench preset, Release), runs them with repetitions and
# prints the ratios the performance targets are stated in. Raw results: build/bench/results.json.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset bench >/dev/null
cmake --build --preset bench --target benchmarks -j "$(nproc)"
build/bench/tools/bench/kestro_benchmarks --benchmark_repetitions="${KESTRO_BENCH_REPETITIONS:-5}" \
  --benchmark_report_aggregates_only=true --benchmark_min_time=0.2 \
  --benchmark_out_format=json --benchmark_out=build/bench/results.json
python3 tools/bench/ratios.py build/bench/results.json
