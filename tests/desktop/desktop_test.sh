#!/usr/bin/env bash
# Quarry on the Linux desktop, checked with the desktop's own tools.
#
#   desktop_test.sh entry   run.sh --install-desktop gives a valid menu entry
#                           and makes Quarry the program for WIM and ESD
#                           files; --uninstall-desktop puts everything back
#   desktop_test.sh window  a WIM file opened through that entry, from a
#                           clone whose path has blanks, shows in Quarry's
#                           main window, a top-level window of the X server
#                           (no virtual desktop); run.sh hands an option it
#                           does not know to the program; a file dropped on
#                           the information page through XDND is taken
#
# Everything happens under a temporary home and XDG folders; the desktop
# prefix of the tests is made once per build tree.
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$ROOT/scripts/env.sh"
export QUARRY_DESKTOP_PREFIX=$QUARRY_BUILD/wineprefix-desktop-test

T=$(mktemp -d /tmp/quarry-desktop.XXXXXX)
export HOME=$T/home XDG_DATA_HOME=$T/data XDG_CONFIG_HOME=$T/config
export XDG_DATA_DIRS=/usr/local/share:/usr/share XDG_CONFIG_DIRS=/etc/xdg
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"
APPS=$XDG_DATA_HOME/applications
ENTRY=$APPS/quarry.desktop

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
expect_eq() { # what expected actual
  if [ "$2" = "$3" ]; then echo "ok: $1"; else fail "$1: expected [$2], got [$3]"; fi
}

stop_desktop_prefix() {
  WINEPREFIX=$QUARRY_DESKTOP_PREFIX "$WINESERVER" -k 2>/dev/null || true
}
cleanup() {
  [ "${1:-}" = window ] && stop_desktop_prefix
  rm -rf "$T"
}
trap 'cleanup $MODE' EXIT
MODE=${1:-}

tree_of() { (cd "$1" && find . -mindepth 1 | sort); }

# A small WIM file made by wimlib, and its ESD form.
make_images() {
  mkdir -p "$T/src/sub" "$T/my files"
  echo "hello" >"$T/src/sub/a.txt"
  wimlib-imagex capture "$T/src" "$T/my files/a.wim" >/dev/null || fail "capture with wimlib-imagex"
  wimlib-imagex export "$T/my files/a.wim" 1 "$T/my files/b.esd" --solid >/dev/null || fail "export to ESD"
}

# Another program that had .wim files before Quarry came.
other_program() {
  mkdir -p "$APPS"
  printf '[Desktop Entry]\nType=Application\nName=Other\nExec=true %%f\nMimeType=application/x-ms-wim;\n' \
    >"$APPS/other.desktop"
  printf '[Default Applications]\ntext/plain=other.desktop\napplication/x-ms-wim=other.desktop\n' \
    >"$XDG_CONFIG_HOME/mimeapps.list"
}

test_entry() {
  make_images
  other_program
  local data_before config_before
  data_before=$(tree_of "$XDG_DATA_HOME")
  config_before=$(tree_of "$XDG_CONFIG_HOME")
  cp "$XDG_CONFIG_HOME/mimeapps.list" "$T/mimeapps.before"

  "$ROOT/scripts/run.sh" --install-desktop
  expect_eq "--install-desktop ends without error" 0 $?
  if [ -n "${DISPLAY:-}" ] && xwininfo -root -children | grep -q '"KLO Quarry'; then
    fail "--install-desktop started the program"
  fi
  [ -f "$ENTRY" ] || fail "no $ENTRY"
  expect_eq "desktop-file-validate finds nothing" "" "$(desktop-file-validate "$ENTRY" 2>&1)"
  expect_eq "the icon of the entry" "PNG 256x256" \
    "$(identify -format '%m %wx%h' "$XDG_DATA_HOME/icons/hicolor/256x256/apps/$(sed -n 's/^Icon=//p' "$ENTRY").png" 2>&1)"
  expect_eq "type of a .wim file" application/x-ms-wim "$(xdg-mime query filetype "$T/my files/a.wim")"
  expect_eq "type of an .esd file" application/x-ms-esd "$(xdg-mime query filetype "$T/my files/b.esd")"
  expect_eq "default for WIM after the install" quarry.desktop "$(xdg-mime query default application/x-ms-wim)"
  expect_eq "default for ESD after the install" quarry.desktop "$(xdg-mime query default application/x-ms-esd)"

  "$ROOT/scripts/run.sh" --install-desktop >/dev/null
  expect_eq "a second install ends without error" 0 $?

  "$ROOT/scripts/run.sh" --uninstall-desktop
  expect_eq "--uninstall-desktop ends without error" 0 $?
  expect_eq "default for WIM after the uninstall: the earlier one" other.desktop \
    "$(xdg-mime query default application/x-ms-wim)"
  [ "$(xdg-mime query default application/x-ms-esd)" = quarry.desktop ] && fail "ESD still opens with Quarry"
  cmp -s "$T/mimeapps.before" "$XDG_CONFIG_HOME/mimeapps.list" || fail "mimeapps.list differs from before the install"
  expect_eq "the data folder is as before" "$data_before" "$(tree_of "$XDG_DATA_HOME")"
  expect_eq "the config folder is as before" "$config_before" "$(tree_of "$XDG_CONFIG_HOME")"
  expect_eq "type of an .esd file after the uninstall" application/x-ms-wim \
    "$(xdg-mime query filetype "$T/my files/b.esd")"

  # An entry of the same name that another program wrote is neither
  # replaced nor removed.
  printf '[Desktop Entry]\nType=Application\nName=Not Quarry\nExec=true\n' >"$ENTRY"
  cp "$ENTRY" "$T/foreign"
  "$ROOT/scripts/run.sh" --install-desktop 2>/dev/null && fail "installed over another program's entry"
  "$ROOT/scripts/run.sh" --uninstall-desktop >/dev/null 2>&1
  cmp -s "$T/foreign" "$ENTRY" || fail "another program's quarry.desktop was changed"

  # From scratch, nothing is left behind.
  rm -rf "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" && mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"
  "$ROOT/scripts/run.sh" --install-desktop >/dev/null && "$ROOT/scripts/run.sh" --uninstall-desktop >/dev/null
  expect_eq "an install and uninstall on a fresh home leave nothing" "" \
    "$(tree_of "$XDG_DATA_HOME"; tree_of "$XDG_CONFIG_HOME")"
}

# Quarry's main window among the root window's own children (one line of
# xwininfo), once the program has set it up: its title then names the back
# end. Until then it has the title and size of its dialog template.
quarry_window() { xwininfo -root -children | grep '"KLO Quarry x' | head -n 1; }
any_quarry_window() { xwininfo -root -children | grep '"KLO Quarry' | head -n 1; }

wait_for_window() { # seconds
  local i
  for ((i = 0; i < $1 * 4; i++)); do
    [ -n "$(quarry_window)" ] && return 0
    sleep 0.25
  done
  return 1
}

# The command line the program got: its arguments one a line.
arguments_of_window() {
  local id pid
  id=$(quarry_window | awk '{ print $1 }')
  pid=$(xprop -id "$id" _NET_WM_PID | awk '{ print $3 }')
  tr '\0' '\n' <"/proc/$pid/cmdline" | sed -n '2,$p' | sed '/^$/d'
}

close_program() {
  stop_desktop_prefix
  local i
  for ((i = 0; i < 120; i++)); do
    [ -z "$(any_quarry_window)" ] && return 0
    sleep 0.25
  done
  fail "the window did not go away"
}

main_window_size_is_right() { # line of xwininfo
  local w h
  read -r w h < <(awk '{ for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]+x[0-9]+\+/) { split($i, a, /[x+]/); print a[1], a[2]; exit } }' <<<"$1")
  [ -n "$w" ] && [ "$w" -ge 880 ] && [ "$w" -le 920 ] && [ "$h" -ge 500 ] && [ "$h" -le 550 ]
}

shown() { # line of xwininfo
  xwininfo -id "$(awk '{ print $1 }' <<<"$1")" 2>/dev/null | grep -q 'Map State: IsViewable'
}

# Waits for Quarry's main window to be set up and shown; prints its line.
wait_for_main_window() {
  # The main window is 920x550 with its frame, which the window manager
  # draws: the X window holds its client area. Its size is set just after
  # its title.
  local line i
  for ((i = 0; i < 480; i++)); do
    line=$(quarry_window)
    if [ -n "$line" ] && main_window_size_is_right "$line" && shown "$line"; then
      echo "$line"
      return 0
    fi
    sleep 0.25
  done
  line=$(any_quarry_window)
  echo "$line"
  [ -n "$line" ]
}

test_window() {
  [ -n "${DISPLAY:-}" ] || { fail "no X display"; return; }
  make_images
  # The clone seen through a folder with blanks and characters that the
  # Exec line must quote.
  local clone="$T/my clone (\$1)"
  mkdir -p "$clone" && ln -s "$ROOT" "$clone/quarry"
  "$clone/quarry/scripts/run.sh" --install-desktop >/dev/null
  expect_eq "install from the clone with blanks" 0 $?
  grep -q '^Exec=".*my clone (\\\\\$1)/quarry/linux/quarry.sh" %f$' "$ENTRY" || fail "Exec line: $(grep ^Exec= "$ENTRY")"
  expect_eq "desktop-file-validate finds nothing" "" "$(desktop-file-validate "$ENTRY" 2>&1)"

  # As a file manager opens a file: through the entry, read by GLib.
  gio launch "$ENTRY" "$T/my files/a.wim" &
  local line
  if ! line=$(wait_for_main_window); then
    fail "no window \"KLO Quarry\" among the root window's children"
    return
  fi
  echo "window: $line"
  [[ $line =~ \"KLO\ Quarry\ x64\ \((WIMGAPI|WIMLIB)\)\" ]] || fail "title of the main window: $line"
  main_window_size_is_right "$line" || fail "size of the main window: $line"
  shown "$line" || fail "the main window is not shown"
  expect_eq "the file arrives as a Windows path" "Z:${T//\//\\}\\my files\\a.wim" "$(arguments_of_window)"
  close_program

  # An option that run.sh does not know goes to the program.
  "$ROOT/scripts/run.sh" --an-option-of-its-own >/dev/null 2>&1 &
  if wait_for_window 240; then
    expect_eq "run.sh passes an unknown option on" "--an-option-of-its-own" "$(arguments_of_window)"
  else
    fail "run.sh --an-option-of-its-own started no window"
  fi
  close_program

  # A file dragged from the file manager onto the information page.
  cp "$T/my files/a.wim" "$T/my files/dropped.wim"
  cc -o "$T/xdnd_drop" "$ROOT/tests/desktop/xdnd_drop.c" -lX11 || fail "building xdnd_drop"
  "$ROOT/linux/quarry.sh" /I "$T/my files/a.wim" >/dev/null 2>&1 &
  if line=$(wait_for_main_window); then
    local id x y w h
    id=$(awk '{ print $1 }' <<<"$line")
    read -r w h x y < <(awk '{ for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]+x[0-9]+\+/) { split($i, a, /[x+]/); print a[1], a[2], a[3], a[4]; exit } }' <<<"$line")
    timeout 60 "$T/xdnd_drop" "$id" $((x + w / 2)) $((y + h / 2)) "file://${T// /%20}/my%20files/dropped.wim"$'\r\n'
    expect_eq "the information page takes a file dropped from the file manager" 0 $?
  else
    fail "Quarry /I started no window"
  fi
  close_program
  "$clone/quarry/scripts/run.sh" --uninstall-desktop >/dev/null
}

case $MODE in
  entry) test_entry ;;
  window) test_window ;;
  *) echo "usage: desktop_test.sh entry|window" >&2; exit 2 ;;
esac
echo "$failures failed"
[ $failures -eq 0 ]
