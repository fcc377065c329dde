# lyric.sh -- sourced by the tests that follow the first lyric on a real
# screen: its x in grabs, and where kva-export's stills (60 steps a second)
# have it. The caller sets work, exporter, helper, kva_pid, lyric_factor (the
# frame's enlargement on screen), grab_ext (xwd, png or ppm) and, for a grab
# of part of the screen, lyric_origin (the frame's top left in it: "X Y");
# and defines take_grab FILE, which writes a grab in that form.

lyric_width=400 # wide enough to stay in sight 3 s past the left edge
none=-1000      # the x given to a lyric out of sight
grab_ext=xwd
lyric_origin=''

now() { echo "$EPOCHREALTIME"; }
# calc EXPRESSION: floating-point arithmetic.
calc() { awk "BEGIN { print $1 }"; }

# grab NAME: a screen grab, its lyric x and the times just before and after.
grab() {
    local name=$1 before after x
    before=$(now)
    take_grab "$work/$name.$grab_ext" || fail "the screen grab failed"
    after=$(now)
    # shellcheck disable=SC2086 # the origin is two numbers or none
    x=$("$helper" lyricx "$work/$name.$grab_ext" 640 480 "$lyric_factor" "$lyric_width" \
        $lyric_origin) || x=$none
    [ "$x" = none ] && x=$none
    printf -v "x_$name" %s "$x"
    printf -v "before_$name" %s "$before"
    printf -v "after_$name" %s "$after"
}

# The exporter's lyric x after $1 steps of 1/60 s.
export_x() {
    local x
    (cd "$work" && "$exporter" --still "$(calc "$1 / 60")" -o still.png) ||
        fail "kva-export --still failed"
    x=$("$helper" lyricx "$work/still.png" 640 480 1 "$lyric_width") || x=$none
    [ "$x" = none ] && echo "$none" || echo "$x"
}

# The first step count from the lyric's cue (7 s) at which the exporter's
# lyric is at $1 or further left; the lyric only moves left.
steps_to() {
    local target=$1 lo=420 hi=900 mid
    while [ $((hi - lo)) -gt 1 ]; do
        mid=$(((lo + hi) / 2))
        if [ "$(export_x "$mid")" -le "$target" ]; then hi=$mid; else lo=$mid; fi
    done
    echo "$hi"
}

# Waits for the first grab that shows the lyric: grab "a".
wait_for_lyric() {
    for ((i = 0; i < 300; i++)); do
        grab a
        [ "$x_a" -ne "$none" ] && [ "$x_a" -le 620 ] && return 0
        kill -0 "$kva_pid" 2>/dev/null || fail "kva ended early"
        sleep 0.05
    done
    fail "the first lyric did not show within 15 s of the search"
}

# check NAME: grab NAME's lyric is where the exporter has it at the show time
# that passed since grab "a", give or take the time the grabs took and three
# frames. Dropped frames make a lyric lag a pixel or so each, never lead.
check() {
    local name=$1 lo hi x_lo x_hi travel slow fast
    local x_var=x_$name before_var=before_$name after_var=after_$name
    local x=${!x_var} before=${!before_var} after=${!after_var}
    lo=$(calc "int(($steps_a / 60 + $before - $after_a - 0.05) * 60)")
    hi=$(calc "int(($steps_a / 60 + $after - $before_a + 0.05) * 60) + 1")
    x_lo=$(export_x "$lo") x_hi=$(export_x "$hi")
    travel=$((x_a > 0 ? x_a : 0))
    slow=$((10 + travel / 10)) fast=10
    echo "$name: x $x; exporter $x_lo to $x_hi at steps $lo to $hi"
    [ "$x" -le $((x_lo + slow)) ] || fail "$name: the lyric lags the exporter's (x $x, $x_lo)"
    [ "$x" -ge $((x_hi - fast)) ] || fail "$name: the lyric is ahead of the exporter's (x $x, $x_hi)"
}

# Grabs b, c and d after "a": at 60 frames a second b is at about 9 s of show
# time, c just past the left edge and d two seconds on, far into the
# negative, where a lyric stepped more often races ahead or stops at x = -1.
follow_lyric() {
    local late
    for name in b c d; do
        case $name in b) wait=1.5 ;; c) wait=3.2 ;; d) wait=5.0 ;; esac
        late=$(calc "$before_a + $wait - $(now)")
        [ "${late:0:1}" = - ] || sleep "$late"
        grab "$name"
    done
}

# check_lyric NAME...: grab "a" placed on the exporter's timeline, then each
# grab checked against it.
check_lyric() {
    steps_a=$(steps_to "$x_a")
    echo "a: x $x_a, reached by the exporter after $steps_a steps"
    for name; do check "$name"; done
}
