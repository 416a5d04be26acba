#!/usr/bin/env bash
# Installs every Debian package the build, the program and the tests need.
# Does nothing when all of them are present already.
set -euo pipefail
PACKAGES=(
  cmake make
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
  wine wine64 wine64-tools libwine-dev
  libwim-dev libwim15 wimtools libxml2-dev
  xvfb xauth imagemagick x11-utils fonts-wqy-microhei fonts-wine
  googletest
  desktop-file-utils xdg-utils shared-mime-info libglib2.0-bin
  gcc libx11-dev
  ntfs-3g
  python3
  nsis zip
)
missing=()
for p in "${PACKAGES[@]}"; do
  grep -q 'install ok installed' <<<"$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${missing[@]}"
