#!/usr/bin/env bash
# A big folder in the browser page (not a test, not shipped): a WIM whose
# root folder holds ROWS files (100,000), opened in the page of a real main
# window; prints the time from the open to every row listed and drawn beside
# `wimlib-imagex dir` of the same image (both wall time, medians of REPS
# runs; the target: the page within 2 times), the sorts by name, size and
# date (target: under 0.3 s each) and the process's memory (private bytes
# and working set) before the open, after the listing and after the sorts,
# and the longest the window took to answer while the folder was listed
# (in a second open of the file, so that the probe does not slow the first)
# (target: under 0.1 s, so that it can be scrolled, sorted and selected in
# while it fills).
#
#   scripts/build.sh && scripts/wineprefix.sh && bench/browser.sh
#   REPS=5 BENCH_DIR=/tmp/qbench bench/browser.sh
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
REPS=${REPS:-3}
ROWS=${ROWS:-100000}
WORK=${BENCH_DIR:-$QUARRY_BUILD/bench}/browser
DRIVER=$QUARRY_BIN/gui_look_inside_tests.exe
[ -f "$DRIVER" ] || { echo "missing $DRIVER: run scripts/build.sh" >&2; exit 1; }
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)

# The image: ROWS small files of varied sizes and several types in one
# folder, made once and kept.
WIM=$WORK/flat$ROWS.wim
if [ ! -f "$WIM" ]; then
  rm -rf "$WORK/tree"
  mkdir -p "$WORK/tree"
  python3 - "$WORK/tree" "$ROWS" <<'PY'
import os, sys
root, rows = sys.argv[1], int(sys.argv[2])
kinds = [".txt", ".dll", ".exe", ".log", ".ini", ""]
for i in range(rows):
    with open(os.path.join(root, "file%d%s" % (i, kinds[i % len(kinds)])), "wb") as f:
        f.write(b"x" * ((i * 7919) % 997))
PY
  wimlib-imagex capture "$WORK/tree" "$WIM" flat >/dev/null
  rm -rf "$WORK/tree"
fi
echo "browser  one folder of $ROWS files; $REPS runs each"

RESULTS=$WORK/results.txt
: >"$RESULTS"
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w 2>/dev/null || true
export WORK WIM DRIVER REPS ROWS RESULTS
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -euo pipefail
  source "'"$QUARRY_ROOT"'/scripts/env.sh"
  "$WINESERVER" -p
  "$WINE" cmd /c exit >/dev/null 2>&1 </dev/null
  winpath() { local p=$1; echo "Z:${p//\//\\}"; }
  for ((r = 0; r <= REPS; r++)); do
    /usr/bin/time -f "%e" -o "$WORK/t.txt" wimlib-imagex dir "$WIM" 1 >/dev/null
    ix=$(cat "$WORK/t.txt")
    q=$(cd "$(dirname "$DRIVER")" && QUARRY_BENCH_WIM=$(winpath "$WIM") QUARRY_BENCH_ROWS=$ROWS \
        "$WINE" "$DRIVER" --gtest_also_run_disabled_tests --gtest_filter="BrowserBench.*" | tr -d "\r" | grep "^quarry-browser")
    # Round 0 warms the caches and is not counted.
    [ $r -gt 0 ] && echo "$ix $q" >>"$RESULTS"
  done
  "$WINESERVER" -k 2>/dev/null || true'
python3 - "$RESULTS" <<'PY'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1]) if l.strip()]
# line: imagex-wall quarry-browser list L sort-name N sort-size S sort-date D
#       private P0 P1 P2 working W0 W1 W2 held H
med = lambda i: statistics.median(float(r[i]) for r in rows)
ix, lst, name, size, date = med(0), med(3), med(5), med(7), med(9)
ratio = statistics.median(float(r[3]) / max(float(r[0]), 0.001) for r in rows)
ok_list = ratio <= 2.0
ok_sort = name < 0.3 and size < 0.3
held = med(19)
ok_held = held < 0.1
print("browser  imagex dir wall %.3f   page listed and drawn %.3f" % (ix, lst))
print("browser  list ratio %.3f (target <= 2.00) %s" % (ratio, "ok" if ok_list else "OVER"))
print("browser  sort by name %.3f, by size %.3f, by date %.3f s (target < 0.30) %s" %
      (name, size, date, "ok" if ok_sort else "OVER"))
print("browser  private bytes %.1f -> %.1f -> %.1f MB, working set %.1f -> %.1f -> %.1f MB"
      " (before the open, listed, sorted)" % (med(11), med(12), med(13), med(15), med(16), med(17)))
print("browser  window held at most %.3f s while listing (target < 0.10) %s" % (held, "ok" if ok_held else "OVER"))
sys.exit(0 if ok_list and ok_sort and ok_held else 1)
PY
