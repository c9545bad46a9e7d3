#!/usr/bin/env bash
# Installs what is missing, builds and runs every test twice: a normal build
# and an AddressSanitizer + UndefinedBehaviorSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh

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
run_build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_TESTS=ON -DKV_BENCH=ON -DKV_WINDOWS=ON -DKV_BRIDGE=ON
run_build build/sanitize -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON -DKV_BENCH=OFF -DKV_TESTS=ON -DKV_WINDOWS=ON -DKV_BRIDGE=ON

# Fuzz every parser that takes outside bytes for a bounded time.
bash tools/fuzz.sh
