#!/usr/bin/env bash
# whole_show.sh -- the whole 192 s show, once, to its natural end: kva (the
# sanitizer build) with the default pack on an Xvfb screen and the disk
# audio driver must end by itself with status 0 and no sanitizer report.
# Too long for every test run; CI runs it.
#   whole_show.sh KVA MAKEPACK DISPLAY-NUMBER
set -euo pipefail

kva=$(realpath "$1") makepack=$(realpath "$2") number=$3
supp=$(realpath "$(dirname "$0")/../lsan.supp")
source "$(dirname "$0")/../x11/xvfb.sh"
source "$(dirname "$0")/wait_kva.sh"

mkdir "$work/show"
"$makepack" "$work/show/pr0n.rar" || fail "kva-makepack failed"
start_xvfb "$number" 640x480x24

start=$(date +%s%N)
(cd "$work/show" && exec env -u SDL_VIDEODRIVER SDL_AUDIODRIVER=disk \
    SDL_DISKAUDIOFILE="$work/audio.raw" \
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=suppressions="$supp" \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$kva") >"$work/kva.out" 2>"$work/kva.err" &
kva_pid=$!

wait_kva 260 "its start"
seconds=$(((kva_ended - start) / 1000000000))
[ "$kva_status" -eq 0 ] || fail "exit status $kva_status at the end of the show"
if grep -qE 'Sanitizer|runtime error' "$work/kva.err"; then fail "a sanitizer report"; fi
((seconds >= 190)) || fail "the show ended after $seconds s"
bytes=$(stat -c %s "$work/audio.raw" 2>/dev/null || echo 0)
((bytes > 180 * 44100 * 4)) || fail "only $bytes bytes of sound for the whole show"
echo "ok: the whole show ended by itself after $seconds s with status 0, no sanitizer report"
