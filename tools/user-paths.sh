#!/usr/bin/env bash
# Runs what README.md tells a user to run, from this tree, and fails when one of them fails:
#   release     the native Release build without tests, installed into a fresh prefix, and the
#               README's example built against that package and run against the simulator;
#   windows     the Release builds of OstrelZeltoDLL.dll (64-bit and 32-bit) and Warmscope.exe;
#   bench       the benchmarks build (they are not run);
#   screenshot  tools/demo.sh --screenshot FILE, with the window connected;
#   demo        tools/demo.sh without a display: it must report a connected reading and stop
#               cleanly on Ctrl-C.
# Builds go to build-release*/ and build-user-paths/. Ends with "user paths: N passed, N failed".
#   tools/user-paths.sh [path ...]
set -uo pipefail
root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
cd "$root"
. tools/lib/wait.sh
jobs=${JOBS:-$(nproc)}
out="$root/build-user-paths"
mkdir -p "$out"
passed=0
failed=0
failures=()

# Each path logs to its own file; the log is shown only when the path fails.
run_path() { # name, function
    local name=$1 log="$out/$1.log" start=$SECONDS
    echo "=== user path: $name"
    if "$2" >"$log" 2>&1; then
        passed=$((passed + 1))
        echo "user path $name: passed in $((SECONDS - start)) s"
    else
        failed=$((failed + 1))
        failures+=("$name")
        tail -n 40 "$log"
        echo "user path $name: FAILED in $((SECONDS - start)) s (log: $log)"
    fi
}

release() {
    local dir="$root/build-release"
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZELTO_TESTS=OFF -DZELTO_WERROR=ON \
        -DZELTO_BENCH=ON && cmake --build "$dir" -j"$jobs" &&
        bash tests/posix/install_example.sh cmake "$dir" "$root" "$dir/sim/zelto-sim" \
            "$out/installed" Ninja "$(command -v c++)"
}

windows() {
    local bits dir
    for bits in 64 32; do
        dir="$root/build-release-win$bits"
        cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZELTO_TESTS=OFF \
            -DZELTO_WERROR=ON -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw$bits.cmake" &&
            cmake --build "$dir" -j"$jobs" --target OstrelZeltoDLL Warmscope || return 1
        ls -l "$dir/bin/OstrelZeltoDLL.dll" "$dir/bin/Warmscope.exe" || return 1
    done
}

bench() {
    tools/bench.sh --build-only
}

screenshot() {
    local shot=warmscope.png said
    rm -f "$shot"
    said=$(tools/demo.sh --screenshot "$shot") || { echo "$said"; return 1; }
    echo "$said"
    # The demonstration reads the status and the reading back from the real window.
    grep -Eq '^demo: Temp=[0-9]+\.[0-9] F, Connected; screenshot ' <<<"$said" || return 1
    identify "$shot" | grep -q ' PNG '
}

demo() {
    local log="$out/demo-live.log" pid
    local reading='^[0-9:]+  Temp=[0-9]+\.[0-9] F  Connected  .*\.png$'
    # Without a display the demonstration makes its own and saves a picture every 5 s.
    env -u DISPLAY setsid tools/demo.sh >"$log" 2>&1 &
    pid=$!
    gone() { ! kill -0 "$pid" 2>/dev/null; }
    shown() { grep -Eq "$reading" "$log" || gone; }
    wait_until 240 shown
    kill -INT -- "-$pid" 2>/dev/null
    wait_until 30 gone
    cat "$log"
    if kill -0 "$pid" 2>/dev/null; then
        echo "the demonstration did not stop on Ctrl-C"
        kill -KILL -- "-$pid"
        return 1
    fi
    grep -Eq "$reading" "$log" &&
        test -s build-demo-win64/demo/screenshots/latest.png &&
        ! pgrep -f 'build-demo/sim/zelto-sim' >/dev/null
}

[ $# -gt 0 ] || set -- release windows bench screenshot demo
for path in "$@"; do
    run_path "$path" "$path"
done
[ "$failed" -eq 0 ] || echo "failed: ${failures[*]}"
echo "user paths: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
