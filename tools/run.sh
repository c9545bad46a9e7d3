#!/usr/bin/env bash
# Builds what is missing of the program, the interface libraries and the
# emulator (no tests, no benchmarks), starts the bundled module emulator on
# the loopback address and opens the program.  When the program exits the
# emulator is stopped: nothing is left running.
#
# The emulator runs with --life: inputs change every second and pulses
# arrive on the counters, so every live window moves.
#
# Where no settings file lies beside the program, one is written that selects
# the LAN converter at the emulator's address and port; an existing settings
# file is left alone.  The emulator also serves the serial line (COM 1) and
# the three cards, so every interface of the connection dialog can be tried.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh run

# The build folder tools/test.sh uses too: a first run leaves the tests and
# benchmarks off (they need packages the program does not), and tools/test.sh
# turns them on.  A folder already set up is taken as it is.
build=build/release
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_TESTS=OFF -DKV_BENCH=OFF
fi
cmake --build "$build" -j"$(nproc)" --target R_IV618 kv618emu interface_libraries

bin=$build/bin
settings=$bin/R_iv618.ini
emulator_pid=
run_dir=$(mktemp -d "${TMPDIR:-/tmp}/kv618run.XXXXXX")

stop_emulator() {
  if [ -n "$emulator_pid" ] && kill -0 "$emulator_pid" 2>/dev/null; then
    kill -TERM "$emulator_pid" 2>/dev/null || true
    wait "$emulator_pid" 2>/dev/null || true
  fi
  rm -rf "$run_dir"
}
trap stop_emulator EXIT
trap 'exit 130' INT TERM

# The UDP port the existing settings file names, so the program finds the
# emulator there again; 5000 (the program's default) otherwise.
wanted_port() {
  local port=
  if [ -f "$settings" ]; then
    port=$(tr -d '\r' <"$settings" | LC_ALL=C grep -a -i '^UDP port=' | head -n 1 | cut -d= -f2 | tr -d ' ' || true)
  fi
  [[ "$port" =~ ^[0-9]+$ ]] && [ "$port" -le 65535 ] || port=5000
  echo "$port"
}

# Starts the emulator on the given port and waits for its READY line, which
# it leaves in $ready.  Fails if the emulator ends first (the port is taken).
ready=
start_emulator() {
  local port=$1 out=$run_dir/emulator.out
  : >"$out"
  "$bin/kv618emu" --udp "127.0.0.1:$port" --pty --cards "$run_dir/cards" --life \
    --state "$build/kv618emu.state" --control "$run_dir/control.sock" >"$out" 2>"$run_dir/emulator.err" &
  emulator_pid=$!
  for _ in $(seq 1 100); do
    if grep -q '^READY ' "$out"; then
      ready=$(grep -m 1 '^READY ' "$out")
      return 0
    fi
    if ! kill -0 "$emulator_pid" 2>/dev/null; then
      wait "$emulator_pid" 2>/dev/null || true
      emulator_pid=
      return 1
    fi
    sleep 0.1
  done
  echo "kv618emu did not report READY" >&2
  exit 1
}

port=$(wanted_port)
if ! start_emulator "$port"; then
  echo "UDP port $port is taken; the emulator uses a free one instead." >&2
  start_emulator 0 || { cat "$run_dir/emulator.err" >&2; exit 1; }
  if [ -f "$settings" ]; then echo "Enter the emulator's port below as \"UDP port\" in the connection dialog." >&2; fi
fi
field() { tr ' ' '\n' <<<"$ready" | grep "^$1=" | cut -d= -f2- || true; }
udp=$(field udp)
port=${udp##*:}
echo "Module emulator: UDP 127.0.0.1:$port, serial line $(field pty) (COM 1), cards in $(field cards)"

if [ ! -f "$settings" ]; then
  # Windows-1250, CRLF: [Připojení] / Rozhraní=KV-1726 / ...
  printf '[P\370ipojen\355]\r\nRozhran\355=KV-1726\r\nAdresa=1\r\nRychlost=9600\r\n\r\n[KV-1726]\r\nIP adresa=127.0.0.1\r\nUDP port=%s\r\nUDP timeout=200\r\n' \
    "$port" >"$settings"
  echo "Wrote $settings: LAN converter KV-1726 at 127.0.0.1:$port"
fi

export QCOM726_COM1
QCOM726_COM1=$(field pty)
export KV618_CARD_DIR
KV618_CARD_DIR=$(field cards)
"$bin/R_IV618"
