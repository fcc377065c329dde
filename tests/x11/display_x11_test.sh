#!/usr/bin/env bash
# display_x11_test.sh -- runs the real kva on an Xvfb screen of its own and
# checks what reaches the screen and how the program ends.
#   display_x11_test.sh KVA HELPER DISPLAY-NUMBER DEPTH GEOMETRY escape|close
#   display_x11_test.sh KVA HELPER - - - nodisplay
# escape/close: the grab after about 1.5 s must be the background converted
# to the screen's layout, centred on black; then Escape (xdotool) or a
# WM_DELETE_WINDOW request must end kva with status 0 within a second.
# nodisplay: with no display at all kva prints one line and exits with 1.
set -euo pipefail

kva=$(realpath "$1") helper=$(realpath "$2") number=$3 depth=$4 geometry=$5 ending=$6
work=$(mktemp -d)
xvfb_pid='' kva_pid=''

cleanup() {
    if [ -n "$kva_pid" ] && kill -0 "$kva_pid" 2>/dev/null; then
        kill -9 "$kva_pid" 2>/dev/null || true
        wait "$kva_pid" 2>/dev/null || true
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    for f in "$work"/kva.out "$work"/kva.err "$work"/xvfb.log; do
        [ -s "$f" ] && { echo "--- $(basename "$f")" >&2; tail -n 20 "$f" >&2; }
    done
    exit 1
}

# Runs kva in the work folder, the way a user starts it there.
start_kva() {
    (cd "$work" && exec env -u SDL_VIDEODRIVER "$@" SDL_AUDIODRIVER=dummy "$kva") \
        >"$work/kva.out" 2>"$work/kva.err" &
    kva_pid=$!
}

# Waits up to $1 tenths of a second for kva to end; its status in $status.
wait_for_end() {
    local tenths=$1
    for ((i = 0; i < tenths; i++)); do
        kill -0 "$kva_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$kva_pid" 2>/dev/null && return 1
    status=0
    wait "$kva_pid" || status=$?
    kva_pid=''
    return 0
}

if [ "$ending" = nodisplay ]; then
    # A session with a runtime folder but no display: the Wayland library
    # then stays quiet and the only line is kva's own.
    mkdir -m 700 "$work/runtime"
    start_kva -u DISPLAY -u WAYLAND_DISPLAY XDG_RUNTIME_DIR="$work/runtime"
    wait_for_end 100 || fail "kva kept running with no display"
    [ "$status" -eq 1 ] || fail "exit status $status, expected 1"
    lines=$(wc -l <"$work/kva.err")
    [ "$lines" -eq 1 ] || fail "expected one line on standard error, got $lines"
    grep -q '^kva: cannot set up the display: .*: .' "$work/kva.err" || fail "no reason given"
    echo "ok: $(cat "$work/kva.err")"
    exit 0
fi

if [ -e "/tmp/.X$number-lock" ] && kill -0 "$(tr -d ' ' <"/tmp/.X$number-lock")" 2>/dev/null; then
    fail "display :$number is already in use"
fi
Xvfb ":$number" -screen 0 "${geometry}x$depth" -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=":$number"
for ((i = 0; i < 50; i++)); do
    xdpyinfo >/dev/null 2>&1 && break
    kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start"
    sleep 0.1
done
xdpyinfo >/dev/null 2>&1 || fail "Xvfb did not answer"

"$helper" picture "$work/solnedgang.png" 640 480 || fail "cannot write the test picture"
start_kva
window=$(timeout 10 xdotool search --sync --name '^KVA$' | head -n 1) || fail "no KVA window"

# The background alone shows from the first frames until 7 s of show time.
sleep 1.5
checked=''
for attempt in 1 2 3; do
    xwd -root -silent >"$work/screen.xwd" || fail "xwd failed"
    if "$helper" check "$work/screen.xwd" 640 480 >"$work/check.txt" 2>&1; then
        checked=yes
        break
    fi
    sleep 0.5
done
cat "$work/check.txt"
[ -n "$checked" ] || fail "the screen does not hold the expected pixels"
kill -0 "$kva_pid" 2>/dev/null || fail "kva ended early"

case "$ending" in
escape) xdotool key Escape ;;
close) "$helper" close "$window" || fail "cannot send the close request" ;;
*) fail "unknown ending $ending" ;;
esac
wait_for_end 10 || fail "kva still running a second after $ending"
[ "$status" -eq 0 ] || fail "exit status $status after $ending, expected 0"
echo "ok: $ending ended kva with status 0"
