#!/usr/bin/env bash
# Builds the packages from the project's build trees (tools/lib/trees.sh: the native release tree,
# which debhelper configures and builds, and the two Windows trees; each made when missing) into
# OUT (build-packages/ by default):
#   libostrelzelto1_VERSION_amd64.deb     the shared library of the C interface
#   libostrelzelto-dev_VERSION_amd64.deb  the C++ library, the headers and the CMake package
#   ostrelzelto_VERSION_amd64.deb         zelto and zelto-sim
#       made by debhelper from debian/
#   ostrelzelto-VERSION-py3-none-linux_x86_64.whl  the Python package with libostrelzelto.so.1
#   OstrelZelto-VERSION-setup.exe         the Windows setup program (NSIS, packaging/setup.nsi)
#   OstrelZelto-VERSION-windows.zip       the Windows zip (gathered by the release tree's
#                                         CPackWindowsConfig.cmake)
#   stand-in/OstrelZelto-VERSION-setup-x64.exe  the setup program built as a 64-bit program, for
#                                         tests on machines that run no 32-bit programs
#   tools/package.sh [OUT]
set -euo pipefail
root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
. "$root/tools/lib/trees.sh"
out=$(realpath -m "${1:-$root/build-packages}")
native=$(zelto_tree_dir release)
mkdir -p "$out"

version=$(sed -n 's/^project(OstrelZelto VERSION \([0-9.]*\) .*/\1/p' "$root/CMakeLists.txt")
changelog=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
[ "$version" = "$changelog" ] || {
    echo "debian/changelog is for $changelog, the project is $version: add an entry" >&2
    exit 1
}

for bits in 64 32; do
    zelto_tree "win$bits" OstrelZeltoDLL Warmscope >"$out/win$bits.log" ||
        { tail -n 30 "$out/win$bits.log"; exit 1; }
done

rm -rf "$out"/*.deb "$out"/*.zip "$out"/*.whl "$out"/*.exe "$native"/*.whl "$out/stand-in"
# debhelper configures, builds and installs the native tree, and splits and checks what it installed.
# dh_clean forgets its last run but keeps the tree, which builds again only what changed.
(cd "$root" && dh_clean && env ZELTO_BUILD="$native" DEB_OUT="$out" \
    ZELTO_CMAKE_ARGS="$(zelto_release_cmake_args)" \
    DEB_BUILD_OPTIONS="parallel=${JOBS:-$(nproc)} nocheck" debian/rules binary) >"$out/native.log" 2>&1 ||
    { tail -n 30 "$out/native.log"; exit 1; }

cmake --build "$native" --target python_wheel >>"$out/native.log"
mv "$native"/*.whl "$out"
(cd "$native" && cpack --config CPackWindowsConfig.cmake -B "$out") >"$out/cpack.log"
rm -rf "$out/_CPack_Packages"

# The setup program is a 32-bit program, which every Windows runs. The same script built as a 64-bit
# program (not a package) stands in for it in tests on machines that run no 32-bit programs.
setup() { # target, file
    makensis -V2 -WX -DTARGET="$1" -DOUTFILE="$2" -DVERSION="$version" -DWIN64="$(zelto_tree_dir win64)/bin" \
        -DWIN32="$(zelto_tree_dir win32)/bin" -DTOP="$native/packaging/windows-zip" -DDOCS="$root/docs" \
        "$root/packaging/setup.nsi" >>"$out/setup.log"
}
: >"$out/setup.log"
setup x86-unicode "$out/OstrelZelto-$version-setup.exe"
mkdir -p "$out/stand-in"
setup amd64-unicode "$out/stand-in/OstrelZelto-$version-setup-x64.exe"

for package in "$out"/*.deb "$out"/*.whl "$out"/*.exe "$out"/*.zip; do
    echo "$package ($(stat -c %s "$package") bytes)"
done
