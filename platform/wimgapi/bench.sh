#!/usr/bin/env bash
# Benchmark of wimgapi.dll against wimlib-imagex.
#
# Generates a tree (5200 files, about 210 MB, two thirds compressible text,
# one third random bytes), then captures it into a new LZX file and applies
# it to an empty folder, once through wimgapi.dll (driven by the small
# Windows program wimgapi_tool.exe under Wine) and once with wimlib-imagex
# (LZX, one thread per core: its defaults, which wimgapi.dll also uses).
# Each step runs ROUNDS times, alternating the two (and a third run through
# wimgapi.dll with a message callback registered, as the program does), and
# the best times of each are compared: the machine may be shared, and the
# best of several runs is the least disturbed one.  Three times are shown:
# the time spent in the library calls (measured by wimgapi_tool; for
# wimlib-imagex its whole run), and the wall-clock and CPU time of the
# processes, which for wimgapi.dll include starting a Wine process.  The
# target is a ratio of at most 1.10.
#
#   platform/wimgapi/bench.sh [rounds]     (after scripts/build.sh and
#                                           scripts/wineprefix.sh)
# Environment: BENCH_DIR (default /tmp/wimgapi-bench-$$, removed at the end
# unless KEEP=1), FILES, SIZE_KB (average file size), BENCH_SHARED_PREFIX=1
# to run in the project's Wine prefix instead of a private one.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$ROOT/scripts/env.sh"

# Wine needs a display for the prefix's shared wineserver; keep the whole
# run inside one X session.
if [ -z "${DISPLAY:-}" ] && [ -z "${BENCH_IN_XVFB:-}" ]; then
  BENCH_IN_XVFB=1 exec xvfb-run -a "$0" "$@"
fi

ROUNDS=${1:-5}
FILES=${FILES:-5200}
SIZE_KB=${SIZE_KB:-40}
BENCH_DIR=${BENCH_DIR:-/tmp/wimgapi-bench-$$}
TOOL="$QUARRY_BIN/wimgapi_tool.exe"
IMAGEX=/usr/bin/wimlib-imagex

DLL="$QUARRY_BUILD/winelib/wimgapi.dll"
[ -f "$TOOL" ] && [ -f "$DLL" ] || { echo "missing $TOOL or $DLL: run scripts/build.sh" >&2; exit 1; }

cleanup() {
  # Let the private prefix's wineserver end (5 s after the last process).
  [ "${BENCH_SHARED_PREFIX:-0}" = 1 ] || [ ! -d "$BENCH_DIR/prefix" ] || "$WINESERVER" -w || true
  [ "${KEEP:-0}" = 1 ] || rm -rf "$BENCH_DIR"
}
trap cleanup EXIT
mkdir -p "$BENCH_DIR"
SRC=$BENCH_DIR/src

echo "Generating $FILES files of about $SIZE_KB KB in $SRC ..."
python3 - "$SRC" "$FILES" "$SIZE_KB" <<'EOF'
import os, random, sys
root, count, avg = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]) * 1024
rng = random.Random(1234)
words = [''.join(rng.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rng.randint(2, 10)))
         for _ in range(4000)]
for i in range(count):
    d = os.path.join(root, 'dir%03d' % (i // 100), 'sub%d' % (i % 7))
    os.makedirs(d, exist_ok=True)
    size = rng.randint(avg // 5, avg * 9 // 5)
    if i % 3 == 2:
        data = os.urandom(size)
    else:
        parts, n = [], 0
        while n < size:
            line = ' '.join(rng.choice(words) for _ in range(12)) + ' %d\n' % rng.randint(0, 10**9)
            parts.append(line)
            n += len(line)
        data = ''.join(parts).encode()[:size]
    with open(os.path.join(d, 'file%05d.%s' % (i, 'bin' if i % 3 == 2 else 'txt')), 'wb') as f:
        f.write(data)
EOF
echo "Source: $(find "$SRC" -type f | wc -l) files, $(du -sm "$SRC" | cut -f1) MB"

# A private Wine prefix (unless BENCH_SHARED_PREFIX=1): the project's prefix
# is shared by every test run on the machine, and a busy wineserver slows the
# start of each process.  wimgapi.dll goes into its system folder, as
# scripts/wineprefix.sh does for the project's prefix.
if [ "${BENCH_SHARED_PREFIX:-0}" != 1 ]; then
  export WINEPREFIX=$BENCH_DIR/prefix
  echo "Creating a private Wine prefix ..."
  "$WINE" wineboot -i >/dev/null 2>&1
  "$WINESERVER" -w
fi
cp "$DLL" "$WINEPREFIX/drive_c/windows/system32/wimgapi.dll"

# A persistent wineserver, so each Windows process starts as it would in a
# running session (about 0.05 s) rather than cold; it ends by itself.
"$WINESERVER" -p5 2>/dev/null || true
"$WINE" "$TOOL" mounts >/dev/null 2>&1 || true

winpath() { echo "Z:${1//\//\\}"; }

best() { awk -v a="$1" -v b="$2" 'BEGIN { print (a < b) ? a : b }'; }

# run_timed NAME command...: runs the command and keeps the best wall-clock
# and CPU (user + system) seconds under BEST_WALL_NAME and BEST_CPU_NAME.
declare -A BEST_WALL BEST_CPU BEST_CALL
run_timed() {
  local name=$1; shift
  /usr/bin/time -f "%e %U %S" -o "$BENCH_DIR/time.txt" "$@" >"$BENCH_DIR/last.log" 2>&1 ||
    { cat "$BENCH_DIR/last.log" >&2; echo "FAILED: $*" >&2; exit 1; }
  read -r wall user sys <"$BENCH_DIR/time.txt"
  cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
  # wimgapi_tool reports the time of the library calls alone ("ms=...");
  # for wimlib-imagex the process is the call.
  lib=$(sed -n 's/^ms=\([0-9.]*\).*/\1/p' "$BENCH_DIR/last.log" | awk '{ printf "%.3f", $1 / 1000 }')
  BEST_WALL[$name]=$(best "${BEST_WALL[$name]:-999999}" "$wall")
  BEST_CPU[$name]=$(best "${BEST_CPU[$name]:-999999}" "$cpu")
  BEST_CALL[$name]=$(best "${BEST_CALL[$name]:-999999}" "${lib:-$wall}")
  ROUND_CALL[$name]=${lib:-$wall}
  ROUND_CPU[$name]=$cpu
  LAST="${wall}s (in calls ${lib:-$wall}s, cpu ${cpu}s)"
}

# Per-round ratios (the two runs of a round are close in time, so they see
# much the same load); their medians are shown beside the best times.
declare -A ROUND_CALL ROUND_CPU RATIOS
keep_ratios() { # round-name ours imagex
  RATIOS[$1_call]+="$(awk -v a="${ROUND_CALL[$2]}" -v b="${ROUND_CALL[$3]}" 'BEGIN { printf "%.3f", a / b }') "
  RATIOS[$1_cpu]+="$(awk -v a="${ROUND_CPU[$2]}" -v b="${ROUND_CPU[$3]}" 'BEGIN { printf "%.3f", a / b }') "
}
median() { echo "$1" | tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { printf "%.3f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Warm the page cache with one untimed read of the source.
tar -cf - -C "$SRC" . >/dev/null

for round in $(seq 1 "$ROUNDS"); do
  for who in ours imagex cb; do
    rm -rf "$BENCH_DIR/$who.wim" "$BENCH_DIR/out-$who"
    sync
    case $who in
    ours|cb)
      # cb: with a callback that looks at every message, as the program's do.
      extra=(); [ "$who" = cb ] && extra=(--callback)
      run_timed ${who}_capture "$WINE" "$TOOL" capture "$(winpath "$SRC")" "$(winpath "$BENCH_DIR/$who.wim")" 2 "${extra[@]}"
      c=$LAST
      run_timed ${who}_apply "$WINE" "$TOOL" apply "$(winpath "$BENCH_DIR/$who.wim")" 1 \
        "$(winpath "$BENCH_DIR/out-$who")" "${extra[@]}"
      ;;
    imagex)
      run_timed imagex_capture "$IMAGEX" capture "$SRC" "$BENCH_DIR/imagex.wim" --compress=LZX
      c=$LAST
      run_timed imagex_apply "$IMAGEX" apply "$BENCH_DIR/imagex.wim" 1 "$BENCH_DIR/out-imagex"
      ;;
    esac
    echo "round $round $who: capture $c, apply $LAST"
  done
  for step in capture apply; do
    keep_ratios "$step" "ours_$step" "imagex_$step"
    keep_ratios "cb_$step" "cb_$step" "imagex_$step"
  done
done

# The results must be right, not only fast.
"$IMAGEX" verify "$BENCH_DIR/ours.wim" >/dev/null
diff -r "$SRC" "$BENCH_DIR/out-ours" >/dev/null || { echo "applied tree differs from the source" >&2; exit 1; }
echo "wimgapi.dll file: $(stat -c %s "$BENCH_DIR/ours.wim") bytes; wimlib-imagex file: $(stat -c %s "$BENCH_DIR/imagex.wim") bytes"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
line() { # label ours imagex
  printf '%-18s %6.2fs %6.2fs %6s   %6.2fs %6.2fs %6s   %6.2fs %6.2fs %6s\n' "$1" \
    "${BEST_CALL[$2]}" "${BEST_CALL[$3]}" "$(ratio "${BEST_CALL[$2]}" "${BEST_CALL[$3]}")" \
    "${BEST_WALL[$2]}" "${BEST_WALL[$3]}" "$(ratio "${BEST_WALL[$2]}" "${BEST_WALL[$3]}")" \
    "${BEST_CPU[$2]}" "${BEST_CPU[$3]}" "$(ratio "${BEST_CPU[$2]}" "${BEST_CPU[$3]}")"
}
echo
echo "best of $ROUNDS rounds  -- time in the calls --   -- process wall time --   --- process cpu time ---"
echo "                    wimgapi  imagex  ratio   wimgapi  imagex  ratio   wimgapi  imagex  ratio"
line "capture (LZX)" ours_capture imagex_capture
line "apply" ours_apply imagex_apply
line "capture, callback" cb_capture imagex_capture
line "apply, callback" cb_apply imagex_apply
echo
echo "median of the per-round ratios       in the calls   cpu time"
for step in capture apply cb_capture cb_apply; do
  printf '%-34s %8s %10s\n' "$step" "$(median "${RATIOS[${step}_call]}")" "$(median "${RATIOS[${step}_cpu]}")"
done
echo "(ratio = wimgapi.dll / wimlib-imagex, target at most 1.10.  \"In the calls\" is the time"
echo " wimgapi_tool spends in WIMCreateFile..WIMCloseHandle; the process times add the start of"
echo " a Wine process, about 0.1-0.3 s, which is not the library's.)"
