#!/usr/bin/env bash
# Fault soak: every live window and the clock window poll the module emulator
# while it drops, delays past the time-out, damages and misaddresses 20 % of
# the replies.  Minutes long and not part of CI (docs/soak.md).
#
#   bash tools/soak.sh [MINUTES | --short] [kvsoak options: --seed S --faults P]
#
# MINUTES defaults to 5; --short runs 30 seconds, a quick check that it works.
# Exits 0 when every check held, 1 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=300
if [ $# -gt 0 ]; then
  case $1 in
    --short) seconds=30; shift ;;
    ''|*[!0-9.]*) ;;
    *) seconds=$(awk -v m="$1" 'BEGIN { printf "%d", m * 60 }'); shift ;;
  esac
fi

source tools/bench-tree.sh kvsoak

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'); load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Command: bash tools/soak.sh $seconds s $*"
# The offscreen platform's remarks about window hints are not findings.
"$dir/bin/kvsoak" --seconds "$seconds" "$@" 2> >(grep -v -e propagateSizeHints >&2)
