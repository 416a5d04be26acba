# Shared settings of the build and run scripts; sourced, not run.
QUARRY_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QUARRY_BUILD=${QUARRY_BUILD:-$QUARRY_ROOT/build}
QUARRY_BIN=$QUARRY_BUILD/x64/bin
export WINEPREFIX=${WINEPREFIX:-$QUARRY_BUILD/wineprefix}
# The prefix for a user's own display: the same set-up without the virtual
# desktop, so that each window of the program is a window of the desktop.
QUARRY_DESKTOP_PREFIX=${QUARRY_DESKTOP_PREFIX:-$QUARRY_BUILD/wineprefix-desktop}
# Wine's own error messages stay on: a program that dies early says why.
export WINEDEBUG=${WINEDEBUG:--all,err+all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Always the 64-bit loader: the 32-bit one cannot start on kernels
# without 32-bit support, and the program under test is x64.
export WINELOADER=/usr/lib/wine/wine64
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
