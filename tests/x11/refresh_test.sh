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

lyric_width=400 # wide enough to stay in sight 3 s past the left edge
none=-1000      # the x given to a lyric out of sight

skip() {
    echo "SKIP: $*"
    exit 77
}

now() { echo "$EPOCHREALTIME"; }
# calc EXPRESSION: floating-point arithmetic.
calc() { awk "BEGIN { print $1 }"; }

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

# grab NAME: a screen grab, its lyric x and the times just before and after.
grab() {
    local name=$1 before after x
    before=$(now)
    xwd -root -silent >"$work/$name.xwd" || fail "xwd failed"
    after=$(now)
    x=$("$helper" lyricx "$work/$name.xwd" 640 480 1 "$lyric_width") || x=$none
    [ "$x" = none ] && x=$none
    printf -v "x_$name" %s "$x"
    printf -v "before_$name" %s "$before"
    printf -v "after_$name" %s "$after"
}

# The exporter's lyric x after $1 steps of 1/60 s.
export_x() {
    local x
    (cd "$work" && "$exporter" --still "$(calc "$1 / 60")" -o still.png) ||
        fail "kva-export --still failed"
    x=$("$helper" lyricx "$work/still.png" 640 480 1 "$lyric_width") || x=$none
    [ "$x" = none ] && echo "$none" || echo "$x"
}

# The first step count from the lyric's cue (7 s) at which the exporter's
# lyric is at $1 or further left; the lyric only moves left.
steps_to() {
    local target=$1 lo=420 hi=900 mid
    while [ $((hi - lo)) -gt 1 ]; do
        mid=$(((lo + hi) / 2))
        if [ "$(export_x "$mid")" -le "$target" ]; then hi=$mid; else lo=$mid; fi
    done
    echo "$hi"
}

# Waits for the first grab that shows the lyric: grab "a".
wait_for_lyric() {
    for ((i = 0; i < 300; i++)); do
        grab a
        [ "$x_a" -ne "$none" ] && [ "$x_a" -le 620 ] && return 0
        kill -0 "$kva_pid" 2>/dev/null || fail "kva ended early"
        sleep 0.05
    done
    fail "the first lyric did not show within 15 s of the search"
}

# check NAME: grab NAME's lyric is where the exporter has it at the show time
# that passed since grab "a", give or take the time the grabs took and three
# frames. Dropped frames make a lyric lag a pixel or so each, never lead.
check() {
    local name=$1 lo hi x_lo x_hi travel slow fast
    local x_var=x_$name before_var=before_$name after_var=after_$name
    local x=${!x_var} before=${!before_var} after=${!after_var}
    lo=$(calc "int(($steps_a / 60 + $before - $after_a - 0.05) * 60)")
    hi=$(calc "int(($steps_a / 60 + $after - $before_a + 0.05) * 60) + 1")
    x_lo=$(export_x "$lo") x_hi=$(export_x "$hi")
    travel=$((x_a > 0 ? x_a : 0))
    slow=$((10 + travel / 10)) fast=10
    echo "$name: x $x; exporter $x_lo to $x_hi at steps $lo to $hi"
    [ "$x" -le $((x_lo + slow)) ] || fail "$name: the lyric lags the exporter's (x $x, $x_lo)"
    [ "$x" -ge $((x_hi - fast)) ] || fail "$name: the lyric is ahead of the exporter's (x $x, $x_hi)"
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
    # At 60 frames a second b is at about 9 s of show time, c just past the
    # left edge and d two seconds on, far into the negative.
    for name in b c d; do
        case $name in b) wait=1.5 ;; c) wait=3.2 ;; d) wait=5.0 ;; esac
        late=$(calc "$before_a + $wait - $(now)")
        [ "${late:0:1}" = - ] || sleep "$late"
        grab "$name"
    done
    names=(b c d)
fi
kill -0 "$kva_pid" 2>/dev/null || fail "kva ended early"

steps_a=$(steps_to "$x_a")
echo "a: x $x_a, reached by the exporter after $steps_a steps"
for name in "${names[@]}"; do check "$name"; done
echo "ok: the lyric moved as at 60 frames a second ($mode)"
