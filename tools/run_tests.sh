#!/usr/bin/env bash
# Checks the formatting of every tracked C++ file and the floors of the includes, builds both
# builds and runs every test: the native core under AddressSanitizer + UBSan, its concurrency tests
# under ThreadSanitizer, a short libFuzzer smoke run of every fuzz target, the Windows build (unit
# and end-to-end) under Wine, then the Visual Studio check. Fails when tests are more than 35 % of
# the source.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install_packages.sh
jobs=$(nproc)

# Formatting first: it takes about a second and fails before any build does.
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
python3 tools/check_layers.py

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

python3 tools/test_ratio.py --max 35
