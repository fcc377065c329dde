#!/usr/bin/env bash
# check-deb.sh DEB -- the Debian package that make deb built: its contents,
# lintian clean of errors, and the unpacked tree playing from an unrelated
# folder (kva-export's still of the sunset at 3 s).
set -euo pipefail

deb=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

dpkg-deb --contents "$deb" >"$work/contents"
for f in usr/bin/kva usr/bin/kva-export usr/bin/kva-makepack usr/share/kva/pr0n.rar \
    usr/share/man/man6/kva.6.gz usr/share/man/man1/kva-export.1.gz \
    usr/share/man/man1/kva-makepack.1.gz usr/share/applications/kva.desktop \
    usr/share/icons/hicolor/256x256/apps/kva.png usr/share/doc/kva/copyright; do
    grep -q " \./$f\$" "$work/contents" || { echo "check-deb: $f missing from $deb" >&2; exit 1; }
done
depends=$(dpkg-deb --field "$deb" Depends)
recommends=$(dpkg-deb --field "$deb" Recommends)
case "$depends" in *libsdl2*) ;; *) echo "check-deb: no SDL2 in Depends: $depends" >&2; exit 1 ;; esac
case "$recommends" in *ffmpeg*) ;; *) echo "check-deb: no ffmpeg in Recommends" >&2; exit 1 ;; esac

# Errors fail; warnings and notes are shown.
status=0
lintian --fail-on error "$deb" >"$work/lintian" 2>&1 || status=$?
grep -v 'root privileges' "$work/lintian" || true
[ "$status" -eq 0 ] || { echo "check-deb: lintian reports errors" >&2; exit 1; }

dpkg-deb -x "$deb" "$work/root"
mkdir "$work/elsewhere"
(cd "$work/elsewhere" && HOME="$work" "$work/root/usr/bin/kva-export" --still 3 -o still.png) ||
    { echo "check-deb: the unpacked kva-export failed" >&2; exit 1; }
[ -s "$work/elsewhere/still.png" ] || { echo "check-deb: no still written" >&2; exit 1; }
echo "check-deb: $(basename "$deb") ok (Depends: $depends; Recommends: $recommends)"
