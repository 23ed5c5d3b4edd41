#!/bin/bash
# Takes two screenshots on a private Xvfb screen: the progress dialog during a slow download and
# the demo plugin's window. Writes out/screenshots/progress.png and out/screenshots/console.png.
# Needs a build (scripts/build.sh); runs tarsel.exe against the demo router on 127.0.0.1.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
build="${TARSEL_BUILD:-$root/build/x86_64}"
out="$root/out/screenshots"
for file in "$build/bin/tarsel.exe" "$build/bin/boxwatch.exe" "$build/demo/site/console.dll.gz"; do
  [ -e "$file" ] || { echo "missing $file: run scripts/build.sh first" >&2; exit 1; }
done
mkdir -p "$out"

export WINEPREFIX="$root/.wineprefix-screenshots"
unset DISPLAY  # always our own screen, never the user's desktop
source scripts/wine-session.sh
source demo/router-start.sh

work=$(mktemp -d)
router_pid=""
tarsel_pid=""
stop_all() {
  local pid
  for pid in $tarsel_pid $router_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  tarsel_wine_session_end
  rm -rf "$work"
}
trap stop_all EXIT


# Slow enough that the downloads last about ten seconds, whatever the size of the plugins.
site_bytes=$(cat "$build"/demo/site/*.gz | wc -c)
rate=$(( site_bytes / 10 > 1000 ? site_bytes / 10 : 1000 ))
start_demo_router "$work" "$build/demo/site" --rate "${TARSEL_SCREENSHOT_RATE:-$rate}"
clear_plugin_cache

boxwatch() { WINE_TIMEOUT=90 tools/wine-run "$build/bin/boxwatch.exe" "$@"; }

# The X window that Wine made for a caption, or the whole screen.
shoot() {
  local caption=$1 file=$2 id
  id=$(xwininfo -name "$caption" 2>/dev/null | awk '/Window id:/ {print $4}') || true
  if [ -n "$id" ]; then
    import -display "$DISPLAY" -window "$id" "$file"
  else
    import -display "$DISPLAY" -window root "$file"
  fi
  echo "wrote $file"
}

TARSEL_DEMO_CLOSE_AFTER=6 WINE_TIMEOUT=180 tools/wine-run "$build/bin/tarsel.exe" "127.0.0.1:$port" admin secret \
  > "$work/tarsel.out" 2>&1 &
tarsel_pid=$!

progress_caption="127.0.0.1 - Veskaral tarsel"
if boxwatch --timeout 60 text "$progress_caption" 205 >/dev/null; then
  sleep 3  # let the bar, rate and time left move
  shoot "$progress_caption" "$out/progress.png"
else
  echo "the progress dialog did not show; tarsel.exe said:" >&2
  cat "$work/tarsel.out" >&2
  exit 1
fi

console_caption="Veskaral router console - 127.0.0.1"
if boxwatch --timeout 120 text "$console_caption" 100 >/dev/null; then
  sleep 1
  shoot "$console_caption" "$out/console.png"
else
  echo "the demo plugin's window did not show; tarsel.exe said:" >&2
  cat "$work/tarsel.out" >&2
  exit 1
fi

wait "$tarsel_pid" || true
tarsel_pid=""
cat "$work/tarsel.out"
