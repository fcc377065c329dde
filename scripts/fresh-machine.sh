#!/usr/bin/env bash
# The README's commands on a clean Debian 12, as a newcomer meets them: a
# minimal Debian tree (the archive's "minbase" plus make), this project
# cloned into it, then `make run` with no display there. It must install
# only the run packages, build, and end with kva's no-display line and
# status 1. Each step's time is printed.
#
#   fresh-machine.sh [--partial] [--test] [--keep]
#       --partial  then GoogleTest and Google Benchmark are installed (pixman
#                  and libyuv are not) and make run must still configure
#                  afresh and start; a configure with tests and benchmarks
#                  on must leave the benchmarks out with one line
#       --test     then `make test` in the tree (long: every package, three
#                  builds), in a network namespace of its own so its X and
#                  sound servers meet no other
#       --keep     leaves the tree in place (its path is printed)
#   fresh-machine.sh --tree-only DIR
#       only makes the bare tree in DIR (for trying things by hand:
#       chroot DIR, after mounting /proc, /sys and /dev in it)
#
# Needs root and Debian's archive. The bootstrapped base is kept as a
# tarball in KVA_FRESH_CACHE (default /var/cache/kva-fresh) and reused;
# delete it to bootstrap again. KVA_FRESH_MIRROR names another mirror.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
mirror=${KVA_FRESH_MIRROR:-http://deb.debian.org/debian}
cache=${KVA_FRESH_CACHE:-/var/cache/kva-fresh}
base=$cache/bookworm-minbase.tar.zst

say() { echo "fresh-machine: $*"; }
die() {
    say "FAIL: $*" >&2
    exit 1
}

# step NAME COMMAND...: runs COMMAND and prints its time.
timings=()
step() {
    local name=$1 from=$SECONDS
    shift
    say "$name ..."
    "$@"
    timings+=("$(printf '%-34s %4d s' "$name" $((SECONDS - from)))")
    say "$name: $((SECONDS - from)) s"
}

need_tools() {
    [ "$(id -u)" -eq 0 ] || die "needs root (chroot, mounts, mmdebstrap)"
    local missing=()
    command -v mmdebstrap >/dev/null || missing+=(mmdebstrap)
    command -v zstd >/dev/null || missing+=(zstd)
    command -v git >/dev/null || missing+=(git)
    if [ ${#missing[@]} -gt 0 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null
    fi
}

# The base: Debian 12 minbase and make, bootstrapped once from the archive.
make_base() {
    [ -s "$base" ] && return 0
    mkdir -p "$cache"
    local partial="$cache/partial-$$.tar.zst"
    mmdebstrap --quiet --variant=minbase --include=make bookworm "$partial" "$mirror" ||
        { rm -f "$partial"; die "mmdebstrap failed"; }
    mv "$partial" "$base"
}

# make_tree DIR: the base unpacked, able to reach the archive; daemons that
# packages install are not started in it (there is no init to stop them).
make_tree() {
    local dir=$1
    mkdir -p "$dir"
    tar --zstd -xf "$base" -C "$dir"
    cp /etc/resolv.conf "$dir/etc/resolv.conf"
    printf '#!/bin/sh\nexit 101\n' >"$dir/usr/sbin/policy-rc.d"
    chmod 755 "$dir/usr/sbin/policy-rc.d"
    mkdir -p -m 700 "$dir/run/user/0"
}

mounted=()
mount_tree() {
    local dir=$1
    mount -t proc proc "$dir/proc" && mounted+=("$dir/proc")
    for fs in sys dev; do
        mount --rbind "/$fs" "$dir/$fs" && mounted+=("$dir/$fs")
        mount --make-rslave "$dir/$fs"
    done
}
unmount_tree() {
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount -R -l "${mounted[$i]}" 2>/dev/null || true
    done
    mounted=()
}

if [ "${1:-}" = --tree-only ]; then
    [ -n "${2:-}" ] || die "usage: $0 --tree-only DIR"
    need_tools
    step "bootstrap the base (once)" make_base
    step "unpack the tree" make_tree "$2"
    say "the tree is in $2"
    exit 0
fi

partial='' full_test='' keep=''
for option in "$@"; do
    case "$option" in
    --partial) partial=yes ;;
    --test) full_test=yes ;;
    --keep) keep=yes ;;
    *) die "usage: $0 [--partial] [--test] [--keep] | --tree-only DIR" ;;
    esac
done
need_tools

tree=$(mktemp -d /var/tmp/kva-fresh.XXXXXX)
# Readable by all: the PulseAudio test runs kva as an unprivileged user, and
# the sanitizer build points it at a file in the clone.
clone=/srv/kva
logs=$tree/srv/logs
cleanup() {
    unmount_tree
    if [ -n "$keep" ]; then say "the tree is kept in $tree"; else rm -rf --one-file-system "$tree"; fi
}
trap cleanup EXIT

# in_tree COMMAND: COMMAND by bash in the clone, in a login-like session
# with no display: nothing from this shell's environment leaks in.
in_tree() {
    chroot "$tree" env -i HOME=/root LANG=C.UTF-8 TERM=dumb XDG_RUNTIME_DIR=/run/user/0 \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        bash -c "cd $clone && $1"
}

# run_logged NAME COMMAND: COMMAND in the tree, its output in logs/NAME.log;
# its status in $status.
run_logged() {
    status=0
    in_tree "$2" >"$logs/$1.log" 2>&1 || status=$?
}
show_log() {
    say "the end of $1.log:"
    tail -n 40 "$logs/$1.log" | sed 's/^/  | /'
}

clone_project() {
    git clone -q "$source_dir" "$tree$clone"
    mkdir -p "$logs"
}

# make run with no display: the programs and the pack built, then kva's one
# line naming the exporter and its status 1 (make reports it as Error 1).
make_run() {
    local name=$1
    run_logged "$name" 'make run'
    if ! grep -q '^kva: cannot set up the display: .*kva-export' "$logs/$name.log" ||
        ! grep -q 'run\] Error 1$' "$logs/$name.log"; then
        show_log "$name"
        die "$name: make run did not build and end with the no-display line and status 1"
    fi
    [ -x "$tree$clone/build/kva" ] && [ -s "$tree$clone/build/pr0n.rar" ] ||
        die "$name: kva or its pack is missing"
    [ ! -e "$tree$clone/build/tests" ] && [ ! -e "$tree$clone/build/bench" ] ||
        die "$name: make run configured tests or benchmarks"
    say "$name: $(grep '^kva: ' "$logs/$name.log")"
}

# Nothing make run installed beyond the run group: no test package is there
# unless the run group also names it or the caller installed it.
only_run_packages() {
    local allowed=" $(bash "$source_dir/scripts/install-deps.sh" list run | tr '\n' ' ') $* "
    local extra=()
    for p in $(bash "$source_dir/scripts/install-deps.sh" list test); do
        [[ "$allowed" == *" $p "* ]] && continue
        if chroot "$tree" dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q ' installed$'; then
            extra+=("$p")
        fi
    done
    [ ${#extra[@]} -eq 0 ] || die "make run installed test packages: ${extra[*]}"
    say "installed: the run packages and $(chroot "$tree" dpkg-query -W | wc -l) packages in all"
}

first_run() {
    make_run make-run
    only_run_packages
}

# GoogleTest and Google Benchmark present, pixman and libyuv absent.
partly_installed() {
    run_logged partial-packages \
        'DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends libgtest-dev libbenchmark-dev'
    [ "$status" -eq 0 ] || { show_log partial-packages; die "cannot install the test libraries"; }
    # A new configure (the objects stay: the programs' own build is the one
    # already shown to work), finding what is installed now.
    in_tree 'rm -f build/CMakeCache.txt'
    make_run make-run-partial
    only_run_packages libgtest-dev libbenchmark-dev
    run_logged configure-partial 'cmake -S . -B build-partial'
    [ "$status" -eq 0 ] || { show_log configure-partial; die "configuring with tests on failed"; }
    grep -q '^-- Benchmarks left out, not installed: pixman, libyuv' "$logs/configure-partial.log" ||
        { show_log configure-partial; die "no line names the benchmarks' missing libraries"; }
    [ -e "$tree$clone/build-partial/tests" ] || die "the tests were left out though GoogleTest is there"
    say "configure, tests on: $(grep 'left out' "$logs/configure-partial.log")"
}

# Its own network namespace: the abstract X and sound sockets of the tests'
# servers are then apart from any other on this machine.
make_test() {
    status=0
    unshare --net bash -c 'ip link set lo up 2>/dev/null; "$@"' - \
        chroot "$tree" env -i HOME=/root LANG=C.UTF-8 TERM=dumb XDG_RUNTIME_DIR=/run/user/0 \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        bash -c "cd $clone && make test" >"$logs/make-test.log" 2>&1 || status=$?
    grep -E 'tests passed|tests failed' "$logs/make-test.log" | sed 's/^/  /' || true
    [ "$status" -eq 0 ] || { show_log make-test; die "make test failed"; }
}

step "bootstrap the base (once)" make_base
step "unpack the tree" make_tree "$tree"
mount_tree "$tree"
step "clone" clone_project
step "make run (first, no display)" first_run
if [ -n "$partial" ]; then
    step "make run, test libraries partly" partly_installed
fi
if [ -n "$full_test" ]; then
    # make test installs the rest with apt before its own namespace cuts
    # the network off.
    step "install the test packages" run_logged deps 'make deps'
    [ "$status" -eq 0 ] || { show_log deps; die "make deps failed"; }
    step "make test" make_test
fi

say "times:"
printf '  %s\n' "${timings[@]}"
