#!/usr/bin/env bash
# Quarry on the Linux desktop, checked with the desktop's own tools.
#
#   desktop_test.sh entry   run.sh --install-desktop gives a valid menu entry
#                           and makes Quarry the program for WIM and ESD
#                           files; --uninstall-desktop puts everything back
#   desktop_test.sh list    a mimeapps.list that is a symbolic link stays
#                           one, and a failed rewrite of it changes nothing
#   desktop_test.sh prefixes   Quarry runs in one of its two prefixes at a
#                           time (running, or with images mounted)
#   desktop_test.sh window  a WIM file opened through that entry, from a
#                           clone whose path has blanks, shows in Quarry's
#                           main window, a top-level window of the X server
#                           (no virtual desktop); run.sh hands an option it
#                           does not know to the program; a name with odd
#                           characters reaches its file, one with a "\" is
#                           refused; a file dropped on the information page
#                           through XDND is taken
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
  if [ -n "${DISPLAY:-}" ] && grep -q '"KLO Quarry' <<<"$(xwininfo -root -children)"; then
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

# mimeapps.list kept elsewhere and linked in (as a dotfiles folder does):
# install and uninstall write the file the link names and leave the link;
# an uninstall whose rewrite of the list fails leaves the list as it was.
test_list() {
  other_program
  mkdir -p "$T/dotfiles"
  mv "$XDG_CONFIG_HOME/mimeapps.list" "$T/dotfiles/mimeapps.list"
  ln -s "$T/dotfiles/mimeapps.list" "$XDG_CONFIG_HOME/mimeapps.list"
  cp "$T/dotfiles/mimeapps.list" "$T/mimeapps.before"

  "$ROOT/linux/desktop.sh" install >/dev/null
  expect_eq "install ends without error" 0 $?
  [ -L "$XDG_CONFIG_HOME/mimeapps.list" ] || fail "the install replaced the link mimeapps.list by a file"
  grep -q '^application/x-ms-wim=quarry.desktop$' "$T/dotfiles/mimeapps.list" ||
    fail "the linked list does not make Quarry the default: $(cat "$T/dotfiles/mimeapps.list")"
  expect_eq "default for WIM after the install" quarry.desktop "$(xdg-mime query default application/x-ms-wim)"
  cp "$XDG_CONFIG_HOME/mimeapps.list" "$T/mimeapps.installed"

  # awk fails half-way through the rewrite (it has printed a first line).
  mkdir -p "$T/failing"
  printf '#!/bin/sh
for a; do case $a in id=quarry.desktop) echo "[Default Applications]"; exit 2;; esac; done
exec /usr/bin/awk "$@"
' \
    >"$T/failing/awk"
  chmod +x "$T/failing/awk"
  PATH=$T/failing:$PATH "$ROOT/linux/desktop.sh" uninstall >/dev/null 2>&1 &&
    fail "an uninstall whose rewrite of mimeapps.list failed reported success"
  [ -L "$XDG_CONFIG_HOME/mimeapps.list" ] || fail "the failed uninstall replaced the link by a file"
  cmp -s "$T/mimeapps.installed" "$XDG_CONFIG_HOME/mimeapps.list" ||
    fail "the failed uninstall changed mimeapps.list: [$(cat "$XDG_CONFIG_HOME/mimeapps.list")]"
  expect_eq "nothing is left beside the list" "mimeapps.list" "$(ls -A "$T/dotfiles")"

  "$ROOT/linux/desktop.sh" uninstall >/dev/null
  expect_eq "a second uninstall ends without error" 0 $?
  [ -L "$XDG_CONFIG_HOME/mimeapps.list" ] || fail "the uninstall replaced the link by a file"
  cmp -s "$T/mimeapps.before" "$T/dotfiles/mimeapps.list" || fail "mimeapps.list differs from before the install"
  expect_eq "default for WIM after the uninstall: the earlier one" other.desktop \
    "$(xdg-mime query default application/x-ms-wim)"
}

# Quarry runs in one of its two prefixes at a time: while it runs in one,
# or while images are mounted there, a start in the other is refused and
# starts no program. (The prefixes here are folders of the test's own.)
test_prefixes() {
  make_images
  export WINEPREFIX=$T/headless QUARRY_DESKTOP_PREFIX=$T/desktop
  mkdir -p "$WINEPREFIX" "$QUARRY_DESKTOP_PREFIX"
  local out
  # Quarry runs in the desktop prefix: a start without a display is refused.
  : >>"$QUARRY_DESKTOP_PREFIX/.quarry-in-use"
  # The holder is one process that holds the lock itself, with no output of
  # the test's: killed, it leaves nothing behind to keep the test's pipe open.
  (exec 9>>"$QUARRY_DESKTOP_PREFIX/.quarry-in-use" && flock -s 9 && exec sleep 300) </dev/null >/dev/null 2>&1 &
  local holder=$!
  for ((i = 0; i < 200; i++)); do
    flock -n -x "$QUARRY_DESKTOP_PREFIX/.quarry-in-use" true || break
    sleep 0.05
  done
  out=$(env -u DISPLAY timeout 120 "$ROOT/linux/quarry.sh" "$T/my files/a.wim" 2>&1)
  expect_eq "a start without a display while Quarry runs with one fails" 1 $?
  [[ $out == *"running in the other Wine prefix, $QUARRY_DESKTOP_PREFIX"* ]] || fail "message: $out"
  [ -e "$WINEPREFIX/system.reg" ] && fail "the refused start made a prefix"
  kill "$holder" 2>/dev/null
  wait "$holder" 2>/dev/null

  # An image is mounted in the headless prefix: a start on the display is
  # refused, as long as the record is there.
  mkdir -p "$WINEPREFIX/drive_c/ProgramData/WimgapiWine"
  printf 'M\t1\t1\tZ:\\x.wim\tC:\\mnt\t1.1\t-\t-\t-\tF\t-\n' \
    >"$WINEPREFIX/drive_c/ProgramData/WimgapiWine/mounts.txt"
  out=$(DISPLAY=${DISPLAY:-:99} timeout 120 "$ROOT/linux/quarry.sh" "$T/my files/a.wim" 2>&1)
  expect_eq "a start on the display while an image is mounted without one fails" 1 $?
  [[ $out == *"images are mounted in the other Wine prefix, $WINEPREFIX"* ]] || fail "message: $out"
  [ -e "$QUARRY_DESKTOP_PREFIX/system.reg" ] && fail "the refused start made a prefix"
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
  grep -q 'Map State: IsViewable' <<<"$(xwininfo -id "$(awk '{ print $1 }' <<<"$1")" 2>/dev/null)"
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
  # The prefix that quarry.sh would use without a display, a folder of the
  # test's own: the test prefix of this build tree may hold another test's
  # mounts, which would keep the desktop prefix from starting.
  export WINEPREFIX=$T/headless
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

  # Names that a Windows path spells only as Wine converts them reach their
  # file; a name with a "\" has no Windows path at all: the start is
  # refused, and the file that a plain swap of "/" for "\" would name is
  # not opened.
  local odd="$T/my files/odd: name #1 [x] ~ \$HOME.wim"
  cp "$T/my files/a.wim" "$odd"
  "$ROOT/linux/quarry.sh" "$odd" >/dev/null 2>&1 &
  if wait_for_window 240; then
    local arg
    arg=$(arguments_of_window)
    [ "$(WINEPREFIX=$QUARRY_DESKTOP_PREFIX "$WINE" winepath -u "$arg" 2>/dev/null)" -ef "$odd" ] ||
      fail "the program got [$arg] for $odd"
  else
    fail "quarry.sh with an odd name started no window"
  fi
  close_program
  mkdir -p "$T/my files/a"
  cp "$T/my files/a.wim" "$T/my files/a/b.wim"
  cp "$T/my files/a.wim" "$T/my files/a\\b.wim"
  local out
  out=$(timeout 120 "$ROOT/linux/quarry.sh" "$T/my files/a\\b.wim" 2>&1)
  expect_eq "a start with a name holding a backslash is refused" 1 $?
  [[ $out == *"no Windows path names"* ]] || fail "message: $out"
  [ -n "$(any_quarry_window)" ] && fail "the program was started for a name holding a backslash"
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
  list) test_list ;;
  prefixes) test_prefixes ;;
  window) test_window ;;
  *) echo "usage: desktop_test.sh entry|list|prefixes|window" >&2; exit 2 ;;
esac
echo "$failures failed"
[ $failures -eq 0 ]
