#!/usr/bin/env bash
# faults.sh BUILD_DIR ZELTO_SIM PRELOAD_LIB|none PROGRAM [ARGS...]
# As e2e.sh, with the simulator under the program's control. The program appends lines to the file
# ZELTO_SIM_CONTROL: "kill" ends the simulator with SIGKILL (the device vanishes), "start" serves a
# new one on COM1, any other line goes to the simulator's standard input and counts as done when
# the simulator has answered it. ZELTO_SIM_ACK holds the number of the last line done.
set -uo pipefail
. "$(dirname "$(readlink -f "$0")")/run_program.sh"
build=$1 sim=$2 preload=$3
shift 3
ports="$build/wine-ports"
mkdir -p "$ports"
log="$ports/faults1.log" cts="$ports/faults1.cts" fifo="$ports/faults1.in"
control="$ports/faults1.control" ack="$ports/faults1.ack"
rm -f "$log" "$ports/com1" "$fifo" "$ack"
: >"$control"
mkfifo "$fifo"

controller() {
    local sim_pid=0 done=0 n line before
    start_sim() {
        rm -f "$ports/com1"
        "$sim" --link "$ports/com1" --cts-file "$cts" --analog 0=700 \
            >>"$log" 2>>"$ports/faults1.err" <"$fifo" &
        sim_pid=$!
        exec 7>"$fifo"
        for _ in $(seq 200); do
            [ -L "$ports/com1" ] && break
            sleep 0.01
        done
    }
    trap '[ "$sim_pid" -gt 0 ] && kill -TERM "$sim_pid" 2>/dev/null; exit 0' TERM
    start_sim
    echo 0 >"$ack"
    while :; do
        n=$(wc -l <"$control")
        while [ "$done" -lt "$n" ]; do
            done=$((done + 1))
            line=$(sed -n "${done}p" "$control")
            case $line in
            kill)
                kill -KILL "$sim_pid"
                wait "$sim_pid" 2>/dev/null
                exec 7>&-
                sim_pid=0
                ;;
            start) start_sim ;;
            *)
                before=$(grep -cxF "# $line" "$log")
                echo "$line" >&7
                for _ in $(seq 200); do
                    [ "$(grep -cxF "# $line" "$log")" -gt "$before" ] && break
                    sleep 0.01
                done
                ;;
            esac
            echo "$done" >"$ack.tmp" && mv "$ack.tmp" "$ack"
        done
        sleep 0.01
    done
}
controller &
controller_pid=$!
trap 'kill -TERM "$controller_pid" 2>/dev/null; wait "$controller_pid" 2>/dev/null' EXIT
for _ in $(seq 200); do
    [ -f "$ack" ] && break
    sleep 0.02
done
[ -L "$ports/com1" ] || { echo "zelto-sim did not start:" >&2; cat "$ports/faults1.err" >&2; exit 1; }

export ZELTO_SIM_LOG="$log" ZELTO_SIM_CONTROL="$control" ZELTO_SIM_ACK="$ack" ZELTO_CTS_FILE="$cts"
run_program "$log" "$preload" "$@"
exit $?
