#!/usr/bin/env bash
# Creates (once) and configures the private Wine prefix that runs Quarry and
# its tests: a virtual desktop for headless runs, a CJK font behind the
# dialog fonts, and our WIMGAPI library as the prefix's system copy.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

STAMP=$WINEPREFIX/.quarry-prefix-v1
if [ ! -f "$STAMP" ]; then
  mkdir -p "$WINEPREFIX"
  "$WINE" wineboot -i >/dev/null 2>&1
  reg() { "$WINE" reg add "$@" /f >/dev/null 2>&1; }
  reg 'HKCU\Software\Wine\Explorer' /v Desktop /d Default
  reg 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768
  for face in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "Segoe UI" "Microsoft YaHei" \
              "Microsoft YaHei UI" "SimSun" "NSimSun" "Arial" "MS Sans Serif" "System"; do
    reg 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d "WenQuanYi Micro Hei"
  done
  "$WINESERVER" -w
  touch "$STAMP"
fi

# The WIMGAPI library is refreshed on every call so a rebuilt one is used.
for lib in "$QUARRY_BUILD/winelib/wimgapi.dll"; do
  if [ -f "$lib" ]; then
    cmp -s "$lib" "$WINEPREFIX/drive_c/windows/system32/wimgapi.dll" 2>/dev/null ||
      cp "$lib" "$WINEPREFIX/drive_c/windows/system32/wimgapi.dll"
  fi
done
