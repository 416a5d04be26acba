#!/usr/bin/env bash
# Installs what is missing, builds, prepares the Wine prefix and starts Quarry.
# Without a display the program runs inside a virtual X server.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$QUARRY_ROOT/scripts/setup.sh"
"$QUARRY_ROOT/scripts/build.sh"
"$QUARRY_ROOT/scripts/wineprefix.sh"
cd "$QUARRY_BIN"
if [ -n "${DISPLAY:-}" ]; then
  exec "$WINE" ./Quarry.exe "$@"
else
  echo "No display: starting Quarry inside Xvfb."
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$WINE" ./Quarry.exe "$@"
fi
