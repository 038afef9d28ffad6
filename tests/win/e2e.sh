#!/usr/bin/env bash
# e2e.sh BUILD_DIR ZELTO_SIM PRELOAD_LIB|none PROGRAM [ARGS...]
# Serves a simulated board on COM1 of the build tree's Wine prefix for the length of one program:
# zelto-sim makes BUILD_DIR/wine-ports/com1 a link to its pseudo-terminal and signals clear-to-send
# through a file; PRELOAD_LIB (the modem-line emulation) is preloaded into the program when given.
set -uo pipefail
here=$(dirname "$(readlink -f "$0")")
. "$here/run_program.sh"
. "$here/../../tools/lib/wait.sh"
build=$1 sim=$2 preload=$3
shift 3
ports="$build/wine-ports"
mkdir -p "$ports"
log="$ports/sim1.log"
cts="$ports/cts1"
rm -f "$log" "$ports/com1"

# The simulator keeps running while its input is open; it stops on TERM.
"$sim" --link "$ports/com1" --cts-file "$cts" --analog 0=700 >"$log" 2>"$ports/sim1.err" </dev/null &
sim_pid=$!
stop_sim() {
    kill -TERM "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
}
trap stop_sim EXIT
# The first line it prints is the device, once the link is in place.
started() { [ -s "$log" ] || ! kill -0 "$sim_pid" 2>/dev/null; }
wait_until 5 started
if ! [ -s "$log" ]; then
    echo "zelto-sim did not start:" >&2
    cat "$ports/sim1.err" >&2
    exit 1
fi
echo "simulator on $(head -1 "$log")"

export ZELTO_SIM_LOG="$log" ZELTO_CTS_FILE="$cts"
run_program "$log" "$preload" "$@"
exit $?
