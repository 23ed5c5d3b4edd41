#!/bin/bash
# Installs the Debian packages that building, testing and the demo need. Skips apt when all are there.
# The release program is 32-bit: Wine runs it with Debian's i386 wine32 beside wine64.
set -euo pipefail
packages=(
  cmake make python3 g++ git
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 libz-mingw-w64-dev
  googletest libgtest-dev
  wine wine64 fonts-wine
  xvfb xauth x11-utils imagemagick
  nginx-light
  xdotool
  clang libclang-rt-14-dev zlib1g-dev
)
packages32=(wine32:i386)
missing() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t need < <(missing "${packages[@]}")
mapfile -t need32 < <(missing "${packages32[@]}")
[ ${#need[@]} -eq 0 ] && [ ${#need32[@]} -eq 0 ] && exit 0
echo "installing: ${need[*]} ${need32[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
[ ${#need32[@]} -eq 0 ] || dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
$sudo apt-get update
install() { DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "$@"; }
[ ${#need[@]} -eq 0 ] || install "${need[@]}"
# Without 32-bit Wine the x86_64 build can still be tested; scripts/test.sh says what was not run.
[ ${#need32[@]} -eq 0 ] || install "${need32[@]}" || echo "could not install ${need32[*]}: 32-bit programs will not run" >&2
