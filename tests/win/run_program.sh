# Sourced by faults.sh. run_program LOG PRELOAD_LIB|none PROGRAM [ARGS...] runs the test
# program, with the modem-line emulation preloaded when given, and shows the end of the simulator's
# log when it fails; returns the program's status.
run_program() {
    local log=$1 preload=$2 rc
    shift 2
    if [ "$preload" != none ]; then
        ZELTO_MODEM_LINES=1 LD_PRELOAD="$preload" "$@"
    else
        ZELTO_MODEM_LINES=0 "$@"
    fi
    rc=$?
    [ $rc -eq 0 ] || { echo "--- simulator log (last lines) ---"; tail -30 "$log"; }
    return $rc
}
