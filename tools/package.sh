#!/usr/bin/env bash
# Builds the packages, from Release builds without tests, into OUT (build-packages/ by default):
#   ostrelzelto_VERSION_amd64.deb     the Debian package (native tree OUT/native)
#   ostrelzelto-VERSION-py3-none-any.whl  the Python package, for libostrelzelto.so.1 of the former
#   OstrelZelto-VERSION-windows.zip   the Windows zip (trees OUT/win64 and OUT/win32, gathered by
#                                     the native tree's CPackWindowsConfig.cmake)
#   tools/package.sh [OUT]
set -euo pipefail
root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
out=$(realpath -m "${1:-$root/build-packages}")
jobs=${JOBS:-$(nproc)}
mkdir -p "$out"

for bits in 64 32; do
    cmake -S "$root" -B "$out/win$bits" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZELTO_TESTS=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw$bits.cmake" >"$out/win$bits.log"
    cmake --build "$out/win$bits" -j"$jobs" --target OstrelZeltoDLL Warmscope >>"$out/win$bits.log"
done
cmake -S "$root" -B "$out/native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZELTO_TESTS=OFF \
    -DZELTO_WIN64_BUILD="$out/win64" -DZELTO_WIN32_BUILD="$out/win32" >"$out/native.log"
cmake --build "$out/native" -j"$jobs" >>"$out/native.log"

rm -f "$out"/*.deb "$out"/*.zip "$out"/*.whl "$out"/native/*.whl
cmake --build "$out/native" --target python_wheel >>"$out/native.log"
mv "$out"/native/*.whl "$out"
(cd "$out/native" && cpack -G DEB -B "$out" && cpack --config CPackWindowsConfig.cmake -B "$out") \
    >"$out/cpack.log"
rm -rf "$out/_CPack_Packages"
for package in "$out"/*.deb "$out"/*.whl "$out"/*.zip; do
    echo "$package ($(stat -c %s "$package") bytes)"
done
