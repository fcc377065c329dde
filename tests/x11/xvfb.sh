# xvfb.sh -- sourced by the X display tests: a work folder, cleanup of kva and
# the Xvfb server on exit, failure with the logs, starting the server, and
# waiting for kva to end.
# The caller sets fail_logs to the files worth showing when a check fails.
work=$(mktemp -d)
xvfb_pid='' kva_pid=''
fail_logs="$work/kva.out $work/kva.err $work/xvfb.log"

cleanup() {
    if [ -n "$kva_pid" ] && kill -0 "$kva_pid" 2>/dev/null; then
        kill -9 "$kva_pid" 2>/dev/null || true
        wait "$kva_pid" 2>/dev/null || true
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    for f in $fail_logs; do
        [ -s "$f" ] && { echo "--- $(basename "$f")" >&2; tail -n 20 "$f" >&2; }
    done
    exit 1
}

# start_xvfb NUMBER SCREEN: a server of its own on :NUMBER, answering before
# this returns. -noreset: the server would otherwise reset as each probing
# client leaves, refusing connections for a moment.
start_xvfb() {
    local number=$1 screen=$2 answered='' until=$((SECONDS + 30))
    if [ -e "/tmp/.X$number-lock" ] && kill -0 "$(tr -d ' ' <"/tmp/.X$number-lock")" 2>/dev/null; then
        fail "display :$number is already in use"
    fi
    Xvfb ":$number" -screen 0 "$screen" -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$number"
    while ((SECONDS < until)); do
        xdpyinfo >/dev/null 2>&1 && { answered=yes; break; }
        kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start"
        sleep 0.1
    done
    [ -n "$answered" ] || fail "Xvfb did not answer"
}

# Waits up to $1 tenths of a second for kva to end; its status in $status.
# A sanitizer build sets KVA_TEST_SLOWDOWN: its exit (the leak check) takes
# longer on a loaded machine.
wait_for_end() {
    local tenths=$(($1 * ${KVA_TEST_SLOWDOWN:-1}))
    for ((i = 0; i < tenths; i++)); do
        kill -0 "$kva_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$kva_pid" 2>/dev/null && return 1
    status=0
    wait "$kva_pid" || status=$?
    kva_pid=''
    return 0
}
