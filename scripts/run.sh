#!/usr/bin/env bash
# Installs what is missing, builds, prepares the Wine prefix and starts Quarry.
#
#   run.sh [ARGUMENTS]       every argument goes to Quarry; one that names an
#                            existing file or folder in its Windows form
#   run.sh --install-desktop    adds Quarry to the applications menu and makes
#                               it open .wim, .swm and .esd files; then ends
#   run.sh --uninstall-desktop  takes all of that away again; then ends
#
# With a display Quarry runs in a prefix of its own without a virtual
# desktop, so its windows are ordinary windows of the desktop. Without one
# it runs inside a virtual X server, in the prefix of the tests.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

case "${1:-}" in
  --install-desktop | --uninstall-desktop)
    [ $# -eq 1 ] || { echo "run.sh: $1 takes no further arguments" >&2; exit 2; }
    if [ "$1" = --uninstall-desktop ]; then exec "$QUARRY_ROOT/linux/desktop.sh" uninstall; fi
    # The entry starts the program as it is built: build it now when it
    # never was, and make the desktop prefix, so the first start is quick.
    if [ ! -f "$QUARRY_BIN/Quarry.exe" ]; then
      "$QUARRY_ROOT/scripts/setup.sh"
      "$QUARRY_ROOT/scripts/build.sh"
    fi
    "$QUARRY_ROOT/scripts/wineprefix.sh" --desktop
    exec "$QUARRY_ROOT/linux/desktop.sh" install
    ;;
esac

"$QUARRY_ROOT/scripts/setup.sh"
"$QUARRY_ROOT/scripts/build.sh"
exec "$QUARRY_ROOT/linux/quarry.sh" "$@"
