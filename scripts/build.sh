#!/bin/bash
# Configures and builds both Windows targets: x86_64 (with tests) and i686 (the release program).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
jobs=$(nproc)
cmake -S . -B build/x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/x86_64 -j "$jobs"
if [ "${TARSEL_SKIP_I686:-0}" != 1 ]; then
  cmake -S . -B build/i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/i686 -j "$jobs"
fi
