#!/usr/bin/env bash
# still_check.sh -- kva on a 1920 x 1080 Xvfb screen, where each frame pixel
# is shown 2 x 2, against kva-export's stills of the same pictures. While the
# show stands still (the background alone before 7 s; with the moose from 14
# to 30 s) the screen must hold the still byte for byte, also after another
# window has covered the whole screen and gone: the show then sends no rows
# of its own, so only the exposed window's redraw can bring the picture back.
#   still_check.sh KVA KVA-EXPORT HELPER DISPLAY-NUMBER
set -euo pipefail

kva=$(realpath "$1") exporter=$(realpath "$2") helper=$(realpath "$3") number=$4
source "$(dirname "$0")/xvfb.sh"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}print_suppressions=0"

start_xvfb "$number" 1920x1080x24
"$helper" pictures "$work" 640 480 || fail "cannot write the test pictures"
for t in 3 20; do
    (cd "$work" && "$exporter" --still "$t" -o "still_$t.png") >>"$work/export.log" 2>&1 ||
        fail "kva-export --still $t failed: $(cat "$work/export.log")"
done

(cd "$work" && exec env -u SDL_VIDEODRIVER SDL_AUDIODRIVER=dummy "$kva") \
    >"$work/kva.out" 2>"$work/kva.err" &
kva_pid=$!

# shows STILL [TRIES]: grabs the screen until it equals the still, at most
# TRIES times (default 1) a fifth of a second apart.
shows() {
    local still=$1 tries=${2:-1}
    for ((i = 0; i < tries; i++)); do
        kill -0 "$kva_pid" 2>/dev/null || fail "kva ended early"
        xwd -root -silent >"$work/screen.xwd" || fail "xwd failed"
        "$helper" still "$work/screen.xwd" "$work/$still" 2 >"$work/check.txt" 2>&1 && return 0
        sleep 0.2
    done
    return 1
}

# Covered right after the first match, well before the lyric enters at 7 s.
shows still_3.png 100 || fail "the screen never showed the still of 3 s: $(cat "$work/check.txt")"
echo "3 s: $(cat "$work/check.txt")"
"$helper" cover || fail "cannot cover the screen"
shows still_3.png 5 || fail "after an expose at 3 s: $(cat "$work/check.txt")"
echo "3 s, exposed: $(cat "$work/check.txt")"

shows still_20.png 250 || fail "the screen never showed the still of 20 s: $(cat "$work/check.txt")"
echo "20 s: $(cat "$work/check.txt")"
"$helper" cover || fail "cannot cover the screen"
shows still_20.png 5 || fail "after an expose at 20 s: $(cat "$work/check.txt")"
echo "20 s, exposed: $(cat "$work/check.txt")"

xdotool key Escape
wait_for_end 20 || fail "kva still running two seconds after Escape"
[ "$status" -eq 0 ] || fail "exit status $status after Escape"
echo "ok: the screen held kva-export's stills, also after an expose"
