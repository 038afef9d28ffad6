#!/usr/bin/env bash
# The temperature monitor without a board: builds what is missing, serves a simulated board whose
# temperature drifts across the limit on a pseudo-terminal, maps it as COM1 for Wine, registers the
# board object and starts Warmscope on COM1. Runs until Ctrl-C or until the window is closed, then
# stops everything it started.
set -uo pipefail
root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)

usage() {
    cat <<'EOF'
Usage: tools/demo.sh [options]

  --screenshot FILE     take one picture a few seconds after connecting, save it as FILE, exit
  --temperature F       the simulated temperature drifts 3 F either side of F (default 76; the
                        window's limit is 75)
  --windows-build DIR   a Windows build to use (default: the project's 64-bit Windows tree,
                        build-win64, made when missing)
  --sim PATH            a zelto-sim built already (default: the project's release tree's,
                        build-release, made when missing)
  --jobs N              parallel build jobs (default: the number of cores)
  --no-install          do not install missing packages; fail instead
  -h, --help            this text

Uses your X display when DISPLAY is set; otherwise (and always with --screenshot) runs on a
private virtual display and saves a screenshot every few seconds.
EOF
}

shot=
temperature=76
win_build=
sim=
jobs=$(nproc)
install=1
while [ $# -gt 0 ]; do
    case $1 in
    --screenshot) shot=${2:?}; shift 2 ;;
    --temperature) temperature=${2:?}; shift 2 ;;
    --windows-build) win_build=${2:?}; shift 2 ;;
    --sim) sim=${2:-}; shift 2 ;;
    --jobs) jobs=${2:?}; shift 2 ;;
    --no-install) install=0; shift ;;
    -h | --help) usage; exit 0 ;;
    *) echo "demo.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    esac
done
[ -n "$shot" ] && shot=$(realpath -m "$shot")

say() { echo "demo: $*"; }

# Packages: what a fresh Debian 12 lacks.
missing=0
for tool in cmake ninja g++ x86_64-w64-mingw32-g++-posix /usr/lib/wine/wine64 /usr/lib/wine/widl \
    dh Xvfb import convert; do
    command -v "$tool" >/dev/null 2>&1 || { missing=1; say "missing: $tool"; }
done
[ -d /usr/share/wine/fonts ] || { missing=1; say "missing: Wine's fonts"; }
[ -f /usr/include/CLI/CLI.hpp ] || { missing=1; say "missing: the CLI11 headers"; }
if [ "$missing" -eq 1 ]; then
    if [ "$install" -eq 0 ]; then
        say "install the packages with tools/install-deps.sh"
        exit 1
    fi
    say "installing the missing packages (tools/install-deps.sh)"
    "$root/tools/install-deps.sh" || exit 1
fi

# Builds: the simulator natively, the board object and the window for Windows, in the project's
# trees unless others are given.
. "$root/tools/lib/trees.sh"
export JOBS=$jobs
log=$(mktemp)
if [ -z "$sim" ]; then
    say "building zelto-sim in $(zelto_tree_dir release)"
    zelto_tree release zelto-sim >"$log" 2>&1 || { cat "$log"; say "the build failed"; exit 1; }
    sim="$(zelto_tree_dir release)/sim/zelto-sim"
fi
if [ -z "$win_build" ]; then
    win_build=$(zelto_tree_dir win64)
    say "building OstrelZeltoDLL.dll and Warmscope.exe in $win_build"
    zelto_tree win64 OstrelZeltoDLL Warmscope ws-drive >"$log" 2>&1 ||
        { cat "$log"; say "the build failed"; exit 1; }
fi
rm -f "$log"
bin="$win_build/bin"

out="$win_build/demo"
mkdir -p "$out"
. "$root/warmscope/wine/session.sh"
trap 'exit 130' INT TERM
trap 'say "stopping"; ws_cleanup' EXIT
ws_use_loader_for "$bin/Warmscope.exe"

if [ -n "$shot" ]; then ws_start_display; else ws_start_display --use-current; fi || exit 1
own_display=0
[ -n "$WS_XVFB_PID" ] && own_display=1
say "preparing Wine in $out/wine-prefix"
ws_prepare_prefix "$out" || exit 1
ws_register_dll "$bin/OstrelZeltoDLL.dll" || exit 1
say "simulated board on COM1, drifting around $temperature F"
ws_start_sim "$sim" "$ZELTO_PORTS_DIR/com1" --temperature "$temperature" || exit 1
ws_start_program "$bin/Warmscope.exe" || exit 1

d() { "$WS_WINE" "$bin/ws-drive.exe" "$@" 2>/dev/null | tr -d '\r'; }
if [ "$(d wait-window 30000)" != "TempForm|Ostrel Zelto Temp Demo" ]; then
    say "the window did not appear; see $out/warmscope.log"
    exit 1
fi
d pick 1
status=$(d wait-text CStatus Connected 10000)
say "picked COM1: $status"

if [ -n "$shot" ]; then
    reading=$(d wait-change Temp "Temp=" 5000)
    # Two ticks after the first reading: the LED has blinked and the colours are settled.
    ws_wire_mark
    two_ticks() { ws_wire_has "led on" && ws_wire_has "led off"; }
    wait_until 5 two_ticks
    mkdir -p "$(dirname "$shot")"
    ws_shot "$shot" || exit 1
    say "$reading, $(d text CStatus); screenshot $shot"
    [ "$status" = Connected ] && [[ $reading == Temp=*" F" ]]
    exit
fi

if [ "$own_display" -eq 1 ]; then
    mkdir -p "$out/screenshots"
    say "no DISPLAY: running on the virtual display $DISPLAY; screenshots go to $out/screenshots"
else
    say "the window is on your display $DISPLAY: pick another port to see a refusal, 1 to reconnect"
fi
say "the reading turns red over 75 F and green at or below it; Ctrl-C ends the demonstration"
interrupted=0
trap 'interrupted=1' INT TERM
n=0
while [ "$interrupted" -eq 0 ] && kill -0 "$WS_PROGRAM_PID" 2>/dev/null; do
    sleep 5 &
    wait $! # returns at once on Ctrl-C
    [ "$interrupted" -eq 0 ] && kill -0 "$WS_PROGRAM_PID" 2>/dev/null || break
    line="$(date +%T)  $(d text Temp)  $(d text CStatus)"
    if [ "$own_display" -eq 1 ]; then
        n=$((n + 1))
        file=$(printf '%s/screenshots/warmscope-%04d.png' "$out" "$n")
        ws_shot "$file" && cp -f "$file" "$out/screenshots/latest.png" && line="$line  $file"
        # Keeps the last 60 pictures.
        rm -f "$(printf '%s/screenshots/warmscope-%04d.png' "$out" $((n - 60)))"
    fi
    echo "$line"
done
[ "$interrupted" -eq 0 ] && say "the window was closed"
exit 0
