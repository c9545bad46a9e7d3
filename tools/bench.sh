#!/usr/bin/env bash
# Builds what is missing and runs the benchmarks; prints the machine and one
# Markdown table of figures, each against its reference (docs/performance.md).
#
#   bash tools/bench.sh [--quick] [--seconds N] [--watch-seconds N] [exchange|serial|config|poll|startup|silent|bridge|sparkplug|modbus|cli|oneshot|scan|watch|plant|trend ...]
#
# --quick: few repetitions, to see that everything runs (not for figures).
# Takes over ten minutes in full: four of them the bridge (figure 7), about
# five kv618's scans and watch (figures 8, 9).  Close other heavy work first:
# the machine is measured as it is, and the table shows its load.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/bench-tree.sh kvbench
log=$(mktemp /tmp/kvbench-log-XXXXXX)

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(awk '/MemTotal/ {printf "%.1f GiB", $2/1048576}' /proc/meminfo) memory"
echo "Kernel: $(uname -sr); compiler: $(c++ --version | head -n1); build: RelWithDebInfo"
echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Command: bash tools/bench.sh $*"
echo
status=0
"$dir/bin/kvbench" "$@" 2>"$log" || status=$?
echo
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$status" -ne 0 ]; then
  echo "Some figures were not measured; messages of the run:" >&2
  grep -v -e XDG_RUNTIME_DIR -e propagateSizeHints "$log" >&2 || true
fi
rm -f "$log"
exit "$status"
