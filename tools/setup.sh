#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian machine. Safe to run again.
set -euo pipefail

packages=(cmake g++ ninja-build googletest libgtest-dev libgmock-dev libbenchmark-dev clang-format
          clang libfuzzer-14-dev libclang-rt-14-dev xvfb xauth wixl msitools python3
          g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 pulseaudio pulseaudio-utils)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq >/dev/null
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
