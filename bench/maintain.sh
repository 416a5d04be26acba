#!/usr/bin/env bash
# Maintenance benchmark (not a test). On one tree (about 1,000 files and
# 80 MB, text mixed with random data), three jobs, each through the wimlib
# engine, the WIMGAPI engine (the prefix's wimgapi.dll) and wimlib-imagex,
# interleaved, REPS times each:
#
#   rebuild   a two-image LZX file whose second image was deleted without
#             a rebuild, rebuilt in place (wimlib-imagex optimize)
#   to-esd    the LZX file converted to solid LZMS (wimlib-imagex export
#             all --solid into a new file)
#   to-wim    that solid file converted back to LZX (wimlib-imagex export
#             all --compress=LZX)
#
# It prints the CPU time of each and the median per-round ratio of each
# engine to wimlib-imagex, and the sizes; target: CPU ratio <= 1.05.
#
#   scripts/build.sh && scripts/wineprefix.sh && bench/maintain.sh
#   REPS=3 BENCH_DIR=/tmp/qmaint bench/maintain.sh
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
REPS=${REPS:-3}
WORK=${BENCH_DIR:-$QUARRY_BUILD/bench-maintain}
BENCH=$QUARRY_BIN/maintain_bench.exe
[ -f "$BENCH" ] || { echo "missing $BENCH: run scripts/build.sh" >&2; exit 1; }
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
TREE=$WORK/tree
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

if [ ! -f "$WORK/tree.done" ]; then
  rm -rf "$TREE"
  python3 - "$TREE" <<'PY'
import os, random, sys
root = sys.argv[1]
rnd = random.Random(20261209)
words = "wim image rebuild verify join split esd solid lzx lzms header resource table data".split()
pool = " ".join(rnd.choice(words) for _ in range(300000)).encode()
def text(n):
    start = rnd.randrange(0, len(pool) - n)
    return pool[start:start + n]
def mixed(n):
    out, left = [], n
    while left > 0:
        k = min(left, 65536)
        out.append(os.urandom(k) if rnd.random() < 0.4 else text(k))
        left -= k
    return b"".join(out)
for part in ("kept", "dropped"):
    for i in range(500):
        d = os.path.join(root, part, "d%02d" % (i % 20))
        os.makedirs(d, exist_ok=True)
        n = rnd.choice([0, 300, 2000, 9000, 30000])
        with open(os.path.join(d, "f%04d.txt" % i), "wb") as f:
            f.write(text(n) if rnd.random() < 0.7 else os.urandom(n))
    for i in range(12):
        with open(os.path.join(root, part, "b%02d.bin" % i), "wb") as f:
            f.write(mixed(3 * 1024 * 1024 + rnd.randrange(0, 65536)))
PY
  touch "$WORK/tree.done"
fi

HAVE_WIMGAPI=0
[ -f "$WINEPREFIX/drive_c/windows/system32/wimgapi.dll" ] && HAVE_WIMGAPI=1
TOOLS="imagex wimlib"
[ $HAVE_WIMGAPI = 1 ] && TOOLS="$TOOLS wimgapi" || echo "no wimgapi.dll in the prefix: WIMGAPI engine skipped"
"$WINESERVER" -p 120 2>/dev/null || true
TIMES=$WORK/time.txt

# The files every tool starts from, made once by wimlib-imagex.
if [ ! -f "$WORK/sources.done" ]; then
  rm -f "$WORK"/src-*
  wimlib-imagex capture "$TREE/kept" "$WORK/src-deleted.wim" kept --compress=LZX >/dev/null
  wimlib-imagex append "$TREE/dropped" "$WORK/src-deleted.wim" dropped >/dev/null
  wimlib-imagex delete "$WORK/src-deleted.wim" 2 --soft >/dev/null
  wimlib-imagex capture "$TREE/kept" "$WORK/src-lzx.wim" kept --compress=LZX >/dev/null
  wimlib-imagex export "$WORK/src-lzx.wim" all "$WORK/src-solid.esd" --solid >/dev/null
  touch "$WORK/sources.done"
fi

BASE_CPU=$(for i in 1 2 3; do
  "$WINE" "$BENCH" noop >/dev/null
  /usr/bin/time -f "%U %S" -o "$TIMES" "$WINE" "$BENCH" noop >/dev/null
  awk '{ print $1 + $2 }' "$TIMES"
done | sort -n | sed -n 2p)
echo "start-up CPU of the benchmark program: ${BASE_CPU}s (taken off the engines' CPU times)"

cpu_of() { awk -v b="$1" '{ printf "%.3f\n", $1 + $2 - b }' "$TIMES"; }
# One job by one tool on a fresh copy of its source; prints "cpu size".
job() { # job tool
  local src out
  case $1 in
    rebuild) src=src-deleted.wim; code=-1 ;;
    to-esd) src=src-lzx.wim; code=3 ;;
    to-wim) src=src-solid.esd; code=2 ;;
  esac
  out=$WORK/out-$2-$1
  rm -f "$out" "$out.new"
  cp "$WORK/$src" "$out"
  sync
  if [ "$2" = imagex ]; then
    case $1 in
      rebuild) /usr/bin/time -f "%U %S" -o "$TIMES" wimlib-imagex optimize "$out" >/dev/null ;;
      to-esd) /usr/bin/time -f "%U %S" -o "$TIMES" wimlib-imagex export "$out" all "$out.new" --solid >/dev/null ;;
      to-wim) /usr/bin/time -f "%U %S" -o "$TIMES" wimlib-imagex export "$out" all "$out.new" --compress=LZX >/dev/null ;;
    esac
    [ -f "$out.new" ] && mv "$out.new" "$out"
    echo "$(cpu_of 0) $(stat -c %s "$out")"
  else
    /usr/bin/time -f "%U %S" -o "$TIMES" "$WINE" "$BENCH" rebuild "$2" "$(winpath "$out")" $code >/dev/null
    echo "$(cpu_of "$BASE_CPU") $(stat -c %s "$out")"
  fi
}

RESULTS=$WORK/results.txt
: >"$RESULTS"
for j in rebuild to-esd to-wim; do for t in $TOOLS; do job $j $t >/dev/null; done; done  # warm-up
for ((r = 1; r <= REPS; r++)); do
  for j in rebuild to-esd to-wim; do
    for t in $TOOLS; do echo "$j $t $(job $j $t)" >>"$RESULTS"; done
  done
done
for j in rebuild to-esd to-wim; do
  for t in $TOOLS; do wimlib-imagex verify "$WORK/out-$t-$j" >/dev/null; done
done

python3 - "$RESULTS" <<'PY'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    job, tool, cpu, size = line.split()
    rows.setdefault((job, tool), []).append((float(cpu), int(size)))
ok = True
print("%-8s %-8s %9s %14s" % ("job", "tool", "med cpu", "size (bytes)"))
for key in sorted(rows):
    print("%-8s %-8s %9.3f %14d" % (key[0], key[1], statistics.median(r[0] for r in rows[key]), rows[key][-1][1]))
for job in ("rebuild", "to-esd", "to-wim"):
    for tool in ("wimlib", "wimgapi"):
        if (job, tool) not in rows:
            continue
        # The ratio of the medians, as the capture and apply figures of
        # bench/run.sh: one disturbed round moves it less than a mean would.
        mine = statistics.median(t[0] for t in rows[(job, tool)])
        theirs = statistics.median(i[0] for i in rows[(job, "imagex")])
        ratio = mine / max(theirs, 0.001)
        size = rows[(job, tool)][-1][1] / rows[(job, "imagex")][-1][1]
        within = ratio <= 1.05
        ok &= within
        # Wine's CPU clock counts in steps of 10 ms: a job of a few tens of
        # milliseconds is one or two steps either way.
        coarse = "   (under 0.2 s: 10 ms steps of CPU clock)" if theirs < 0.2 else ""
        print("%-8s %-8s cpu ratio %.3f (target <= 1.05) %s   size ratio %.4f%s"
              % (job, tool, ratio, "ok" if within else "OVER", size, coarse))
sys.exit(0 if ok else 1)
PY
