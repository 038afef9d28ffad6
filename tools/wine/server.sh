#!/usr/bin/env bash
# server.sh start BUILD_DIR [SECONDS] | stop BUILD_DIR
# start: creates the build tree's prefix if needed and starts a persistent wineserver for a batch of
# tests, so that each program does not pay Wine's start-up; with SECONDS it ends by itself that long
# after the last Wine program. stop: ends the server and every Wine process of the prefix.
set -euo pipefail
here=$(dirname "$(readlink -f "$0")")
. "$here/env.sh"
action=$1
zelto_wine_env "$2"

case $action in
start)
    zelto_ensure_prefix
    # Wine's server and helper processes outlive this script: they must not hold the caller's
    # output open (a test runner waits for it to close). A server that already runs is kept.
    "$ZELTO_WINESERVER" "-p${3:-}" </dev/null >/dev/null 2>&1 || true
    "$ZELTO_WINE64" cmd /c exit </dev/null >/dev/null 2>&1
    ;;
stop)
    "$ZELTO_WINESERVER" -k 2>/dev/null || true
    timeout 60 "$ZELTO_WINESERVER" -w 2>/dev/null || true
    ;;
*)
    echo "usage: server.sh start BUILD_DIR [SECONDS] | stop BUILD_DIR" >&2
    exit 2
    ;;
esac
