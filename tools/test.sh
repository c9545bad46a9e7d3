#!/usr/bin/env bash
# Installs what is missing, builds and runs every test twice: a normal build
# and an AddressSanitizer + UndefinedBehaviorSanitizer build; then fuzzes.
#
#   bash tools/test.sh [release | sanitize | fuzz ...]   (all three by default)
set -euo pipefail
cd "$(dirname "$0")/.."
parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(release sanitize fuzz)
for p in "${parts[@]}"; do
  case $p in release | sanitize | fuzz) ;; *) echo "usage: bash tools/test.sh [release | sanitize | fuzz ...]" >&2; exit 2 ;; esac
done
want() { local p; for p in "${parts[@]}"; do [ "$p" = "$1" ] && return 0; done; return 1; }
bash tools/install-deps.sh

# A build that was made before, in this clone or another, is taken from the
# compiler cache: CI and a developer's second run recompile only what changed.
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true
fi

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS=suppressions=$PWD/tools/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

run_build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
  (cd "$dir" && ctest --output-on-failure -j"$(nproc)" --timeout 300)
}

# The options are spelled out: tools/run.sh may have set up build/release
# without the tests and benchmarks.
if want release; then
  run_build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_TESTS=ON -DKV_BENCH=ON -DKV_WINDOWS=ON -DKV_BRIDGE=ON
fi
if want sanitize; then
  run_build build/sanitize -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON -DKV_BENCH=OFF -DKV_TESTS=ON -DKV_WINDOWS=ON -DKV_BRIDGE=ON
fi

# Fuzz every parser that takes outside bytes for a bounded time.
if want fuzz; then bash tools/fuzz.sh; fi
