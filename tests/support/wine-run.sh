#!/usr/bin/env bash
# Runs a Windows program under 64-bit Wine in the build folder's own prefix.
# Under a lock (never inherited by the server or by wineboot's processes) it starts one persistent wineserver and initialises the prefix once, so a launch
# costs about 0.1 s instead of seconds. WINEPREFIX may be preset; otherwise it is
# <this build>/wineprefix, found through LOADER_BUILD_DIR or the current directory.
set -euo pipefail
build_dir=${LOADER_BUILD_DIR:-$PWD}
export WINEPREFIX=${WINEPREFIX:-$build_dir/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# LOADER_WINE picks the loader binary (the 32-bit "wine" for i686 builds); 64-bit by default.
wine64=${LOADER_WINE:-/usr/lib/wine/wine64}
[ -x "$wine64" ] || wine64=$(command -v wine64 || command -v wine)
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
mkdir -p "$WINEPREFIX"
(
  flock 9
  # Wine keeps the DISPLAY it first started with: restart the server when it changes.
  if [ -f "$WINEPREFIX/.display" ] && [ "$(cat "$WINEPREFIX/.display")" != "${DISPLAY:-}" ]; then
    "$wineserver" -k >/dev/null 2>&1 9>&- || true
    sleep 0.5
  fi
  echo "${DISPLAY:-}" > "$WINEPREFIX/.display"
  new_server=0
  "$wineserver" -p120 >/dev/null 2>&1 </dev/null 9>&- && new_server=1  # 2: one was running
  if [ ! -f "$WINEPREFIX/.initialised" ]; then
    "$wine64" wineboot -i >/dev/null 2>&1 </dev/null 9>&-
    # Xvfb runs no window manager: unmanaged windows get Wine's own captions and hide at once,
    # instead of waiting two seconds for a manager to withdraw them.
    "$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null 9>&-
    touch "$WINEPREFIX/.initialised"
  fi
  # The first program of a server session starts the session's system processes (services,
  # device drivers, the desktop), which inherit its standard streams and live as long as the
  # server. Were that first program the caller's, CTest would wait on its output pipe until the
  # server's idle timeout ends them, 120 s later. So a new session gets a throwaway first
  # program with its streams on /dev/null.
  if [ "$new_server" = 1 ]; then
    "$wine64" cmd /c exit 0 >/dev/null 2>&1 </dev/null 9>&- || true
  fi
) 9>"$WINEPREFIX.lock"
exec "$wine64" "$@"
