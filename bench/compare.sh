#!/usr/bin/env bash
# Comparison benchmark (not a test). Makes two trees of FILES files
# (default 100,000) that differ in a few thousand files, captures each into
# a WIM with wimlib-imagex, then, REPS times: reads both trees and compares
# them through the program's wimlib engine under Wine (gui_compare_tests'
# bench driver), beside two `wimlib-imagex dir --detailed` runs of the same
# images (the least it costs to read both trees). Prints the comparison's
# time after reading, the whole run's time and the ratio of the whole run
# to the two listings (target: at most 1.5).
#
#   scripts/build.sh && scripts/wineprefix.sh && bench/compare.sh
#   FILES=20000 REPS=3 BENCH_DIR=/tmp/cb bench/compare.sh
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
FILES=${FILES:-100000}
REPS=${REPS:-3}
# A folder of its own, also below a BENCH_DIR that run.sh shares: it
# removes its own images there.
WORK=${BENCH_DIR:+$BENCH_DIR/compare}
WORK=${WORK:-$QUARRY_BUILD/bench-compare}
DRIVER=$QUARRY_BIN/gui_compare_tests.exe
[ -f "$DRIVER" ] || { echo "missing $DRIVER: run scripts/build.sh" >&2; exit 1; }
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

if [ ! -f "$WORK/done2-$FILES" ]; then
  rm -rf "$WORK/a" "$WORK/b" "$WORK"/*.wim "$WORK"/done*
  python3 - "$WORK" "$FILES" <<'PY'
import os, sys
work, files = sys.argv[1], int(sys.argv[2])
for side in ("a", "b"):
    for i in range(files):
        d = os.path.join(work, side, "Windows", "d%03d" % (i // 250))
        if i % 250 == 0:
            os.makedirs(d, exist_ok=True)
        name = "f%06d.dll" % i
        data = b"content %d\n" % i
        if side == "b":
            if i % 97 == 0: data += b"changed\n"                # changed content
            if i % 211 == 0: name = "moved-" + name              # moved, same content
            if i % 503 == 0: continue                            # removed
        with open(os.path.join(d, name), "wb") as f:
            f.write(data)
    if side == "b":
        os.makedirs(os.path.join(work, "b", "New"), exist_ok=True)
        for i in range(files // 100):
            with open(os.path.join(work, "b", "New", "n%05d.txt" % i), "wb") as f:
                f.write(b"new %d\n" % i)
    # One time for everything, as two builds of one system have for the
    # files they share: only the real changes differ.
    for top, dirs, names in os.walk(os.path.join(work, side), topdown=False):
        for n in names + dirs:
            os.utime(os.path.join(top, n), (1600000000, 1600000000))
PY
  wimlib-imagex capture "$WORK/a" "$WORK/a.wim" A --compress=LZX >/dev/null
  wimlib-imagex capture "$WORK/b" "$WORK/b.wim" B --compress=LZX >/dev/null
  rm -rf "$WORK/a" "$WORK/b"
  touch "$WORK/done2-$FILES"
fi
echo "two images of $FILES files (and more): $WORK/a.wim, $WORK/b.wim"

"$WINESERVER" -p 120 2>/dev/null || true
"$WINE" cmd /c exit >/dev/null 2>&1 </dev/null || true
RESULTS=$WORK/results.txt
: >"$RESULTS"
wall() { /usr/bin/time -f "%e" -o "$WORK/t.txt" "$@" >/dev/null 2>&1; cat "$WORK/t.txt"; }
for ((r = 0; r <= REPS; r++)); do
  listings=$(/usr/bin/time -f "%e" -o "$WORK/t.txt" sh -c \
    'wimlib-imagex dir "$1" 1 --detailed >/dev/null && wimlib-imagex dir "$2" 1 --detailed >/dev/null' \
    sh "$WORK/a.wim" "$WORK/b.wim"; cat "$WORK/t.txt")
  line=$(cd "$(dirname "$DRIVER")" && QUARRY_BENCH_FIRST=$(winpath "$WORK/a.wim") \
         QUARRY_BENCH_SECOND=$(winpath "$WORK/b.wim") /usr/bin/time -f "wall %e" -o "$WORK/q.txt" \
         "$WINE" "$DRIVER" --gtest_also_run_disabled_tests --gtest_filter="CompareBench.*" | tr -d "\r" |
         grep "^quarry-compare")
  # Round 0 warms the caches and is not counted.
  [ $r -gt 0 ] && echo "$listings $(cat "$WORK/q.txt") $line" >>"$RESULTS"
done
"$WINESERVER" -k 2>/dev/null || true
python3 - "$RESULTS" <<'PY'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1]) if l.strip()]
# listings "wall" process-wall quarry-compare entries A B rows R read X compare Y total Z
listing = [float(r[0]) for r in rows]
process = [float(r[2]) for r in rows]
compare = [float(r[r.index("compare") + 1]) for r in rows]
total = [float(r[r.index("total") + 1]) for r in rows]
print("entries %s + %s, %s differences" % (rows[0][5], rows[0][6], rows[0][8]))
print("two wimlib-imagex dir --detailed: median %.3f s" % statistics.median(listing))
print("compare after reading:            median %.3f s (target <= 2)" % statistics.median(compare))
print("read both + compare (in process): median %.3f s" % statistics.median(total))
print("whole Wine process:               median %.3f s" % statistics.median(process))
ratio = statistics.median(t / l for t, l in zip(total, listing))
print("read + compare / two listings:    %.2f (target <= 1.5) %s" % (ratio, "ok" if ratio <= 1.5 else "OVER"))
sys.exit(0 if ratio <= 1.5 and statistics.median(compare) <= 2 else 1)
PY
