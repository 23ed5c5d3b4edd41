# Sourced: gives the caller an X display and a ready wine prefix with a persistent wineserver.
# Wine's background processes get no terminal pipes, so nothing that waits on our output hangs on them.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$root/.wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  for n in $(seq 91 140); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    tarsel_xvfb_pid=$!
    export DISPLAY=":$n"
    # Up once it answers; a display taken by someone else ends our server at once.
    for _ in $(seq 300); do
      xdpyinfo >/dev/null 2>&1 && break
      kill -0 "$tarsel_xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    xdpyinfo >/dev/null 2>&1 && break
    kill "$tarsel_xvfb_pid" 2>/dev/null || true
    unset DISPLAY
  done
fi
# A prefix keeps what it was made with: one made before 32-bit Wine was installed cannot start 32-bit
# programs ("could not load kernel32.dll"). It remembers what made it, and is made again when that
# has changed. Only the project's own prefixes, or ones this script made, are ever deleted: a
# WINEPREFIX set by the caller may be someone's own Wine setup.
tarsel_wine_kind="$(/usr/lib/wine/wine64 --version 2>/dev/null), $([ -x /usr/lib/wine/wine ] && echo with || echo without) wine32"
tarsel_made_with=$(cat "$WINEPREFIX/.made-with" 2>/dev/null || true)
case "$(realpath -m "$WINEPREFIX")" in
  "$root"/*) tarsel_own_prefix=yes ;;
  *) [ -n "$tarsel_made_with" ] && tarsel_own_prefix=yes || tarsel_own_prefix=no ;;
esac
if [ -e "$WINEPREFIX/drive_c" ] && [ "$tarsel_made_with" != "$tarsel_wine_kind" ] && [ $tarsel_own_prefix = no ]; then
  echo "leaving $WINEPREFIX as it is: not made by this project; it may not start 32-bit programs" >&2
elif [ -e "$WINEPREFIX/drive_c" ] && [ "$tarsel_made_with" != "$tarsel_wine_kind" ]; then
  echo "making $WINEPREFIX again: made with $(cat "$WINEPREFIX/.made-with" 2>/dev/null || echo "an unknown Wine"), now $tarsel_wine_kind" >&2
  /usr/lib/wine/wineserver -k </dev/null >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
fi
# Started before anything else, so that it is this server that wine uses: Debian's wineserver
# wrapper, which wine would otherwise start, adds -p0 and so exits as soon as it is idle.
[ -e "$WINEPREFIX/drive_c" ] || tarsel_own_prefix=yes  # about to be made here
mkdir -p "$WINEPREFIX"
timeout -k 5 7200 /usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1 &
# The server is up once its socket, named after the prefix's device and inode, exists.
tarsel_server_dir=$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))
for _ in $(seq 300); do compgen -G "/tmp/*wine*/$tarsel_server_dir/socket" >/dev/null && break; sleep 0.1; done
compgen -G "/tmp/*wine*/$tarsel_server_dir/socket" >/dev/null ||
  echo "wine-session: no wineserver socket for $WINEPREFIX after 30 s; wine will start its own" >&2
timeout 300 /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1 || true
[ -e "$WINEPREFIX/drive_c" ] && [ $tarsel_own_prefix = yes ] && echo "$tarsel_wine_kind" > "$WINEPREFIX/.made-with"
# Wine's own fonts (Marlett draws the caption buttons) come in Debian's fonts-wine, outside the
# prefix, where this Wine does not look for them; its Fonts folder it does read.
if [ -d /usr/share/wine/fonts ] && [ -d "$WINEPREFIX/drive_c/windows/Fonts" ]; then
  cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
fi
# On our own Xvfb no window manager runs: let Wine frame its windows itself instead of waiting,
# at every show and close, for a manager that never answers.
if [ -n "${tarsel_xvfb_pid:-}" ]; then
  timeout 60 /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
    </dev/null >/dev/null 2>&1 || true
fi
tarsel_wine_session_end() {
  /usr/lib/wine/wineserver -k </dev/null >/dev/null 2>&1 || true
  [ -n "${tarsel_xvfb_pid:-}" ] && kill "$tarsel_xvfb_pid" 2>/dev/null || true
}
