#!/usr/bin/env bash
# Adds Quarry to the user's desktop, or takes it away again:
#
#   desktop.sh install    menu entry, icon, the ESD file type, and Quarry as
#                         the program that opens .wim, .swm and .esd files
#   desktop.sh uninstall  removes exactly that, and gives each file type
#                         back the default it had before the install
#
# Everything goes to the user's own folders ($XDG_DATA_HOME, by default
# ~/.local/share, and $XDG_CONFIG_HOME/mimeapps.list); nothing system-wide.
# scripts/run.sh calls this for its --install-desktop and
# --uninstall-desktop options.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"

DATA=${XDG_DATA_HOME:-$HOME/.local/share}
CONFIG=${XDG_CONFIG_HOME:-$HOME/.config}
ENTRY_ID=quarry.desktop
ENTRY=$DATA/applications/$ENTRY_ID
ICON_NAME=klo-quarry
ICON_SIZES=(48 256)
MIME_PACKAGE=$DATA/mime/packages/quarry-esd.xml
TYPES=(application/x-ms-wim application/x-ms-esd)
# What the install found, so that the uninstall can put it back: the
# defaults the user had for our types, and the folders and caches it made.
STATE=$DATA/quarry/desktop-install
MARK=X-Quarry-Launcher

die() { echo "desktop: $*" >&2; exit 1; }

# The launcher's path as the program of an Exec line. A path with any of
# the characters that the line reserves goes in double quotes, with ", `, $
# and \ escaped by a backslash; a % is always doubled; then backslashes are
# doubled once more, as in every string value of the file. A path without
# them stays unquoted: Debian's xdg-mime, outside a desktop environment,
# takes the program as the line's first word and cannot read quotes.
exec_program() {
  local p=$1
  if [[ $p == *[[:space:]\"\'\\\>\<~\|\&\;\$\*\?#\(\)\`]* ]]; then
    p=${p//\\/\\\\}
    p=${p//\"/\\\"}
    p=${p//\`/\\\`}
    p=${p//\$/\\\$}
    p="\"$p\""
  fi
  p=${p//%/%%}
  printf '%s' "${p//\\/\\\\}"
}

# Writes what the command after $1 prints to the file $1: beside it first,
# and only when the command succeeded is that renamed over the file, which
# otherwise stays as it was. A symbolic link (a list kept with the user's
# other settings elsewhere, say) stays a link: the file it names is written,
# beside that file, and keeps its permissions.
write_file() { # file command [argument...]
  local target=$1
  shift
  if [ -L "$target" ]; then
    target=$(readlink -f -- "$target") || die "cannot follow the link $1"
  fi
  mkdir -p "$(dirname "$target")"
  local new=$target.quarry-new
  if ! "$@" >"$new"; then
    rm -f "$new"
    die "could not make the new $1; it was left as it is"
  fi
  if [ -e "$target" ]; then chmod --reference="$target" "$new" 2>/dev/null || true; fi
  mv -f "$new" "$target"
}

ours() { [ -f "$ENTRY" ] && grep -q "^$MARK=" "$ENTRY"; }

# The value of KEY in the [Default Applications] group of mimeapps.list.
user_default() {
  [ -f "$CONFIG/mimeapps.list" ] || return 0
  awk -v key="$1=" '
    /^\[/ { group = $0; next }
    group == "[Default Applications]" && index($0, key) == 1 { print substr($0, length(key) + 1); exit }
  ' "$CONFIG/mimeapps.list"
}

state_value() { [ -f "$STATE" ] && sed -n "s|^$1=||p" "$STATE" | head -n 1 || true; }

write_entry() {
  local launcher=$QUARRY_ROOT/linux/quarry.sh
  case $launcher in *[[:cntrl:]]*) die "the clone's path holds a control character: $launcher" ;; esac
  write_file "$ENTRY" cat <<ENTRY_TEXT
[Desktop Entry]
Type=Application
Name=Quarry
GenericName=WIM Image Tool
GenericName[zh_CN]=WIM 映像工具
Comment=Capture, apply, mount and edit Windows Imaging (WIM and ESD) files
Comment[zh_CN]=捕获、应用、挂载和编辑 WIM 与 ESD 映像文件
Exec=$(exec_program "$launcher") %f
Icon=$ICON_NAME
Terminal=false
Categories=System;Filesystem;
MimeType=$(printf '%s;' "${TYPES[@]}")
StartupWMClass=quarry.exe
$MARK=$(printf '%s' "$launcher" | sed 's/\\/\\\\/g')
ENTRY_TEXT
}

write_icons() {
  local ico=$QUARRY_ROOT/resources/icons/quarry.ico size frame
  for size in "${ICON_SIZES[@]}"; do
    # The frame of that size in the program's own icon.
    frame=$(identify -format '%p %w\n' "$ico" | awk -v s="$size" '$2 == s { print $1; exit }')
    [ -n "$frame" ] || die "no ${size}x$size picture in $ico"
    mkdir -p "$DATA/icons/hicolor/${size}x$size/apps"
    convert "$ico[$frame]" "png:$DATA/icons/hicolor/${size}x$size/apps/$ICON_NAME.png.quarry-new"
    mv -f "$DATA/icons/hicolor/${size}x$size/apps/$ICON_NAME.png.quarry-new" \
      "$DATA/icons/hicolor/${size}x$size/apps/$ICON_NAME.png"
  done
}

refresh_caches() {
  update-mime-database "$DATA/mime" >/dev/null 2>&1 || true
  update-desktop-database "$DATA/applications" >/dev/null 2>&1 || true
}

# Makes Quarry the default for our types. xdg-mime rewrites mimeapps.list
# by renaming a new file over it, which would turn a symbolic link into a
# file of its own: it works on a copy, and the result goes in through
# write_file.
set_defaults() {
  local work t
  work=$(mktemp -d "${TMPDIR:-/tmp}/quarry-mimeapps.XXXXXX")
  if [ -f "$CONFIG/mimeapps.list" ]; then cp -- "$CONFIG/mimeapps.list" "$work/mimeapps.list"; fi
  for t in "${TYPES[@]}"; do
    if ! XDG_CONFIG_HOME=$work xdg-mime default "$ENTRY_ID" "$t"; then
      rm -rf "$work"
      die "xdg-mime could not make Quarry the default for $t"
    fi
  done
  if [ -f "$work/mimeapps.list" ]; then write_file "$CONFIG/mimeapps.list" cat "$work/mimeapps.list"; fi
  rm -rf "$work"
}

# What an install finds, for the uninstall to put back.
install_state() {
  local t value
  for t in "${TYPES[@]}"; do
    value=$(user_default "$t") || return 1
    echo "default $t=$value"
  done
  if [ -d "$DATA/mime" ]; then echo "had mime=1"; fi
  if [ -f "$DATA/applications/mimeinfo.cache" ]; then echo "had mimeinfo.cache=1"; fi
  if [ -f "$CONFIG/mimeapps.list" ]; then echo "had mimeapps.list=1"; fi
}

install() {
  command -v xdg-mime >/dev/null || die "xdg-mime is missing (package xdg-utils)"
  if [ -f "$ENTRY" ] && ! ours; then
    die "$ENTRY belongs to another program; it was left as it is"
  fi
  # The first install notes what there was; an install over an install
  # keeps that note.
  if [ ! -f "$STATE" ]; then write_file "$STATE" install_state; fi
  write_entry
  write_icons
  write_file "$MIME_PACKAGE" cat "$QUARRY_ROOT/linux/quarry-esd.xml"
  refresh_caches
  set_defaults
  echo "Quarry is in the applications menu ($ENTRY) and opens .wim, .swm and .esd files."
}

# Takes quarry.desktop out of every list of our types in mimeapps.list and
# gives a default it had taken over its earlier value back (or none).
restore_defaults() {
  local list=$CONFIG/mimeapps.list
  [ -f "$list" ] && grep -q "$ENTRY_ID" "$list" || return 0
  local earlier=() t
  for t in "${TYPES[@]}"; do earlier+=("$t=$(state_value "default $t")"); done
  write_file "$list" awk -v id="$ENTRY_ID" -v types="${TYPES[*]}" -v earlier="${earlier[*]}" '
    BEGIN {
      n = split(types, t, " "); for (i = 1; i <= n; i++) ours[t[i]] = 1
      n = split(earlier, e, " ")
      for (i = 1; i <= n; i++) { k = index(e[i], "="); before[substr(e[i], 1, k - 1)] = substr(e[i], k + 1) }
    }
    /^\[/ { group = $0; print; next }
    {
      k = index($0, "="); key = substr($0, 1, k - 1)
      if (k == 0 || !(key in ours)) { print; next }
      m = split(substr($0, k + 1), apps, ";"); kept = ""
      for (i = 1; i <= m; i++) if (apps[i] != "" && apps[i] != id) kept = kept apps[i] ";"
      if (group == "[Default Applications]") {
        if (kept == "") kept = before[key]; else sub(/;$/, "", kept)
      }
      if (kept != "") print key "=" kept
    }
  ' "$list"
}

uninstall() {
  if [ -f "$ENTRY" ] && ! ours; then
    echo "desktop: $ENTRY belongs to another program; it was left as it is" >&2
  elif [ -f "$ENTRY" ]; then
    rm -f "$ENTRY"
  fi
  local size
  for size in "${ICON_SIZES[@]}"; do
    rm -f "$DATA/icons/hicolor/${size}x$size/apps/$ICON_NAME.png"
    rmdir -p --ignore-fail-on-non-empty "$DATA/icons/hicolor/${size}x$size/apps" 2>/dev/null || true
  done
  rm -f "$MIME_PACKAGE"
  restore_defaults
  refresh_caches
  # Caches that the install made: only an index of the entries and types
  # there, which desktops rebuild when they need it.
  if [ -z "$(state_value "had mime")" ] && [ -d "$DATA/mime" ] &&
     [ -z "$(ls -A "$DATA/mime/packages" 2>/dev/null)" ]; then
    rm -rf "$DATA/mime"
  fi
  if [ -z "$(state_value "had mimeinfo.cache")" ]; then rm -f "$DATA/applications/mimeinfo.cache"; fi
  if [ -z "$(state_value "had mimeapps.list")" ] && [ -f "$CONFIG/mimeapps.list" ] &&
     ! grep -qv '^\[.*\]$\|^$' "$CONFIG/mimeapps.list"; then
    rm -f "$CONFIG/mimeapps.list"
  fi
  rmdir "$DATA/applications" 2>/dev/null || true
  rm -f "$STATE"
  rmdir "$(dirname "$STATE")" 2>/dev/null || true
  echo "Quarry was taken off the applications menu and the file types."
}

case "${1:-}" in
  install) install ;;
  uninstall) uninstall ;;
  *) die "usage: desktop.sh install|uninstall" ;;
esac
