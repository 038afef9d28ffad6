#!/usr/bin/env bash
# Builds each tree once (tools/lib/trees.sh) and runs every test suite against it: the native tests
# (address and undefined-behaviour sanitizers), the thread tests under ThreadSanitizer, the fuzz
# targets, what README.md tells a user to run (tools/user-paths.sh: the packages among them), and
# the Windows tests under Wine, on the same trees. Warnings are errors in all of them. Ends with one
# summary line per suite, with its time, and a verdict.
set -uo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."
. tools/lib/trees.sh
jobs=$(nproc)
summary=()
status=0
started=$SECONDS

# Runs a suite's command and keeps the line its log ends with (matching the pattern) and its time.
suite() { # name, pattern, command...
    local name=$1 pattern=$2 start=$SECONDS log line
    shift 2
    log=$(mktemp)
    echo "=== $name"
    "$@" 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    line=$(grep -E "$pattern" "$log" | tail -1)
    [ -n "$line" ] || line="$name: ended without a result"
    [ "$rc" -eq 0 ] || { status=1; [[ $line == *FAIL* || $line == *failed* ]] || line="$line (FAILED)"; }
    summary+=("$line [$((SECONDS - start)) s]")
    rm -f "$log"
}

# Each test program runs once for all its tests, side by side (most of them wait on the line):
# starting a sanitized process for each of some 670 tests took more time than the tests. A test
# that fails there is run again alone, as CTest runs it, and fails the suite only if it fails alone.
native() {
    zelto_tree dev || { echo "native: the build FAILED, no test ran"; return 1; }
    python3 tools/lib/grouped_tests.py build '' '' "$((2 * jobs))" |
        sed 's/^\([0-9]*% tests passed\)/native: \1/'
}

# Without address-space randomisation, as some kernels' randomisation leaves the sanitizer no room.
threads() {
    zelto_tree tsan board_e2e_tests ostrelzelto_shared zelto-sim zeltomodemlines wire_rows ||
        { echo "threads-tsan: the build FAILED, no test ran"; return 1; }
    TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/tsan.supp" setarch "$(uname -m)" -R \
        ctest --test-dir build-tsan --output-on-failure -j"$jobs" -R Threads --no-tests=error |
        sed 's/^\([0-9]*% tests passed\)/threads-tsan: \1/'
}

# Each Windows tree's tests under a wineserver of its own; a tree whose programs cannot run here
# is checked instead. They run the release tree's simulator, which the user paths made.
windows() { # bits
    local dir
    dir=$(zelto_tree_dir "win$1")
    zelto_tree release zelto-sim zeltomodemlines && zelto_tree "win$1" ||
        { echo "build-win$1: the build FAILED, no test ran"; return 1; }
    if [ "$1" = 32 ] && ! zelto_runs_32bit; then
        zelto_check_pe 32 "$dir/bin/OstrelZeltoDLL.dll" "$dir/bin/Warmscope.exe" &&
            echo "build-win32: $ZELTO_32BIT_NOT_RUN"
        return
    fi
    zelto_wine_env "$dir"
    zelto_server_start
    # A Wine program that could not start under load ends in a few milliseconds with no output;
    # such a test gets one more run, and a test that fails twice fails the suite.
    ctest --test-dir "$dir" --output-on-failure -j"$jobs" --repeat until-pass:2 |
        sed "s/^\([0-9]*% tests passed\)/build-win$1: \1/"
    local rc=${PIPESTATUS[0]}
    zelto_server_stop
    return "$rc"
}

export ZELTO_WERROR=ON
suite native '^native: ' native
suite threads-tsan '^threads-tsan: ' threads
# Each target for a bounded time; tools/fuzz.sh runs them longer.
suite fuzz '^fuzz: ' tools/fuzz.sh "${ZELTO_FUZZ_SECONDS:-20}"
suite 'user paths' '^user paths: ' tools/user-paths.sh
suite build-win64 '^build-win64: ' windows 64
suite build-win32 '^build-win32: ' windows 32

printf '%s\n' "${summary[@]}"
echo "the whole run: $((SECONDS - started)) s"
if [ "$status" -eq 0 ]; then echo "ALL TEST SUITES PASSED"; else echo "SOME TESTS FAILED"; fi
exit "$status"
