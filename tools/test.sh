#!/usr/bin/env bash
# Builds and runs every test suite: the native build (with AddressSanitizer and
# UndefinedBehaviorSanitizer), the thread tests under ThreadSanitizer, the fuzz targets, the Windows
# builds under Wine, and what README.md tells a user to run (tools/user-paths.sh). Warnings are errors in all of these builds.
# Ends with one summary line.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
summary=()
status=0
wrap=()

run_suite() { # name, build dir, ctest extra args...; wrap: a command to run ctest through
    local name=$1 dir=$2
    shift 2
    local log
    log=$(mktemp)
    "${wrap[@]}" ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@" 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    summary+=("$name: $(grep -E 'tests passed|tests failed' "$log" | tail -1)")
    rm -f "$log"
    [ "$rc" -eq 0 ] || status=1
}

export ZELTO_WERROR=ON
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZELTO_SANITIZE=ON -DZELTO_WERROR=ON
if cmake --build build -j"$jobs"; then
    run_suite native build
else
    summary+=("native: the build FAILED, no test ran")
    status=1
fi

# The thread tests again under ThreadSanitizer, in a tree that builds only what they run. Without
# address-space randomisation, as some kernels' randomisation leaves the sanitizer no room.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZELTO_TSAN=ON -DZELTO_WERROR=ON
if cmake --build build-tsan -j"$jobs" --target board_e2e_tests ostrelzelto_shared zelto-sim \
    zeltomodemlines wire_rows; then
    wrap=(env TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/tsan.supp"
        setarch "$(uname -m)" -R)
    run_suite threads-tsan build-tsan -R Threads --no-tests=error
    wrap=()
else
    summary+=("threads-tsan: the build FAILED, no test ran")
    status=1
fi

# The fuzz targets, each for a bounded time (ZELTO_FUZZ_SECONDS, 60 by default).
fuzzlog=$(mktemp)
tools/fuzz.sh "${ZELTO_FUZZ_SECONDS:-60}" 2>&1 | tee "$fuzzlog"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
summary+=("$(grep '^fuzz: ' "$fuzzlog" | tail -1 | grep . || echo 'fuzz: ended without a result')")
rm -f "$fuzzlog"

if [ -x tools/wine/test-windows.sh ]; then
    tools/wine/test-windows.sh || status=1
    for dir in build-win64 build-win32; do
        [ -f "$dir/summary.txt" ] && summary+=("$dir: $(tail -1 "$dir/summary.txt")")
    done
fi

pathlog=$(mktemp)
tools/user-paths.sh 2>&1 | tee "$pathlog"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
summary+=("$(grep '^user paths: ' "$pathlog" | tail -1 | grep . || echo 'user paths: ended without a result')")
rm -f "$pathlog"

printf '%s\n' "${summary[@]}"
if [ "$status" -eq 0 ]; then echo "ALL TEST SUITES PASSED"; else echo "SOME TESTS FAILED"; fi
exit "$status"
