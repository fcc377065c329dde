#!/usr/bin/env bash
# cpu_windows.sh -- kva's share of one core window by window over the show,
# with the show's own pictures (the pr0n.rar beside kva) and no song, on an
# Xvfb screen or under a headless sway (software rendering, as nobody when
# run as root). Measured from 2 s after start-up (the pictures are decoded
# by then) until kva ends or SECONDS have passed; user + system time from
# /proc, so other load on the machine changes the figures little.
#   bench/cpu_windows.sh KVA xvfb DISPLAY-NUMBER GEOMETRY [SECONDS [WINDOW]]
#   bench/cpu_windows.sh KVA sway - WIDTHxHEIGHT [SECONDS [WINDOW]]
# e.g. bench/cpu_windows.sh build/kva xvfb 301 1920x1080x24 200 10
# Prints one line per WINDOW seconds (default 10), then the average and the
# peak window. With KVA_CALLGRIND=1 kva runs under valgrind's callgrind,
# which also counts the instructions kva executed (a figure that no load
# changes; kva then runs slower, so its share is not meaningful).
set -euo pipefail

kva=$(realpath "$1") server=$2 number=$3 geometry=$4 seconds=${5:-200} window=${6:-10}
pack="$(dirname "$kva")/pr0n.rar"
source "$(dirname "$0")/../tests/x11/xvfb.sh"
fail_logs="$work/kva.err $work/xvfb.log $work/sway.log"
[ -f "$pack" ] || fail "no pr0n.rar beside $kva"
cp "$kva" "$pack" "$work/"
grind=()
if [ "${KVA_CALLGRIND:-0}" = 1 ]; then
    grind=(valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out")
fi

if [ "$server" = xvfb ]; then
    start_xvfb "$number" "$geometry"
    (cd "$work" && exec env SDL_AUDIODRIVER=dummy "${grind[@]}" ./kva) \
        >"$work/kva.out" 2>"$work/kva.err" &
    kva_pid=$!
    timeout 60 xdotool search --sync --name '^KVA$' >/dev/null || fail "no KVA window"
else
    user=()
    if [ "$(id -u)" -eq 0 ]; then
        chmod 755 "$work"
        user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    fi
    mkdir -m 700 "$work/runtime"
    printf 'output HEADLESS-1 mode %s\n' "$geometry" >"$work/sway.cfg"
    [ "$(id -u)" -eq 0 ] && chown -R 65534:65534 "$work"
    session=(env -u DISPLAY -u WAYLAND_DISPLAY HOME="$work" XDG_RUNTIME_DIR="$work/runtime")
    "${user[@]}" "${session[@]}" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 \
        WLR_RENDERER=pixman sway -c "$work/sway.cfg" >"$work/sway.log" 2>&1 &
    xvfb_pid=$! # stopped by the shared cleanup
    socket=''
    for ((i = 0; i < 50; i++)); do
        socket=$(cd "$work/runtime" && ls wayland-[0-9] 2>/dev/null | head -n 1) || true
        [ -n "$socket" ] && break
        sleep 0.1
    done
    [ -n "$socket" ] || fail "sway offered no Wayland socket"
    (cd "$work" && exec "${user[@]}" "${session[@]}" WAYLAND_DISPLAY="$socket" \
        SDL_VIDEODRIVER=wayland SDL_AUDIODRIVER=dummy "${grind[@]}" ./kva) \
        >"$work/kva.out" 2>"$work/kva.err" &
    kva_pid=$!
fi
sleep 2

# Fields 14 and 15 of /proc/PID/stat: user and system time in clock ticks.
ticks() { awk '{print $14 + $15}' "/proc/$kva_pid/stat" 2>/dev/null; }
hz=$(getconf CLK_TCK)
first=$(ticks) || fail "kva ended at start-up"
start=$(date +%s.%N) last=$first from=$start total=0 peak=0 elapsed=0
while kill -0 "$kva_pid" 2>/dev/null && awk -v e="$elapsed" -v s="$seconds" 'BEGIN { exit !(e < s) }'; do
    sleep "$window"
    now=$(ticks) || break
    to=$(date +%s.%N)
    line=$(awk -v t=$((now - last)) -v hz="$hz" -v a="$from" -v b="$to" -v s="$start" \
        'BEGIN { printf "%5.0f-%3.0f s: %5.2f %%", a - s + 2, b - s + 2, 100 * t / hz / (b - a) }')
    echo "$line"
    share=${line##*: }
    peak=$(awk -v p="$peak" -v q="${share% %}" 'BEGIN { print (q > p) ? q : p }')
    last=$now from=$to
    elapsed=$(awk -v a="$start" -v b="$to" 'BEGIN { print b - a }')
done
awk -v t=$((last - first)) -v hz="$hz" -v a="$start" -v b="$from" -v g="$geometry" -v p="$peak" \
    -v k="$server" 'BEGIN { printf "%s %s: kva used %.2f %% of one core over %.0f s; peak window %.2f %%\n",
    k, g, 100 * t / hz / (b - a), b - a, p }'
if [ ${#grind[@]} -gt 0 ]; then
    kill -TERM "$kva_pid" 2>/dev/null || true
    for ((i = 0; i < 600; i++)); do [ -s "$work/callgrind.out" ] && break; sleep 0.1; done
    wait "$kva_pid" 2>/dev/null || true
    kva_pid=''
    grep -m1 '^summary:' "$work/callgrind.out" | awk '{ printf "instructions executed: %.3g\n", $2 }' ||
        echo "no callgrind summary"
fi
