#!/usr/bin/env bash
# Incremental-append benchmark (not a test, not shipped). The benchmark tree
# (bench/tree.sh) is copied and captured by wimlib-imagex; then 1 % of its
# files are rewritten, and the changed folder is appended to copies of that
# file, REPS times each, interleaved:
#   quarry   the wimlib engine, the file's last image as the template
#   imagex   wimlib-imagex append --update-of=1
#   full     the wimlib engine without a template (for comparison)
# It prints the times and the CPU ratio of quarry to imagex (median of the
# per-round ratios) beside the target. As root, every timed run starts with
# the page cache dropped (after sync); otherwise the figures say "not
# isolated".
#
#   scripts/build.sh && scripts/wineprefix.sh && bench/append.sh
#   REPS=5 COMPRESS=1 BENCH_DIR=/tmp/qbench bench/append.sh
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$HERE/../scripts/env.sh"
source "$HERE/tree.sh"
REPS=${REPS:-3}
COMPRESS=${COMPRESS:-2}
TARGET=${TARGET:-1.1}
WORK=${BENCH_DIR:-$QUARRY_BUILD/bench}
BENCH=$QUARRY_BIN/engine_bench.exe
case $COMPRESS in
  0) IMAGEX_COMPRESS=none ;;
  1) IMAGEX_COMPRESS=XPRESS ;;
  2) IMAGEX_COMPRESS=LZX ;;
  *) echo "COMPRESS must be 0, 1 or 2" >&2; exit 2 ;;
esac
[ -f "$BENCH" ] || { echo "missing $BENCH: run scripts/build.sh" >&2; exit 1; }
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

bench_tree "$WORK/tree"
# The appended folder is a copy (times kept), since 1 % of it is changed.
SRC=$WORK/append-tree
rm -rf "$SRC" "$WORK"/append-*.wim
cp -a "$WORK/tree" "$SRC"
wimlib-imagex capture "$SRC" "$WORK/append-base.wim" first --compress=$IMAGEX_COMPRESS >/dev/null
# 1 % of the files, spread over the tree, get new contents (and so a new
# last write time); half of them keep their size.
python3 - "$SRC" <<'PY'
import os, random, sys
rnd = random.Random(32)
files = sorted(os.path.join(d, f) for d, _, fs in os.walk(sys.argv[1]) for f in fs)
chosen = rnd.sample(files, max(1, len(files) // 100))
for i, path in enumerate(chosen):
    size = os.path.getsize(path)
    size = size if i % 2 == 0 else size + 1000
    with open(path, "wb") as f:
        f.write(os.urandom(size))
print("changed %d of %d files, %.1f MB" % (len(chosen), len(files), sum(os.path.getsize(p) for p in chosen) / 1e6))
PY
FILES=$(find "$SRC" -type f | wc -l)
BYTES=$(du -sb "$SRC" | cut -f1)
echo "tree $SRC: $FILES files, $((BYTES / 1000000)) MB; base compression $IMAGEX_COMPRESS; $REPS runs each"

source "$HERE/settle.sh"

"$WINESERVER" -p 120 2>/dev/null || true
TIMES=$WORK/append-time.txt
BASE_CPU=$(for i in 1 2 3 4 5; do
  "$WINE" "$BENCH" noop >/dev/null
  /usr/bin/time -f "%U %S" -o "$TIMES" "$WINE" "$BENCH" noop >/dev/null
  awk '{ print $1 + $2 }' "$TIMES"
done | sort -n | sed -n 3p)
echo "start-up CPU of the benchmark program: ${BASE_CPU}s (taken off the engine's CPU times)"

# One timed append onto a fresh copy of the base file; prints "wall cpu".
append() { # quarry|imagex|full
  local wim=$WORK/append-$1.wim
  cp "$WORK/append-base.wim" "$wim"
  settle
  if [ "$1" = imagex ]; then
    /usr/bin/time -f "%e %U %S" -o "$TIMES" wimlib-imagex append "$SRC" "$wim" second --update-of=1 >/dev/null
    awk '{ printf "%s %.3f\n", $1, $2 + $3 }' "$TIMES"
  else
    local template=last wall
    [ "$1" = full ] && template=none
    wall=$(/usr/bin/time -f "%e %U %S" -o "$TIMES" "$WINE" "$BENCH" append wimlib "$(winpath "$SRC")" "$(winpath "$wim")" $template | tr -d '\r' | tail -n 1)
    awk -v w="$wall" -v b="$BASE_CPU" '{ printf "%s %.3f\n", w, $2 + $3 - b }' "$TIMES"
  fi
}

# Warm-up (wineserver, library loading), not counted.
append quarry >/dev/null
RESULTS=$WORK/append-results.txt
: >"$RESULTS"
for ((r = 1; r <= REPS; r++)); do
  for t in quarry imagex full; do echo "$t $(append "$t")" >>"$RESULTS"; done
done
# Both incremental appends made the same image, and a sound file.
for t in quarry imagex full; do wimlib-imagex verify "$WORK/append-$t.wim" >/dev/null; done
same() { wimlib-imagex dir --detailed "$1" 2 | grep -v -e "Last Access Time" -e "Reference Count"; }
if ! diff <(same "$WORK/append-quarry.wim") <(same "$WORK/append-imagex.wim") >/dev/null; then
  echo "the engine's image differs from wimlib-imagex's" >&2
  exit 1
fi
rm -rf "$SRC" "$WORK"/append-*.wim

python3 - "$RESULTS" "$TARGET" "$BENCH_ISOLATION" <<'PY'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    tool, w, c = line.split()
    rows.setdefault(tool, []).append((float(w), float(c)))
target, isolated = float(sys.argv[2]), sys.argv[3] == "isolated"
print("%-8s %9s %9s   %s" % ("append", "med wall", "med cpu", "wall/cpu per round"))
for tool in ("quarry", "imagex", "full"):
    runs = rows[tool]
    print("%-8s %9.3f %9.3f   %s" % (tool, statistics.median(r[0] for r in runs), statistics.median(r[1] for r in runs),
                                     " ".join("%.2f/%.2f" % r for r in runs)))
ratio = statistics.median(q[1] / i[1] for q, i in zip(rows["quarry"], rows["imagex"]))
wall = statistics.median(q[0] / i[0] for q, i in zip(rows["quarry"], rows["imagex"]))
full = statistics.median(f[1] / i[1] for f, i in zip(rows["full"], rows["imagex"]))
ok = ratio <= target
print("append   template cpu ratio %.3f (target <= %.2f) %s   wall ratio %.3f   full append cpu ratio %.3f%s"
      % (ratio, target, "ok" if ok else "OVER", wall, full, "" if isolated else "   (not isolated)"))
sys.exit(0 if ok else 1)
PY
