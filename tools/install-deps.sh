#!/usr/bin/env bash
# Installs the Debian packages a task needs, only those that are missing, on
# Debian 12 (bookworm) or Debian 13 (trixie).  apt-get needs root; sudo is
# used when present.
#
#   bash tools/install-deps.sh [run | package | all]
#
# run: building and running the program, the libraries and the emulator
# (tools/run.sh); package: that, the Debian packaging tools and the MQTT
# bridge's libraries (tools/package.sh); all (the default): also the tests,
# benchmarks and fuzzing (tools/test.sh).  tools/fresh-check.sh proves on a
# fresh Debian 12 and a fresh Debian 13 that each set is enough for its script.
#
# Every name below is one both releases have, so a set is one list for both:
# where a package's name carries a version (the clang runtimes are
# libclang-rt-14-dev on 12, libclang-rt-19-dev on 13), the name without it
# follows each release's default.
set -euo pipefail

run=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libgl-dev          # the windows
  fonts-dejavu-core               # a font with every Czech letter
  libcli11-dev nlohmann-json3-dev # the command-line tool kv618 (its JSON too)
  procps                          # ps/pkill used by the scripts
)
package=(
  dpkg-dev file                   # CPack's shlibdeps and its look for ELF files
  libmosquitto-dev                # the MQTT bridge (kv618 bridge) in the package
  libmodbus-dev                   # its Modbus face
  libprotobuf-dev protobuf-compiler    # its Sparkplug B payloads
  gettext                         # msgfmt: the tools' Czech messages (po/)
)
all=(
  libgtest-dev libgmock-dev       # tests
  libbenchmark-dev                # benchmarks
  mosquitto mosquitto-clients     # the broker its tests start; mosquitto_sub, an independent reader
  python3                         # its json module, the JSON topics' independent parser
  nodejs npm                      # the Sparkplug tests' host on Eclipse Tahu's library (npm ci at build)
  mbpoll socat                    # the Modbus face's tests: an independent client, pseudo-terminal pairs for RTU
  locales                         # cs_CZ.UTF-8 for the tests of the Czech messages
  clang libclang-rt-dev           # fuzzing (libFuzzer) and sanitizer runtimes of the default clang
  lintian                         # the package test's check of the .deb
  mmdebstrap                      # tools/fresh-check.sh's fresh roots
  ccache                          # tools/test.sh's rebuilds
)

case ${1:-all} in
  run) packages=("${run[@]}") ;;
  package) packages=("${run[@]}" "${package[@]}") ;;
  all) packages=("${run[@]}" "${package[@]}" "${all[@]}") ;;
  *) echo "usage: bash tools/install-deps.sh [run | package | all]" >&2; exit 2 ;;
esac

# The Czech locale the tests run kv618 under (the tools fall back to C.UTF-8
# with the Czech catalogue where it is missing; generated, it is the real one).
generate_czech() {
  [ "${1:-all}" = all ] || return 0
  locale -a 2>/dev/null | grep -qi '^cs_CZ\.utf-\?8$' && return 0
  command -v localedef >/dev/null || return 0
  local as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" localedef -i cs_CZ -f UTF-8 cs_CZ.UTF-8 || echo "cs_CZ.UTF-8 not generated" >&2
}
trap 'generate_czech "${1:-all}"' EXIT

# What installed packages provide counts as installed: NodeSource's nodejs
# provides npm (and conflicts with Debian's).
provided=$(dpkg-query -W -f='${db:Status-Abbrev}|${Provides}\n' 2>/dev/null |
  sed -n 's/^ii *|//p' | tr ',' '\n' | sed 's/([^)]*)//; s/:any//; s/^ *//; s/ *$//')
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    grep -qxF "$p" <<<"$provided" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
