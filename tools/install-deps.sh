#!/usr/bin/env bash
# Installs the Debian 12 packages a task needs, only those that are missing.
# apt-get needs root; sudo is used when present.
#
#   bash tools/install-deps.sh [run | package | all]
#
# run: building and running the program, the libraries and the emulator
# (tools/run.sh); package: that, the Debian packaging tools and the MQTT
# bridge's libraries (tools/package.sh); all (the default): also the tests, benchmarks and
# fuzzing (tools/test.sh).
set -euo pipefail

run=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libgl-dev          # the windows
  fonts-dejavu-core               # a font with every Czech letter
  libcli11-dev                    # the command-line tool kv618
  procps                          # ps/pkill used by the scripts
)
package=(
  dpkg-dev file                   # CPack's shlibdeps and its look for ELF files
  libmosquitto-dev nlohmann-json3-dev  # the MQTT bridge (kv618 bridge) in the package
  libprotobuf-dev protobuf-compiler    # its Sparkplug B payloads
)
all=(
  libgtest-dev libgmock-dev       # tests
  libbenchmark-dev                # benchmarks
  mosquitto mosquitto-clients     # the broker its tests start; mosquitto_sub for trying it
  clang libclang-rt-14-dev        # fuzzing (libFuzzer) and sanitizer runtimes
)

case ${1:-all} in
  run) packages=("${run[@]}") ;;
  package) packages=("${run[@]}" "${package[@]}") ;;
  all) packages=("${run[@]}" "${package[@]}" "${all[@]}") ;;
  *) echo "usage: bash tools/install-deps.sh [run | package | all]" >&2; exit 2 ;;
esac

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
