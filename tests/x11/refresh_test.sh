#!/usr/bin/env bash
# refresh_test.sh -- the show moves as at 60 frames a second whatever the
# screen's refresh, and while it is not in focus. The real kva runs on a
# 640 x 480 Xvfb screen whose RandR mode refreshes at HZ; the first lyric's x
# in screen grabs is compared with kva-export's stills (60 steps a second).
#   refresh_test.sh KVA KVA-EXPORT HELPER DISPLAY-NUMBER HZ
#   refresh_test.sh KVA KVA-EXPORT HELPER DISPLAY-NUMBER unfocused
# HZ: grabs from the lyric's entry to well past the left edge, where a
# lyric stepped at more than 60 Hz races ahead or stops at x = -1.
# unfocused: kva's processor time over 5 s without focus is not above what
# it is with focus, and when focus returns the lyric is where the exporter
# has it.
set -euo pipefail

kva=$(realpath "$1") exporter=$(realpath "$2") helper=$(realpath "$3") number=$4 mode=$5
source "$(dirname "$0")/xvfb.sh"
fail_logs="$work/kva.out $work/kva.err $work/xvfb.log"

source "$(dirname "$0")/lyric.sh"
lyric_factor=1
# take_grab FILE: the whole screen.
take_grab() { xwd -root -silent >"$1"; }

skip() {
    echo "SKIP: $*"
    exit 77
}

# A 640 x 480 mode refreshing at $1 Hz as the screen's current mode: with
# totals of 800 x 525 the pixel clock is 0.42 MHz per Hz.
set_refresh() {
    local hz=$1 clock
    clock=$(calc "$hz * 0.42")
    xrandr --newmode "kva$hz" "$clock" 640 656 752 800 480 490 492 525 -hsync -vsync &&
        xrandr --addmode screen "kva$hz" && xrandr --output screen --mode "kva$hz" ||
        skip "RandR cannot give the Xvfb screen a $hz Hz mode"
    xrandr | grep -q "^ *kva$hz .*\*" || skip "the $hz Hz mode is not the current one"
}

# Processor time of kva so far, in clock ticks.
cpu_ticks() {
    awk '{ print $14 + $15 }' "/proc/$kva_pid/stat"
}

start_xvfb "$number" 640x480x24
xrandr >/dev/null 2>&1 || skip "the Xvfb server offers no RandR"
"$helper" pictures "$work" 640 480 "$lyric_width" || fail "cannot write the test pictures"

case "$mode" in
unfocused)
    set_refresh 60
    command -v xmessage >/dev/null || skip "xmessage (x11-utils) is missing"
    xmessage -name other -geometry 200x50+0+0 other >/dev/null 2>&1 &
    other_pid=$!
    other=$(timeout 10 xdotool search --sync --classname '^other$' | head -n 1) ||
        fail "no other window"
    ;;
*) set_refresh "$mode" ;;
esac

(cd "$work" && exec env -u SDL_VIDEODRIVER SDL_AUDIODRIVER=dummy "$kva") \
    >"$work/kva.out" 2>"$work/kva.err" &
kva_pid=$!
window=$(timeout 10 xdotool search --sync --name '^KVA$' | head -n 1) || fail "no KVA window"

if [ "$mode" = unfocused ]; then
    sleep 0.5
    start=$(cpu_ticks)
    sleep 5
    focused=$(($(cpu_ticks) - start))
fi

wait_for_lyric
if [ "$mode" = unfocused ]; then
    xdotool windowfocus "$other" || fail "cannot focus the other window"
    sleep 0.4
    start=$(cpu_ticks)
    sleep 5
    unfocused=$(($(cpu_ticks) - start))
    xdotool windowfocus "$window" || fail "cannot give kva the focus back"
    sleep 0.4
    grab back
    kill "$other_pid" 2>/dev/null || true
    echo "processor time over 5 s: $focused ticks focused, $unfocused unfocused"
    [ "$unfocused" -le $((focused + focused / 4 + 2)) ] ||
        fail "kva costs more unfocused ($unfocused ticks) than focused ($focused)"
    names=(back)
else
    follow_lyric
    names=(b c d)
fi
kill -0 "$kva_pid" 2>/dev/null || fail "kva ended early"
check_lyric "${names[@]}"
echo "ok: the lyric moved as at 60 frames a second ($mode)"
