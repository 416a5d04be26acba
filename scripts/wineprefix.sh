#!/usr/bin/env bash
# Creates (once) and configures the private Wine prefix that runs Quarry and
# its tests: a virtual desktop for headless runs, a CJK font behind the
# dialog fonts, the symbol font of the caption buttons, and our WIMGAPI
# library as the prefix's system copy.
#
#   wineprefix.sh            the prefix of the tests and of headless runs
#   wineprefix.sh --desktop  the prefix for a real display: the same, but
#                            without the virtual desktop, so the program's
#                            windows are ordinary windows of the desktop
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
VIRTUAL_DESKTOP=1
if [ "${1:-}" = --desktop ]; then
  export WINEPREFIX=$QUARRY_DESKTOP_PREFIX
  VIRTUAL_DESKTOP=0
  # Wine's menu builder would copy the prefix's start menu and file types
  # into the user's own menus and file associations; the desktop entry of
  # Quarry is made by linux/desktop.sh instead.
  export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
fi

STAMP=$WINEPREFIX/.quarry-prefix-v1
if [ ! -f "$STAMP" ]; then
  mkdir -p "$WINEPREFIX"
  # A first boot on a busy machine now and then fails to start Wine's
  # services in time, and a registry write right after it fails with it:
  # each step is tried again after the prefix has settled, and what the
  # last try printed is shown when it still fails.
  LOG=$(mktemp)
  trap 'rm -f "$LOG"' EXIT
  step() { # what command...
    local what=$1 try
    shift
    for try in 1 2 3; do
      "$@" >"$LOG" 2>&1 && return 0
      "$WINESERVER" -w 2>/dev/null || true
    done
    echo "wineprefix: $what failed three times in $WINEPREFIX:" >&2
    cat "$LOG" >&2
    return 1
  }
  step "wineboot" "$WINE" wineboot -i
  "$WINESERVER" -w
  reg() { step "reg add $1 $3" "$WINE" reg add "$@" /f; }
  if [ $VIRTUAL_DESKTOP = 1 ]; then
    reg 'HKCU\Software\Wine\Explorer' /v Desktop /d Default
    reg 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768
  else
    reg 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /d ""
  fi
  for face in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "Segoe UI" "Microsoft YaHei" \
              "Microsoft YaHei UI" "SimSun" "NSimSun" "Arial" "MS Sans Serif" "System"; do
    reg 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d "WenQuanYi Micro Hei"
  done
  "$WINESERVER" -w
  touch "$STAMP"
fi

# Caption buttons (minimise, maximise, close) are glyphs of the "Marlett"
# font. Debian's Wine 8.0 looks for its own fonts (package fonts-wine) under
# a path of the form Z:\usr\share\wine\../fonts, which its file-name lookup
# cannot resolve, so it never loads its marlett.ttf; the request for
# "Marlett" then falls back to a text font and the buttons show the letters
# "0", "1" and "r". A prefix loads every font in its own Windows font folder:
# Marlett goes there. Only Marlett: Wine's other fonts have no Chinese
# glyphs and would take the place of the CJK replacements set above.
MARLETT=/usr/share/wine/fonts/marlett.ttf
FONTS=$WINEPREFIX/drive_c/windows/Fonts
if [ -f "$MARLETT" ]; then
  mkdir -p "$FONTS"
  cmp -s "$MARLETT" "$FONTS/marlett.ttf" 2>/dev/null || cp "$MARLETT" "$FONTS/marlett.ttf"
else
  echo "wineprefix: $MARLETT is missing (package fonts-wine): caption buttons will show letters" >&2
fi

# The WIMGAPI library is refreshed on every call so a rebuilt one is used.
for lib in "$QUARRY_BUILD/winelib/wimgapi.dll"; do
  if [ -f "$lib" ]; then
    cmp -s "$lib" "$WINEPREFIX/drive_c/windows/system32/wimgapi.dll" 2>/dev/null ||
      cp "$lib" "$WINEPREFIX/drive_c/windows/system32/wimgapi.dll"
  fi
done
