#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS
# (default 60). Fails on any crash, leak, timeout or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_PER_TARGET=${FUZZ_SECONDS:-60}
BUILD_DIR=${FUZZ_BUILD:-build-fuzz}
mkdir -p "$BUILD_DIR"
BUILD_DIR=$(cd "$BUILD_DIR" && pwd) # absolute: a fuzzer may change directory
# Limits fit the largest picture accepted (16 Mi pixels: 64 MiB of words and
# 64 MiB of rows) with room for libpng and the sanitizers.
RSS_LIMIT_MB=1024

cmake -S fuzz -B "$BUILD_DIR" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)" -- --no-print-directory >/dev/null

corpus="$BUILD_DIR/corpus"
seeds="$BUILD_DIR/seeds"
rm -rf "$seeds"
mkdir -p "$corpus/png" "$corpus/archive" "$corpus/song" "$seeds/png" "$seeds/archive" \
    "$seeds/song" "$BUILD_DIR/artifacts"
"$BUILD_DIR/kva_fuzz_seeds" "$seeds/png" "$seeds/archive" "$seeds/song"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

status=0
for target in png archive song; do
    echo "fuzz: ${target}_fuzzer for ${SECONDS_PER_TARGET} s"
    log="$BUILD_DIR/${target}_fuzzer.log"
    if "$BUILD_DIR/${target}_fuzzer" -max_total_time="$SECONDS_PER_TARGET" \
        -rss_limit_mb=$RSS_LIMIT_MB -timeout=10 -max_len=65536 -close_fd_mask=3 \
        -print_final_stats=1 -artifact_prefix="$BUILD_DIR/artifacts/${target}_" \
        "$corpus/$target" "$seeds/$target" >"$log" 2>&1; then
        grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$log" || true
    else
        echo "fuzz: ${target}_fuzzer failed; the end of $log:"
        tail -n 40 "$log"
        status=1
    fi
done
exit $status
