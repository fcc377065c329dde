#!/usr/bin/env bash
# answer_x11.sh -- kva on an Xvfb screen of its own with eleven pictures whose
# image data its rows do not need (make_hostile trailing, trailing-budget,
# empty-chunks). frame: the first frame (the pictures' sunset colour) must
# come after no more than MAX-FIRST-CPU-MS of kva's processor time (a busy
# machine stretches the wall-clock time, not this; reading on through the
# data took seconds of it). escape, close, sigterm: sent 1 s
# after the start, during the load or just after it, they must end kva with
# status 0 within MAX-END-MS. xkill: the X server killed as soon as the window
# is up, while the pictures load, must end kva within MAX-END-MS with its one
# line and status 1.
#   answer_x11.sh KVA XHELPER MAKE_HOSTILE DISPLAY-NUMBER SET ACTION
#                 MAX-FIRST-CPU-MS MAX-END-MS
set -euo pipefail

kva=$(realpath "$1") helper=$(realpath "$2") maker=$(realpath "$3")
number=$4 set=$5 action=$6 max_first_cpu_ms=$7 max_end_ms=$8
source "$(dirname "$0")/../x11/xvfb.sh"
source "$(dirname "$0")/wait_kva.sh"

mkdir "$work/show"
"$maker" "$set" "$work/show" || fail "make_hostile $set failed"
start_xvfb "$number" 640x480x24

start=$(date +%s%N)
(cd "$work/show" && exec env -u SDL_VIDEODRIVER SDL_AUDIODRIVER=disk \
    SDL_DISKAUDIOFILE=/dev/null "$kva") >"$work/kva.out" 2>"$work/kva.err" &
kva_pid=$!
elapsed_ms() { echo $((($(date +%s%N) - start) / 1000000)); }

if [ "$action" = frame ]; then
    first=''
    while (($(elapsed_ms) < 30000)); do
        kill -0 "$kva_pid" 2>/dev/null || fail "kva ended before its first frame"
        if xwd -root -silent >"$work/screen.xwd" 2>/dev/null &&
            "$maker" lit "$work/screen.xwd"; then
            first=$(elapsed_ms)
            first_cpu=$(awk -v hz="$(getconf CLK_TCK)" '{print int(($14 + $15) * 1000 / hz)}' \
                "/proc/$kva_pid/stat")
            break
        fi
        sleep 0.05
    done
    [ -n "$first" ] || fail "no frame within 30 s"
    xdotool key Escape
    wait_kva 10 Escape
    [ "$kva_status" -eq 0 ] || fail "exit status $kva_status after Escape"
    echo "$set: first frame after $first ms, $first_cpu ms of processor time"
    ((first_cpu < max_first_cpu_ms)) ||
        fail "first frame after $first_cpu ms of processor time, more than $max_first_cpu_ms ms"
    echo "ok"
    exit 0
fi

window=$(timeout 20 xdotool search --sync --name '^KVA$' | head -n 1) || fail "no KVA window"
if [ "$action" != xkill ]; then
    while (($(elapsed_ms) < 1000)); do sleep 0.01; done
fi
at_ms=$(elapsed_ms)
sent=$(date +%s%N)
case $action in
escape) xdotool key Escape ;;
close) "$helper" close "$window" || fail "cannot send the close request" ;;
sigterm) kill -TERM "$kva_pid" ;;
xkill)
    kill -9 "$xvfb_pid"
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=''
    ;;
*) fail "unknown action $action" ;;
esac
wait_kva 10 "$action"
ms=$(((kva_ended - sent) / 1000000))
echo "$set: $action at $at_ms ms, kva ended with $kva_status after $ms ms"
if [ "$action" = xkill ]; then
    [ "$kva_status" -eq 1 ] || fail "exit status $kva_status after the X server was killed"
    grep -q '^kva: lost the display: .' "$work/kva.err" || fail "kva did not say it lost the display"
else
    [ "$kva_status" -eq 0 ] || fail "exit status $kva_status after $action"
fi
((ms < max_end_ms)) || fail "$action answered after $ms ms, later than $max_end_ms ms"
echo "ok"
