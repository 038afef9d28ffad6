# Sourced: a simulated board served by zelto-sim on a pseudo-terminal, with a link at a given path
# (for Wine, a port's device: $ZELTO_PORTS_DIR/com1 is COM1).
#   zelto_sim_start ZELTO_SIM LINK LOG [OPTION...]  starts it and waits for the link; its output
#                       goes to LOG, its errors to ZELTO_SIM_ERRORS or LOG, its input is
#                       ZELTO_SIM_INPUT (a control fifo) or nothing
#   zelto_sim_stop      ends it
# ZELTO_SIM_PID is the running simulator's process.
. "$(dirname "${BASH_SOURCE[0]}")/wait.sh"
ZELTO_SIM_PID=

zelto_sim_start() { # zelto-sim, link, log, options...
    local sim=$1 link=$2 log=$3
    shift 3
    rm -f "$link"
    mkdir -p "$(dirname "$link")"
    "$sim" --link "$link" "$@" <"${ZELTO_SIM_INPUT:-/dev/null}" >>"$log" 2>>"${ZELTO_SIM_ERRORS:-$log}" &
    ZELTO_SIM_PID=$!
    wait_until 10 test -L "$link" && return 0
    echo "zelto-sim did not start (see ${ZELTO_SIM_ERRORS:-$log})" >&2
    return 1
}

zelto_sim_stop() {
    [ -z "$ZELTO_SIM_PID" ] || { kill "$ZELTO_SIM_PID" && wait "$ZELTO_SIM_PID"; } 2>/dev/null
    ZELTO_SIM_PID=
}
