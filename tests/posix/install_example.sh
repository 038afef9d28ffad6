#!/usr/bin/env bash
# Installs the build into a fresh prefix (with cmake --install, or by unpacking the Debian packages
# that tools/package.sh made), builds the example programs against the installed package alone,
# and runs them and the installed zelto against the simulator. Arguments: cmake, build dir, source
# dir, simulator, work dir, generator, C++ compiler, C compiler, and "deb:FOLDER" for the packages
# in FOLDER.
set -euo pipefail
cmake=$1 build=$2 source=$3 sim=$4 work=$5 generator=$6 compiler=$7 c_compiler=$8 how=${9:-install}

rm -rf "$work"
mkdir -p "$work"
if [ "${how%%:*}" = deb ]; then
  for package in libostrelzelto1 libostrelzelto-dev ostrelzelto; do
    deb=$(ls "${how#deb:}/${package}"_*.deb)
    dpkg-deb -c "$deb"
    dpkg-deb -x "$deb" "$work/root"
  done
  ln -s root/usr "$work/prefix"
  test -x "$work/prefix/bin/zelto-sim"
else
  "$cmake" --install "$build" --prefix "$work/prefix" >"$work/install.log"
fi
test -f "$work/prefix/include/ostrelzelto/zeltodll.h"
test -f "$work/prefix/include/ostrelzelto/posix_serial.h"
test -f "$work/prefix/include/ostrelzelto.h"
find -L "$work/prefix/" -name libostrelzelto.so.1 | grep -q .
# The example is copied out so that nothing of the source tree but the installed package is seen.
cp -r "$source/examples" "$work/examples"
"$cmake" -S "$work/examples" -B "$work/example-build" -G "$generator" \
  -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_C_COMPILER="$c_compiler" -DCMAKE_PREFIX_PATH="$work/prefix" \
  >"$work/configure.log"
"$cmake" --build "$work/example-build" >"$work/build.log"

coproc SIM { exec "$sim" --analog 0=777; }
trap 'kill "$SIM_PID" 2>/dev/null || true' EXIT
read -r -t 20 device <&"${SIM[0]}"
out=$("$work/example-build/read_a2d" "$device")
echo "read_a2d $device: $out"
test "$out" = "a2d(0) = 777"
# The C program finds the installed libostrelzelto.so.1, not the build tree's.
ldd "$work/example-build/read_a2d_c" |
  grep -F -e "libostrelzelto.so.1 => $work/prefix/" -e "libostrelzelto.so.1 => $work/root/"
out=$("$work/example-build/read_a2d_c" "$device")
echo "read_a2d_c $device: $out"
test "$out" = "a2d(0) = 777"
"$work/prefix/bin/zelto" ping "$device"

# A port that does not exist is reported with the component's error number.
if err=$("$work/example-build/read_a2d" /dev/zelto-no-such-device 2>&1); then
  echo "opened a missing device"; exit 1
fi
echo "$err"
case $err in "error 8101: "*) ;; *) exit 1 ;; esac
if err=$("$work/example-build/read_a2d_c" /dev/zelto-no-such-device 2>&1); then
  echo "the C program opened a missing device"; exit 1
fi
echo "$err"
case $err in "error 8101: "*) ;; *) exit 1 ;; esac
