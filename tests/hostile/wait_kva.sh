# wait_kva.sh -- sourced after x11/xvfb.sh by the hostile-asset tests.
# wait_kva SECONDS WHAT: waits up to SECONDS for kva to end after WHAT, then
# sets kva_ended (nanoseconds) and kva_status; fails when it does not end.
wait_kva() {
    local from
    from=$(date +%s%N)
    while kill -0 "$kva_pid" 2>/dev/null; do
        (($(date +%s%N) - from < $1 * 1000000000)) || fail "kva still running $1 s after $2"
        sleep 0.02
    done
    kva_ended=$(date +%s%N)
    kva_status=0
    wait "$kva_pid" || kva_status=$?
    kva_pid=''
}
