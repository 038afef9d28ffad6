#!/usr/bin/env bash
# Builds and runs every test suite: the native build (with AddressSanitizer and
# UndefinedBehaviorSanitizer) and, when the Windows build scripts are present, the Windows builds
# under Wine. Ends with one summary line.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
summary=()
status=0

run_suite() { # name, build dir, ctest extra args...
    local name=$1 dir=$2
    shift 2
    local log
    log=$(mktemp)
    ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@" 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    summary+=("$name: $(grep -E 'tests passed|tests failed' "$log" | tail -1)")
    rm -f "$log"
    [ "$rc" -eq 0 ] || status=1
}

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZELTO_SANITIZE=ON || exit 1
cmake --build build -j"$jobs" || exit 1
run_suite native build

# The fuzz targets, each for a bounded time (ZELTO_FUZZ_SECONDS, 60 by default).
fuzzlog=$(mktemp)
tools/fuzz.sh "${ZELTO_FUZZ_SECONDS:-60}" 2>&1 | tee "$fuzzlog"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
summary+=("fuzz: $(grep -c 'no failure' "$fuzzlog") targets ran without failure, $(grep -c 'FAILED' "$fuzzlog") failed")
rm -f "$fuzzlog"

if [ -x tools/wine/test-windows.sh ]; then
    tools/wine/test-windows.sh || status=1
    for dir in build-win64 build-win32; do
        [ -f "$dir/summary.txt" ] && summary+=("$dir: $(tail -1 "$dir/summary.txt")")
    done
fi

printf '%s\n' "${summary[@]}"
if [ "$status" -eq 0 ]; then echo "ALL TEST SUITES PASSED"; else echo "SOME TESTS FAILED"; fi
exit "$status"
