#!/usr/bin/env bash
# band_check.sh -- runs kva_bandcheck on an Xvfb screen of its own, 1920 x
# 1080 at depth 24, where frames are shown twice enlarged.
#   band_check.sh KVA_BANDCHECK DISPLAY-NUMBER
set -euo pipefail

check=$(realpath "$1") number=$2
source "$(dirname "$0")/xvfb.sh"
fail_logs="$work/check.out $work/xvfb.log"
start_xvfb "$number" 1920x1080x24
status=0
SDL_AUDIODRIVER=dummy timeout 30 "$check" >"$work/check.out" 2>&1 || status=$?
cat "$work/check.out"
[ "$status" -eq 0 ] || fail "the screen does not hold the frames shown (status $status)"
