#!/usr/bin/env bash
# descriptors_x11.sh -- kva started with standard input, output or error
# closed must still show and answer Escape: nothing it opens later (the X
# connection, for one) may take their numbers, or its messages would be
# written into that connection. A damaged picture gives a message on both
# standard output and standard error during the load.
#   descriptors_x11.sh KVA XHELPER MAKE_HOSTILE DISPLAY-NUMBER in|err|out-err
set -euo pipefail

kva=$(realpath "$1") helper=$(realpath "$2") maker=$(realpath "$3") number=$4 closed=$5
source "$(dirname "$0")/../x11/xvfb.sh"
source "$(dirname "$0")/wait_kva.sh"

mkdir "$work/show"
"$helper" pictures "$work/show" 640 480 || fail "cannot write the pictures"
printf 'not a picture\n' >"$work/show/moose_middle.png"
start_xvfb "$number" 640x480x24

run_kva() {
    cd "$work/show"
    export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null
    unset SDL_VIDEODRIVER
    case $closed in
    in) exec "$kva" <&- ;;
    err) exec "$kva" 2>&- ;;
    out-err) exec "$kva" >&- 2>&- ;;
    esac
}
(run_kva) &
kva_pid=$!

# The first frame is drawn after the damaged picture was reported.
shown=''
for ((i = 0; i < 600; i++)); do
    kill -0 "$kva_pid" 2>/dev/null || fail "kva ended before its first frame"
    if xwd -root -silent >"$work/screen.xwd" 2>/dev/null && "$maker" lit "$work/screen.xwd"; then
        shown=yes
        break
    fi
    sleep 0.05
done
[ -n "$shown" ] || fail "no frame within 30 s with $closed closed"

xdotool key Escape
wait_kva 10 Escape
[ "$kva_status" -eq 0 ] || fail "exit status $kva_status after Escape"
echo "ok: $closed closed, the show ran and Escape ended it with 0"
