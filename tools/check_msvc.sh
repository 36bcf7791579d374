#!/usr/bin/env bash
# check_msvc.sh: checks that the product builds with Visual Studio, as far as a machine without
# it can. Debian's clang-cl parses every product translation unit as MSVC 19.38 with the
# project's MSVC flags (the if(MSVC) branches of the CMake files), over libc++ and mingw-w64's
# Windows headers, in its own build folder (build/msvc, configured as the README's Visual Studio
# build: no tests, no stand-ins). Then:
#   1. the CMake build compiles every object and resource script and archives every static
#      library (llvm-rc, llvm-lib), linking nothing: there are no MSVC libraries here;
#   2. "strict": every translation unit again, with two-phase lookup and the /W4 warnings
#      clang-cl leaves off (tools/msvc/msvc_passes.py);
#   3. "seh": no function using __try has anything to destroy (tools/msvc/seh_rule.query);
# and the C library functions MSVC deprecates are deprecated throughout
# (tools/msvc/deprecations.h). Last, each file in tools/msvc/known_bad must fail the pass it
# names, so a check that stopped catching anything fails too. Exits 0 only when all is clean.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install_packages.sh
build=build/msvc
jobs=${KESTRO_JOBS:-$(nproc)}
started=$SECONDS
status=0

# The toolchain is read on the first configure only; CMake warns when it is given again.
toolchain=()
[ -f "$build/CMakeCache.txt" ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE=tools/msvc/clang-cl.cmake)
cmake -S . -B "$build" -G Ninja "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DKESTRO_BUILD_TESTS=OFF -DKESTRO_BUILD_STANDINS=OFF \
  -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY >/dev/null

# Every output of a compile, resource or archive rule: all the build makes short of linking.
mapfile -t outputs < <(ninja -C "$build" -t targets all |
  sed -n -E 's/^(.*): (CXX_COMPILER|RC_COMPILER|CXX_STATIC_LIBRARY_LINKER)__.*/\1/p')
if ((${#outputs[@]} == 0)); then
  echo "check_msvc: the configuration has nothing to compile" >&2
  exit 1
fi
echo "== msvc: building ${#outputs[@]} objects, resource files and static libraries"
ninja -C "$build" -k 0 -j "$jobs" "${outputs[@]}" >"$build/build.log" 2>&1 || {
  grep -v '^\[' "$build/build.log"
  status=1
}

echo "== strict and seh passes"
KESTRO_JOBS=$jobs python3 tools/msvc/msvc_passes.py product "$build" || status=1

echo "== known-bad files"
KESTRO_JOBS=$jobs python3 tools/msvc/msvc_passes.py known-bad "$build" || status=1

echo "check_msvc: $((SECONDS - started)) s, $([ $status -eq 0 ] && echo clean || echo FAILED)"
exit $status
