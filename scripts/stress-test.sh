#!/usr/bin/env bash
# make test with the machine fully loaded beside it: stress-ng keeps every
# core busy (one CPU worker per core) while the whole suite runs, RUNS times
# in a row (default 3), each build's tests run even when an earlier build's
# failed (make -k). Each run's time and failed tests are printed; the
# logs are kept in build/stress/. Exits 0 only when every run passed.
#
#   stress-test.sh [--private] [RUNS]
#       --private  each make test runs in a network namespace and a /tmp of
#                  its own (needs root), so its X and sound servers meet none
#                  started by others on a shared machine; make deps runs
#                  first, outside it, as that needs the network
set -euo pipefail
cd "$(dirname "$0")/.."

private='' runs=3
for option in "$@"; do
    case "$option" in
    --private) private=yes ;;
    [0-9]*) runs=$option ;;
    *) echo "usage: $0 [--private] [RUNS]" >&2; exit 2 ;;
    esac
done

make deps
command -v stress-ng >/dev/null || { echo "stress-test: stress-ng is missing" >&2; exit 1; }
logs=build/stress
mkdir -p "$logs"

stress_pid=''
stop_stress() {
    if [ -n "$stress_pid" ]; then
        kill "$stress_pid" 2>/dev/null || true
        wait "$stress_pid" 2>/dev/null || true
        stress_pid=''
    fi
}
trap stop_stress EXIT

run_make_test() {
    if [ -n "$private" ]; then
        unshare --net --mount bash -c \
            'ip link set lo up 2>/dev/null; mount -t tmpfs -o mode=1777 tmpfs /tmp && make -k test'
    else
        make -k test
    fi
}

cores=$(nproc)
failed_runs=0
summary=()
for ((run = 1; run <= runs; run++)); do
    log="$logs/run-$run.log"
    stress-ng --cpu "$cores" --timeout 0 --quiet &
    stress_pid=$!
    echo "stress-test: run $run of $runs, stress-ng --cpu $cores beside it, load $(cut -d' ' -f1-3 /proc/loadavg)"
    from=$SECONDS status=0
    run_make_test >"$log" 2>&1 || status=$?
    took=$((SECONDS - from))
    stop_stress
    # ctest's summaries, one per build: "N% tests passed, M tests failed out of T".
    results=$(grep -E '^[0-9]+% tests passed' "$log" | tr '\n' ';' | sed 's/;$//; s/;/; /g')
    if [ "$status" -eq 0 ]; then
        line="run $run: passed in $took s ($results)"
    else
        failed_runs=$((failed_runs + 1))
        failures=$(sed -n '/The following tests FAILED:/,/^[^[:space:]]/p' "$log" |
            grep -E '^[[:space:]]+[0-9]+ - ' | sed 's/^[[:space:]]*[0-9]* - //' | tr '\n' ';' |
            sed 's/;$//; s/;/; /g')
        line="run $run: FAILED (status $status) in $took s (${results:-no test summary}): ${failures:-see $log}"
    fi
    summary+=("$line")
    echo "stress-test: $line"
done

echo "stress-test: $((runs - failed_runs)) of $runs runs passed under load"
[ ${#summary[@]} -eq 0 ] || printf '  %s\n' "${summary[@]}"
[ "$failed_runs" -eq 0 ]
