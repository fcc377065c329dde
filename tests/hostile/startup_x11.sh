#!/usr/bin/env bash
# startup_x11.sh -- while kva loads a slow asset (a 48 MB song read from a
# disk made slow by a preloaded fread, 7 s in all), Escape, a close request
# or SIGTERM must end it with status 0 at once, before any frame is shown.
#   startup_x11.sh KVA XHELPER MAKE_HOSTILE SLOW_FREAD.so DISPLAY-NUMBER
#                  escape|close|sigterm MAX-SECONDS
set -euo pipefail

kva=$(realpath "$1") helper=$(realpath "$2") maker=$(realpath "$3") slow=$(realpath "$4")
number=$5 action=$6 max_s=$7
source "$(dirname "$0")/../x11/xvfb.sh"
source "$(dirname "$0")/wait_kva.sh"

mkdir "$work/show"
"$helper" pictures "$work/show" 640 480 || fail "cannot write the pictures"
truncate -s 48M "$work/show/elg.mp3"
start_xvfb "$number" 640x480x24

(cd "$work/show" && exec env -u SDL_VIDEODRIVER SDL_AUDIODRIVER=disk \
    SDL_DISKAUDIOFILE=/dev/null LD_PRELOAD="$slow" \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
    "$kva") >"$work/kva.out" 2>"$work/kva.err" &
kva_pid=$!
window=$(timeout 20 xdotool search --sync --name '^KVA$' | head -n 1) ||
    fail "no KVA window"

# Well inside the song's load: nothing is shown yet.
sleep 0.8
xwd -root -silent >"$work/screen.xwd" || fail "xwd failed"
if "$maker" lit "$work/screen.xwd"; then
    fail "a frame is already shown: the load was not slow enough to test"
fi

sent=$(date +%s%N)
case $action in
escape) xdotool key Escape ;;
close) "$helper" close "$window" || fail "cannot send the close request" ;;
sigterm) kill -TERM "$kva_pid" ;;
esac
wait_kva 10 "$action"
[ "$kva_status" -eq 0 ] || fail "exit status $kva_status after $action"
ms=$(((kva_ended - sent) / 1000000))
echo "$action during the load: exit 0 after $ms ms"
# A load that did not answer would end only after the song, 6 s later.
((ms < max_s * 1000)) || fail "$action took $ms ms"
echo "ok"
