#!/usr/bin/env bash
# native_sim.sh SOURCE_DIR BUILD_DIR [ZELTO_SIM]: makes sure a native zelto-sim exists for the
# window's tests under Wine: the given one, or one built from SOURCE_DIR in BUILD_DIR.
set -uo pipefail
source=$1 build=$2 given=${3:-}
if [ -n "$given" ]; then
    [ -x "$given" ] && exit 0
    echo "native_sim.sh: $given is not a program" >&2
    exit 1
fi
{ [ -f "$build/CMakeCache.txt" ] || cmake -S "$source" -B "$build" -G Ninja -DZELTO_TESTS=OFF; } &&
    cmake --build "$build" -j2 --target zelto-sim
