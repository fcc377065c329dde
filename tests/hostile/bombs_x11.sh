#!/usr/bin/env bash
# bombs_x11.sh -- kva on an Xvfb screen of its own with a hostile asset set
# made by make_hostile: what the budgets refuse must cost neither memory nor
# time. Measures the peak resident memory (VmHWM) and the time from the start
# to the first frame that is not black, bounds both, checks that kva said
# why it refused, and that Escape still ends it with status 0.
#   bombs_x11.sh KVA MAKE_HOSTILE DISPLAY-NUMBER SET MAX-MB MAX-SECONDS
set -euo pipefail

kva=$(realpath "$1") maker=$(realpath "$2") number=$3 set=$4 max_mb=$5 max_s=$6
source "$(dirname "$0")/../x11/xvfb.sh"
source "$(dirname "$0")/wait_kva.sh"

case $set in
archive) said='kva: elg.mp3 is too large' ;;
pictures) said='Image too large' ;;
total) said='Image too large' ;;
entries) said='kva: the archive pr0n.rar cannot be used: it holds 100011 entries' ;;
*) fail "unknown set $set" ;;
esac

mkdir "$work/show"
"$maker" "$set" "$work/show" || fail "make_hostile $set failed"
start_xvfb "$number" 640x480x24

start=$(date +%s%N)
(cd "$work/show" && exec env -u SDL_VIDEODRIVER SDL_AUDIODRIVER=disk \
    SDL_DISKAUDIOFILE=/dev/null "$kva") >"$work/kva.out" 2>"$work/kva.err" &
kva_pid=$!

# The first frame shows the plain sunset every set holds.
first=''
while (($(date +%s%N) - start < 30000000000)); do
    kill -0 "$kva_pid" 2>/dev/null || fail "kva ended before its first frame"
    if xwd -root -silent >"$work/screen.xwd" 2>/dev/null && "$maker" lit "$work/screen.xwd"; then
        first=$(date +%s%N)
        break
    fi
    sleep 0.05
done
[ -n "$first" ] || fail "no frame within 30 s"
first_ms=$(((first - start) / 1000000))
sleep 0.3
peak_kb=$(awk '/^VmHWM/ {print $2}' "/proc/$kva_pid/status")
peak_mb=$((peak_kb / 1024))

xdotool key Escape
wait_kva 3 Escape
[ "$kva_status" -eq 0 ] || fail "exit status $kva_status after Escape"

grep -qF "$said" "$work/kva.err" || fail "kva did not say '$said' on standard error"
echo "$set: peak resident memory $peak_mb MB, first frame after $first_ms ms"
((peak_mb < max_mb)) || fail "peak memory $peak_mb MB, more than $max_mb MB"
((first_ms < max_s * 1000)) || fail "first frame after $first_ms ms, later than $max_s s"
echo "ok"
