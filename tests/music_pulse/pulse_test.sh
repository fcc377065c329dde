#!/usr/bin/env bash
# pulse_test.sh -- the music on a real PulseAudio server: a null sink whose
# monitor parec records, the server and its clients run as an unprivileged
# user (the daemon refuses root).
#   pulse_test.sh PROBE KVA DISPLAY tone   the music player through SDL's
#                                          pulseaudio driver (kva_pulse_probe)
#   pulse_test.sh PROBE KVA DISPLAY kva    kva on Xvfb with a module as its
#                                          song: it sounds, Escape ends it
# Exits 77 (skipped) when the server cannot start here.
set -u
probe=$1 kva=$2 display=$3 mode=$4
work=$(mktemp -d)
pids=()

cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

skip() {
    echo "SKIP: $*"
    exit 77
}

fail() {
    echo "FAIL: $*" >&2
    for f in "$work"/*.log; do
        [ -s "$f" ] && { echo "--- $(basename "$f")" >&2; tail -n 20 "$f" >&2; }
    done
    exit 1
}

# Sanitizer builds report on standard error; any report fails the test.
no_sanitizer_report() {
    ! grep -q -e 'Sanitizer' -e 'runtime error:' "$1" || fail "sanitizer report in $(basename "$1")"
}

for tool in pulseaudio parec; do
    command -v $tool >/dev/null || skip "$tool is not installed"
done
mkdir -m 700 "$work/rt"
cp "$probe" "$kva" "$work/"
chmod 755 "$work"
run=(env HOME="$work" XDG_RUNTIME_DIR="$work/rt" PULSE_SERVER="unix:$work/rt/pulse/native")
if [ "$(id -u)" -eq 0 ]; then
    chown -R 65534:65534 "$work"
    run=(setpriv --reuid=65534 --regid=65534 --clear-groups "${run[@]}")
fi

"${run[@]}" pulseaudio --daemonize=no -n --exit-idle-time=-1 --disable-shm=true \
    --load="module-null-sink sink_name=kva" --load=module-native-protocol-unix \
    >"$work/pulse.log" 2>&1 &
pids+=($!)
for ((i = 0; i < 100; i++)); do
    [ -S "$work/rt/pulse/native" ] && break
    kill -0 "${pids[0]}" 2>/dev/null || skip "pulseaudio did not start: $(tail -n 2 "$work/pulse.log")"
    sleep 0.1
done
[ -S "$work/rt/pulse/native" ] || skip "pulseaudio opened no socket within 10 s"

if [ "$mode" = tone ]; then
    "${run[@]}" SDL_AUDIODRIVER=pulseaudio "$work/$(basename "$probe")" tone kva.monitor \
        >"$work/probe.log" 2>"$work/probe.err.log"
    status=$?
    cat "$work/probe.log"
    no_sanitizer_report "$work/probe.err.log"
    [ $status -eq 0 ] || fail "the music player on PulseAudio (status $status)"
    exit 0
fi

# kva on Xvfb, its song a module under the MP3's name.
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || skip "Xvfb or xdotool is missing"
"${run[@]}" "$work/$(basename "$probe")" module "$work/elg.mp3" || fail "cannot write the module"
"${run[@]}" Xvfb ":$display" -screen 0 640x480x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$display"
until=$((SECONDS + 30))
while ((SECONDS < until)); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
done
xdpyinfo >/dev/null 2>&1 || fail "Xvfb did not answer on :$display"
"${run[@]}" parec -d kva.monitor --format=float32le --rate=44100 --channels=2 \
    >"$work/capture.raw" 2>"$work/parec.log" &
pids+=($!)
(cd "$work" && exec "${run[@]}" SDL_AUDIODRIVER=pulseaudio DISPLAY=":$display" \
    "./$(basename "$kva")" >"$work/kva.out" 2>"$work/kva.err.log") &
kva_pid=$!
pids+=($kva_pid)
timeout 10 xdotool search --sync --name '^KVA$' >/dev/null || fail "no KVA window"
# Listens until the song is heard, however long a busy machine takes to start it.
heard='' until=$((SECONDS + 30))
while ((SECONDS < until)); do
    sleep 0.5
    "$work/$(basename "$probe")" sound "$work/capture.raw" >"$work/sound.log" && { heard=yes; break; }
done
cat "$work/sound.log"
[ -n "$heard" ] || fail "kva's song was not heard"
kill -0 $kva_pid 2>/dev/null || fail "kva ended early"
xdotool key Escape
for ((i = 0; i < 100; i++)); do
    kill -0 $kva_pid 2>/dev/null || break
    sleep 0.1
done
kill -0 $kva_pid 2>/dev/null && fail "kva still running 10 s after Escape"
wait $kva_pid
status=$?
no_sanitizer_report "$work/kva.err.log"
[ $status -eq 0 ] || fail "kva exited with status $status after Escape, expected 0"
echo "ok: kva played its module on PulseAudio and Escape ended it with status 0"
