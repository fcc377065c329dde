#!/usr/bin/env bash
# show_drift.sh -- the whole show on a PulseAudio server of its own, its
# sound recorded from a null sink: gaps, and how far the ending's slide is
# from the first sound, against the same in kva-export's sound track of the
# same song (the show's clock against the song's, the two aligned at their
# first sound and compared at the slide), counted in the recording's frames
# and by the clock.
#   bench/show_drift.sh BUILD [load]
# BUILD holds kva, kva-export and tests/kva_pulse_probe; "load" runs
# stress-ng (two workers a core) beside the show. Takes about 4 minutes.
# Prints the probe's findings.
set -u
build=$(realpath "$1") load=${2:-}
work=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -m 700 "$work/rt"
cp "$build/kva" "$build/kva-export" "$build/tests/kva_pulse_probe" "$work/"
"$work/kva_pulse_probe" mp3 "$work/elg.mp3" 10 || exit 1
(cd "$work" && mkdir track && ./kva-export --sound -o track/%05d.png >/dev/null 2>"$work/export.err") ||
    { cat "$work/export.err"; exit 1; }
mv "$work/track/sound.wav" "$work/track.wav" && rm -rf "$work/track"
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
    sleep 0.1
done
display=:$((700 + RANDOM % 100))
Xvfb $display -screen 0 640x480x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
sleep 1
# The probe records through parec asking for 5 ms, which holds the null
# sink to the clock, and notes when each piece arrived.
"${run[@]}" "$work/kva_pulse_probe" record kva.monitor "$work/capture.raw" &
recorder=$!
pids+=($recorder)
if [ "$load" = load ]; then
    stress-ng --cpu $(($(nproc) * 2)) --timeout 230s >/dev/null 2>&1 &
    pids+=($!)
fi
(cd "$work" && "${run[@]}" ${PULSE_LATENCY_MSEC:+PULSE_LATENCY_MSEC=$PULSE_LATENCY_MSEC} SDL_AUDIODRIVER=pulseaudio DISPLAY=$display ./kva >/dev/null 2>&1)
echo "kva ended with status $?"
sleep 0.5
kill -TERM $recorder && wait $recorder
"$work/kva_pulse_probe" show "$work/capture.raw" "$work/track.wav"
