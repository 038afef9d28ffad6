#!/usr/bin/env bash
# Runs a Windows program under Wine: run.sh 64|32 PROGRAM [ARGS...]. The prefix is WINEPREFIX when
# set, else the wine-prefix folder of the build tree around the working directory (created on first
# use). CMake uses this as the emulator of the cross builds.
set -euo pipefail
here=$(dirname "$(readlink -f "$0")")
. "$here/../lib/wine.sh"
bits=$1
shift
if [ -n "${WINEPREFIX:-}" ]; then
    zelto_wine_env "$(dirname "$WINEPREFIX")"
else
    build=$(zelto_find_build_dir) || { echo "run.sh: not inside a build tree" >&2; exit 2; }
    zelto_wine_env "$build"
fi
zelto_ensure_prefix
case $bits in
64) exec "$ZELTO_WINE64" "$@" ;;
32) exec "$ZELTO_WINE32" "$@" ;;
*) echo "run.sh: first argument is 64 or 32" >&2; exit 2 ;;
esac
