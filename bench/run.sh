#!/bin/bash
# Builds the benchmark in both builds of scripts/build.sh (the x86_64 test build and the i686 release,
# both with release flags) and runs each under Wine against its own local servers, the i686 one as a
# 32-bit program under WoW64. Prints each figure beside its goal, then one table of both builds.
# usage: bench/run.sh [part]   (part: stall, throttled, throughput, startup, memory, addresses,
#                               slowlink, satellite, slope, warmsize or newversion)
# With tarsel_before.exe (an earlier build) put beside tarsel.exe, the start-up, slow-link and slope
# parts measure it as well.
# BENCH_BUILDS="x86_64" (or "i686") measures one build only.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
builds=${BENCH_BUILDS:-x86_64 i686}
for arch in $builds; do
  cmake -S "$root" -B "$root/build/$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$root/build/$arch" -j2 --target fetch_bench >/dev/null
done
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
# The slow router and the emulated slow link run natively, outside Wine, like real ones.
work=$(mktemp -d)
python3 "$root/bench/slow_router.py" "$work/port" &
router_pid=$!
python3 "$root/bench/slow_link.py" "$work/link" &
link_pid=$!
trap 'kill $router_pid $link_pid 2>/dev/null || true; rm -rf "$work"; tarsel_wine_session_end' EXIT
for _ in $(seq 300); do [ -s "$work/port" ] && [ -s "$work/link" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { echo "the slow router wrote no port file within 30 s" >&2; exit 1; }
[ -s "$work/link" ] || { echo "the slow link wrote no port file within 30 s" >&2; exit 1; }
export BENCH_SLOW_ROUTER_PORT=$(cat "$work/port")
read -r BENCH_SLOW_LINK_PORT BENCH_SLOW_LINK_CONTROL <"$work/link"
export BENCH_SLOW_LINK_PORT BENCH_SLOW_LINK_CONTROL
export BENCH_RESULTS="$work/results"
status=0
for arch in $builds; do
  echo "== $arch"
  (cd "$root/build/$arch/bin" && WINE_TIMEOUT=900 "$root/tools/wine-run" fetch_bench.exe "${server_pid:-0}" "$@") ||
    status=1
done
echo
echo "== Both builds"
printf '%-7s %-56s %-76s %s\n' Build Goal Measured Verdict
while IFS=$'\t' read -r arch goal measured verdict; do
  printf '%-7s %-56s %-76s %s\n' "$arch" "$goal" "$measured" "$verdict"
done <"$work/results"
exit $status
