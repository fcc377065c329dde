#!/usr/bin/env bash
# cpu_share.sh -- the share of one core kva uses while the show plays on an
# Xvfb screen: user + system time from /proc over a window of the show.
#   bench/cpu_share.sh KVA HELPER DISPLAY-NUMBER GEOMETRY [SECONDS]
# for example: bench/cpu_share.sh build/kva build/tests/kva_xhelper 301 1920x1080x24
# Runs with test pictures (a 640 x 480 background and small pictures) and
# no song; measures from 2 s after the window appears.
set -euo pipefail

kva=$(realpath "$1") helper=$(realpath "$2") number=$3 geometry=$4 seconds=${5:-10}
source "$(dirname "$0")/../tests/x11/xvfb.sh"
start_xvfb "$number" "$geometry"
"$helper" pictures "$work" 640 480 || fail "cannot write the test pictures"
(cd "$work" && exec env SDL_AUDIODRIVER=dummy "$kva") >"$work/kva.out" 2>"$work/kva.err" &
kva_pid=$!
timeout 10 xdotool search --sync --name '^KVA$' >/dev/null || fail "no KVA window"
sleep 2

# Fields 14 and 15 of /proc/PID/stat: user and system time in clock ticks.
ticks() { awk '{print $14 + $15}' "/proc/$kva_pid/stat"; }
hz=$(getconf CLK_TCK)
before=$(ticks) start=$(date +%s.%N)
sleep "$seconds"
after=$(ticks) end=$(date +%s.%N)
awk -v t=$((after - before)) -v hz="$hz" -v s="$start" -v e="$end" -v g="$geometry" \
    'BEGIN { printf "%s: kva used %.1f %% of one core over %.1f s\n", g, 100 * t / hz / (e - s), e - s }'
