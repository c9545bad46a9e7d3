# Sourced by bench.sh and soak.sh: builds the one target they run in the
# benchmark build tree ($dir, KV_BENCH_DIR or build/bench) and runs it on
# the offscreen platform with a private runtime folder, which Qt wants and
# which goes at exit.
#
#   source tools/bench-tree.sh TARGET
bash tools/install-deps.sh
dir=${KV_BENCH_DIR:-build/bench}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_BENCH=ON -DKV_TESTS=ON -DKV_WINDOWS=ON >/dev/null
cmake --build "$dir" -j"$(nproc)" --target "$1" >/dev/null

runtime=$(mktemp -d "/tmp/$1-runtime-XXXXXX")
chmod 700 "$runtime"
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR=$runtime QT_QPA_PLATFORM=offscreen
