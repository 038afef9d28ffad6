# Sourced by every script that runs Windows programs: the Wine programs, a folder's prefix with
# COM1..COM4 mapped, its wineserver, and the checks of the Windows files.
# zelto_wine_env DIR sets WINEPREFIX to DIR/wine-prefix, quiet and isolated.
ZELTO_WINE64=/usr/lib/wine/wine64
ZELTO_WINE32=/usr/lib/wine/wine
ZELTO_WINESERVER=/usr/lib/wine/wineserver64
[ -x "$ZELTO_WINESERVER" ] || ZELTO_WINESERVER=/usr/lib/wine/wineserver

zelto_wine_env() {
    ZELTO_BUILD_DIR=$(cd "$1" && pwd)
    export WINEPREFIX="$ZELTO_BUILD_DIR/wine-prefix"
    export WINEDEBUG=-all
    export WINEARCH=win64
    # No downloads or installer dialogs for .NET and the HTML engine.
    export WINEDLLOVERRIDES="mscoree=;mshtml="
    export WINESERVER="$ZELTO_WINESERVER"
    # Where the test harness puts the devices that COM1..COM4 stand for.
    ZELTO_PORTS_DIR="$ZELTO_BUILD_DIR/wine-ports"
}

# The build tree around the working directory (the nearest folder with a CMakeCache.txt).
zelto_find_build_dir() {
    local dir=$PWD
    while [ "$dir" != / ]; do
        if [ -f "$dir/CMakeCache.txt" ]; then
            echo "$dir"
            return 0
        fi
        dir=$(dirname "$dir")
    done
    return 1
}

# Creates the prefix once, with COM1..COM4 mapped to ZELTO_PORTS_DIR/com1..com4 (devices that tests
# create, e.g. a simulator's pseudo-terminal link). Concurrent callers wait for the first, up to
# ten minutes; each wait for a server to end is bounded too.
zelto_ensure_prefix() {
    mkdir -p "$ZELTO_BUILD_DIR"
    (
        flock -w 600 9 || { echo "the prefix $WINEPREFIX stays locked" >&2; exit 1; }
        if [ ! -f "$WINEPREFIX/.zelto-ready" ]; then
            "$ZELTO_WINE64" wineboot --init </dev/null >/dev/null 2>&1 || true
            timeout 120 "$ZELTO_WINESERVER" -w # the registry files are written when the server ends
            [ -f "$WINEPREFIX/system.reg" ] || { echo "wineboot failed for $WINEPREFIX" >&2; exit 1; }
            mkdir -p "$ZELTO_PORTS_DIR"
            for n in 1 2 3 4; do
                "$ZELTO_WINE64" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ \
                    /d "$ZELTO_PORTS_DIR/com$n" /f </dev/null >/dev/null 2>&1
            done
            # The port mapping is read when a server starts; nothing else runs in the prefix yet.
            "$ZELTO_WINESERVER" -k 2>/dev/null || true
            timeout 60 "$ZELTO_WINESERVER" -w
            touch "$WINEPREFIX/.zelto-ready"
        fi
    ) 9>"$ZELTO_BUILD_DIR/wine-prefix.lock"
}

# A Unix path as Wine sees it (drive Z: is the root).
zelto_win_path() {
    local p
    p=$(realpath -m "$1")
    echo "Z:${p//\//\\}"
}

# Whether this machine runs 32-bit x86 programs, and so 32-bit Wine: some kernels run none, and
# there "Exec format error" ends every one. Each 32-bit step asks here; where the answer is no, it
# builds its files and checks them with zelto_check_pe instead of running them, and says
# "$ZELTO_32BIT_NOT_RUN". ZELTO_RUN_32BIT=no makes the answer no on any machine, to try that path.
zelto_runs_32bit() {
    [ "${ZELTO_RUN_32BIT:-}" != no ] && "$ZELTO_WINE32" --version >/dev/null 2>&1
}
ZELTO_32BIT_NOT_RUN="32-bit: built and checked, not run on this machine"

# zelto_check_pe 64|32 FILE...: each file is a Windows program or DLL for that width with a version
# block; OstrelZeltoDLL.dll also exports the four server entry points and carries its type library
# and interface identifier. Says what it found; fails on the first file that falls short.
zelto_check_pe() {
    local bits=$1 file format host=x86_64-w64-mingw32 entry resources
    shift
    format=pei-x86-64
    [ "$bits" = 32 ] && format=pei-i386 host=i686-w64-mingw32
    for file in "$@"; do
        grep -q "file format $format\$" <("$host-objdump" -f "$file") ||
            { echo "$file: not a $bits-bit Windows file ($format)"; return 1; }
        resources=$(wrestool -l "$file") || { echo "$file: no resources"; return 1; }
        grep -q '\[type=version ' <<<"$resources" || { echo "$file: no version block"; return 1; }
        if [ "$(basename "$file")" = OstrelZeltoDLL.dll ]; then
            for entry in DllRegisterServer DllUnregisterServer DllGetClassObject DllCanUnloadNow; do
                grep -Eq "^[[:space:]]+\[ *[0-9]+\] $entry\$" <("$host-objdump" -p "$file") ||
                    { echo "$file: does not export $entry"; return 1; }
            done
            grep -q "^--type='TYPELIB' " <<<"$resources" ||
                { echo "$file: no type library"; return 1; }
            grep -qi "^--type='_IID_ZELTODLL' " <<<"$resources" ||
                { echo "$file: no interface identifier"; return 1; }
        fi
        echo "$file: $bits-bit ($format), resources and exports as they should be"
    done
}

# Starts the prefix's wineserver and keeps it for a batch of programs, so that each does not pay
# Wine's start-up; with SECONDS it ends by itself that long after the last Wine program. Wine's
# server and helpers outlive the caller: they must not hold its output open (a test runner waits
# for it to close), so their diagnostics go to LOG or nowhere. A server that already runs is kept.
zelto_server_start() { # [SECONDS] [LOG]
    zelto_ensure_prefix || return 1
    "$ZELTO_WINESERVER" "-p${1:-}" </dev/null >/dev/null 2>>"${2:-/dev/null}" || true
    "$ZELTO_WINE64" cmd /c exit </dev/null >/dev/null 2>&1
}

# Ends the prefix's wineserver and every Wine program of the prefix.
zelto_server_stop() {
    "$ZELTO_WINESERVER" -k 2>/dev/null || true
    timeout 60 "$ZELTO_WINESERVER" -w 2>/dev/null || true
}

# The Wine loader of a width.
zelto_wine_for() { # 64|32
    if [ "$1" = 64 ]; then echo "$ZELTO_WINE64"; else echo "$ZELTO_WINE32"; fi
}

# The automation server's registry keys that a program of that width sees, listed; nothing when
# it is not registered.
ZELTO_CLSID='{6570A0BF-9B8E-46CF-8EFE-E08580A34D9C}'
ZELTO_IID='{081D19C9-FC85-4717-93FE-DFDC9FDD014A}'
ZELTO_LIBID='{18E6F27D-DC63-4F6A-A9DB-23F965478573}'
ZELTO_PROGID=OstrelZeltoDLL.ZeltoDLL
zelto_server_keys() { # 64|32
    local key found
    for key in "CLSID\\$ZELTO_CLSID" "$ZELTO_PROGID" "Interface\\$ZELTO_IID" "TypeLib\\$ZELTO_LIBID"; do
        # Wine's reg prints its "not found" on standard output: only the status tells.
        found=$("$(zelto_wine_for "$1")" reg query "HKCR\\$key" /s 2>&1) && tr -d '\r' <<<"$found"
    done
}
