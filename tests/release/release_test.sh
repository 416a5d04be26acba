#!/usr/bin/env bash
# The Windows release, as a Windows user gets it.
#
#   release_test.sh archive    the portable zip holds exactly the listed files,
#                              Windows programs only; a wimlib DLL given to
#                              package.sh is packed, the Wine bridge refused
#   release_test.sh installer  in a Wine prefix made for this run: a silent
#                              install of an earlier version, the program run
#                              and a setting changed, a silent upgrade that
#                              keeps it; files, uninstall entry, extension
#                              registration and Start-menu shortcut there; the
#                              program starts from the installed folder and
#                              shows its window; the property page comes
#                              through COM from the installed extension; a
#                              silent uninstall leaves the registry as it was
#                              and only the kept settings file; an install into
#                              another folder (/D=) with the association and
#                              the verbs ticked, and an uninstall that is asked
#                              to remove the settings, leave nothing at all
#
# Needs a build (scripts/build.sh); makes the release with scripts/package.sh
# into a folder of its own.
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
HERE=$ROOT/tests/release
source "$ROOT/scripts/env.sh"
MODE=${1:-}
CHECK=${RELEASE_CHECK:-$QUARRY_BIN/release_check.exe}
WORK=$QUARRY_BUILD/release-test/$MODE
REGFILE=(python3 "$HERE/regfile.py")
VERSION=$(sed -nE 's/^#define QUARRY_VERSION_TEXT "([0-9.]+)"$/\1/p' "$QUARRY_BUILD/x64/generated/quarry_version.h")

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }
expect_eq() { # what expected actual
  if [ "$2" = "$3" ]; then ok "$1"; else fail "$1: expected [$2], got [$3]"; fi
}
finish() {
  if [ $failures -eq 0 ]; then echo "release $MODE: all checks passed"; exit 0; fi
  echo "release $MODE: $failures checks failed"
  exit 1
}

rm -rf "$WORK"
mkdir -p "$WORK"

package() { # dist-folder [VAR=value...]
  local dist=$1
  shift
  env QUARRY_DIST="$dist" "$@" "$ROOT/scripts/package.sh" >"$WORK/package.log" 2>&1
}

# ----------------------------------------------------------------- archive

test_archive() {
  if ! package "$WORK/dist"; then
    cat "$WORK/package.log"
    fail "package.sh"
    finish
  fi
  local zip=$WORK/dist/Quarry-$VERSION-x64.zip
  [ -f "$zip" ] && ok "the archive is named after the version" || fail "no $zip"
  [ -f "$WORK/dist/Quarry-$VERSION-setup.exe" ] && ok "the installer is named after the version" ||
    fail "no Quarry-$VERSION-setup.exe"
  expect_eq "the archive holds the program, both extension builds, the wimlib note, licences and README" \
    "$(printf '%s\n' LICENSE.txt Quarry.exe README.txt Tessel64.dll Tessel86.dll wimlib/ wimlib/COPYING.txt \
      wimlib/README.txt)" "$(unzip -Z1 "$zip" | sort)"

  local x=$WORK/unzipped
  mkdir -p "$x" && unzip -q "$zip" -d "$x"
  for f in Quarry.exe Tessel64.dll Tessel86.dll; do
    cmp -s "$x/$f" "$QUARRY_BUILD/$([ $f = Tessel86.dll ] && echo x86 || echo x64)/bin/$f" &&
      ok "$f is the built one" || fail "$f differs from the build"
  done
  # Each carries the project's one version, as Windows shows it.
  for f in Quarry.exe Tessel64.dll Tessel86.dll; do
    expect_eq "$f: file version" "$VERSION.0" "$(python3 "$HERE/version_of.py" "$x/$f" FileVersion)"
    expect_eq "$f: product version" "$VERSION" "$(python3 "$HERE/version_of.py" "$x/$f" ProductVersion)"
  done
  expect_eq "Quarry.exe: file name" Quarry.exe "$(python3 "$HERE/version_of.py" "$x/Quarry.exe" OriginalFilename)"
  # The program's manifest names the same version as its version resource.
  expect_eq "Quarry.exe: manifest version" "$VERSION.0" \
    "$(grep -a -o 'name="KLO.Quarry" version="[0-9.]*"' "$x/Quarry.exe" | sed -E 's/.*version="([0-9.]+)"/\1/')"
  # The version is the one of the project.
  expect_eq "the version is the project's" \
    "$(sed -nE 's/^project\(Quarry VERSION ([0-9.]+) .*/\1/p' "$ROOT/CMakeLists.txt")" "$VERSION"
  # Windows programs only: no ELF file (the Wine bridge is one) anywhere.
  local elf
  elf=$(find "$x" -type f -exec sh -c 'head -c 4 "$1" | grep -q "ELF" && echo "$1"' _ {} \;)
  expect_eq "nothing of the Wine build is in the archive" "" "$elf"
  grep -q "wimlib $(sed -nE 's/^#define WIMLIB_MAJOR_VERSION ([0-9]+)$/\1/p' /usr/include/wimlib.h)\.$(
    sed -nE 's/^#define WIMLIB_MINOR_VERSION ([0-9]+)$/\1/p' /usr/include/wimlib.h)\.$(
    sed -nE 's/^#define WIMLIB_PATCH_VERSION ([0-9]+)$/\1/p' /usr/include/wimlib.h)" "$x/wimlib/README.txt" &&
    ok "the wimlib note names the release of the headers we build against" ||
    fail "the wimlib note does not name wimlib's release: $(head -n 3 "$x/wimlib/README.txt")"
  grep -q 'libwim-15.dll' "$x/wimlib/README.txt" && ok "the wimlib note names the DLL" ||
    fail "the wimlib note does not name libwim-15.dll"
  grep -q "Quarry $VERSION" "$x/README.txt" && ok "the README names the version" || fail "README.txt: no version"

  # A Windows build of wimlib given to the script goes into wimlib/. Any PE
  # file stands in for it here.
  if package "$WORK/dist-dll" WIMLIB_DLL="$QUARRY_BIN/Tessel64.dll"; then
    grep -qx 'wimlib/libwim-15.dll' <<<"$(unzip -Z1 "$WORK/dist-dll/Quarry-$VERSION-x64.zip")" &&
      ok "WIMLIB_DLL is packed as wimlib/libwim-15.dll" || fail "WIMLIB_DLL was not packed"
  else
    cat "$WORK/package.log"
    fail "package.sh with WIMLIB_DLL"
  fi
  # The bridge of the Wine build has the same name but is no Windows DLL.
  if [ -f "$QUARRY_BUILD/winelib/libwim-15.dll" ]; then
    if package "$WORK/dist-elf" WIMLIB_DLL="$QUARRY_BUILD/winelib/libwim-15.dll"; then
      fail "package.sh packed the Wine bridge as the wimlib DLL"
    else
      ok "the Wine bridge is refused as the wimlib DLL"
    fi
    [ ! -e "$WORK/dist-elf/Quarry-$VERSION-x64.zip" ] && ok "a refused run leaves no archive" ||
      fail "a refused run left an archive"
  fi
  finish
}

# --------------------------------------------------------------- installer

export WINEPREFIX=$WORK/prefix
export WINEDEBUG=-all
# Wine's menu builder would copy the Start-menu shortcut into the desktop
# menus of the user running the test.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wine_run() { "$WINE" "$@" </dev/null; }
# Waits until every program of the prefix has ended (the uninstaller runs
# on from a copy of itself after the one started has returned).
settle() { "$WINESERVER" -w; }
export_registry() { # file
  rm -f "$1"
  wine_run regedit /E "$(winepath_w "$1")" >/dev/null 2>&1
  [ -s "$1" ] || fail "regedit /E $1"
}
winepath_w() { "$WINE" winepath -w "$1" 2>/dev/null </dev/null | tr -d '\r'; }
unix_of() { "$WINE" winepath -u "$1" 2>/dev/null </dev/null | tr -d '\r'; }

CLSID='{8BAC8316-CC4B-43e3-A7FD-A8178E003869}'
HKLM=HKEY_LOCAL_MACHINE
CLASSES=$HKLM\\Software\\Classes
UNINSTALL=$HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quarry
APPROVED="$HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved"

reg_get() { "${REGFILE[@]}" get "$@"; }
# The registry export taken by check_installed for a step.
regfile_of() { echo "$WORK/reg-${1//[^a-zA-Z0-9]/_}.reg"; }

# The files an install puts into its folder.
INSTALLED_FILES=$(printf '%s\n' LICENSE.txt Quarry.exe README.txt Tessel64.dll Tessel86.dll uninstall.exe \
  wimlib wimlib/COPYING.txt wimlib/README.txt)

check_installed() { # windows-folder version what
  local dir=$1 version=$2 what=$3 reg
  reg=$(regfile_of "$3")
  local unix
  unix=$(unix_of "$dir")
  expect_eq "$what: the files are in $dir" "$INSTALLED_FILES" \
    "$(cd "$unix" 2>/dev/null && find . -mindepth 1 ! -name Quarry.ini ! -name '*.new' | sed 's|^\./||' | sort)"
  export_registry "$reg"
  expect_eq "$what: uninstall entry, name" "Quarry" "$(reg_get "$reg" "$UNINSTALL" DisplayName)"
  expect_eq "$what: uninstall entry, version" "$version" "$(reg_get "$reg" "$UNINSTALL" DisplayVersion)"
  expect_eq "$what: uninstall entry, publisher" "KLO" "$(reg_get "$reg" "$UNINSTALL" Publisher)"
  expect_eq "$what: uninstall entry, icon" "$dir\\Quarry.exe,0" "$(reg_get "$reg" "$UNINSTALL" DisplayIcon)"
  expect_eq "$what: uninstall entry, uninstaller" "\"$dir\\uninstall.exe\"" \
    "$(reg_get "$reg" "$UNINSTALL" UninstallString)"
  expect_eq "$what: uninstall entry, silent uninstaller" "\"$dir\\uninstall.exe\" /S" \
    "$(reg_get "$reg" "$UNINSTALL" QuietUninstallString)"
  local size
  size=$(reg_get "$reg" "$UNINSTALL" EstimatedSize)
  [[ $size =~ ^dword:([0-9a-f]{8})$ ]] && [ $((16#${BASH_REMATCH[1]})) -gt 100 ] &&
    ok "$what: uninstall entry, size in KB ($((16#${BASH_REMATCH[1]})))" || fail "$what: EstimatedSize [$size]"
  expect_eq "$what: the extension's class is registered from the installed DLL" "$dir\\Tessel64.dll" \
    "$(reg_get "$reg" "$CLASSES\\CLSID\\$CLSID\\InprocServer32")"
  expect_eq "$what: the extension is approved" "Quarry Shell Extension" "$(reg_get "$reg" "$APPROVED" "$CLSID")"
  "${REGFILE[@]}" has "$reg" "$CLASSES\\KLO.QUARRY.WIM\\shellex\\PropertySheetHandlers\\$CLSID" &&
    ok "$what: the property page is hooked to WIM files" || fail "$what: no property-sheet handler key"
  if [ "$CAN_RUN_32" = 1 ]; then
    expect_eq "$what: the 32-bit extension is registered for 32-bit programs" "$dir\\Tessel86.dll" \
      "$(reg_get "$reg" "$CLASSES\\Wow6432Node\\CLSID\\$CLSID\\InprocServer32")"
  else
    echo "skipped: $what: the 32-bit registration (this machine cannot run 32-bit programs)"
  fi
  [ -f "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Quarry.lnk" ] &&
    ok "$what: Start-menu shortcut for all users" || fail "$what: no Start-menu shortcut"
}

# Quarry.ini of a folder as text (it is UTF-16).
settings_text() { # unix-folder
  local f=$1/Quarry.ini
  [ -f "$f" ] || return 1
  if [ "$(head -c 2 "$f" | od -An -tx1 | tr -d ' ')" = fffe ]; then iconv -f UTF-16 -t UTF-8 "$f"; else cat "$f"; fi |
    tr -d '\r'
}

run_program_and_close() { # windows-exe what
  "$WINE" "$1" </dev/null >/dev/null 2>&1 &
  local pid=$!
  local out
  if out=$(wine_run "$CHECK" window "$1" 2>&1); then
    ok "$2: the program shows its window (${out#window: })"
  else
    fail "$2: $out"
    kill "$pid" 2>/dev/null
  fi
  wait "$pid"
  settle
}

test_installer() {
  if ! package "$WORK/dist"; then
    cat "$WORK/package.log"
    fail "package.sh"
    finish
  fi
  local setup=$WORK/dist/Quarry-$VERSION-setup.exe old=$WORK/Quarry-0.9.0-setup.exe
  # An installer of an earlier version number. Its programs are told apart
  # from the new ones by a few bytes after their end, which Windows ignores.
  local oldstage=$WORK/stage-0.9.0
  cp -r "$QUARRY_BUILD/package/stage" "$oldstage"
  for f in Quarry.exe Tessel64.dll Tessel86.dll; do printf 'an earlier build' >>"$oldstage/$f"; done
  if ! makensis -V2 -INPUTCHARSET UTF8 -DVERSION=0.9.0 -DSTAGE="$oldstage" -DOUTFILE="$old" \
    "$ROOT/installer/quarry.nsi" >"$WORK/makensis.log" 2>&1; then
    cat "$WORK/makensis.log"
    fail "makensis -DVERSION=0.9.0"
    finish
  fi

  # A prefix of this run only.
  "$WINESERVER" -k 2>/dev/null
  rm -rf "$WINEPREFIX"
  if ! wine_run wineboot -i >"$WORK/wineboot.log" 2>&1; then
    cat "$WORK/wineboot.log"
    fail "wineboot"
    finish
  fi
  settle
  cp "$CHECK" "$WINEPREFIX/drive_c/release_check.exe"
  CHECK='C:\release_check.exe'
  CAN_RUN_32=0
  [ -f "$WINEPREFIX/drive_c/windows/syswow64/cmd.exe" ] &&
    "$WINE" 'C:\windows\syswow64\cmd.exe' /c exit </dev/null >/dev/null 2>&1 && CAN_RUN_32=1
  settle
  export_registry "$WORK/before.reg"
  settle

  local pf='C:\Program Files\Quarry' pfu
  pfu=$(unix_of "$pf")

  # An earlier version, its program run once (it writes its settings on
  # exit), a setting changed by the user.
  wine_run "$(winepath_w "$old")" /S
  settle
  check_installed "$pf" 0.9.0 "earlier version"
  run_program_and_close "$pf\\Quarry.exe" "earlier version"
  if grep -q '^AutoPopMList=0$' <<<"$(settings_text "$pfu")"; then
    ok "the program wrote its settings beside it"
    # The user turns on the mount list after each mount.
    python3 - "$pfu/Quarry.ini" <<'EOF'
import sys
p = sys.argv[1]
raw = open(p, "rb").read()
if raw.startswith(b"\xff\xfe"):
    text = raw[2:].decode("utf-16-le").replace("AutoPopMList=0", "AutoPopMList=1")
    open(p, "wb").write(b"\xff\xfe" + text.encode("utf-16-le"))
else:
    open(p, "wb").write(raw.replace(b"AutoPopMList=0", b"AutoPopMList=1"))
EOF
  else
    fail "no settings file with AutoPopMList=0 in $pfu: $(settings_text "$pfu" | head -n 20)"
  fi

  # The upgrade, while a program holds the old extension loaded (as Explorer
  # does once it has shown the page): files replaced, settings kept.
  local held=$WORK/held.out flag='C:\release-let-go'
  wine_run "$CHECK" hold "$flag" >"$held" 2>&1 &
  local holder=$!
  local tries=0
  until grep -q '^held:' "$held" || ! kill -0 $holder 2>/dev/null || [ $tries -ge 1200 ]; do
    sleep 0.1
    tries=$((tries + 1))
  done
  grep -q '^held:' "$held" && ok "the old extension is held loaded" || fail "hold: $(cat "$held")"
  wine_run "$(winepath_w "$setup")" /S
  local upgrade_rc=$?
  expect_eq "upgrade: the installer ends without error while the extension is in use" 0 $upgrade_rc
  # While it is in use, the old file stays and the new one waits beside it,
  # named for the move at the next start of the system.
  cmp -s "$pfu/Tessel64.dll" "$oldstage/Tessel64.dll" && ok "upgrade: the extension in use is left as it is" ||
    fail "upgrade: the extension in use was overwritten while held"
  cmp -s "$pfu/Tessel64.dll.new" "$QUARRY_BIN/Tessel64.dll" && ok "upgrade: the new extension waits beside the old" ||
    fail "upgrade: the new extension is not beside the old one"
  export_registry "$WORK/pending.reg"
  grep -qi 'Tessel64.dll.new' <<<"$("${REGFILE[@]}" get "$WORK/pending.reg" \
    "$HKLM\\System\\CurrentControlSet\\Control\\Session Manager" PendingFileRenameOperations)" &&
    ok "upgrade: the extension is replaced at the next start" || fail "upgrade: no replacement at the next start"
  touch "$(unix_of "$flag")"
  wait $holder
  settle
  # The next start of the system (Wine's restart carries out the moves).
  wine_run wineboot -r >/dev/null 2>&1
  settle
  cmp -s "$pfu/Tessel64.dll" "$QUARRY_BIN/Tessel64.dll" && ok "restart: the new extension is in place" ||
    fail "restart: the extension is still the old one"
  check_installed "$pf" "$VERSION" "upgrade"
  cmp -s "$pfu/Quarry.exe" "$QUARRY_BIN/Quarry.exe" && ok "upgrade: the program is the new one" ||
    fail "upgrade: Quarry.exe is not the new build"
  expect_eq "upgrade: no new file is left waiting" "" "$(cd "$pfu" && find . -name '*.new')"
  grep -q '^AutoPopMList=1$' <<<"$(settings_text "$pfu")" && ok "upgrade: the changed setting is kept" ||
    fail "upgrade: the changed setting is lost: $(settings_text "$pfu" | grep AutoPop)"
  "${REGFILE[@]}" has "$(regfile_of upgrade)" "$CLASSES\\.wim" &&
    fail "upgrade: .wim is associated though nobody asked" || ok "upgrade: no file association unasked"

  run_program_and_close "$pf\\Quarry.exe" "installed"

  # The property page, through COM, from the installed extension.
  local wim=$WINEPREFIX/drive_c/image.wim out
  mkdir -p "$WORK/src" && echo hello >"$WORK/src/a.txt"
  wimlib-imagex capture "$WORK/src" "$wim" "one" >/dev/null
  wimlib-imagex append "$WORK/src" "$wim" "two" >/dev/null
  if out=$(wine_run "$CHECK" page 'C:\' image.wim 2>&1); then
    expect_eq "the page comes from the installed extension" "server: $pf\\Tessel64.dll" \
      "$(grep '^server:' <<<"$out" | tr -d '\r')"
    grep -q '^row: .*2' <<<"$out" && ok "the page lists the file's header (two images)" ||
      fail "the page's rows: $out"
  else
    fail "property page: $out"
  fi
  settle

  # Silent uninstall, settings kept.
  wine_run "$pf\\uninstall.exe" /S
  settle
  export_registry "$WORK/after-uninstall.reg"
  local diff
  diff=$("${REGFILE[@]}" diff "$WORK/before.reg" "$WORK/after-uninstall.reg")
  expect_eq "uninstall: the registry is as it was before the install" "" "$diff"
  expect_eq "uninstall: only the settings file is left" "Quarry.ini" \
    "$(cd "$pfu" 2>/dev/null && find . -mindepth 1 | sed 's|^\./||' | sort)"
  [ ! -e "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Quarry.lnk" ] &&
    ok "uninstall: the shortcut is gone" || fail "uninstall: the shortcut is left"

  # Another folder (/D=, with a blank), association and verbs ticked.
  local other='C:\Tools\My Quarry' otheru
  # As typed at a command prompt: /D= last and unquoted.
  wine_run cmd /c "$(winepath_w "$setup") /S /SHELL /D=$other"
  settle
  otheru=$(unix_of "$other")
  check_installed "$other" "$VERSION" "/D= install"
  local reg
  reg=$(regfile_of "/D= install")
  expect_eq "/D= install: .wim opens with Quarry" "KLO.QUARRY.WIM" "$(reg_get "$reg" "$CLASSES\\.WIM")"
  expect_eq "/D= install: .esd opens with Quarry" "KLO.QUARRY.ESD" "$(reg_get "$reg" "$CLASSES\\.ESD")"
  expect_eq "/D= install: the open command" "\"$other\\Quarry.exe\" \"%1\"" \
    "$(reg_get "$reg" "$CLASSES\\KLO.QUARRY.WIM\\shell\\Open\\command")"
  expect_eq "/D= install: the Mount verb" "\"$other\\Quarry.exe\" /M \"%1\"" \
    "$(reg_get "$reg" "$CLASSES\\KLO.QUARRY.WIM\\shell\\Mount\\command")"
  expect_eq "/D= install: the folder verb" "\"$other\\Quarry.exe\" /Q \"%1\"" \
    "$(reg_get "$reg" "$CLASSES\\Folder\\shell\\Quarry_QuickCapture\\command")"
  local othersettings
  othersettings=$(settings_text "$otheru")
  grep -q '^FileAssociation=1$' <<<"$othersettings" && grep -q '^ShellIntegration=1$' <<<"$othersettings" &&
    ok "/D= install: the preferences show both ticked" || fail "/D= install: settings $(settings_text "$otheru")"

  wine_run "$other\\uninstall.exe" /S /REMOVESETTINGS
  settle
  export_registry "$WORK/after-all.reg"
  diff=$("${REGFILE[@]}" diff "$WORK/before.reg" "$WORK/after-all.reg")
  expect_eq "uninstall of the /D= install: the registry is as it was before any install" "" "$diff"
  [ ! -e "$otheru" ] && ok "uninstall with /REMOVESETTINGS: the folder is gone" ||
    fail "uninstall with /REMOVESETTINGS left: $(cd "$otheru" && find . -mindepth 1)"
  local left
  left=$(cd "$WINEPREFIX/drive_c" && find . -iname '*quarry*' ! -path './Program Files/Quarry' \
    ! -path './Program Files/Quarry/Quarry.ini' ! -path './Tools' | sort)
  expect_eq "no file of Quarry is left in the prefix but the first install's kept settings" "" "$left"

  "$WINESERVER" -k 2>/dev/null
  finish
}

case "$MODE" in
  archive) test_archive ;;
  installer) test_installer ;;
  *) echo "usage: release_test.sh archive|installer" >&2; exit 2 ;;
esac
