#!/bin/bash
# Installs what is missing, builds both targets and runs the tests under Wine: the whole suite
# against the i686 release build, which users get, and the unit-test programs against the x86_64
# build as well. The fuzz targets run natively, once. Arguments go to both ctest runs.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
scripts/deps.sh
scripts/build.sh
source scripts/wine-session.sh
trap tarsel_wine_session_end EXIT

# Whether this machine runs 32-bit programs is found out, not assumed: a tiny i686 program says.
bitness=$(WINE_TIMEOUT=120 tools/wine-test-run build/i686/bin/bitness.exe 2>&1 | tr -d '\r') || true
status=0
if [ "$(tail -1 <<<"$bitness")" = 32 ]; then
  echo "=== i686 release build: the whole suite"
  ctest --test-dir build/i686 --output-on-failure --timeout 600 "$@" || status=$?
  echo "=== x86_64 build: the unit-test programs"
  ctest --test-dir build/x86_64 --output-on-failure --timeout 600 -L unit "$@" || status=$?
  [ $status -eq 0 ] && echo "=== passed: the i686 release build (whole suite) and the x86_64 build (unit tests)"
else
  echo "=== NOT RUN: the i686 release build's tests; this machine does not run 32-bit programs ($(tail -1 <<<"$bitness"))"
  echo "=== x86_64 build: the whole suite"
  ctest --test-dir build/x86_64 --output-on-failure --timeout 600 "$@" || status=$?
  echo "=== NOT A FULL PASS: the i686 release build was not tested"
fi
exit $status
