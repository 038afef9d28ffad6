#!/usr/bin/env bash
# Configures and builds the 64-bit and 32-bit Windows builds (build-win64/, build-win32/) with
# mingw-w64 and runs their tests under Wine, one wineserver per build. Each build dir gets a
# summary.txt whose last line is CTest's verdict. Exit status 0 when every build passed.
# JOBS sets the parallelism (default 2).
set -uo pipefail
root=$(cd "$(dirname "$(readlink -f "$0")")/../.." && pwd)
jobs=${JOBS:-2}
status=0

. "$root/tools/wine/env.sh"

# The wineserver of the build being tested; an interrupted run stops it too.
server_dir=
stop_server() {
    [ -n "$server_dir" ] && "$root/tools/wine/server.sh" stop "$server_dir"
    server_dir=
}
trap stop_server EXIT

for bits in 64 32; do
    dir="$root/build-win$bits"
    echo "=== Windows $bits-bit: $dir"
    extra=()
    if [ "$bits" = 32 ] && ! zelto_runs_32bit; then
        # Its tests would have to run to be listed: the tree is built without them, and the files
        # that would have been run are checked instead.
        echo "this machine cannot run 32-bit x86 programs: building and checking the 32-bit tree"
        if cmake -S "$root" -B "$dir" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw$bits.cmake" -DCMAKE_BUILD_TYPE=Debug \
            -DZELTO_WERROR=ON -DZELTO_TESTS=OFF &&
            cmake --build "$dir" -j"$jobs" &&
            zelto_check_pe 32 "$dir/bin/OstrelZeltoDLL.dll" "$dir/bin/Warmscope.exe"; then
            echo "$ZELTO_32BIT_NOT_RUN" >"$dir/summary.txt"
        else
            echo "32-bit: the build or its check FAILED" >"$dir/summary.txt"
            status=1
        fi
        continue
    fi
    # The native simulator and modem-line library are built once, by the 64-bit tree.
    if [ "$bits" = 32 ] && [ -x "$root/build-win64/native-tools/sim/zelto-sim" ]; then
        extra+=("-DZELTO_NATIVE_TOOLS_DIR=$root/build-win64/native-tools")
    fi
    # The 32-bit tree also tests registration side by side with the 64-bit DLL.
    if [ "$bits" = 32 ] && [ -f "$root/build-win64/bin/OstrelZeltoDLL.dll" ]; then
        extra+=("-DZELTO_OTHER_WIDTH_DLL=$root/build-win64/bin/OstrelZeltoDLL.dll")
    fi
    if ! cmake -S "$root" -B "$dir" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw$bits.cmake" -DCMAKE_BUILD_TYPE=Debug \
        -DZELTO_WERROR=ON "${extra[@]}" ||
        ! cmake --build "$dir" -j"$jobs"; then
        echo "build failed" >"$dir/summary.txt"
        status=1
        continue
    fi
    server_dir=$dir
    "$root/tools/wine/server.sh" start "$dir"
    # A Wine program that could not start under load ends in a few milliseconds with no output; such
    # a test gets one more run, and a test that fails twice fails the suite.
    ctest --test-dir "$dir" --output-on-failure -j"$jobs" --repeat until-pass:2 2>&1 | tee "$dir/ctest.log"
    rc=${PIPESTATUS[0]}
    stop_server
    grep -E 'tests passed|tests failed' "$dir/ctest.log" | tail -1 >"$dir/summary.txt"
    [ "$rc" -eq 0 ] || status=1
done
exit "$status"
