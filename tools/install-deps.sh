#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the program and the tests need,
# only those that are missing.  apt-get needs root; sudo is used when present.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libgl-dev          # the windows
  fonts-dejavu-core               # a font with every Czech letter
  libgtest-dev libgmock-dev       # tests
  libbenchmark-dev                # benchmarks
  clang libclang-rt-14-dev        # fuzzing (libFuzzer) and sanitizer runtimes
  procps                          # ps/pkill used by the scripts
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
