#!/bin/bash
# Installs what is missing, builds both targets and runs every test under wine64.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
scripts/deps.sh
scripts/build.sh
source scripts/wine-session.sh
trap tarsel_wine_session_end EXIT
ctest --test-dir build/x86_64 --output-on-failure --timeout 600 "$@"
