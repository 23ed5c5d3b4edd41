#!/bin/bash
# Installs the Debian packages that building, testing and the demo need. Skips apt when all are there.
# The release program is 32-bit: Wine runs it with Debian's i386 wine32 beside wine64.
set -euo pipefail
packages=(
  cmake make python3 g++
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 libz-mingw-w64-dev
  googletest
  wine wine64 wine32:i386 fonts-wine
  xvfb xauth x11-utils imagemagick
  nginx-light
  xdotool
  clang libclang-rt-14-dev zlib1g-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
