# Sourced by the scripts beside it: the Wine programs and the prefix of a build tree.
# zelto_wine_env BUILD_DIR sets WINEPREFIX to BUILD_DIR/wine-prefix, quiet and isolated.
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
