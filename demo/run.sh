#!/bin/bash
# The demo: builds everything, serves the demo plugins from a local router on 127.0.0.1 and runs
# tarsel.exe against it twice under Wine. The first run downloads and caches the plugins; the
# second finds them current and only fetches the index.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

# The i686 release, as users get it. TARSEL_SKIP_BUILD=1 TARSEL_BUILD=<dir> reuse an existing build
# (build/x86_64 for the 64-bit one).
build="${TARSEL_BUILD:-$root/build/i686}"
if [ "${TARSEL_SKIP_BUILD:-0}" != 1 ]; then
  scripts/deps.sh
  scripts/build.sh
fi

export WINEPREFIX="$root/.wineprefix-demo"
source scripts/wine-session.sh
source demo/router-start.sh

work=$(mktemp -d)
router_pid=""
stop_all() {
  [ -n "$router_pid" ] && kill "$router_pid" 2>/dev/null && wait "$router_pid" 2>/dev/null || true
  tarsel_wine_session_end
  rm -rf "$work"
}
trap stop_all EXIT

# Without a screen of our own nobody can close the demo plugin's window: let it close by itself.
if [ -n "${tarsel_xvfb_pid:-}" ]; then
  export TARSEL_DEMO_CLOSE_AFTER="${TARSEL_DEMO_CLOSE_AFTER:-3}"
fi

site="$build/demo/site"
start_demo_router "$work" "$site" --log "$work/requests"

# Start from an empty plugin cache, so the first run has something to download.
clear_plugin_cache

run_tarsel() {
  local title=$1
  echo
  echo "=== $title: tarsel.exe 127.0.0.1:$port admin secret"
  : > "$work/requests"
  local status=0
  WINE_TIMEOUT=180 tools/wine-run "$build/bin/tarsel.exe" "127.0.0.1:$port" admin secret || status=$?
  # 255 is the loader's -1: the plugins' run was called and has returned.
  echo "--- exit status $status"
  echo "--- requests the router saw:"
  sed 's/^/    /' "$work/requests"
}

run_tarsel "first run (empty cache)"
run_tarsel "second run (plugins cached)"
