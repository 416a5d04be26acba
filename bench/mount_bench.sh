#!/usr/bin/env bash
# Mount benchmark (not a test). Makes a tree of FILES files (default
# 20,500) and about SIZE_MB MB (default 2100) of random bytes, captures it
# into one WIM without compression, then measures on that file, for
# wimlib-imagex (mountrw / unmount --commit), wimgapi.dll mounting through
# FUSE and wimgapi.dll with FUSE hidden (an extracted copy):
#
#   mount    mount read-write, then list the mount folder's top level
#   commit   change one file, then unmount with commit
#   discard  mount again, change one file, unmount without commit
#
# wimgapi.dll is driven by wimgapi_tool.exe under Wine. Its times are the
# library calls as the tool measures them ("call") and the whole run of the
# Wine process ("wall"); wimlib-imagex's are its whole run. Ratios are to
# wimlib-imagex's.
#
#   scripts/build.sh && scripts/wineprefix.sh && bench/mount_bench.sh
#   FILES=2000 SIZE_MB=200 BENCH_DIR=/tmp/mb KEEP=1 bench/mount_bench.sh
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
if [ -z "${DISPLAY:-}" ] && [ -z "${BENCH_IN_XVFB:-}" ]; then
  BENCH_IN_XVFB=1 exec xvfb-run -a "$0" "$@"
fi
FILES=${FILES:-20500}
SIZE_MB=${SIZE_MB:-2100}
# A folder of its own, removed at the end (unless KEEP=1): below BENCH_DIR
# when one is given, so that nothing else there goes with it.
WORK=${BENCH_DIR:+$BENCH_DIR/mount}
WORK=${WORK:-/tmp/quarry-mount-bench-$$}
TOOL=$QUARRY_BIN/wimgapi_tool.exe
[ -f "$TOOL" ] || { echo "missing $TOOL: run scripts/build.sh" >&2; exit 1; }

cleanup() {
  for m in "$WORK"/m_*; do
    [ -d "$m" ] && { mountpoint -q "$m" && wimlib-imagex unmount "$m" --force >/dev/null 2>&1 || true; }
  done
  [ "${KEEP:-0}" = 1 ] || rm -rf "$WORK"
}
trap cleanup EXIT
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
winpath() { local p=$1; echo "Z:${p//\//\\}"; }
now() { date +%s.%N; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

# The tree: DIRS folders, each filled from one stream of random bytes cut
# into equal files.
DIRS=100
PER_DIR=$(( (FILES + DIRS - 1) / DIRS ))
FILE_KB=$(( SIZE_MB * 1024 / (PER_DIR * DIRS) ))
if [ ! -f "$WORK/base.wim" ]; then
  echo "Generating $((PER_DIR * DIRS)) files of $FILE_KB KB ..."
  for d in $(seq -w 1 $DIRS); do
    mkdir -p "$WORK/tree/d$d"
    head -c $((PER_DIR * FILE_KB * 1024)) /dev/urandom | (cd "$WORK/tree/d$d" && split -b ${FILE_KB}k -a 4 - f)
  done
  echo "Capturing ..."
  wimlib-imagex capture "$WORK/tree" "$WORK/base.wim" --compress=none >/dev/null
  rm -rf "$WORK/tree"
fi
WIM=$WORK/bench.wim
echo "Image: $(wimlib-imagex info "$WORK/base.wim" 1 | sed -n 's/^File Count: *//p') files," \
  "$(du -m "$WORK/base.wim" | cut -f1) MB"
FIRST=d$(seq -w 1 $DIRS | head -1)/faaaa

"$WINESERVER" -p
"$WINE" cmd /c exit >/dev/null 2>&1 </dev/null || true
sync

# tool <args...>: runs wimgapi_tool; sets CALL (its ms) and WALL (s).
tool() {
  local t0 out
  t0=$(now)
  out=$("$WINE" "$TOOL" "$@" 2>&1) || { echo "wimgapi_tool $*: $out" >&2; exit 1; }
  WALL=$(secs "$t0" "$(now)")
  CALL=$(sed -n 's/^ms=\([0-9]*\).*/\1/p' <<<"$out" | tail -1)
  CALL=$(awk -v m="${CALL:-0}" 'BEGIN { printf "%.3f", m / 1000 }')
}

declare -A T
run_imagex() {
  local m=$WORK/m_imagex t0
  cp "$WORK/base.wim" "$WIM"; sync; mkdir -p "$m"
  t0=$(now); wimlib-imagex mountrw "$WIM" 1 "$m"; ls "$m" >/dev/null; T[imagex,mount]=$(secs "$t0" "$(now)")
  echo changed >"$m/$FIRST"
  t0=$(now); wimlib-imagex unmount "$m" --commit >/dev/null; T[imagex,commit]=$(secs "$t0" "$(now)")
  wimlib-imagex mountrw "$WIM" 1 "$m"; echo changed >"$m/$FIRST"
  t0=$(now); wimlib-imagex unmount "$m" >/dev/null; T[imagex,discard]=$(secs "$t0" "$(now)")
}

run_library() { # name, then the environment for the tool
  local name=$1 m=$WORK/m_$1 w
  cp "$WORK/base.wim" "$WIM"; sync; mkdir -p "$m"
  w=$(winpath "$m")
  export WIMGAPI_WINE_NO_FUSE=$2
  local t0; t0=$(now)
  tool mount "$(winpath "$WIM")" 1 "$w" rw; ls "$m" >/dev/null
  T[$name,mount]=$CALL; T[$name,mountwall]=$(secs "$t0" "$(now)")
  echo changed >"$m/$FIRST"
  tool unmount "$w" commit; T[$name,commit]=$CALL; T[$name,commitwall]=$WALL
  tool mount "$(winpath "$WIM")" 1 "$w" rw; echo changed >"$m/$FIRST"
  tool unmount "$w"; T[$name,discard]=$CALL; T[$name,discardwall]=$WALL
  unset WIMGAPI_WINE_NO_FUSE
}

echo "wimlib-imagex ..."; run_imagex
echo "wimgapi.dll, FUSE ..."; run_library fuse 0
echo "wimgapi.dll, extracted copy ..."; run_library copy 1

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
printf '\n%-9s %14s %12s %12s %8s %12s %12s %8s %10s\n' step wimlib-imagex fuse-call fuse-wall ratio \
  copy-call copy-wall ratio copy/fuse
for s in mount commit discard; do
  wall=${s}wall
  [ "$s" = mount ] && wall=mountwall
  printf '%-9s %13ss %11ss %11ss %8s %11ss %11ss %8s %10s\n' "$s" "${T[imagex,$s]}" "${T[fuse,$s]}" \
    "${T[fuse,$wall]}" "$(ratio "${T[fuse,$s]}" "${T[imagex,$s]}")" "${T[copy,$s]}" "${T[copy,$wall]}" \
    "$(ratio "${T[copy,$s]}" "${T[imagex,$s]}")" "$(ratio "${T[copy,$s]}" "${T[fuse,$s]}")"
done
