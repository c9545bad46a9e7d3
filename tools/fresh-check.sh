#!/usr/bin/env bash
# Proves that a newcomer's machine is enough: on fresh, minimal Debian 12
# roots (mmdebstrap --variant=apt bookworm) with a clean clone of this
# repository's committed HEAD,
#   1. run      the README's first command, bash tools/run.sh, with the
#               offscreen platform, until the program's window is up;
#   2. package  bash tools/package.sh, in another fresh root;
#   3. install  apt-get install ./r-iv618_*.deb into a third fresh root, then
#               R_IV618 --version, kv618 --help, kv618emu --help, the window
#               up once, kv618 identify against the installed emulator on
#               127.0.0.1 and kv618 bridge --check of the example file;
#               lintian (where this machine has it) checks the .deb first.
# Each step installs only what its own script installs, so a package missing
# from tools/install-deps.sh fails the step; the failure names the step and
# the missing piece.
#
#   bash tools/fresh-check.sh [run | package | install ...]   (all three by default)
#
# Needs root (chroot, mounts) and mmdebstrap.  The base root, apt's .debs and
# lists and a ccache live in /var/cache/kv618-fresh (KV_FRESH_CACHE) between
# runs; the base root is made again after a week.  KV_FRESH_KEEP=1 keeps the
# roots for a look afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
cache=${KV_FRESH_CACHE:-/var/cache/kv618-fresh}
steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(run package install)
for s in "${steps[@]}"; do
  case $s in run | package | install) ;; *) echo "usage: bash tools/fresh-check.sh [run | package | install ...]" >&2; exit 2 ;; esac
done

fail() { echo "fresh-check: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || exec sudo --preserve-env=KV_FRESH_CACHE,KV_FRESH_KEEP bash "$0" "$@"
command -v mmdebstrap >/dev/null || fail "mmdebstrap is missing (apt-get install mmdebstrap)"
git -C "$repo" diff --quiet HEAD 2>/dev/null ||
  echo "fresh-check: note: uncommitted changes are not checked, only HEAD $(git -C "$repo" rev-parse --short HEAD)" >&2

mkdir -p "$cache"/{archives/partial,lists/partial,ccache}
exec 9>"$cache/lock"
flock -n 9 || { echo "fresh-check: another check runs; waiting" >&2; flock 9; }
work=$(mktemp -d "$cache/work.XXXXXX")
cleanup() {
  # A step's mounts live in its own mount namespace and are gone with it.
  if [ "${KV_FRESH_KEEP:-0}" = 1 ]; then echo "fresh-check: roots kept in $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT

started=$SECONDS
elapsed() { echo "$((SECONDS - $1)) s"; }

# The base root, made once a week; ccache goes in so the steps' compilers can
# share one cache (it is no dependency of the project).
base=$cache/bookworm-apt.tar
if [ ! -f "$base" ] || [ -n "$(find "$base" -mtime +7)" ]; then
  echo "fresh-check: making the base root (mmdebstrap --variant=apt bookworm)" >&2
  t=$SECONDS
  mmdebstrap --quiet --variant=apt --include=ccache bookworm "$cache/new.tar" >"$work/mmdebstrap.log" 2>&1 ||
    { tail -20 "$work/mmdebstrap.log" >&2; fail "base root: mmdebstrap failed"; }
  mv "$cache/new.tar" "$base"
  echo "fresh-check: base root made in $(elapsed "$t")" >&2
fi

# A fresh root from the base, with the repository cloned into /src.
new_root() {
  local root=$work/$1
  mkdir -p "$root"
  tar -C "$root" -xf "$base"
  cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
  git clone -q --no-hardlinks "$repo" "$root/src"
  # apt downloads as its own user, whose number is the root's.
  local apt_uid
  apt_uid=$(awk -F: '$1 == "_apt" { print $3 }' "$root/etc/passwd")
  [ -z "$apt_uid" ] || chown "$apt_uid" "$cache/archives/partial" "$cache/lists/partial"
  echo "$root"
}

# Runs a script in the root as root, with the caches bind-mounted, in mount
# and process namespaces of its own: its mounts and any process it leaves go
# with it.  Output goes to the step's log.
in_root() {
  local root=$1 log=$2 script=$3
  unshare --mount --propagation private --pid --fork --kill-child bash -c '
    set -e
    root=$1 cache=$2
    mount -t proc proc "$root/proc"
    mount --bind /dev "$root/dev"
    mount --bind /dev/pts "$root/dev/pts" 2>/dev/null || true
    mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm" 2>/dev/null || true
    mount --bind "$cache/archives" "$root/var/cache/apt/archives"
    mount --bind "$cache/lists" "$root/var/lib/apt/lists"
    mkdir -p "$root/var/cache/ccache"
    mount --bind "$cache/ccache" "$root/var/cache/ccache"
    exec chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      CCACHE_DIR=/var/cache/ccache CCACHE_MAXSIZE=5G \
      CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache \
      bash -euo pipefail -c "$3"
  ' in_root "$root" "$cache" "$script" >"$log" 2>&1
}

# What a failed step lacked, from its log: a package CMake did not find, a
# header, a command, a library.  The surest signs first: CMake mentions
# optional packages it did not find in a good run too.
missing_piece() {
  local pattern from log=$1
  # From CMake's first error on, where there is one: the optional parts it
  # did not find before are no failure.
  from=$(grep -n -m 1 '^CMake Error' "$1" | cut -d: -f1 || true)
  if [ -n "$from" ]; then
    log=$1.error
    tail -n +"$from" "$1" >"$log"
  fi
  for pattern in \
    'Could not find a package configuration file provided by "[^"]+"' \
    "Package '[^']+', required by '[^']+', not found" \
    'fatal error: [^ ]+: No such file or directory' \
    '[A-Za-z0-9_.+/-]+: (command )?not found' \
    'E: Unable to locate package .*' \
    'Depends: .* but it is not (installable|going to be installed)' \
    '[^ ]+: cannot open shared object file.*' \
    'Could not load the Qt platform plugin.*' \
    'Could NOT find [A-Za-z0-9_]+ \(missing: [^)]*\)' \
    'CMake Error.*'; do
    grep -m 1 -o -E "$pattern" "$log" && return 0
  done
  echo "(see the log above)"
}

step_failed() {
  local name=$1 what=$2 log=$3
  echo "---- last lines of the log ($log) ----" >&2
  tail -40 "$log" >&2
  echo "----" >&2
  KV_FRESH_KEEP=1
  fail "step $name ($what) failed; missing: $(missing_piece "$log")"
}

want() { local s; for s in "${steps[@]}"; do [ "$s" = "$1" ] && return 0; done; return 1; }

if want run; then
  t=$SECONDS
  root=$(new_root run)
  echo "fresh-check: step run: bash tools/run.sh in a fresh root" >&2
  in_root "$root" "$work/run.log" '
    cd /src
    export QT_QPA_PLATFORM=offscreen R_IV618_QUIT_WHEN_SHOWN=1
    timeout 3000 bash tools/run.sh </dev/null
    # Only what the program needs was built: no tests, no benchmarks, no bridge.
    for extra in build/release/bin/kvbench build/release/bin/kv618; do
      if [ -e "$extra" ]; then echo "built what it does not run: $extra"; exit 1; fi
    done
  ' || step_failed run "the README's first command, bash tools/run.sh" "$work/run.log"
  grep -q "^Module emulator: UDP 127.0.0.1:" "$work/run.log" ||
    step_failed run "the emulator did not come up" "$work/run.log"
  echo "fresh-check: step run: the program came up and closed, in $(elapsed "$t")" >&2
fi

deb=
if want package || want install; then
  t=$SECONDS
  root=$(new_root package)
  echo "fresh-check: step package: bash tools/package.sh in a fresh root" >&2
  in_root "$root" "$work/package.log" '
    cd /src
    deb=$(bash tools/package.sh </dev/null)
    echo "DEB=$deb"
  ' || step_failed package "bash tools/package.sh" "$work/package.log"
  deb_in_root=$(sed -n 's/^DEB=//p' "$work/package.log" | tail -n 1)
  [ -n "$deb_in_root" ] && [ -f "$root$deb_in_root" ] || step_failed package "no .deb was made" "$work/package.log"
  deb=$work/$(basename "$deb_in_root")
  cp "$root$deb_in_root" "$deb"
  rm -rf "$root"
  # Debian's own check, where the machine has it.
  if command -v lintian >/dev/null; then
    lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
      step_failed package "lintian finds errors or warnings in $(basename "$deb")" "$work/lintian.log"
  fi
  echo "fresh-check: step package: $(basename "$deb") made, in $(elapsed "$t")" >&2
fi

if want install; then
  t=$SECONDS
  root=$(new_root install)
  rm -rf "$root/src"
  cp "$deb" "$root/tmp/"
  echo "fresh-check: step install: apt-get install ./$(basename "$deb") in a fresh root" >&2
  in_root "$root" "$work/install.log" '
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq /tmp/'"$(basename "$deb")"'
    cd /tmp
    echo "== R_IV618 --version"; R_IV618 --version
    echo "== kv618 --help"; kv618 --help >/dev/null
    echo "== kv618emu --help"; kv618emu --help >/dev/null
    echo "== the window"; QT_QPA_PLATFORM=offscreen R_IV618_QUIT_WHEN_SHOWN=1 timeout 60 R_IV618
    echo "== kv618 identify against kv618emu"
    kv618emu --udp 127.0.0.1:0 --no-cards >emu.out 2>emu.err &
    emulator=$!
    for _ in $(seq 1 100); do grep -q "^READY " emu.out && break; sleep 0.1; done
    grep -q "^READY " emu.out || { cat emu.err; echo "kv618emu is not installed properly: no READY line"; exit 1; }
    udp=$(grep -m 1 -o "udp=[0-9.]*:[0-9]*" emu.out); port=${udp##*:}
    kv618 --interface kv1726 --ip 127.0.0.1 --udp-port "$port" --address 1 identify
    kill -TERM "$emulator"; wait "$emulator" || true
    echo "== kv618 bridge --check of the example"
    kv618 bridge --check --config /usr/share/doc/r-iv618/examples/bridge.conf
  ' || step_failed install "apt-get install ./$(basename "$deb") and the installed commands" "$work/install.log"
  echo "fresh-check: step install: installed and every command ran, in $(elapsed "$t")" >&2
fi

echo "fresh-check: passed (${steps[*]}) in $(elapsed "$started")" >&2
