# Sourced by the demo and screenshot scripts.
# start_demo_router WORK SITE [router options...]: starts demo/router.py on a free port of 127.0.0.1
# in the background; sets router_pid and port.
start_demo_router() {
  local work=$1 site=$2
  shift 2
  python3 demo/router.py --port 0 --folder "$site" --port-file "$work/port" "$@" &
  router_pid=$!
  for _ in $(seq 300); do
    [ -s "$work/port" ] && break
    kill -0 "$router_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -s "$work/port" ] || { echo "the demo router wrote no port file within 30 s" >&2; return 1; }
  port=$(cat "$work/port")
}

# Empties the plugin cache of the wine prefix, so that the next run downloads everything.
clear_plugin_cache() {
  find "$WINEPREFIX/drive_c/users" -maxdepth 4 -type d -name Dunmoral -path '*/AppData/Roaming/*' \
    -exec rm -rf {} + 2>/dev/null || true
}
