#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need, only when something is missing.
set -euo pipefail
packages=(cmake ninja-build g++ clang clang-format libclang-rt-14-dev googletest libgtest-dev
          libgmock-dev libbenchmark-dev libmsgpack-cxx-dev g++-mingw-w64-x86-64-posix mingw-w64-tools
          wine wine64 xvfb xauth x11-apps imagemagick python3
          clang-tools-14 llvm-14 lld-14 libc++-14-dev libc++abi-14-dev mingw-w64-common)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
