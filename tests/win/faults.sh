#!/usr/bin/env bash
# faults.sh BUILD_DIR ZELTO_SIM PRELOAD_LIB|none PROGRAM [ARGS...]
# Serves a simulated board on COM1 of the build tree's Wine prefix for the length of one program:
# zelto-sim makes BUILD_DIR/wine-ports/com1 a link to its pseudo-terminal and signals clear-to-send
# through a file; PRELOAD_LIB (the modem-line emulation, which also fails the reads that the file
# ZELTO_READ_FAULT_FILE names) is preloaded into the program when given.
# The simulator is under the program's control: the program appends lines to the file
# ZELTO_SIM_CONTROL: "kill" ends the simulator with SIGKILL (the device vanishes), "start" serves a
# new one on COM1, any other line goes to the simulator's standard input and counts as done when
# the simulator has answered it. ZELTO_SIM_ACK holds the number of the last line done.
set -uo pipefail
here=$(dirname "$(readlink -f "$0")")
. "$here/run_program.sh"
. "$here/../../tools/lib/sim.sh"
build=$1 sim=$2 preload=$3
shift 3
ports="$build/wine-ports"
mkdir -p "$ports"
log="$ports/faults1.log" cts="$ports/faults1.cts" fifo="$ports/faults1.in"
control="$ports/faults1.control" ack="$ports/faults1.ack"
rm -f "$log" "$ports/com1" "$fifo" "$ack"
: >"$control"
: >"$log"
mkfifo "$fifo"

# Follows the control file as the program appends to it and carries out each line in turn.
controller() {
    local done=0 line mark self=$BASHPID
    start_sim() {
        # Opened for reading and writing, the fifo does not wait for the simulator to open it.
        exec 7<>"$fifo"
        ZELTO_SIM_INPUT=$fifo ZELTO_SIM_ERRORS=$ports/faults1.err \
            zelto_sim_start "$sim" "$ports/com1" "$log" --cts-file "$cts" --analog 0=700
    }
    stop_sim() {
        [ -n "$ZELTO_SIM_PID" ] && kill -"$1" "$ZELTO_SIM_PID" 2>/dev/null && wait "$ZELTO_SIM_PID" 2>/dev/null
        exec 7>&-
        ZELTO_SIM_PID=
    }
    # The simulator's answer to the line, after the mark (the log's size before it was sent).
    answered() { tail -c +"$((mark + 1))" "$log" | grep -qxF "# $line"; }
    trap 'stop_sim TERM; exit 0' TERM
    start_sim
    echo 0 >"$ack"
    while IFS= read -r line; do
        case $line in
        kill) stop_sim KILL ;;
        start) start_sim ;;
        *)
            mark=$(stat -c %s "$log")
            echo "$line" >&7
            wait_until 4 answered
            ;;
        esac
        done=$((done + 1))
        echo "$done" >"$ack.tmp" && mv "$ack.tmp" "$ack"
    done < <(tail -n +1 -f --pid="$self" "$control")
}
controller &
controller_pid=$!
trap 'kill -TERM "$controller_pid" 2>/dev/null; wait "$controller_pid" 2>/dev/null' EXIT
wait_until 4 test -f "$ack"
[ -L "$ports/com1" ] || { echo "zelto-sim did not start:" >&2; cat "$ports/faults1.err" >&2; exit 1; }

rm -f "$ports/faults1.read-fault"
export ZELTO_SIM_LOG="$log" ZELTO_SIM_CONTROL="$control" ZELTO_SIM_ACK="$ack" ZELTO_CTS_FILE="$cts"
export ZELTO_READ_FAULT_FILE="$ports/faults1.read-fault"
run_program "$log" "$preload" "$@"
exit $?
