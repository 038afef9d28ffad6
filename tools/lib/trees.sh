# Sourced: the project's build trees. Each is made once and then used by every script that needs
# it: the test run, the user paths, the demonstration, the packages and the benchmarks.
#   zelto_tree NAME [TARGET...]   configures the tree when it is new or was configured otherwise,
#                                 then builds it (or just the targets)
#   zelto_tree_dir NAME           its folder
# The trees:
#   dev      build/          native Debug with the address and undefined-behaviour sanitizers, and
#                            the tests
#   tsan     build-tsan/     native Debug with ThreadSanitizer, for the thread tests
#   release  build-release/  native, as the Debian packages are built (debian/rules: Debian's flags
#                            and prefix), with the benchmarks
#   win64    build-win64/    64-bit Windows Release with its tests
#   win32    build-win32/    32-bit Windows Release; with its tests only where 32-bit programs run
#   fuzz     build-fuzz/     the fuzz targets (fuzz/), clang with libFuzzer and the sanitizers
# The Windows trees run the native simulator and modem-line emulation of the release tree.
# Warnings are errors in all of them. JOBS sets the parallelism (default: the number of cores).
ZELTO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$ZELTO_ROOT/tools/lib/wine.sh"

zelto_tree_dir() {
    case $1 in
    dev) echo "$ZELTO_ROOT/build" ;;
    *) echo "$ZELTO_ROOT/build-$1" ;;
    esac
}

# What the release tree is configured with besides debian/rules' own.
zelto_release_cmake_args() {
    echo "-DZELTO_BENCH=ON -DZELTO_WERROR=ON -DZELTO_WIN64_BUILD=$(zelto_tree_dir win64)" \
        "-DZELTO_WIN32_BUILD=$(zelto_tree_dir win32)"
}

# The configure step of a tree; its arguments are kept in the tree, and a tree whose arguments
# differ from these is configured again.
zelto_configure() { # name, dir
    local name=$1 dir=$2 args=() tests=ON
    case $name in
    dev | tsan) args=(--preset "$name") ;;
    release)
        # debhelper's own configure step, so that tools/package.sh builds nothing again.
        (cd "$ZELTO_ROOT" && ZELTO_BUILD="$dir" ZELTO_CMAKE_ARGS="$(zelto_release_cmake_args)" \
            debian/rules override_dh_auto_configure) >"$dir/zelto-configure.log" 2>&1 ||
            { cat "$dir/zelto-configure.log"; return 1; }
        return 0
        ;;
    win64 | win32)
        # Its tests would have to run to be listed.
        [ "$name" = win32 ] && ! zelto_runs_32bit && tests=OFF
        args=(--preset "$name" -DZELTO_TESTS=$tests -DZELTO_NATIVE_TOOLS_DIR="$(zelto_tree_dir release)")
        # The 32-bit tree also tests registration side by side with the 64-bit DLL.
        [ "$name" = win32 ] && args+=(-DZELTO_OTHER_WIDTH_DLL="$(zelto_tree_dir win64)/bin/OstrelZeltoDLL.dll")
        ;;
    fuzz)
        args=(-S "$ZELTO_ROOT/fuzz" -B "$dir" -G Ninja -DZELTO_WERROR=ON
            -DCMAKE_CXX_COMPILER="$(command -v clang++-14 || command -v clang++)")
        ;;
    *) echo "zelto_tree: no tree $name" >&2; return 2 ;;
    esac
    (cd "$ZELTO_ROOT" && cmake "${args[@]}")
}

zelto_tree() { # name, targets...
    local name=$1 dir stamp want
    shift
    dir=$(zelto_tree_dir "$name")
    want="$name $(zelto_runs_32bit && echo 32-bit || echo no-32-bit) $(sha1sum "$ZELTO_ROOT/tools/lib/trees.sh" \
        "$ZELTO_ROOT/CMakePresets.json" "$ZELTO_ROOT/debian/rules" | sha1sum)"
    stamp="$dir/.zelto-tree"
    if [ ! -f "$dir/CMakeCache.txt" ] || [ "$(cat "$stamp" 2>/dev/null)" != "$want" ]; then
        mkdir -p "$dir"
        zelto_configure "$name" "$dir" || return 1
        echo "$want" >"$stamp"
    fi
    local targets=()
    for t in "$@"; do targets+=(--target "$t"); done
    cmake --build "$dir" -j"${JOBS:-$(nproc)}" "${targets[@]}"
}
