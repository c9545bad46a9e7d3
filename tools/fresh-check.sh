#!/usr/bin/env bash
# Proves that a newcomer's machine is enough: on fresh, minimal roots of
# Debian 12 and Debian 13 (mmdebstrap --variant=apt bookworm, trixie) with a
# clean clone of this repository's committed HEAD,
#   1. run      the README's first command, bash tools/run.sh, with the
#               offscreen platform, until the program's window is up;
#   2. package  bash tools/package.sh in another fresh root, and that
#               release's lintian checks the .deb there;
#   3. install  apt-get install ./r-iv618_*.deb into a third fresh root, then
#               R_IV618 --version, kv618 --help, kv618emu --help, the window
#               up once, kv618 identify against the installed emulator on
#               127.0.0.1 and kv618 bridge --check of the example file;
#   4. tests    then, in the root of step run, the README's second command's
#               normal build: bash tools/test.sh release installs the test
#               tools, builds every test and runs them (Debian 13 only by
#               default: CI's own tools/test.sh runs them on its machine's
#               release).  The longest step comes last.
# Each step installs only what its own script installs, so a package missing
# from tools/install-deps.sh fails the step; the failure names the release,
# the step and the missing piece.  The times of every step are listed at the
# end.
#
#   bash tools/fresh-check.sh [bookworm | trixie ...] [run | package | install | tests ...]
#
# Both releases by default, each with its default steps; steps named run on
# every release named.  Needs root (chroot, mounts) and mmdebstrap.  Each
# release's base root, apt's .debs and lists and a ccache live in
# /var/cache/kv618-fresh/RELEASE (KV_FRESH_CACHE) between runs; a base root is
# made again after a week.  KV_FRESH_KEEP=1 keeps the roots for a look
# afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
cache=${KV_FRESH_CACHE:-/var/cache/kv618-fresh}
mirror=http://deb.debian.org/debian
host_cas=${SSL_CERT_FILE:-/etc/ssl/certs/ca-certificates.crt}
root_cas=/etc/ssl/certs/host-ca-certificates.crt
releases=() steps=()
for a in "$@"; do
  case $a in
    bookworm | trixie) releases+=("$a") ;;
    run | package | install | tests) steps+=("$a") ;;
    *) echo "usage: bash tools/fresh-check.sh [bookworm | trixie ...] [run | package | install | tests ...]" >&2; exit 2 ;;
  esac
done
[ ${#releases[@]} -gt 0 ] || releases=(bookworm trixie)
# What each release checks unless steps are named.
default_steps() {
  case $1 in
    bookworm) echo run package install ;;
    trixie) echo run package install tests ;;
  esac
}

fail() { echo "fresh-check: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || exec sudo --preserve-env=KV_FRESH_CACHE,KV_FRESH_KEEP bash "$0" "$@"
command -v mmdebstrap >/dev/null || fail "mmdebstrap is missing (apt-get install mmdebstrap)"
git -C "$repo" diff --quiet HEAD 2>/dev/null ||
  echo "fresh-check: note: uncommitted changes are not checked, only HEAD $(git -C "$repo" rev-parse --short HEAD)" >&2

mkdir -p "$cache"
exec 9>"$cache/lock"
flock -n 9 || { echo "fresh-check: another check runs; waiting" >&2; flock 9; }
work=$(mktemp -d "$cache/work.XXXXXX")
declare -A took  # "release step" -> seconds
t=$SECONDS        # when the current step began

# The times of the steps done, one line per release, as README's Notes
# have them; printed after a failure too.
report_times() {
  [ ${#took[@]} -gt 0 ] || return 0
  echo "fresh-check: seconds per step" >&2
  printf '  %-9s %5s %5s %8s %8s %5s %7s\n' release base run package install tests "in all" >&2
  local r step line sum
  for r in "${releases[@]}"; do
    line=() sum=0
    for step in base run package install tests; do
      if [ -n "${took["$r $step"]:-}" ]; then
        line+=("${took["$r $step"]}")
        sum=$((sum + took["$r $step"]))
      else
        line+=(-)
      fi
    done
    printf '  %-9s %5s %5s %8s %8s %5s %7s\n' "$r" "${line[@]}" "$sum" >&2
  done
}
cleanup() {
  report_times
  # A step's mounts live in its own mount namespace and are gone with it.
  if [ "${KV_FRESH_KEEP:-0}" = 1 ]; then echo "fresh-check: roots kept in $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT

started=$SECONDS
elapsed() { echo "$((SECONDS - $1)) s"; }
say() { echo "fresh-check: $release: $*" >&2; }

# The release's base root, made once a week, from the release with its
# updates and security fixes, as an operator's machine has them; ccache goes
# in so the steps' compilers can share one cache (it is no dependency of the
# project).
base_root() {
  base=$rcache/base.tar
  if [ -f "$base" ] && [ -z "$(find "$base" -mtime +7)" ]; then
    took["$release base"]=0
    return 0
  fi
  local t=$SECONDS
  say "making the base root (mmdebstrap --variant=apt $release)"
  mmdebstrap --quiet --variant=apt --include=ccache "$release" "$rcache/new.tar" \
    "deb $mirror $release main" "deb $mirror $release-updates main" \
    "deb ${mirror}-security $release-security main" </dev/null >"$work/$release-mmdebstrap.log" 2>&1 ||
    { tail -20 "$work/$release-mmdebstrap.log" >&2; fail "$release: base root: mmdebstrap failed"; }
  mv "$rcache/new.tar" "$base"
  took["$release base"]=$((SECONDS - t))
  say "base root made in $(elapsed "$t")"
}

# A fresh root from the base, with the repository cloned into /src.
new_root() {
  local root=$work/$release-$1
  mkdir -p "$root"
  tar -C "$root" -xf "$base"
  cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
  # The host's certificate authorities, a site proxy's among them: npm in
  # the root then reaches the registry as it does on the host.  Beside the
  # release's own bundle, which its ca-certificates may write later.
  if [ -f "$host_cas" ]; then
    mkdir -p "$root$(dirname "$root_cas")"
    cp "$host_cas" "$root$root_cas"
  fi
  git clone -q --no-hardlinks "$repo" "$root/src"
  # apt downloads as its own user, whose number is the root's.
  local apt_uid
  apt_uid=$(awk -F: '$1 == "_apt" { print $3 }' "$root/etc/passwd")
  [ -z "$apt_uid" ] || chown "$apt_uid" "$rcache/archives/partial" "$rcache/lists/partial"
  echo "$root"
}

# Runs a script in the root as root, with the release's caches bind-mounted,
# in mount and process namespaces of its own: its mounts and any process it
# leaves go with it.  Output goes to the step's log.
in_root() {
  local root=$1 log=$2 script=$3 cas=
  [ ! -f "$root$root_cas" ] || cas=$root_cas
  unshare --mount --propagation private --pid --fork --kill-child bash -c '
    set -e
    root=$1 cache=$2 extra_cas=$4
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
      ${extra_cas:+NODE_EXTRA_CA_CERTS=$extra_cas} \
      CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache \
      bash -euo pipefail -c "$3"
  ' in_root "$root" "$rcache" "$script" "$cas" >"$log" 2>&1
}

# What a failed step lacked, from its log: a package CMake did not find, a
# header, a command, a library, a compiler error, a failed test, lintian's
# finding.  The surest signs first: CMake mentions optional packages it did
# not find in a good run too.
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
    '[0-9]+ - [^ ]+ \((Failed|Timeout|SEGFAULT|Subprocess aborted|Exception)[^)]*\)' \
    'Could not find a package configuration file provided by "[^"]+"' \
    "Package '[^']+', required by '[^']+', not found" \
    'fatal error: [^ ]+: No such file or directory' \
    '[A-Za-z0-9_.+/-]+: (command )?not found' \
    'E: Unable to locate package .*' \
    'Depends: .* but it is not (installable|going to be installed)' \
    '[^ ]+: cannot open shared object file.*' \
    'Could not load the Qt platform plugin.*' \
    'Could NOT find [A-Za-z0-9_]+ \(missing: [^)]*\)' \
    '[^ ]+:[0-9]+:[0-9]+: error: .*' \
    '^[EW]: [^ ]+: .*' \
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
  took["$release $name"]=$((SECONDS - t))  # up to the failure
  KV_FRESH_KEEP=1
  fail "$release: step $name ($what) failed; missing: $(missing_piece "$log")"
}

# The README's first command; its root is kept for step tests.
run_root=
step_run() {
  run_root=$(new_root run)
  say "step run: bash tools/run.sh in a fresh root"
  in_root "$run_root" "$work/$release-run.log" '
    cd /src
    export QT_QPA_PLATFORM=offscreen R_IV618_QUIT_WHEN_SHOWN=1
    timeout 3000 bash tools/run.sh </dev/null
    # Only what the program needs was built: no tests, no benchmarks, no bridge.
    for extra in build/release/bin/kvbench build/release/bin/kv618; do
      if [ -e "$extra" ]; then echo "built what it does not run: $extra"; exit 1; fi
    done
  ' || step_failed run "the README's first command, bash tools/run.sh" "$work/$release-run.log"
  grep -q "^Module emulator: UDP 127.0.0.1:" "$work/$release-run.log" ||
    step_failed run "the emulator did not come up" "$work/$release-run.log"
  say "step run: the program came up and closed, in $(elapsed "$t")"
}

# The README's second command's normal build, after the first where it ran:
# what a newcomer types next.
step_tests() {
  local root=$run_root where="the root of step run"
  [ -n "$root" ] || { root=$(new_root tests); where="a fresh root"; }
  say "step tests: bash tools/test.sh release in $where"
  in_root "$root" "$work/$release-tests.log" '
    cd /src
    timeout 3000 bash tools/test.sh release </dev/null
  ' || step_failed tests "bash tools/test.sh release" "$work/$release-tests.log"
  say "step tests: $(grep -m 1 -o '[0-9]*% tests passed.*' "$work/$release-tests.log" || echo 'passed'), in $(elapsed "$t")"
}

deb=
step_package() {
  local root
  root=$(new_root package)
  say "step package: bash tools/package.sh in a fresh root"
  in_root "$root" "$work/$release-package.log" '
    cd /src
    deb=$(bash tools/package.sh </dev/null)
    echo "DEB=$deb"
  ' || step_failed package "bash tools/package.sh" "$work/$release-package.log"
  local deb_in_root
  deb_in_root=$(sed -n 's/^DEB=//p' "$work/$release-package.log" | tail -n 1)
  [ -n "$deb_in_root" ] && [ -f "$root$deb_in_root" ] || step_failed package "no .deb was made" "$work/$release-package.log"
  # Debian's own check, by the release's lintian.
  in_root "$root" "$work/$release-lintian.log" '
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends lintian >/dev/null
    lintian --fail-on error,warning '"$deb_in_root"'
  ' || step_failed package "lintian finds errors or warnings in $(basename "$deb_in_root")" "$work/$release-lintian.log"
  mkdir -p "$work/$release-deb"
  deb=$work/$release-deb/$(basename "$deb_in_root")
  cp "$root$deb_in_root" "$deb"
  rm -rf "$root"
  say "step package: $(basename "$deb_in_root") made, lintian finds nothing, in $(elapsed "$t")"
}

step_install() {
  local root
  root=$(new_root install)
  rm -rf "$root/src"
  cp "$deb" "$root/tmp/"
  say "step install: apt-get install ./$(basename "$deb") in a fresh root"
  in_root "$root" "$work/$release-install.log" '
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
  ' || step_failed install "apt-get install ./$(basename "$deb") and the installed commands" "$work/$release-install.log"
  rm -rf "$root"
  say "step install: installed and every command ran, in $(elapsed "$t")"
}

wants() { local s; for s in "${@:2}"; do [ "$s" = "$1" ] && return 0; done; return 1; }

for release in "${releases[@]}"; do
  rcache=$cache/$release
  mkdir -p "$rcache"/{archives/partial,lists/partial,ccache}
  todo=("${steps[@]}")
  [ ${#todo[@]} -gt 0 ] || read -r -a todo <<<"$(default_steps "$release")"
  base_root
  run_root=
  # The package is made for install when only install is named.
  for step in run package install tests; do
    wants "$step" "${todo[@]}" || { [ "$step" = package ] && wants install "${todo[@]}"; } || continue
    t=$SECONDS
    "step_$step"
    took["$release $step"]=$((SECONDS - t))
  done
  [ -z "$run_root" ] || rm -rf "$run_root"
done

echo "fresh-check: passed (${releases[*]}${steps[*]:+: ${steps[*]}}) in $(elapsed "$started")" >&2
