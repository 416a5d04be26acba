#!/usr/bin/env bash
# Builds everything: the x64 program, tests and Tessel64, the x86 Tessel86,
# and the winelib libraries (wimlib bridge, WIMGAPI for Wine).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
JOBS=${JOBS:-$(nproc)}

# A compiler cache, when the machine has one, makes rebuilds of other
# checkouts cheap; it is never required.
LAUNCHER=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$QUARRY_ROOT")}
  LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

configure() { # dir toolchain; re-run every time so new test folders are found
  cmake -S "$QUARRY_ROOT" -B "$QUARRY_BUILD/$1" -DCMAKE_BUILD_TYPE=Release "${LAUNCHER[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$QUARRY_ROOT/cmake/$2.cmake" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$QUARRY_ROOT/scripts/wine.sh" >/dev/null
}

configure x64 mingw-x64
configure x86 mingw-x86
cmake --build "$QUARRY_BUILD/x64" -j "$JOBS"
cmake --build "$QUARRY_BUILD/x86" -j "$JOBS"

mkdir -p "$QUARRY_BUILD/winelib" "$QUARRY_BIN/wimlib"
for lib in wimlib_bridge wimgapi; do
  if [ -f "$QUARRY_ROOT/platform/$lib/Makefile" ]; then
    make -s -C "$QUARRY_ROOT/platform/$lib" OUT="$QUARRY_BUILD/winelib" -j "$JOBS"
  fi
done
if [ -f "$QUARRY_BUILD/winelib/libwim-15.dll" ]; then
  cp -u "$QUARRY_BUILD/winelib/libwim-15.dll" "$QUARRY_BIN/wimlib/libwim-15.dll"
fi
cp -u "$QUARRY_BUILD/x86/bin/Tessel86.dll" "$QUARRY_BIN/" 2>/dev/null || true
