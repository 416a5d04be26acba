#!/usr/bin/env bash
# Makes the Windows release from a build (run scripts/build.sh first):
#
#   dist/Quarry-VERSION-x64.zip     the portable archive
#   dist/Quarry-VERSION-setup.exe   the installer (installer/quarry.nsi)
#
# VERSION is the project's one version, as the build's generated header
# quarry_version.h carries it. WIMLIB_DLL=/path/libwim-15.dll packs that
# Windows build of wimlib into the "wimlib" folder of both; without it the
# folder holds only the note that says where to get it. QUARRY_DIST chooses
# another output folder. Nothing of the Wine-only libraries (the wimlib
# bridge, our WIMGAPI for Wine) goes into either file.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
DIST=${QUARRY_DIST:-$QUARRY_ROOT/dist}
STAGE=$QUARRY_BUILD/package/stage
HEADER=$QUARRY_BUILD/x64/generated/quarry_version.h

die() { echo "package.sh: $*" >&2; exit 1; }
for tool in zip makensis; do
  command -v "$tool" >/dev/null || die "$tool is missing: run scripts/setup.sh"
done
[ -f "$HEADER" ] || die "$HEADER is missing: run scripts/build.sh first"
VERSION=$(sed -nE 's/^#define QUARRY_VERSION_TEXT "([0-9.]+)"$/\1/p' "$HEADER")
[ -n "$VERSION" ] || die "no version in $HEADER"
# The wimlib release whose headers the program is built against.
WIMLIB_HEADER=/usr/include/wimlib.h
wimlib_part() { sed -nE "s/^#define WIMLIB_$1_VERSION ([0-9]+)$/\1/p" "$WIMLIB_HEADER"; }
WIMLIB_VERSION=$(wimlib_part MAJOR).$(wimlib_part MINOR).$(wimlib_part PATCH)
[[ $WIMLIB_VERSION =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || die "no wimlib version in $WIMLIB_HEADER"

EXE=$QUARRY_BUILD/x64/bin/Quarry.exe
T64=$QUARRY_BUILD/x64/bin/Tessel64.dll
T86=$QUARRY_BUILD/x86/bin/Tessel86.dll
for f in "$EXE" "$T64" "$T86"; do [ -f "$f" ] || die "$f is missing: run scripts/build.sh first"; done

# A Windows build of wimlib is a PE file; the bridge of the Wine build is an
# ELF library with the same name and must never be shipped.
if [ -n "${WIMLIB_DLL:-}" ]; then
  [ -f "$WIMLIB_DLL" ] || die "WIMLIB_DLL=$WIMLIB_DLL does not exist"
  [ "$(head -c 2 "$WIMLIB_DLL")" = MZ ] || die "WIMLIB_DLL=$WIMLIB_DLL is not a Windows DLL"
fi

# Texts for Windows: UTF-8 with a byte-order mark (older Notepads need it
# for Chinese) and CRLF line ends.
windows_text() { # source target [sed expressions...]
  local src=$1 dst=$2
  shift 2
  { printf '\xef\xbb\xbf'; sed -e "s/@VERSION@/$VERSION/g" -e "s/@WIMLIB_VERSION@/$WIMLIB_VERSION/g" "$src" |
      sed -e 's/\r$//' -e 's/$/\r/'; } >"$dst"
}

rm -rf "$STAGE"
mkdir -p "$STAGE/wimlib" "$DIST"
cp "$EXE" "$T64" "$T86" "$STAGE/"
windows_text "$QUARRY_ROOT/installer/LICENSE.txt" "$STAGE/LICENSE.txt"
windows_text "$QUARRY_ROOT/installer/README.txt" "$STAGE/README.txt"
windows_text "$QUARRY_ROOT/installer/wimlib-README.txt" "$STAGE/wimlib/README.txt"
windows_text /usr/share/doc/libwim15/copyright "$STAGE/wimlib/COPYING.txt"
NSIS_WIMLIB=()
if [ -n "${WIMLIB_DLL:-}" ]; then
  cp "$WIMLIB_DLL" "$STAGE/wimlib/libwim-15.dll"
  NSIS_WIMLIB=(-DWIMLIB_DLL)
fi

ZIP=$DIST/Quarry-$VERSION-x64.zip
SETUP=$DIST/Quarry-$VERSION-setup.exe
# Each file is made beside its name and takes it only when complete.
rm -f "$ZIP.part" "$SETUP.part"
(cd "$STAGE" && zip -q -X -r "$ZIP.part" .)
mv -f "$ZIP.part" "$ZIP"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$VERSION" -DSTAGE="$STAGE" -DOUTFILE="$SETUP.part" \
  "${NSIS_WIMLIB[@]}" "$QUARRY_ROOT/installer/quarry.nsi"
mv -f "$SETUP.part" "$SETUP"
echo "$ZIP"
echo "$SETUP"
