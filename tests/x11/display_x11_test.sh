#!/usr/bin/env bash
# display_x11_test.sh -- runs the real kva on an Xvfb screen of its own and
# checks what reaches the screen and how the program ends.
#   display_x11_test.sh KVA HELPER DISPLAY-NUMBER DEPTH GEOMETRY ENDING [song] [k=K]
#   display_x11_test.sh KVA HELPER - - - nodisplay auto|x11
# ENDING escape/close: the grab after about 1.5 s must be the background
# converted to the screen's layout, each pixel repeated K x K (default 1),
# centred on black; then Escape (xdotool) or a WM_DELETE_WINDOW request must
# end kva with status 0 within a second, with nothing on its standard output
# or error. With song, elg.mp3 plays on SDL's disk audio driver, so a real
# device thread runs when the show is ended.
# windowclose/windowkill/serverkill: after the same grab, the window is
# destroyed by another client, its connection killed, or the X server killed;
# kva must end within a second with one line and status 1, never hang.
# randr: the screen gets a real 640 x 480 mode; its size must stay the same
# while kva runs, after Escape and after kva is killed with SIGKILL.
# refused: a screen kva cannot draw on ends it at start-up with one line and 1.
# nodisplay: with no display at all (SDL left to choose, or told to use X11)
# kva prints one line that also names the video exporter, and exits with 1.
set -euo pipefail

kva=$(realpath "$1") helper=$(realpath "$2") number=$3 depth=$4 geometry=$5 ending=$6
extra='' factor=1
for option in "${@:7}"; do
    case "$option" in
    k=*) factor=${option#k=} ;;
    *) extra=$option ;;
    esac
done
source "$(dirname "$0")/xvfb.sh"

# Under the leak checker a suppressed leak (inside system libraries) is
# still listed at exit; only unsuppressed ones may reach kva's standard error.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}print_suppressions=0"

# Runs kva in the work folder, the way a user starts it there.
start_kva() {
    (cd "$work" && exec env -u SDL_VIDEODRIVER SDL_AUDIODRIVER=dummy env "$@" "$kva") \
        >"$work/kva.out" 2>"$work/kva.err" &
    kva_pid=$!
}

# Failures: exactly one line, kva's own, matching $2, and status 1, within
# $1 tenths of a second.
expect_one_line_and_status_1() {
    local tenths=$1 pattern=$2
    wait_for_end "$tenths" || fail "kva kept running"
    [ "$status" -eq 1 ] || fail "exit status $status, expected 1"
    lines=$(wc -l <"$work/kva.err")
    [ "$lines" -eq 1 ] || fail "expected one line on standard error, got $lines"
    grep -q "$pattern" "$work/kva.err" || fail "not the expected line"
    [ ! -s "$work/kva.out" ] || fail "unexpected standard output"
}
setup_failed='^kva: cannot set up the display: .*: .'

# The screen's size as xrandr reports it: "current W x H".
screen_size() {
    xrandr 2>/dev/null | head -n 1 | grep -o 'current [0-9]* x [0-9]*'
}

# The background alone shows from the first frames until 7 s of show time:
# grabs until it does, however long a busy machine takes to the first frame.
check_screen() {
    local checked='' until=$((SECONDS + 30))
    while ((SECONDS < until)); do
        xwd -root -silent >"$work/screen.xwd" || fail "xwd failed"
        if "$helper" check "$work/screen.xwd" 640 480 "$factor" >"$work/check.txt" 2>&1; then
            checked=yes
            break
        fi
        kill -0 "$kva_pid" 2>/dev/null || fail "kva ended early"
        sleep 0.2
    done
    cat "$work/check.txt"
    [ -n "$checked" ] || fail "the screen does not hold the expected pixels"
    kill -0 "$kva_pid" 2>/dev/null || fail "kva ended early"
}

find_window() {
    window=$(timeout 10 xdotool search --sync --name '^KVA$' | head -n 1) || fail "no KVA window"
}


if [ "$ending" = nodisplay ]; then
    # A session with a runtime folder but no display: the Wayland library
    # then stays quiet and the only line is kva's own.
    mkdir -m 700 "$work/runtime"
    driver=()
    [ "$extra" = x11 ] && driver=(SDL_VIDEODRIVER=x11)
    start_kva -u DISPLAY -u WAYLAND_DISPLAY XDG_RUNTIME_DIR="$work/runtime" "${driver[@]}"
    expect_one_line_and_status_1 100 "$setup_failed"
    grep -q 'kva-export' "$work/kva.err" || fail "the video exporter is not mentioned"
    echo "ok: $(cat "$work/kva.err")"
    exit 0
fi

start_xvfb "$number" "${geometry}x$depth"
if [ "$ending" = randr ]; then
    size=$(screen_size) || fail "xrandr does not answer"
    xrandr --newmode 640x480_60 25.18 640 656 752 800 480 490 492 525 -hsync -vsync &&
        xrandr --addmode screen 640x480_60 || fail "cannot add a 640 x 480 mode"
fi

"$helper" pictures "$work" 640 480 || fail "cannot write the test pictures"
song=()
if [ "$extra" = song ]; then
    "$helper" song "$work/elg.mp3" 20 || fail "cannot write the test song"
    song=(SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/audio.raw")
fi
start_kva "${song[@]}"

if [ "$ending" = refused ]; then
    expect_one_line_and_status_1 100 "$setup_failed"
    echo "ok: $(cat "$work/kva.err")"
    exit 0
fi
find_window
xprop -id "$window" WM_CLASS | grep -q '= "KVA", "KVA"$' || fail "the window's class is not KVA"
check_screen

case "$ending" in
windowclose | windowkill | serverkill)
    if [ "$ending" = serverkill ]; then
        kill -9 "$xvfb_pid"
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=''
    else
        xdotool "$ending" "$window" || fail "xdotool $ending failed"
    fi
    expect_one_line_and_status_1 10 '^kva: lost the display: .'
    echo "ok: $ending ended kva with status 1: $(cat "$work/kva.err")"
    exit 0
    ;;
randr)
    [ "$(screen_size)" = "$size" ] || fail "the screen is $(screen_size) while kva runs"
    xdotool key Escape
    wait_for_end 10 || fail "kva still running a second after Escape"
    [ "$status" -eq 0 ] || fail "exit status $status after Escape, expected 0"
    [ "$(screen_size)" = "$size" ] || fail "the screen is $(screen_size) after Escape"
    start_kva
    find_window
    sleep 1
    kill -9 "$kva_pid"
    wait "$kva_pid" 2>/dev/null || true
    kva_pid=''
    [ "$(screen_size)" = "$size" ] || fail "the screen is $(screen_size) after SIGKILL"
    echo "ok: the screen stayed at $size while kva ran, after Escape and after SIGKILL"
    exit 0
    ;;
esac
if [ "$extra" = song ]; then
    [ -s "$work/audio.raw" ] || fail "the audio device played nothing"
fi

case "$ending" in
escape) xdotool key Escape ;;
close) "$helper" close "$window" || fail "cannot send the close request" ;;
*) fail "unknown ending $ending" ;;
esac
wait_for_end 10 || fail "kva still running a second after $ending"
[ "$status" -eq 0 ] || fail "exit status $status after $ending, expected 0"
# SDL's disk driver announces itself; anything else is a fault.
grep -v -e '^CRITICAL: You are using the SDL disk i/o audio driver!$' \
    -e '^CRITICAL:  Writing to file \[.*\]\.$' -e '^$' "$work/kva.err" >"$work/kva.err.own" || true
[ ! -s "$work/kva.err.own" ] || fail "unexpected standard error"
[ ! -s "$work/kva.out" ] || fail "unexpected standard output"
echo "ok: $ending ended kva with status 0${extra:+ ($extra playing)}"
