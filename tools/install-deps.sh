#!/usr/bin/env bash
# Installs what building and testing needs on Debian 12. Safe to run again.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends \
  build-essential cmake ninja-build libcli11-dev help2man googletest libgtest-dev libgmock-dev clang clang-format \
  libclang-rt-14-dev python3 python3-serial python3-pip python3-setuptools python3-wheel python3-venv \
  debhelper lintian mypy nsis \
  socat ser2net xvfb x11-apps xdotool imagemagick icoutils \
  wine wine64 wine32:i386 wine64-tools libwine-dev fonts-wine fonts-liberation2 \
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
