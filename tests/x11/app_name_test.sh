#!/usr/bin/env bash
# app_name_test.sh -- what a sound mixer lists: the real kva on Xvfb playing
# its song through a PulseAudio server of its own must appear as "KVA", its
# stream named "KVA" too, not "SDL Application".
#   app_name_test.sh KVA HELPER DISPLAY-NUMBER
# Exits 77 (skipped) when pulseaudio or pactl is missing or cannot start.
set -euo pipefail

kva=$(realpath "$1") helper=$(realpath "$2") number=$3
source "$(dirname "$0")/xvfb.sh"
fail_logs="$work/kva.out $work/kva.err $work/pulse.log"
pulse_pid=''
trap '[ -z "$pulse_pid" ] || kill "$pulse_pid" 2>/dev/null || true; cleanup' EXIT

skip() {
    echo "SKIP: $*"
    exit 77
}
for tool in pulseaudio pactl; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done

# The server, and kva as its client, run as nobody when the test runs as root.
mkdir -m 700 "$work/rt"
cp "$kva" "$work/kva"
"$helper" pictures "$work" 640 480 || fail "cannot write the test pictures"
"$helper" song "$work/elg.mp3" 20 || fail "cannot write the test song"
chmod 755 "$work"
run=(env HOME="$work" XDG_RUNTIME_DIR="$work/rt" PULSE_SERVER="unix:$work/rt/pulse/native")
if [ "$(id -u)" -eq 0 ]; then
    chown -R 65534:65534 "$work"
    run=(setpriv --reuid=65534 --regid=65534 --clear-groups "${run[@]}")
fi
"${run[@]}" pulseaudio --daemonize=no -n --exit-idle-time=-1 --disable-shm=true \
    --load="module-null-sink sink_name=kva" --load=module-native-protocol-unix \
    >"$work/pulse.log" 2>&1 &
pulse_pid=$!
for ((i = 0; i < 100; i++)); do
    [ -S "$work/rt/pulse/native" ] && break
    kill -0 "$pulse_pid" 2>/dev/null || skip "pulseaudio did not start: $(tail -n 1 "$work/pulse.log")"
    sleep 0.1
done
[ -S "$work/rt/pulse/native" ] || skip "pulseaudio opened no socket within 10 s"

start_xvfb "$number" 640x480x24
(cd "$work" && exec "${run[@]}" SDL_AUDIODRIVER=pulseaudio DISPLAY="$DISPLAY" ./kva) \
    >"$work/kva.out" 2>"$work/kva.err" &
kva_pid=$!

# The stream appears once the song is loaded and playing.
for ((i = 0; i < 200; i++)); do
    "${run[@]}" pactl list sink-inputs >"$work/inputs.txt" 2>/dev/null || true
    grep -q 'application.name' "$work/inputs.txt" && break
    kill -0 "$kva_pid" 2>/dev/null || fail "kva ended early"
    sleep 0.1
done
grep -E 'application.name|media.name' "$work/inputs.txt" || fail "kva's stream did not appear"
grep -q 'application.name = "KVA"$' "$work/inputs.txt" || fail "the program is not named KVA"
grep -q 'media.name = "KVA"$' "$work/inputs.txt" || fail "the stream is not named KVA"
echo "ok: the mixer lists kva and its stream as KVA"
