#!/usr/bin/env bash
# Builds the packages, from builds without tests, into OUT (build-packages/ by default):
#   libostrelzelto1_VERSION_amd64.deb     the shared library of the C interface
#   libostrelzelto-dev_VERSION_amd64.deb  the C++ library, the headers and the CMake package
#   ostrelzelto_VERSION_amd64.deb         zelto and zelto-sim
#       made by debhelper from debian/, in the native tree OUT/native
#   ostrelzelto-VERSION-py3-none-linux_x86_64.whl  the Python package with libostrelzelto.so.1
#   OstrelZelto-VERSION-setup.exe         the Windows setup program (NSIS, packaging/setup.nsi)
#   OstrelZelto-VERSION-windows.zip       the Windows zip (trees OUT/win64 and OUT/win32, gathered
#                                         by the native tree's CPackWindowsConfig.cmake)
#   tools/package.sh [OUT]
set -euo pipefail
root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
out=$(realpath -m "${1:-$root/build-packages}")
jobs=${JOBS:-$(nproc)}
mkdir -p "$out"

version=$(sed -n 's/^project(OstrelZelto VERSION \([0-9.]*\) .*/\1/p' "$root/CMakeLists.txt")
changelog=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
[ "$version" = "$changelog" ] || {
    echo "debian/changelog is for $changelog, the project is $version: add an entry" >&2
    exit 1
}

for bits in 64 32; do
    cmake -S "$root" -B "$out/win$bits" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZELTO_TESTS=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw$bits.cmake" >"$out/win$bits.log"
    cmake --build "$out/win$bits" -j"$jobs" --target OstrelZeltoDLL Warmscope >>"$out/win$bits.log"
done

rm -f "$out"/*.deb "$out"/*.zip "$out"/*.whl "$out"/*.exe "$out"/native/*.whl
# debhelper configures, builds and installs the native tree, and splits and checks what it installed.
# dh_clean forgets its last run but keeps the tree, which builds again only what changed.
(cd "$root" && dh_clean && env ZELTO_BUILD="$out/native" DEB_OUT="$out" \
    ZELTO_CMAKE_ARGS="-DZELTO_WIN64_BUILD=$out/win64 -DZELTO_WIN32_BUILD=$out/win32" \
    DEB_BUILD_OPTIONS="parallel=$jobs nocheck" debian/rules binary) >"$out/native.log" 2>&1 ||
    { tail -n 30 "$out/native.log"; exit 1; }

cmake --build "$out/native" --target python_wheel >>"$out/native.log"
mv "$out"/native/*.whl "$out"
(cd "$out/native" && cpack --config CPackWindowsConfig.cmake -B "$out") >"$out/cpack.log"
rm -rf "$out/_CPack_Packages"

# The setup program is a 32-bit program, which every Windows runs. The same script built as a 64-bit
# program (not a package) stands in for it in tests on machines that run no 32-bit programs.
setup() { # target, file
    makensis -V2 -WX -DTARGET="$1" -DOUTFILE="$2" -DVERSION="$version" -DWIN64="$out/win64/bin" \
        -DWIN32="$out/win32/bin" -DTOP="$out/native/packaging/windows-zip" -DDOCS="$root/docs" \
        "$root/packaging/setup.nsi" >>"$out/setup.log"
}
: >"$out/setup.log"
setup x86-unicode "$out/OstrelZelto-$version-setup.exe"
setup amd64-unicode "$out/native/OstrelZelto-$version-setup-x64.exe"

for package in "$out"/*.deb "$out"/*.whl "$out"/*.exe "$out"/*.zip; do
    echo "$package ($(stat -c %s "$package") bytes)"
done
