#!/bin/bash
# Builds the benchmark of the network waits (x86_64, release flags) and runs it under wine64
# against its own local servers. Prints each figure beside its goal.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${BENCH_BUILD_DIR:-$root/build-bench}"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target fetch_bench >/dev/null
# Its own prefix by default, so that ending the session touches no one else's wineserver.
export WINEPREFIX="${WINEPREFIX:-$root/.wineprefix-bench}"
source "$root/scripts/wine-session.sh"
trap tarsel_wine_session_end EXIT
# The wineserver of this prefix, whose CPU time the benchmark reads as well.
server_pid=""
for pid in $(pgrep -x 'wineserver(64)?' || true); do
  if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
    server_pid=$pid
  fi
done
# The slow router runs natively, outside Wine, like a real one.
port_file=$(mktemp)
python3 "$root/bench/slow_router.py" "$port_file" &
router_pid=$!
trap 'kill $router_pid 2>/dev/null || true; rm -f "$port_file"; tarsel_wine_session_end' EXIT
for _ in $(seq 50); do [ -s "$port_file" ] && break; sleep 0.1; done
export BENCH_SLOW_ROUTER_PORT=$(cat "$port_file")
cd "$build/bin"
WINE_TIMEOUT=600 "$root/tools/wine-run" fetch_bench.exe "${server_pid:-0}" "$@"
