#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (FUZZ_SECONDS, default 30) under AddressSanitizer and UBSan, starting from
# the seed corpus in fuzz/corpus/<target>/.  Crash inputs kept in
# fuzz/regressions/<target>/ are replayed first.  Any finding fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}
build=build/fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKV_FUZZ=ON -DKV_WINDOWS=OFF -DKV_BENCH=OFF -DKV_TESTS=OFF -DKV_BRIDGE=ON >/dev/null
targets=$(sed -n 's/^ *fuzz_target(\([a-z_]*\).*/\1/p' fuzz/CMakeLists.txt)
cmake --build "$build" -j"$(nproc)" --target $targets

failed=0
for t in $targets; do
  name=${t%_fuzz}
  work=$(mktemp -d)
  if [ -d "fuzz/regressions/$name" ] && ls "fuzz/regressions/$name"/* >/dev/null 2>&1; then
    "$build/bin/$t" "fuzz/regressions/$name"/* >"$work/replay.log" 2>&1 || { echo "FAIL $t: a kept crash input fails again"; tail -30 "$work/replay.log"; failed=1; }
  fi
  if "$build/bin/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$work/" \
       "$work" "fuzz/corpus/$name" >"$work/fuzz.log" 2>&1; then
    echo "ok   $t: $(grep -o 'Done [0-9]* runs' "$work/fuzz.log" | tail -1)"
  else
    echo "FAIL $t"; tail -40 "$work/fuzz.log"; ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* 2>/dev/null || true
    failed=1
  fi
  rm -rf "$work"
done
exit $failed
