#!/usr/bin/env bash
# The real Warmscope.exe under Wine on a virtual X display, with the real registered board object
# and a simulated board on a pseudo-terminal mapped as COM1. The window is driven from another
# process (ws-drive.exe) and read back through its controls' texts, the screen's pixels and the
# commands the board decoded.
#
#   gui_test.sh --exe Warmscope.exe --dll OstrelZeltoDLL.dll --drive ws-drive.exe
#               --sim zelto-sim --out DIR
#
# DIR keeps its Wine prefix between runs and receives the screenshots and logs.
set -uo pipefail
here=$(dirname "$(readlink -f "$0")")

exe='' dll='' drive='' sim='' out=''
while [ $# -gt 0 ]; do
    case $1 in
    --exe | --dll | --drive | --sim | --out) printf -v "${1#--}" %s "$2"; shift 2 ;;
    *) echo "gui_test.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
mkdir -p "$out"
out=$(cd "$out" && pwd)
for f in "$exe" "$dll" "$drive" "$sim"; do
    [ -f "$f" ] || { echo "gui_test.sh: missing $f" >&2; exit 1; }
done
. "$here/../../warmscope/wine/session.sh"

failures=0
check() { # description, command...
    local what=$1
    shift
    if "$@"; then
        echo "ok   $what"
    else
        echo "FAIL $what"
        failures=$((failures + 1))
        return 1
    fi
}
# Takes a screenshot and tells whether the area holds the colour; for wait_until.
shot_shows() { # png, "left top width height", RRGGBB
    ws_shot "$1" && ws_has_colour "$@"
}
ws_wire_busy() { ! ws_wire_quiet; }
not() { ! "$@"; }
expect_eq() { # description, expected, actual
    check "$1: $3$([ "$2" = "$3" ] || echo " (expected '$2')")" test "$2" = "$3"
}

# The version block: the strings in language 0x0409 and the file and product version 1.0.0.0.
version=$(wrestool -x --raw -t16 "$exe" | tr -d '\0' | strings -n 2 | paste -sd' ')
for want in 040904B0 CompanyNameOstrel FileVersion1.00 InternalNameWarmscope \
    OriginalFilenameWarmscope.exe ProductNameWarmscope ProductVersion1.00; do
    check "version block holds $want" grep -q "$want" <<<"$version"
done
fixed=$(wrestool -x --raw -t16 "$exe" | od -An -tx1 -v | tr -d ' \n')
check "version 1.0.0.0 for file and product" \
    grep -q "bd04effe0000010000000100000000000000010000000000" <<<"$fixed"

trap 'ws_cleanup' EXIT
ws_use_loader_for "$exe"
# The display comes first: Wine's desktop process starts with the server and needs it.
ws_start_display || exit 1
ws_prepare_prefix "$out" || exit 1
ws_register_dll "$dll" || exit 1

# The simulated board reads 153 on analog input 0 until told otherwise.
ws_start_sim "$sim" "$ZELTO_PORTS_DIR/com1" --analog 0=153 || exit 1
ws_start_program "$exe" || exit 1

d() { "$WS_WINE" "$drive" "$@" 2>&1 | tr -d '\r'; }

if ! expect_eq "window" "TempForm|Ostrel Zelto Temp Demo" "$(d wait-window 30000)"; then
    ws_shot "$out/warmscope-nowindow.png"
    echo "no window; the program wrote:"
    cat "$out/warmscope.log"
    exit 1
fi
expect_eq "initial texts" "Temp=|Limit:|75|COM|Disconnected" \
    "$(d text Temp)|$(d text Label2)|$(d text Limit)|$(d text Label1)|$(d text CStatus)"
expect_eq "port list" "1 2 3 4 5 6 7 8 9 10" "$(d ports)"
expect_eq "client size in pixels at 96 dpi" "312 152 96" "$(d client)"
expect_eq "focus and tab order (list, limit)" "$(d id CPort) $(d id Limit) $(d id CPort)" \
    "$(d focus | cut -d' ' -f1-3)"
ws_shot "$out/warmscope-start.png"
check "Temp shown in green" ws_has_colour "$out/warmscope-start.png" "$(d rect Temp)" 00FF00
check "status shown in red" ws_has_colour "$out/warmscope-start.png" "$(d rect CStatus)" FF0000

# Picking "1" connects; the ticks show the reading.
d pick 1 >/dev/null
expect_eq "status after picking 1" "Connected" "$(d wait-text CStatus Connected 10000)"
expect_eq "reading 153" "Temp=74.8 F" "$(d wait-text Temp 'Temp=74.8 F' 5000)"
tick_within="led on|a2d pin 0|a2d pin 0|a2d pin 0|a2d pin 0|a2d pin 0|low pin 0|load operand 5000|pwm channel duty 0 fduration 5000"
blink="led off|a2d pin 0"
check "wire: a tick within the limit" wait_until 5 ws_wire_has "$tick_within"
check "wire: the LED blinks" wait_until 3 ws_wire_has "$blink"
ws_shot "$out/warmscope-within.png"
check "reading within the limit in green" ws_has_colour "$out/warmscope-within.png" "$(d rect Temp)" 00FF00
check "status in green" ws_has_colour "$out/warmscope-within.png" "$(d rect CStatus)" 00FF00
check "wire: the connection set-up" ws_wire_has "pwm channel duty 0 fduration 5000|low pin 0|led on"

# 205 is over the limit by more than 10 degrees.
ws_sim_command "analog 0 205"
expect_eq "reading 205" "Temp=100.2 F" "$(d wait-text Temp 'Temp=100.2 F' 5000)"
tick_over="a2d pin 0|high pin 0|load operand 5000|pwm channel duty 255 fduration 5000|load operand 250|tone pin 1 value 1000 duration 250"
check "wire: a tick over the limit" wait_until 5 ws_wire_has "$tick_over"
ws_shot "$out/warmscope-over.png"
check "reading over the limit in red" ws_has_colour "$out/warmscope-over.png" "$(d rect Temp)" FF0000

# The limit is read at every tick.
d set-text Limit "101" >/dev/null
check "limit 101: green again" wait_until 5 shot_shows "$out/warmscope-limit101.png" "$(d rect Temp)" 00FF00
d set-text Limit "75" >/dev/null
# A tick that read the limit back: 100.2 F is over 75 again.
ws_wire_mark
wait_until 5 ws_wire_has "high pin 0"

# A port that cannot be opened.
d pick 2 >/dev/null
expect_eq "message box for COM2" "Warmscope|Can't connect to I/O Board" "$(d message 10000)"
expect_eq "status after COM2" "Disconnected" "$(d wait-text CStatus Disconnected 3000)"
check "status in red" wait_until 3 shot_shows "$out/warmscope-refused.png" "$(d rect CStatus)" FF0000
ws_wire_mark
check "wire: no ticks while disconnected" not wait_until 1.2 ws_wire_busy

# Picking "1" again recovers.
ws_sim_command "analog 0 154"
d pick 1 >/dev/null
expect_eq "status after picking 1 again" "Connected" "$(d wait-text CStatus Connected 10000)"
expect_eq "reading 154" "Temp=75.3 F" "$(d wait-text Temp 'Temp=75.3 F' 5000)"
check "wire: duty 10 just over the limit" ws_wire_has "pwm channel duty 10 fduration 5000"

# The board goes away while connected: the program keeps running and shows the loss.
ws_stop_sim
expect_eq "status after the board went away" "Disconnected" "$(d wait-text CStatus Disconnected 10000)"
check "no message box for a lost board" d no-message 1500
ws_shot "$out/warmscope-lost.png"
check "status in red after the loss" ws_has_colour "$out/warmscope-lost.png" "$(d rect CStatus)" FF0000
check "reading kept after the loss" test "$(d text Temp)" = "Temp=75.3 F"
ws_start_sim "$sim" "$ZELTO_PORTS_DIR/com1" --analog 0=153 || exit 1
d pick 1 >/dev/null
expect_eq "status after the board came back" "Connected" "$(d wait-text CStatus Connected 10000)"
expect_eq "reading after the board came back" "Temp=74.8 F" "$(d wait-text Temp 'Temp=74.8 F' 5000)"

# Closing the window ends the program.
check "closing the window" d close
check "the program ended with status 0" ws_program_ended 10

echo "screenshots: $out/warmscope-*.png"
if [ "$failures" -eq 0 ]; then
    echo "gui test: all checks passed"
    exit 0
fi
echo "gui test: $failures check(s) failed"
exit 1
