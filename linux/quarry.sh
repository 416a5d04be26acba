#!/usr/bin/env bash
# Starts the built Quarry on the user's display, in the desktop Wine prefix
# (no virtual desktop: every window of the program is a window of the
# desktop, with its taskbar entry). This is what the desktop entry runs;
# scripts/run.sh builds first and then comes here. Without a display the
# program runs inside a virtual X server, in the prefix of the tests.
#
# Arguments go to the program unchanged, except those that name an existing
# file or folder: Quarry is a Windows program, so such a path is handed on
# in its Windows form (/home/me/a.wim becomes Z:\home\me\a.wim). A switch
# such as /I is never taken for a path.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"

if [ ! -f "$QUARRY_BIN/Quarry.exe" ]; then
  echo "quarry: $QUARRY_BIN/Quarry.exe is missing; build it with ./scripts/run.sh" >&2
  exit 1
fi
if [ -n "${DISPLAY:-}" ]; then
  "$QUARRY_ROOT/scripts/wineprefix.sh" --desktop
  export WINEPREFIX=$QUARRY_DESKTOP_PREFIX
else
  "$QUARRY_ROOT/scripts/wineprefix.sh"
fi

# Drive Z: of a prefix is the Unix root; a prefix where it is not falls
# back on Wine's own conversion.
windows_path() { # absolute Unix path
  if [ "$(readlink "$WINEPREFIX/dosdevices/z:" 2>/dev/null)" = / ]; then
    local p=${1//\//\\}
    printf 'Z:%s' "$p"
  else
    "$WINE" winepath -w "$1" 2>/dev/null
  fi
}

args=()
for a in "$@"; do
  if [[ ! $a =~ ^/[A-Za-z]$ ]] && [ -n "$a" ] && [ -e "$a" ]; then
    a=$(windows_path "$(realpath -s -- "$a")")
  fi
  args+=("$a")
done

cd "$QUARRY_BIN"
if [ -n "${DISPLAY:-}" ]; then
  exec "$WINE" ./Quarry.exe "${args[@]}"
fi
echo "No display: starting Quarry inside Xvfb."
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$WINE" ./Quarry.exe "${args[@]}"
