#!/usr/bin/env bash
# Builds both builds and runs every test: the native core under AddressSanitizer + UBSan, its
# concurrency tests under ThreadSanitizer, a short libFuzzer smoke run of every fuzz target, the
# Windows build (unit and end-to-end) under Wine, then the Visual Studio check.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install_packages.sh
jobs=$(nproc)

cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
ctest --preset native -j "$jobs"

cmake --preset native-tsan >/dev/null
cmake --build --preset native-tsan -j "$jobs"
ctest --preset native-tsan -L concurrency --no-tests=ignore

tools/fuzz/run_fuzzers.sh "${KESTRO_FUZZ_SECONDS:-15}"

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
tools/with_wine.sh build/windows ctest --preset windows -j "$jobs"

KESTRO_JOBS=$jobs tools/check_msvc.sh

python3 tools/test_ratio.py
