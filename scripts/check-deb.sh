#!/usr/bin/env bash
# check-deb.sh DEB -- the Debian package that make deb built, as Debian's
# tools and a desktop meet it:
#   - its contents: the programs in /usr/games, manual pages in section 6,
#     the menu entry (Game;Amusement), the AppStream entry and icons at 48,
#     64, 128 and 256 pixels; Section games;
#   - lintian -I --pedantic reports nothing (a tag ever to be accepted goes
#     in a lintian override with its reason; none is needed), hardening-check
#     passes on the three programs, appstreamcli and desktop-file-validate
#     accept the metadata;
#   - reproducible: the tree copied to another folder and built again, later,
#     with the package's SOURCE_DATE_EPOCH, gives the same bytes (diffoscope
#     shows what differs when not);
#   - installed with apt-get on this machine, kva started from the menu
#     entry's Exec line in an empty folder (with no display it must exit 1
#     with its one line), the installed kva-export renders a still, and
#     apt-get purge leaves none of its files; the same in the Debian tree
#     KVA_FRESH_TREE names, if set (scripts/fresh-machine.sh --tree-only
#     makes one), where the file lists of the whole tree are compared.
# KVA_CHECK_DEB_SKIP_REBUILD=1 leaves out the second build (for trying
# things by hand; CI never sets it).
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: $0 DEB" >&2; exit 2; }
deb=$(realpath "$1")
src=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /var/tmp/kva-check-deb.XXXXXX)
mounted=()
rebuild_pid=''
cleanup() {
    # A second build still running is ended, with its compilers.
    [ -z "$rebuild_pid" ] || kill -- "-$rebuild_pid" 2>/dev/null || true
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -R -l "${mounted[$i]}" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "check-deb: $*" >&2
    exit 1
}
say() { echo "check-deb: $*"; }

# --- contents and fields ---------------------------------------------------
dpkg-deb --contents "$deb" >"$work/contents"
icons=(48 64 128 256)
expected=(usr/games/kva usr/games/kva-export usr/games/kva-makepack usr/share/kva/pr0n.rar
    usr/share/man/man6/kva.6.gz usr/share/man/man6/kva-export.6.gz
    usr/share/man/man6/kva-makepack.6.gz usr/share/applications/org.example.kva.desktop
    usr/share/metainfo/org.example.kva.metainfo.xml usr/share/doc/kva/copyright
    usr/share/doc/kva/changelog.gz)
for size in "${icons[@]}"; do expected+=("usr/share/icons/hicolor/${size}x$size/apps/kva.png"); done
for f in "${expected[@]}"; do
    grep -q " \./$f\$" "$work/contents" || fail "$f missing from $deb"
done
! grep -q ' \./usr/bin/' "$work/contents" || fail "programs in /usr/bin, not /usr/games"
[ "$(dpkg-deb --field "$deb" Section)" = games ] || fail "Section is not games"
depends=$(dpkg-deb --field "$deb" Depends)
recommends=$(dpkg-deb --field "$deb" Recommends)
case "$depends" in *libsdl2*) ;; *) fail "no SDL2 in Depends: $depends" ;; esac
case "$recommends" in *ffmpeg*) ;; *) fail "no ffmpeg in Recommends" ;; esac

dpkg-deb -x "$deb" "$work/root"
root=$work/root
grep -qx 'Categories=Game;Amusement;' "$root/usr/share/applications/org.example.kva.desktop" ||
    fail "the menu entry is not filed under Game;Amusement"
for size in "${icons[@]}"; do
    file "$root/usr/share/icons/hicolor/${size}x$size/apps/kva.png" | grep -q "PNG image data, $size x $size," ||
        fail "the ${size}x$size icon is not $size x $size"
done

# --- Debian's tools ----------------------------------------------------------
# Any tag at all fails, pedantic ones included.
status=0
lintian -I --pedantic --fail-on error,warning,info,pedantic "$deb" >"$work/lintian" 2>&1 || status=$?
grep -v 'root privileges' "$work/lintian" || true
[ "$status" -eq 0 ] || fail "lintian -I --pedantic reports tags"

# Control-flow protection is compiled in, but Debian 12's C library start
# files carry no CET marking, so no program linked here is marked as such
# (not even an empty main): hardening-check is told not to ask for it.
for program in kva kva-export kva-makepack; do
    hardening-check --nocfprotection "$root/usr/games/$program" >"$work/hardening" 2>&1 ||
        { cat "$work/hardening"; fail "hardening-check fails on $program"; }
done
appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/org.example.kva.metainfo.xml" \
    >"$work/appstream" 2>&1 || { cat "$work/appstream"; fail "appstreamcli rejects the metainfo"; }
# The whole tree as a software centre reads it: the entry with its menu
# entry and icons.
appstreamcli validate-tree --no-net --pedantic "$root" >"$work/appstream" 2>&1 ||
    { cat "$work/appstream"; fail "appstreamcli rejects the installed tree"; }
desktop-file-validate "$root/usr/share/applications/org.example.kva.desktop" ||
    fail "desktop-file-validate rejects the menu entry"
say "lintian (pedantic), hardening-check, appstreamcli and desktop-file-validate pass"

# The unpacked tree renders the show from an unrelated folder.
mkdir "$work/elsewhere"
(cd "$work/elsewhere" && HOME="$work" "$root/usr/games/kva-export" --still 3 -o still.png) ||
    fail "the unpacked kva-export failed"
[ -s "$work/elsewhere/still.png" ] || fail "no still written"

# --- reproducible ------------------------------------------------------------
# The same tree (as it is, committed or not) copied to another folder and
# built again with the package's own date, in another time zone and locale;
# it builds while the package is installed and purged below.
rebuild_pid=''
if [ "${KVA_CHECK_DEB_SKIP_REBUILD:-}" != 1 ]; then
    dpkg-deb --fsys-tarfile "$deb" | TZ=UTC tar -t -v --full-time >"$work/listing"
    first=$(head -1 "$work/listing" | awk '{print $4 " " $5}')
    epoch=$(TZ=UTC date -d "$first" +%s)
    copy=$work/again/kva
    mkdir -p "$copy"
    (cd "$src" && git ls-files -z --cached --others --exclude-standard |
        tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C "$copy"
    rebuild_from=$SECONDS
    SOURCE_DATE_EPOCH=$epoch TZ=Pacific/Auckland LC_ALL=C.UTF-8 \
        setsid "$copy/cmake/make-deb.sh" "$copy/build-deb" "$work/again" 2 >"$work/rebuild.log" 2>&1 &
    rebuild_pid=$!
fi

check_rebuild() {
    local status=0 second
    wait "$rebuild_pid" || status=$?
    rebuild_pid=''
    [ "$status" -eq 0 ] || { tail -30 "$work/rebuild.log"; fail "the second build failed"; }
    second=$(tail -1 "$work/rebuild.log")
    if ! cmp -s "$deb" "$second"; then
        if command -v diffoscope >/dev/null; then
            diffoscope --text "$work/diffoscope.txt" "$deb" "$second" >/dev/null 2>&1 || true
            head -60 "$work/diffoscope.txt"
        fi
        fail "a second build in another folder gives other bytes ($(sha256sum <"$second" | cut -c1-16) vs $(sha256sum <"$deb" | cut -c1-16))"
    fi
    say "reproducible: the second build ($((SECONDS - rebuild_from)) s, in $copy) is the same bytes, sha256 $(sha256sum <"$deb" | cut -c1-16)..."
}

# --- install, run, purge -----------------------------------------------------
apt_get() {
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -y -qq "$@"
}

# run_from_menu ROOT-COMMAND...: the menu entry's Exec line run in an empty
# folder with a user's PATH and no display; kva must say so and exit 1.
run_from_menu() {
    local exec_line status=0
    exec_line=$("$@" sh -c 'grep "^Exec=" /usr/share/applications/org.example.kva.desktop' | cut -d= -f2-)
    "$@" sh -c "rm -rf /tmp/kva-menu-run && mkdir /tmp/kva-menu-run && cd /tmp/kva-menu-run &&
        env -i HOME=/tmp/kva-menu-run PATH=/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games \
            timeout 60 $exec_line" >"$work/menu.out" 2>"$work/menu.err" || status=$?
    "$@" rm -rf /tmp/kva-menu-run
    [ "$status" -eq 1 ] || { cat "$work/menu.err"; fail "kva from the menu entry exited $status, not 1"; }
    grep -q '^kva: cannot set up the display: ' "$work/menu.err" ||
        { cat "$work/menu.err"; fail "kva from the menu entry did not say it found no display"; }
}

# This machine: only kva's own files are compared, as other packages may come
# and go meanwhile.
kva_files() {
    { find /usr /etc /var/lib /var/cache /var/games -xdev \( -path /var/lib/dpkg -o -path /var/lib/apt \
        -o -path /var/cache/apt \) -prune -o \( -iname '*kva*' -print \) 2>/dev/null || true; } | sort
}
if [ "$(id -u)" -ne 0 ]; then
    say "SKIPPED install and purge: apt-get needs root"
elif dpkg-query -W -f='${Status}' kva 2>/dev/null | grep -q 'install ok installed'; then
    say "SKIPPED install and purge here: kva is installed on this machine already"
else
    kva_files >"$work/host.before"
    apt_get install "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install failed"; }
    dpkg -L kva >"$work/owned"
    run_from_menu env
    (cd /tmp && HOME=$work /usr/games/kva-export --still 3 -o "$work/installed-still.png" >/dev/null) ||
        fail "the installed kva-export failed"
    apt_get purge kva >>"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get purge failed"; }
    kva_files >"$work/host.after"
    left=$(while read -r f; do [ ! -f "$f" ] || echo "$f"; done <"$work/owned")
    [ -z "$left" ] || fail "left after purge: $left"
    diff "$work/host.before" "$work/host.after" >"$work/host.diff" ||
        { cat "$work/host.diff"; fail "purge left files behind"; }
    say "installed, run from the menu entry and purged here; nothing left"
fi

# A clean Debian tree: the dependencies pulled in, and after purge and
# autoremove the tree's file list as it was.
if [ -n "${KVA_FRESH_TREE:-}" ]; then
    tree=$(realpath "$KVA_FRESH_TREE")
    [ -x "$tree/usr/bin/apt-get" ] || fail "KVA_FRESH_TREE=$tree is not a Debian tree"
    mount -t proc proc "$tree/proc" && mounted+=("$tree/proc")
    mount --rbind /dev "$tree/dev" && mount --make-rslave "$tree/dev" && mounted+=("$tree/dev")
    in_tree() { chroot "$tree" "$@"; }
    tree_files() {
        (cd "$tree" && find . -xdev \( -path ./proc -o -path ./sys -o -path ./dev -o -path ./tmp \
            -o -path ./run -o -path ./var/log -o -path ./var/cache/apt -o -path ./var/lib/apt \
            -o -path ./var/lib/dpkg -o -path ./var/cache/debconf -o -path ./var/cache/ldconfig \
            -o -path ./root \) -prune -o -print | sort |
            # The backups the shadow tools keep when a dependency adds its
            # system user (which Debian leaves in place on purge).
            grep -v -x -E '\./etc/(passwd|group|shadow|gshadow)-')
    }
    tree_files >"$work/tree.before"
    cp "$deb" "$tree/tmp/kva.deb"
    in_tree env DEBIAN_FRONTEND=noninteractive apt-get -qq update >"$work/tree-apt.log" 2>&1 ||
        { cat "$work/tree-apt.log"; fail "apt-get update failed in the tree"; }
    in_tree env DEBIAN_FRONTEND=noninteractive apt-get -y -qq install /tmp/kva.deb \
        >>"$work/tree-apt.log" 2>&1 || { cat "$work/tree-apt.log"; fail "apt-get install failed in the tree"; }
    run_from_menu chroot "$tree"
    in_tree env DEBIAN_FRONTEND=noninteractive apt-get -y -qq purge --autoremove kva \
        >>"$work/tree-apt.log" 2>&1 || { cat "$work/tree-apt.log"; fail "apt-get purge failed in the tree"; }
    rm -f "$tree/tmp/kva.deb"
    tree_files >"$work/tree.after"
    diff "$work/tree.before" "$work/tree.after" >"$work/tree.diff" ||
        { cat "$work/tree.diff"; fail "the tree's files differ after install and purge"; }
    say "installed with its dependencies in $tree, run from the menu entry, purged: the tree as before"
fi
[ -z "$rebuild_pid" ] || check_rebuild
say "$(basename "$deb") ok (Depends: $depends; Recommends: $recommends)"
