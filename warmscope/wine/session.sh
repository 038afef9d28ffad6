# Sourced: runs Warmscope under Wine beside a simulated board. Used by the window's test and by the
# demonstration. Every function works in one folder ($out) that holds the Wine prefix, the port
# links, the logs and the screenshots.
#
# Functions set WS_* variables; ws_cleanup stops everything they started.

. "$(dirname "${BASH_SOURCE[0]}")/../../tools/lib/wine.sh"
. "$(dirname "${BASH_SOURCE[0]}")/../../tools/lib/sim.sh"

WS_WINE=${ZELTO_WINE64:-}
WS_PROGRAM_PID=
WS_XVFB_PID=
WS_SIM_FD=

# The Wine loader for a program: 32-bit programs need the 32-bit one.
ws_use_loader_for() { # exe
    local offset machine
    offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' ')
    if [ "$machine" = 014c ]; then WS_WINE=$ZELTO_WINE32; else WS_WINE=$ZELTO_WINE64; fi
}

# The prefix (COM1..COM4 mapped to links in the ports folder) with the window's fonts, and its
# wineserver. Call it after ws_start_display.
ws_prepare_prefix() { # folder
    zelto_wine_env "$1"
    mkdir -p "$ZELTO_PORTS_DIR"
    # Its diagnostics (e.g. the object dump on a hang-up of a serial device) go to a log.
    zelto_server_start "" "$out/wineserver.log" || return 1
    if [ ! -f "$WINEPREFIX/.warmscope-ready" ]; then
        cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
        "$ZELTO_WINE64" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /t REG_SZ \
            /d 'Liberation Sans' /f >/dev/null 2>&1 || return 1
        touch "$WINEPREFIX/.warmscope-ready"
    fi
    # A private display has no window manager: Wine then draws the frame and caption itself, when
    # told to. On the user's display the window manager does.
    local decorated=Y
    [ -n "$WS_XVFB_PID" ] && decorated=N
    "$ZELTO_WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d "$decorated" \
        /f >/dev/null 2>&1
}

ws_register_dll() { # dll
    "$WS_WINE" regsvr32 /s "$(zelto_win_path "$1")" >/dev/null 2>&1 && return 0
    echo "registering $1 failed" >&2
    return 1
}

# Uses $DISPLAY when asked to and one is set, else starts Xvfb on a free display.
ws_start_display() { # [--use-current]
    if [ "${1:-}" = --use-current ] && [ -n "${DISPLAY:-}" ]; then return 0; fi
    local file="$out/xvfb-display"
    rm -f "$file"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$file" >"$out/xvfb.log" 2>&1 &
    WS_XVFB_PID=$!
    wait_until 10 test -s "$file" || { echo "Xvfb did not start (see $out/xvfb.log)" >&2; return 1; }
    export DISPLAY=":$(tr -d '\n' <"$file")"
}

# The simulator on COM1's link; control lines go to its input, decoded commands accumulate in
# $out/sim.log.
ws_start_sim() { # zelto-sim, link, options...
    local sim=$1 link=$2
    shift 2
    rm -f "$out/sim-control"
    mkfifo "$out/sim-control" || return 1
    # Opened for reading and writing, the fifo does not wait for the simulator to open it.
    exec {WS_SIM_FD}<>"$out/sim-control"
    ZELTO_SIM_INPUT="$out/sim-control" zelto_sim_start "$sim" "$link" "$out/sim.log" "$@"
}

ws_sim_command() { # line
    [ -n "$WS_SIM_FD" ] && echo "$1" >&"$WS_SIM_FD"
}

ws_stop_sim() {
    zelto_sim_stop
    if [ -n "$WS_SIM_FD" ]; then
        exec {WS_SIM_FD}>&-
        WS_SIM_FD=
    fi
}

ws_start_program() { # exe, arguments...
    local exe=$1
    shift
    "$WS_WINE" "$exe" "$@" >"$out/warmscope.log" 2>&1 &
    WS_PROGRAM_PID=$!
}

# Waits up to N seconds for the program to end; true when it ended with status 0.
ws_program_ended() { # seconds
    wait_until "$1" ws_program_gone || return 1
    wait "$WS_PROGRAM_PID"
    local status=$?
    WS_PROGRAM_PID=
    return "$status"
}

ws_program_gone() {
    ! kill -0 "$WS_PROGRAM_PID" 2>/dev/null
}

ws_shot() { # file
    import -display "$DISPLAY" -window root "$1"
}

# True when the screen area holds at least 20 pixels of exactly that colour.
ws_has_colour() { # png, "left top width height", RRGGBB
    local x y w h count
    read -r x y w h <<<"$2"
    count=$(convert "$1" -crop "${w}x${h}+${x}+${y}" +repage -fill black +opaque "#$3" \
        -fill white -opaque "#$3" -format '%[fx:round(mean*w*h)]' info: 2>/dev/null)
    [ "${count:-0}" -ge 20 ]
}

# The texts of the commands decoded since the mark, one per line. A log line (sim/sim_log.h) is the
# bytes as hexadecimal pairs, blanks, the text, then " -> " and the answer, then a note in brackets;
# other lines (the device, answers to control commands) have no leading pairs.
ws_wire_texts() {
    tail -c +"$((${WS_WIRE_MARK:-0} + 1))" "$out/sim.log" |
        sed -nE 's/^[0-9A-F]{2}( [0-9A-F]{2})* +//; T; s/ \[[^]]*\]$//; s/ -> [0-9A-F]{2}( [0-9A-F]{2})*$//; p'
}

# True when the commands, separated by "|", were decoded one after the other.
ws_wire_has() { # "text|text|..."
    local joined
    joined="|$(ws_wire_texts | paste -sd '|')|"
    [[ $joined == *"|$1|"* ]]
}

ws_wire_mark() {
    WS_WIRE_MARK=$(stat -c %s "$out/sim.log")
}

ws_wire_quiet() {
    [ -z "$(ws_wire_texts)" ]
}

ws_cleanup() {
    if [ -n "$WS_PROGRAM_PID" ]; then
        kill "$WS_PROGRAM_PID" 2>/dev/null
        wait "$WS_PROGRAM_PID" 2>/dev/null
        WS_PROGRAM_PID=
    fi
    ws_stop_sim
    [ -z "${WINEPREFIX:-}" ] || zelto_server_stop
    if [ -n "$WS_XVFB_PID" ]; then
        kill "$WS_XVFB_PID" 2>/dev/null
        wait "$WS_XVFB_PID" 2>/dev/null
        WS_XVFB_PID=
    fi
}
