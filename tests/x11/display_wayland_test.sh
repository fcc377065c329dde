#!/usr/bin/env bash
# display_wayland_test.sh -- runs the real kva on SDL's native Wayland driver
# under a headless sway of its own (1920 x 1080, software rendering): grim's
# screenshot must be the background enlarged twice, centred on black, and
# Escape (typed through a virtual keyboard) must end kva with status 0; or,
# with "compositorkill", sway killed under the show must end kva within a
# second with status 1 and one line; or, with "libdecor", the same as escape
# with SDL made to decorate its window through libdecor, which finds no
# plugins (as on weston or mutter without them): still nothing on standard
# error; or, with "refresh144", the output refreshing at 144 Hz: the first
# lyric in grim's screenshots is where kva-export's stills (60 steps a second)
# have it, so frames are presented at 60 a second, not 144.
# Exits 77 (skipped) when sway, grim or wtype is missing or sway cannot start.
#   display_wayland_test.sh KVA HELPER [escape|compositorkill|libdecor]
#   display_wayland_test.sh KVA HELPER refresh144 KVA-EXPORT
set -euo pipefail

kva=$(realpath "$1") helper=$(realpath "$2") ending=${3:-escape}
source "$(dirname "$0")/xvfb.sh"
fail_logs="$work/kva.out $work/kva.err $work/sway.log"
# SDL's Wayland driver and the GL driver behind its texture leave allocations
# at exit that the leak checker reports from libraries it cannot name; the
# X and dummy-driver tests check kva's own leaks.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

skip() {
    echo "SKIPPED: $*"
    exit 77
}
for tool in sway grim wtype setpriv; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done

# sway refuses to run as root: then it, and every client, runs as nobody in
# a work folder that nobody owns.
user=()
if [ "$(id -u)" -eq 0 ]; then
    chmod 755 "$work"
    user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
mkdir -m 700 "$work/runtime"
mode=1920x1080 lyric=()
if [ "$ending" = refresh144 ]; then
    exporter=$(realpath "$4")
    source "$(dirname "$0")/lyric.sh"
    # Only the frame's top rows, uncompressed: the grab takes little time.
    lyric_factor=2 grab_ext=ppm lyric_origin='0 0' lyric=("$lyric_width")
    mode=1920x1080@144Hz
fi
printf 'output HEADLESS-1 mode %s\n' "$mode" >"$work/sway.cfg"
cp "$kva" "$work/kva"
"$helper" pictures "$work" 640 480 "${lyric[@]}" || fail "cannot write the test pictures"
[ "$(id -u)" -eq 0 ] && chown -R 65534:65534 "$work"
session=(env -u DISPLAY -u WAYLAND_DISPLAY HOME="$work" XDG_RUNTIME_DIR="$work/runtime")

"${user[@]}" "${session[@]}" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 \
    WLR_RENDERER=pixman sway -c "$work/sway.cfg" >"$work/sway.log" 2>&1 &
xvfb_pid=$! # stopped by the shared cleanup
socket='' until=$((SECONDS + 30))
while ((SECONDS < until)); do
    socket=$(cd "$work/runtime" && ls wayland-[0-9] 2>/dev/null | head -n 1) || true
    [ -n "$socket" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || skip "sway did not start: $(tail -n 1 "$work/sway.log")"
    sleep 0.1
done
[ -n "$socket" ] || skip "sway offered no Wayland socket within 30 s"
client=("${user[@]}" "${session[@]}" WAYLAND_DISPLAY="$socket")

decor=()
if [ "$ending" = libdecor ]; then
    decor=(SDL_VIDEO_WAYLAND_PREFER_LIBDECOR=1 LIBDECOR_PLUGIN_DIR="$work/no-plugins")
    ending=escape
fi
(cd "$work" && exec "${client[@]}" "${decor[@]}" SDL_VIDEODRIVER=wayland SDL_AUDIODRIVER=dummy ./kva) \
    >"$work/kva.out" 2>"$work/kva.err" &
kva_pid=$!

if [ "$ending" = refresh144 ]; then
    take_grab() { "${client[@]}" grim -t ppm -g '320,60 1280x100' "$1"; }
    wait_for_lyric
    follow_lyric
    kill -0 "$kva_pid" 2>/dev/null || fail "kva ended early"
    check_lyric b c d
    echo "ok: on a 144 Hz output the lyric moved as at 60 frames a second"
    exit 0
fi

# Screenshots until the background shows, however long the first frame takes.
checked='' until=$((SECONDS + 30))
while ((SECONDS < until)); do
    kill -0 "$kva_pid" 2>/dev/null || fail "kva ended early"
    "${client[@]}" grim "$work/shot.png" || fail "grim failed"
    if "$helper" checkpng "$work/shot.png" 640 480 2 >"$work/check.txt" 2>&1; then
        checked=yes
        break
    fi
    sleep 0.5
done
cat "$work/check.txt"
[ -n "$checked" ] || fail "the screenshot does not hold the expected pixels"

if [ "$ending" = compositorkill ]; then
    kill -9 "$xvfb_pid"
    wait_for_end 10 || fail "kva still running a second after the compositor died"
    [ "$status" -eq 1 ] || fail "exit status $status after the compositor died, expected 1"
    line='kva: lost the display: the Wayland compositor is gone'
    [ "$(cat "$work/kva.err")" = "$line" ] || fail "standard error is not the one line: $line"
    echo "ok: the compositor killed under the show ended kva with status 1 and one line"
    exit 0
fi

# The virtual keyboard first appears to kva, then types: a key sent at once
# would reach no keyboard of kva's yet.
"${client[@]}" wtype -s 500 -k Escape || fail "wtype failed"
wait_for_end 50 || fail "kva still running five seconds after Escape"
[ "$status" -eq 0 ] || fail "exit status $status after Escape, expected 0"
[ ! -s "$work/kva.err" ] || fail "unexpected standard error"
echo "ok: the frame filled the Wayland output twice enlarged; Escape ended kva with status 0"
