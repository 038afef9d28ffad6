#!/usr/bin/env bash
# server.sh start BUILD_DIR [SECONDS] | stop BUILD_DIR
# start: creates the build tree's prefix if needed and starts a persistent wineserver for a batch of
# tests, so that each program does not pay Wine's start-up; with SECONDS it ends by itself that long
# after the last Wine program. stop: ends the server and every Wine process of the prefix.
set -euo pipefail
here=$(dirname "$(readlink -f "$0")")
. "$here/../lib/wine.sh"
action=$1
zelto_wine_env "$2"

case $action in
start) zelto_server_start "${3:-}" ;;
stop) zelto_server_stop ;;
*)
    echo "usage: server.sh start BUILD_DIR [SECONDS] | stop BUILD_DIR" >&2
    exit 2
    ;;
esac
