#!/usr/bin/env bash
# Starts the built Quarry on the user's display, in the desktop Wine prefix
# (no virtual desktop: every window of the program is a window of the
# desktop, with its taskbar entry). This is what the desktop entry runs;
# scripts/run.sh builds first and then comes here. Without a display the
# program runs inside a virtual X server, in the prefix of the tests
# (build/wineprefix). Quarry runs in only one of the two prefixes at a time.
#
# Arguments go to the program unchanged, except those that name an existing
# file or folder: Quarry is a Windows program, so such a path is handed on
# in its Windows form as Wine gives it (/home/me/a.wim becomes
# Z:\home\me\a.wim). A switch such as /I is never taken for a path.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"

if [ ! -f "$QUARRY_BIN/Quarry.exe" ]; then
  echo "quarry: $QUARRY_BIN/Quarry.exe is missing; build it with ./scripts/run.sh" >&2
  exit 1
fi
# Without a display, everything from here on happens inside a virtual X
# server, so that every Wine process of the prefix (the path conversion's
# too) has the display the program gets.
if [ -z "${DISPLAY:-}" ]; then
  echo "No display: starting Quarry inside Xvfb."
  exec xvfb-run -a -s "-screen 0 1280x1024x24" env QUARRY_IN_XVFB=1 "$0" "$@"
fi
if [ "${QUARRY_IN_XVFB:-}" = 1 ]; then
  PREFIX=$WINEPREFIX OTHER=$QUARRY_DESKTOP_PREFIX
else
  PREFIX=$QUARRY_DESKTOP_PREFIX OTHER=$WINEPREFIX
fi
unset QUARRY_IN_XVFB

# Each prefix keeps its own list of mounted images, and the writers of one
# never see the mounts of the other: a WIM file mounted in one prefix could
# be rewritten under its mount from the other. So Quarry runs in one of the
# two at a time. A prefix is in use while a Quarry started here runs in it
# (it holds a shared lock on the prefix's .quarry-in-use for its whole
# life) and while its mount list has any image in it (mounts outlive the
# program). The lock of our own prefix is taken first, then the other's is
# tried: of two starts at the same moment, one in each prefix, neither can
# miss the other.
mounts_of() { # prefix: the images its mount list holds
  local list=$1/drive_c/ProgramData/WimgapiWine/mounts.txt
  [ -f "$list" ] && grep -c '^[MPU]'$'\t' "$list" || true
}
mkdir -p "$PREFIX"
exec 9>>"$PREFIX/.quarry-in-use"
flock -n -s 9 || { echo "quarry: a start of Quarry in the other Wine prefix is looking at $PREFIX; try again" >&2; exit 1; }
if [ -e "$OTHER/.quarry-in-use" ] && ! flock -n -x "$OTHER/.quarry-in-use" true; then
  echo "quarry: Quarry is running in the other Wine prefix, $OTHER; close it there first" \
       "(with a display Quarry uses $QUARRY_DESKTOP_PREFIX, without one $WINEPREFIX)" >&2
  exit 1
fi
if [ "$(mounts_of "$OTHER")" -gt 0 ] 2>/dev/null; then
  echo "quarry: images are mounted in the other Wine prefix, $OTHER; unmount them there first" \
       "(with a display Quarry uses $QUARRY_DESKTOP_PREFIX, without one $WINEPREFIX)" >&2
  exit 1
fi

if [ "$PREFIX" = "$QUARRY_DESKTOP_PREFIX" ]; then
  "$QUARRY_ROOT/scripts/wineprefix.sh" --desktop
else
  "$QUARRY_ROOT/scripts/wineprefix.sh"
fi
export WINEPREFIX=$PREFIX

# Wine's own conversion, checked by converting back: a Unix name that no
# Windows path can spell (one with a "\", which a Windows path takes for a
# folder separator) would otherwise reach a different file, or none.
windows_path() { # absolute Unix path
  local w u
  w=$("$WINE" winepath -w "$1" 2>/dev/null) && [ -n "$w" ] || return 1
  u=$("$WINE" winepath -u "$w" 2>/dev/null) && [ -n "$u" ] && [ "$u" -ef "$1" ] || return 1
  printf '%s' "$w"
}

args=()
for a in "$@"; do
  if [[ ! $a =~ ^/[A-Za-z]$ ]] && [ -n "$a" ] && [ -e "$a" ]; then
    if ! w=$(windows_path "$(realpath -s -- "$a")"); then
      echo "quarry: no Windows path names $a (a \"\\\" in a name is a folder separator to Windows);" \
           "rename it and open it again" >&2
      exit 1
    fi
    a=$w
  fi
  args+=("$a")
done

cd "$QUARRY_BIN"
exec "$WINE" ./Quarry.exe "${args[@]}"
