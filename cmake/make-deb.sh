#!/usr/bin/env bash
# make-deb.sh BUILD-DIR OUT-DIR [JOBS] -- the Debian package of this source
# tree, configured and built in BUILD-DIR and written to OUT-DIR.
#
# Built as Debian builds its own packages: dpkg-buildflags' compiler and
# linker flags with every hardening feature (fortify, stack protector, relro,
# bindnow, PIE) and the build folders mapped away, so the programs carry no
# trace of where they were built; the project's optimisation (-O3) stays on
# top for the pixel loops. Every date in the package is SOURCE_DATE_EPOCH,
# by default the last commit's time (the changelog's date outside git), so
# the same tree gives the same bytes wherever and whenever it is built.
set -euo pipefail

[ $# -ge 2 ] || { echo "usage: $0 BUILD-DIR OUT-DIR [JOBS]" >&2; exit 2; }
src=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1" "$2"
build=$(cd "$1" && pwd) out=$(cd "$2" && pwd) jobs=${3:-$(nproc)}

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct 2>/dev/null ||
        dpkg-parsechangelog -l "$src/dist/changelog" -STimestamp)
fi
export SOURCE_DATE_EPOCH
# Files the package's tools write (the staging tree, archives) get the same
# modes whatever the caller's umask.
umask 022

flags() {
    (cd "$src" && DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1")
}
# Debian 12's compiler already makes PIE; stack-clash protection and
# control-flow protection are asked for as later Debian releases do.
map="-ffile-prefix-map=$build=build -fstack-clash-protection -fcf-protection"
cflags="$(flags CPPFLAGS) $(flags CFLAGS) $map"
cxxflags="$(flags CPPFLAGS) $(flags CXXFLAGS) $map"
ldflags=$(flags LDFLAGS)

cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKVA_WERROR="${KVA_WERROR:-OFF}" \
    -DKVA_TESTS=OFF -DKVA_BENCH=OFF -DKVA_PACK=ON -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
    -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" \
    --no-warn-unused-cli >/dev/null
# Only what the package holds: cpack builds nothing more (the tests and
# benchmarks are left out of the install).
cmake --build "$build" -j "$jobs" --target kva kva-export kva-makepack kva_pack kva_docs \
    -- --no-print-directory
rm -f "$build"/kva_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(cd "$build" && ls kva_*_amd64.deb)
[ "$out" = "$build" ] || cp "$build/$deb" "$out/$deb"
echo "$out/$deb"
