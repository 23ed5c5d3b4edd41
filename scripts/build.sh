#!/bin/bash
# Configures and builds both Windows targets, each with its tests: i686 (the release program users
# get) and x86_64 (the same sources as a 64-bit program).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
jobs=$(nproc)
for arch in i686 x86_64; do
  cmake -S . -B "build/$arch" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$arch.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "build/$arch" -j "$jobs"
done
