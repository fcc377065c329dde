#!/usr/bin/env bash
# pack_x11.sh -- the real kva with the default pack on an Xvfb screen of its
# own: about two seconds in, the screen must show the sunset picture alone,
# and the disk audio driver must have received the song (not silence).
#   pack_x11.sh KVA MAKEPACK DISPLAY-NUMBER
set -euo pipefail

kva=$(realpath "$1") makepack=$(realpath "$2") number=$3
source "$(dirname "$0")/x11/xvfb.sh"
fail_logs="$fail_logs $work/compare.txt"

# The pack as the show reads it, and its sunset as a plain file to compare
# with (kept outside the show's folder, which holds only the archive).
mkdir "$work/show" "$work/files"
"$makepack" "$work/show/pr0n.rar" --files "$work/files" || fail "kva-makepack failed"

start_xvfb "$number" 640x480x24

(cd "$work/show" && exec env -u SDL_VIDEODRIVER SDL_AUDIODRIVER=disk \
    SDL_DISKAUDIOFILE="$work/audio.raw" "$kva") >"$work/kva.out" 2>"$work/kva.err" &
kva_pid=$!
if ! timeout 20 xdotool search --sync --name '^KVA$' >/dev/null; then
    kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb ended before the KVA window showed"
    kill -0 "$kva_pid" 2>/dev/null || fail "kva ended before its window showed"
    fail "no KVA window"
fi

# The lyrics start at 7 s and the moose at 14 s: until then the frame is
# the sunset alone, so a grab must equal the picture: grabs until one does,
# however long a busy machine takes to the first frame.
matched='' until=$((SECONDS + 30))
while ((SECONDS < until)); do
    xwd -root -silent >"$work/screen.xwd" || fail "xwd failed"
    if compare -metric AE "$work/screen.xwd" "$work/files/solnedgang.png" null: \
        2>"$work/compare.txt"; then
        matched=yes
        break
    fi
    sleep 0.5
done
[ -n "$matched" ] || fail "the screen is not the sunset ($(cat "$work/compare.txt") pixels differ)"
kill -0 "$kva_pid" 2>/dev/null || fail "kva ended early"

# The disk driver writes what the device would play, and the song is never
# quiet for long: waits for a good deal of it, not all silence.
bytes=0 loud=0 until=$((SECONDS + 30))
while ((SECONDS < until)); do
    bytes=$(stat -c %s "$work/audio.raw" 2>/dev/null || echo 0)
    loud=$(tail -c 100000 "$work/audio.raw" | tr -d '\000' | wc -c)
    ((bytes > 100000 && loud > 50000)) && break
    sleep 0.2
done
[ "$bytes" -gt 100000 ] || fail "only $bytes bytes of sound were written"
[ "$loud" -gt 50000 ] || fail "the sound written is silence"

xdotool key Escape
for ((i = 0; i < 20; i++)); do
    kill -0 "$kva_pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$kva_pid" 2>/dev/null && fail "kva still running after Escape"
status=0
wait "$kva_pid" || status=$?
kva_pid=''
[ "$status" -eq 0 ] || fail "exit status $status after Escape"
echo "ok: the sunset on screen at 2 s, $bytes bytes of sound"
