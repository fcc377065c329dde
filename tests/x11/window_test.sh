#!/usr/bin/env bash
# window_test.sh -- where the real kva appears: in a window, or on one of the
# monitors of a split X screen.
#   window_test.sh KVA HELPER DISPLAY-NUMBER window
#   window_test.sh KVA HELPER DISPLAY-NUMBER monitors
#   window_test.sh KVA HELPER DISPLAY-NUMBER lost
# window: on a 1920 x 1080 screen with openbox, `kva --window` is a window
# titled KVA whose content is the frame twice enlarged, byte for byte; sized
# to 1000 x 700 it holds the frame once, centred; F11 makes it fullscreen and
# Alt+Enter a window again; Escape ends it with 0.
# monitors: a 3840 x 1080 screen split with `xrandr --setmonitor` into LEFT
# and the primary RIGHT: kva covers RIGHT only, `--display 1` LEFT only, and
# `--display 7` ends with one line naming both and status 2.
# lost: with a picture that does not decode and standard output a file, the
# window's connection killed: kva ends with status 1, and the file still
# names the picture.
set -euo pipefail

kva=$(realpath "$1") helper=$(realpath "$2") number=$3 mode=$4
source "$(dirname "$0")/xvfb.sh"
# Under the leak checker a suppressed leak (inside system libraries) is
# still listed at exit; only kva's own lines may reach its standard error.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}print_suppressions=0"
wm_pid=''
stop_wm() { [ -z "$wm_pid" ] || kill "$wm_pid" 2>/dev/null || true; }
trap 'stop_wm; cleanup' EXIT

skip() {
    echo "SKIP: $*"
    exit 77
}

start_kva() {
    (cd "$work" && exec env -u SDL_VIDEODRIVER SDL_AUDIODRIVER=dummy "$kva" "$@") \
        >"$work/kva.out" 2>"$work/kva.err" &
    kva_pid=$!
    window=$(timeout 10 xdotool search --sync --name '^KVA$' | head -n 1) || fail "no KVA window"
}

# shows WHAT K [CROP]: within 10 s, a grab of WHAT (root or a window id),
# cut to CROP (WxH+X+Y) if given, holds the frame K times enlarged, centred
# on black, and nothing else.
shows() {
    local what=$1 k=$2 crop=${3:-} grab=$work/grab.xwd
    for ((i = 0; i < 40; i++)); do
        if [ "$what" = root ]; then
            xwd -root -silent >"$grab" || fail "xwd failed"
        else
            xwd -id "$what" -silent >"$grab" || fail "xwd failed"
        fi
        if [ -n "$crop" ]; then
            convert "xwd:$grab" -crop "$crop" +repage "$work/grab.png" || fail "convert failed"
            "$helper" checkpng "$work/grab.png" 640 480 "$k" >"$work/check.txt" 2>&1 && break
        else
            "$helper" check "$grab" 640 480 "$k" >"$work/check.txt" 2>&1 && break
        fi
        kill -0 "$kva_pid" 2>/dev/null || fail "kva ended early"
        sleep 0.25
    done
    cat "$work/check.txt"
    grep -q ': 0 pixels differ$' "$work/check.txt" || fail "$what${crop:+ ($crop)} is not the frame x$k"
}

# size_is W H: within 10 s the window's content is W x H.
size_is() {
    for ((i = 0; i < 40; i++)); do
        geometry=$(xwininfo -id "$window" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 }
                                                   END { print w "x" h }')
        [ "$geometry" = "$1x$2" ] && return 0
        sleep 0.25
    done
    fail "the window is $geometry, not $1x$2"
}

end_with_escape() {
    xdotool windowfocus --sync "$window" key Escape || fail "cannot send Escape"
    wait_for_end 50 || fail "kva still running 5 s after Escape"
    [ "$status" -eq 0 ] || fail "exit status $status after Escape, expected 0"
}

"$helper" pictures "$work" 640 480 || fail "cannot write the test pictures"

case "$mode" in
window)
    command -v openbox >/dev/null || skip "openbox is not installed"
    start_xvfb "$number" 1920x1080x24
    openbox >"$work/openbox.log" 2>&1 &
    wm_pid=$!
    for ((i = 0; i < 50; i++)); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        kill -0 "$wm_pid" 2>/dev/null || skip "openbox does not start"
        sleep 0.1
    done
    start_kva --window
    size_is 1280 960
    xprop -id "$window" WM_NAME | grep -q '= "KVA"$' || fail "the window's title is not KVA"
    shows "$window" 2
    xdotool windowsize "$window" 1000 700 || fail "cannot resize the window"
    size_is 1000 700
    shows "$window" 1
    xdotool windowfocus --sync "$window" key F11 || fail "cannot send F11"
    size_is 1920 1080
    shows root 2
    xdotool windowfocus --sync "$window" key alt+Return || fail "cannot send Alt+Enter"
    size_is 1000 700
    shows "$window" 1
    end_with_escape
    echo "ok: a window at the largest whole factor, re-fitted, fullscreen and back"
    ;;
monitors)
    start_xvfb "$number" 3840x1080x24
    xrandr --setmonitor LEFT 1920/508x1080/286+0+0 none >/dev/null 2>&1 &&
        xrandr --setmonitor '*RIGHT' 1920/508x1080/286+1920+0 none >/dev/null 2>&1 ||
        skip "RandR cannot split the Xvfb screen into monitors"
    start_kva
    shows root 2 1920x1080+1920+0
    convert "xwd:$work/grab.xwd" -crop 1920x1080+0+0 -format '%[fx:maxima]' info: \
        >"$work/left.txt" || fail "convert failed"
    [ "$(cat "$work/left.txt")" = 0 ] || fail "the left monitor is not black"
    end_with_escape
    start_kva --display 1
    shows root 2 1920x1080+0+0
    end_with_escape
    (cd "$work" && exec env SDL_AUDIODRIVER=dummy "$kva" --display 7) \
        >"$work/kva.out" 2>"$work/kva.err" && status=0 || status=$?
    [ "$status" -eq 2 ] || fail "--display 7 ended with status $status, expected 2"
    [ "$(wc -l <"$work/kva.err")" -eq 1 ] || fail "--display 7 did not say one line"
    grep -q 'RIGHT.*LEFT' "$work/kva.err" || fail "--display 7 does not name the monitors"
    echo "ok: the primary monitor, --display 1 the other; $(cat "$work/kva.err")"
    ;;
lost)
    start_xvfb "$number" 640x480x24
    echo 'not a picture' >"$work/vers_2.png"
    start_kva
    shows root 1
    xdotool windowkill "$window" || fail "xdotool windowkill failed"
    wait_for_end 50 || fail "kva kept running without its display"
    [ "$status" -eq 1 ] || fail "exit status $status, expected 1"
    grep -q 'vers_2.png' "$work/kva.out" ||
        fail "what kva wrote before the loss did not reach standard output"
    echo "ok: standard output kept: $(cat "$work/kva.out")"
    ;;
*) fail "unknown mode $mode" ;;
esac
