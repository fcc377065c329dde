#!/usr/bin/env bash
# install_test.sh -- cmake --install into a temporary prefix, then the
# installed programs run from an unrelated folder: kva on an Xvfb screen of
# its own shows the pack's sunset at 3 s, kva-export --still 3 writes the same
# frame; --help answers with no display; and copies that find nothing name
# the places they searched (kva-export failing, kva running on).
#   install_test.sh BUILD-DIR FRAME-CHECK DISPLAY-NUMBER
set -euo pipefail

build=$(realpath "$1") check=$(realpath "$2") number=$3
source "$(dirname "$0")/x11/xvfb.sh"
fail_logs="$fail_logs $work/install.log $work/check.txt $work/export.err"
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || fail "cmake --install failed"
for f in games/kva games/kva-export games/kva-makepack share/kva/pr0n.rar \
    share/man/man6/kva.6.gz share/man/man6/kva-export.6.gz share/man/man6/kva-makepack.6.gz \
    share/applications/org.example.kva.desktop share/metainfo/org.example.kva.metainfo.xml \
    share/doc/kva/copyright; do
    [ -s "$prefix/$f" ] || fail "not installed: $f"
done
for size in 48 64 128 256; do
    icon=$prefix/share/icons/hicolor/${size}x$size/apps/kva.png
    [ "$(identify -format '%wx%h' "$icon")" = "${size}x$size" ] || fail "no ${size}x$size icon"
done
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$prefix/share/applications/org.example.kva.desktop" || fail "invalid menu entry"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/org.example.kva.metainfo.xml" \
        >"$work/appstream.log" 2>&1 || fail "invalid AppStream entry: $(cat "$work/appstream.log")"
fi

# Information only, and no display needed for it.
env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "$prefix/games/kva" --help >"$work/help.out" ||
    fail "kva --help failed"
grep -q '^Usage: kva' "$work/help.out" || fail "kva --help printed no usage"
[ "$(env -u DISPLAY "$prefix/games/kva" --version)" = "kva $(cat "$build/version.txt")" ] ||
    fail "kva --version does not give the version"
"$prefix/games/kva-makepack" --help >"$work/makepack.out" 2>"$work/makepack.err" ||
    fail "kva-makepack --help failed"
[ -s "$work/makepack.out" ] && [ ! -s "$work/makepack.err" ] || fail "kva-makepack --help not on standard output"
status=0
"$prefix/games/kva-makepack" --icon "$work/no/such/kva.png" 2>"$work/makepack.err" || status=$?
[ "$status" -eq 1 ] || fail "kva-makepack into a missing folder exited $status, not 1"
grep -q "cannot write $work/no/such/kva.png: No such file or directory" "$work/makepack.err" ||
    fail "kva-makepack did not say why it could not write"

for size in 0 15 1025 48px ''; do
    status=0
    "$prefix/games/kva-makepack" --icon "$work/bad.png" --size "$size" 2>/dev/null || status=$?
    [ "$status" -eq 2 ] && [ ! -e "$work/bad.png" ] || fail "kva-makepack took --size '$size'"
done

# An unrelated folder with nothing of the show's in it, and a home of its own.
mkdir "$work/elsewhere" "$work/home"
cd "$work/elsewhere"
export HOME=$work/home
unset XDG_DATA_HOME

"$prefix/games/kva-export" --still 3 -o "$work/still.png" >/dev/null 2>"$work/export.err" ||
    fail "the installed kva-export failed"
"$check" "$prefix/share/kva/pr0n.rar" solnedgang.png "$work/still.png" >"$work/check.txt" ||
    fail "kva-export's still at 3 s is not the sunset"

start_xvfb "$number" 640x480x24
env -u SDL_VIDEODRIVER SDL_AUDIODRIVER=dummy "$prefix/games/kva" >"$work/kva.out" 2>"$work/kva.err" &
kva_pid=$!
if ! timeout 20 xdotool search --sync --name '^KVA$' >/dev/null; then
    kill -0 "$kva_pid" 2>/dev/null || fail "kva ended before its window showed"
    fail "no KVA window"
fi
# The lyrics come in at 7 s: until then the frame is the sunset alone.
# Grabs until it shows, however long a busy machine takes to the first frame.
matched='' until=$((SECONDS + 30))
while ((SECONDS < until)); do
    xwd -root -silent | convert xwd:- -alpha off PNG24:"$work/screen.png" || fail "screen grab failed"
    if "$check" "$prefix/share/kva/pr0n.rar" solnedgang.png "$work/screen.png" >"$work/check.txt"; then
        matched=yes
        break
    fi
    sleep 0.5
done
[ -n "$matched" ] || fail "the installed kva's screen is not the sunset"
xdotool key Escape
status=0
wait "$kva_pid" || status=$?
kva_pid=''
[ "$status" -eq 0 ] || fail "kva exit status $status after Escape"

# Copies with no pack beside them, run where there is none: nothing found.
mkdir -p "$work/bare/bin" "$work/empty"
cp "$prefix/games/kva" "$prefix/games/kva-export" "$work/bare/bin/"
cd "$work/empty"
status=0
"$work/bare/bin/kva-export" --still 3 -o x.png >/dev/null 2>"$work/export.err" || status=$?
[ "$status" -eq 1 ] || fail "kva-export with nothing found exited $status, not 1"
[ ! -e x.png ] || fail "kva-export wrote a still of nothing"
grep -q "^kva-export: .*looked in $work/empty, $work/bare/bin, $work/bare/share/kva, $work/home/.local/share/kva" \
    "$work/export.err" || fail "kva-export did not name the places it searched"

SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy "$work/bare/bin/kva" >"$work/kva.out" 2>"$work/kva.err" &
kva_pid=$!
for ((i = 0; i < 100; i++)); do
    grep -q '^kva: .*looked in' "$work/kva.err" && break
    sleep 0.1
done
grep -q "^kva: .*looked in $work/empty, " "$work/kva.err" || fail "kva did not name the places it searched"
sleep 0.5
kill -0 "$kva_pid" 2>/dev/null || fail "kva stopped when nothing was found"
kill -TERM "$kva_pid"
status=0
wait "$kva_pid" || status=$?
kva_pid=''
[ "$status" -eq 0 ] || fail "kva exit status $status after SIGTERM"
echo "ok: installed kva and kva-export show the sunset from an unrelated folder; nothing found is named"
