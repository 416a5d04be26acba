#!/usr/bin/env bash
# Start-up benchmark (not a test, not shipped): starts Quarry.exe RUNS times,
# each time until its main window is shown and again until it has closed,
# and beside it trivial_window.exe, the smallest Windows program with a
# window, started the same way. Prints the medians (milliseconds, wall) and
# Quarry's launch to window shown beside its target.
#
#   scripts/build.sh && scripts/wineprefix.sh && bench/startup.sh
#   RUNS=11 bench/startup.sh
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
RUNS=${RUNS:-7}
TARGET_MS=${TARGET_MS:-250}
WORK=${BENCH_DIR:-$QUARRY_BUILD/bench}/startup
for f in Quarry.exe startup_bench.exe trivial_window.exe wimlib/libwim-15.dll; do
  [ -f "$QUARRY_BIN/$f" ] || { echo "missing $QUARRY_BIN/$f: run scripts/build.sh" >&2; exit 1; }
done
# A folder of its own, as a user's copy: Quarry keeps its settings beside it.
rm -rf "$WORK"
mkdir -p "$WORK/wimlib"
cp "$QUARRY_BIN/Quarry.exe" "$QUARRY_BIN/startup_bench.exe" "$QUARRY_BIN/trivial_window.exe" "$WORK/"
cp "$QUARRY_BIN/wimlib/libwim-15.dll" "$WORK/wimlib/"
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

export WORK RUNS
OUT=$WORK/runs.txt
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -euo pipefail
  source "'"$QUARRY_ROOT"'/scripts/env.sh"
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -p
  "$WINE" cmd /c exit >/dev/null 2>&1 </dev/null
  winpath() { local p=$1; echo "Z:${p//\//\\}"; }
  cd "$WORK"
  # One start of each first: the Wine server, fonts and the program files
  # are then warm for both alike.
  "$WINE" ./startup_bench.exe 1 "$(winpath "$WORK/Quarry.exe")" >/dev/null
  "$WINE" ./startup_bench.exe 1 "$(winpath "$WORK/trivial_window.exe")" >/dev/null
  for ((i = 0; i < RUNS; i++)); do
    printf "quarry " >>runs.txt; "$WINE" ./startup_bench.exe 1 "$(winpath "$WORK/Quarry.exe")" | tr -d "\r" >>runs.txt
    printf "trivial " >>runs.txt; "$WINE" ./startup_bench.exe 1 "$(winpath "$WORK/trivial_window.exe")" | tr -d "\r" >>runs.txt
  done
  "$WINESERVER" -k 2>/dev/null || true'
python3 - "$OUT" "$TARGET_MS" <<'PY'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1]) if l.strip()]
target = float(sys.argv[2])
def med(kind, col):
    return statistics.median(float(r[col]) for r in rows if r[0] == kind)
qs, qc, ts, tc = med("quarry", 2), med("quarry", 4), med("trivial", 2), med("trivial", 4)
print("startup  quarry shown %.0f ms closed %.0f ms   trivial shown %.0f ms closed %.0f ms   (%d runs, warm)" %
      (qs, qc, ts, tc, sum(1 for r in rows if r[0] == "quarry")))
ok = qs <= target
print("startup  shown %.0f ms (target <= %.0f ms) %s" % (qs, target, "ok" if ok else "OVER"))
sys.exit(0 if ok else 1)
PY
