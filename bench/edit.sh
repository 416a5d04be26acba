#!/usr/bin/env bash
# Editing an image in place (not a test, not shipped): one 1 MB file added to
# an image of about 200 MB and saved, through the browser page (dropped, then
# "保存": one update and one in-place write) and through
# `wimlib-imagex update` with the same command, REPS times each, interleaved
# on copies of the same file. Compares CPU time (the target: the page within
# 1.2 times wimlib-imagex) and shows wall time beside it.
#
#   scripts/build.sh && scripts/wineprefix.sh && bench/edit.sh
#   REPS=5 BENCH_DIR=/tmp/qbench bench/edit.sh
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
source "$(dirname "${BASH_SOURCE[0]}")/settle.sh"
REPS=${REPS:-3}
WORK=${BENCH_DIR:-$QUARRY_BUILD/bench}/edit
DRIVER=$QUARRY_BIN/gui_browser_edit_tests.exe
[ -f "$DRIVER" ] || { echo "missing $DRIVER: run scripts/build.sh" >&2; exit 1; }
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

# The image: a file of 200 MB (40 files of 5 MB that do not compress, and
# some text that does), LZX, made once and kept.
BASE=$WORK/base200.wim
if [ ! -f "$BASE" ]; then
  rm -rf "$WORK/tree"
  mkdir -p "$WORK/tree"
  for i in $(seq -w 1 40); do
    { head -c 5000000 /dev/urandom; head -c 500000 < <(yes "quarry edit bench line $i"); } >"$WORK/tree/f$i.bin"
  done
  wimlib-imagex capture "$WORK/tree" "$BASE" bench --compress=LZX >/dev/null
  rm -rf "$WORK/tree"
fi
mkdir -p "$WORK/add"
[ -f "$WORK/add/extra.bin" ] || { head -c 524288 /dev/urandom; head -c 524288 < <(yes "one added file"); } >"$WORK/add/extra.bin"
echo "image $(($(stat -c %s "$BASE") / 1000000)) MB; one file of 1 MB added; $REPS runs each"

RESULTS=$WORK/results.txt
: >"$RESULTS"
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w 2>/dev/null || true
TOOL=$QUARRY_BIN/wimgapi_tool.exe
export WORK BASE DRIVER REPS RESULTS TOOL
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -euo pipefail
  source "'"$QUARRY_ROOT"'/scripts/env.sh"
  source "'"$QUARRY_ROOT"'/bench/settle.sh"
  "$WINESERVER" -p
  "$WINE" cmd /c exit >/dev/null 2>&1 </dev/null
  winpath() { local p=$1; echo "Z:${p//\//\\}"; }
  for ((r = 0; r <= REPS; r++)); do
    cp "$BASE" "$WORK/imagex.wim"; cp "$BASE" "$WORK/quarry.wim"; cp "$BASE" "$WORK/mount.wim"; settle
    /usr/bin/time -f "%e %U %S" -o "$WORK/t.txt" sh -c "echo \"add $WORK/add/extra.bin /extra.bin\" | wimlib-imagex update \"$WORK/imagex.wim\" 1 >/dev/null"
    ix=$(awk "{ printf \"%s %.3f\", \$1, \$2 + \$3 }" "$WORK/t.txt")
    sync
    q=$(cd "$(dirname "$DRIVER")" && QUARRY_BENCH_WIM=$(winpath "$WORK/quarry.wim") QUARRY_BENCH_FILE=$(winpath "$WORK/add/extra.bin") \
        "$WINE" "$DRIVER" --gtest_also_run_disabled_tests --gtest_filter="EditBench.*" | tr -d "\r" | grep "^quarry-edit")
    wimlib-imagex verify "$WORK/quarry.wim" >/dev/null
    wimlib-imagex dir "$WORK/quarry.wim" 1 >"$WORK/dir.txt"; grep -q "^/extra.bin$" "$WORK/dir.txt"
    # The same change the long way: mounted read-write through our own
    # wimgapi.dll (FUSE where the machine has it), the file copied in, the
    # image committed and unmounted (wall time of the whole).
    rm -rf "$WORK/mnt"; mkdir -p "$WORK/mnt"; sync
    m0=$(date +%s.%N)
    "$WINE" "$TOOL" mount "$(winpath "$WORK/mount.wim")" 1 "$(winpath "$WORK/mnt")" rw >/dev/null
    cp "$WORK/add/extra.bin" "$WORK/mnt/extra.bin"
    "$WINE" "$TOOL" unmount "$(winpath "$WORK/mnt")" commit >/dev/null
    mw=$(awk -v a="$m0" -v b="$(date +%s.%N)" "BEGIN { printf \"%.3f\", b - a }")
    grep -q "^/extra.bin$" <<<"$(wimlib-imagex dir "$WORK/mount.wim" 1)"
    # Round 0 warms the caches and is not counted.
    [ $r -gt 0 ] && echo "$ix $q $mw" >>"$RESULTS"
  done
  "$WINESERVER" -k 2>/dev/null || true'
rm -rf "$WORK/imagex.wim" "$WORK/quarry.wim" "$WORK/mount.wim" "$WORK/mnt"
python3 - "$RESULTS" <<'PY'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1]) if l.strip()]
# line: imagex-wall imagex-cpu quarry-edit cpu C wall W mount-wall
iw = [float(r[0]) for r in rows]; ic = [float(r[1]) for r in rows]
qc = [float(r[4]) for r in rows]; qw = [float(r[6]) for r in rows]
ratio = statistics.median(q / max(i, 0.001) for q, i in zip(qc, ic))
print("edit     imagex cpu %.3f wall %.3f   page cpu %.3f wall %.3f" %
      (statistics.median(ic), statistics.median(iw), statistics.median(qc), statistics.median(qw)))
mw = [float(r[7]) for r in rows]
mount_ratio = statistics.median(q / max(m, 0.001) for q, m in zip(qw, mw))
ok = ratio <= 1.2
print("edit     cpu ratio %.3f (target <= 1.20) %s" % (ratio, "ok" if ok else "OVER"))
print("edit     wall %.3f s vs mount, copy, commit, unmount %.3f s: ratio %.3f (target <= 0.05) %s" %
      (statistics.median(qw), statistics.median(mw), mount_ratio, "ok" if mount_ratio <= 0.05 else "OVER"))
ok &= mount_ratio <= 0.05
sys.exit(0 if ok else 1)
PY
