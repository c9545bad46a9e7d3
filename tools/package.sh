#!/usr/bin/env bash
# Builds the Debian package of the program, the interface libraries and the
# emulator, and prints the path of the .deb.
#
#   bash tools/package.sh
#   sudo apt install ./build/package/r-iv618_*.deb
#
# Its own build folder, without tests or benchmarks: only what ships is
# built, the bridge included, with Debian's hardening flags (dpkg-buildflags).
# Dependencies come from dpkg-shlibdeps.
set -euo pipefail
cd "$(dirname "$0")/.."
# Only the path goes to stdout, so that deb=$(bash tools/package.sh) works.
bash tools/install-deps.sh package >&2

build=build/package
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_C_FLAGS="$CPPFLAGS $CFLAGS" -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" -DCMAKE_SHARED_LINKER_FLAGS="$LDFLAGS" -DCMAKE_MODULE_LINKER_FLAGS="$LDFLAGS" \
  -DKV_TESTS=OFF -DKV_BENCH=OFF -DKV_WINDOWS=ON -DKV_BRIDGE=ON -DKV_SANITIZE=OFF -DKV_FUZZ=OFF >&2
cmake --build "$build" -j"$(nproc)" >&2
rm -f "$build"/*.deb
log=$build/cpack.log
if ! (cd "$build" && cpack -G DEB) >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
deb=$(ls "$build"/*.deb)
echo "$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")"
