#!/bin/bash
# Takes screenshots on a private Xvfb screen: the progress dialog during a slow download, the demo
# plugin's window, and the connect dialog empty, with an address book sorted by login descending,
# made larger, and with its Tools menu open. Writes out/screenshots/progress.png, console.png,
# connect-empty.png, connect-sorted.png, connect-large.png and connect-tools.png; then, with the
# screen at 144 and at 192 DPI (150 and 200 %), progress-144.png, connect-144.png, progress-192.png
# and connect-192.png.
# Needs a build (scripts/build.sh); runs the i686 release tarsel.exe (TARSEL_BUILD=build/x86_64 for the
# 64-bit one) against the demo router on 127.0.0.1.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
build="${TARSEL_BUILD:-$root/build/i686}"
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

# await WHAT SECONDS CAPTION CONTROL: waits until the window shows the control, else says what
# tarsel.exe printed and ends the script.
await() {
  if ! boxwatch --timeout "$2" text "$3" "$4" >/dev/null; then
    echo "the $1 did not show; tarsel.exe said:" >&2
    cat "$work/tarsel.out" >&2
    exit 1
  fi
}

# The DPI of the screen as Wine reports it to the programs started after this.
set_dpi() {
  timeout 60 /usr/lib/wine/wine64 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
    </dev/null >/dev/null 2>&1
}
set_dpi 96

# shoot_progress FILE: starts a download of every plugin and shoots the progress dialog while the
# bar, rate and time left move; tarsel.exe keeps running (tarsel_pid).
progress_caption="127.0.0.1 - Veskaral tarsel"
shoot_progress() {
  clear_plugin_cache
  TARSEL_DEMO_CLOSE_AFTER=6 WINE_TIMEOUT=180 tools/wine-run "$build/bin/tarsel.exe" "127.0.0.1:$port" admin secret \
    > "$work/tarsel.out" 2>&1 &
  tarsel_pid=$!
  await "progress dialog" 60 "$progress_caption" 205
  # Until the time left has been reckoned: by then the bar and the rate have moved.
  local waited=0 left=""
  until left=$(boxwatch --timeout 10 text "$progress_caption" 205) && [ -n "$left" ]; do
    waited=$((waited + 1))
    [ $waited -lt 120 ] || { echo "the progress dialog showed no time left within 60 s" >&2; exit 1; }
    sleep 0.5
  done
  shoot "$progress_caption" "$1"
}

shoot_progress "$out/progress.png"

console_caption="Veskaral router console - 127.0.0.1"
await "demo plugin's window" 120 "$console_caption" 100
sleep 1  # drawn: nothing tells another program when a window has finished painting
shoot "$console_caption" "$out/console.png"

wait "$tarsel_pid" || true
tarsel_pid=""
cat "$work/tarsel.out"

# The connect dialog reads its settings file from the cache root the runs above made.
dunmoral=$(find "$WINEPREFIX/drive_c/users" -maxdepth 4 -type d -name Dunmoral -path '*/AppData/Roaming/*' | head -1)
[ -n "$dunmoral" ] || { echo "no cache root in the prefix" >&2; exit 1; }
settings="$dunmoral/tarsel/tarsel.cfg"

# write_settings KIND: an address book of five routers, sorted by login descending; "large" also
# stores a window of 700 x 460 pixels in the middle of the 1280 x 1024 screen.
write_settings() {
  python3 - "$settings" "$1" "$root/tests/support" <<'PY'
import struct, sys
path, kind = sys.argv[1], sys.argv[2]
sys.path.insert(0, sys.argv[3])
from records import addr, encode

window = [("type", b"window")]
if kind == "large":
    window.append(("bounds", struct.pack("<4i", 290, 282, 990, 742)))
window += [("type", b"addr"), ("login", b"admin"), ("keep-pwd", b"\0"),
           ("list-sort", struct.pack("<i", 1)), ("list-ascend", struct.pack("<i", 0))]
book = [("192.168.88.1", "admin", "office core"), ("10.0.0.1:8080", "root", "lab bench"),
        ("gw.example.lan", "operator", "branch gateway"), ("172.16.5.254", "backup", ""),
        ("10.10.10.10", "Admin", "upper-case login")]
with open(path, "wb") as f:
    f.write(encode(window, *(addr(host, login, note) for host, login, note in book)))
PY
}

connect_caption="Veskaral tarsel v3.2.8"
# shoot_connect FILE [menu]: starts tarsel.exe without arguments, shoots its connect dialog (with the
# Tools menu opened from the keyboard when asked) and cancels it.
shoot_connect() {
  local file=$1 menu=${2:-}
  WINE_TIMEOUT=120 tools/wine-run "$build/bin/tarsel.exe" > "$work/tarsel.out" 2>&1 &
  tarsel_pid=$!
  await "connect dialog" 60 "$connect_caption" 200
  sleep 1  # drawn: nothing tells another program when a window has finished painting
  if [ -n "$menu" ]; then
    boxwatch --timeout 60 active "$connect_caption" >/dev/null
    xdotool key alt+t
    boxwatch --timeout 60 menu >/dev/null || { echo "the Tools menu did not open" >&2; exit 1; }
    sleep 0.5  # drawn
    # The menu is a window of its own: take the screen around the dialog.
    local x y w h
    eval "$(xwininfo -name "$connect_caption" | awk '/Absolute upper-left X/ {print "x=" $4}
      /Absolute upper-left Y/ {print "y=" $4} /Width:/ {print "w=" $2} /Height:/ {print "h=" $2}')"
    import -display "$DISPLAY" -window root -crop "$((w + 160))x$((h + 40))+$x+$y" +repage "$file"
    echo "wrote $file"
    xdotool key Escape
    sleep 0.5  # the menu closes before the dialog is asked to
  else
    shoot "$connect_caption" "$file"
  fi
  boxwatch --timeout 10 esc "$connect_caption" >/dev/null
  wait "$tarsel_pid" || true
  tarsel_pid=""
}

rm -f "$settings"
shoot_connect "$out/connect-empty.png"
write_settings sorted
shoot_connect "$out/connect-sorted.png"
write_settings large
shoot_connect "$out/connect-large.png"
write_settings sorted
shoot_connect "$out/connect-tools.png" menu

for dpi in 144 192; do
  set_dpi "$dpi"
  shoot_progress "$out/progress-$dpi.png"
  wait "$tarsel_pid" || true
  tarsel_pid=""
  write_settings sorted
  shoot_connect "$out/connect-$dpi.png"
done
set_dpi 96
