#!/usr/bin/env bash
# export_quality.sh -- speed and quality of a whole-show export: wall and
# processor time (exporter and ffmpeg together) for the 192.5 s show, and
# the frame at 20 s against the composed one (kva-export --still 20), PSNR
# over R, G and B, decoded two ways:
#   as a player shows it: BT.709, limited range, chroma interpolated from
#     the centre of each 2x2 block (what the file's tags say);
#   ffmpeg's quick conversion: each chroma sample repeated over its block.
#   bench/export_quality.sh KVA-EXPORT PACK [EXPORT OPTIONS...]
# for example: bench/export_quality.sh build/kva-export build/pr0n.rar
#              bench/export_quality.sh build/kva-export build/pr0n.rar --preset medium --crf 23
set -euo pipefail

export_bin=$(realpath "$1") pack=$(realpath "$2")
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
ln -s "$pack" pr0n.rar

"$export_bin" --still 20 -o composed.png >/dev/null
start=$(date +%s.%N)
/usr/bin/time -f '%U %S' -o cpu.txt "$export_bin" "$@" -o show.mp4 >/dev/null 2>export.err ||
    { cat export.err >&2; exit 1; }
end=$(date +%s.%N)

# Video frame 1199 shows show time 1200/60 s, the --still of 20 s.
decode() {
    ffmpeg -nostdin -v error -y -i show.mp4 -vf "select=eq(n\,1199),$1,format=rgb24" \
        -frames:v 1 "$2"
}
decode "scale=in_color_matrix=bt709:in_range=tv:flags=bicubic+full_chroma_int+accurate_rnd" \
    player.png
decode "scale=in_color_matrix=bt709:in_range=tv" quick.png
psnr() {
    ffmpeg -nostdin -i "$1" -i composed.png -lavfi psnr -f null - 2>&1 |
        sed -n 's/.*average:\([0-9.inf]*\).*/\1/p'
}

read -r user sys <cpu.txt
awk -v s="$start" -v e="$end" -v u="$user" -v y="$sys" -v size="$(stat -c %s show.mp4)" \
    -v opts="${*:-(default)}" -v p="$(psnr player.png)" -v q="$(psnr quick.png)" 'BEGIN {
    wall = e - s
    printf "options: %s\n", opts
    printf "wall time %.1f s: %.1f x real time; processor time %.1f s\n", wall, 192.5 / wall, u + y
    printf "file %.1f MB\n", size / 1e6
    printf "frame at 20 s, PSNR over R, G, B: %.2f dB as a player shows it, %.2f dB by ffmpeg'"'"'s quick conversion\n", p, q
}'
