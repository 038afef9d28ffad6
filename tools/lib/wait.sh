# Sourced. wait_until SECONDS COMMAND [ARGS...] runs the command every 20 ms until it succeeds and
# returns 0 then; it returns 1 when SECONDS (a fraction allowed: 0.5) pass first. Every script
# that waits for something to happen waits through it, so that no wait is unbounded.
wait_until() {
    local limit=$1 whole frac=000000
    shift
    whole=${limit%%.*}
    [[ $limit == *.* ]] && frac="${limit#*.}000000"
    local deadline=$((${EPOCHREALTIME//[.,]/} + ${whole:-0} * 1000000 + 10#${frac:0:6}))
    until "$@"; do
        ((${EPOCHREALTIME//[.,]/} < deadline)) || return 1
        sleep 0.02
    done
}
