#!/usr/bin/env bash
# Installs what is missing, builds, prepares the Wine prefix and runs every
# test under a virtual X server. Ends with the line "N passed, N failed".
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$QUARRY_ROOT/scripts/setup.sh" || exit 1
# The folders' layers are checked before anything is built: an include of a
# folder to the right of the includer, or a cycle, fails the run.
if ! "$QUARRY_ROOT/scripts/include_graph.sh"; then
  echo "The include check failed (scripts/include_graph.sh): see the includes named above."
  echo "0 passed, 1 failed"
  exit 1
fi
"$QUARRY_ROOT/scripts/build.sh" || exit 1
"$QUARRY_ROOT/scripts/wineprefix.sh" || exit 1
"$WINESERVER" -k 2>/dev/null || true
LOG=$QUARRY_BUILD/ctest.log
export QUARRY_TEST_RUN=1
rm -f "$QUARRY_BUILD/silent-starts.log"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  source "'"$QUARRY_ROOT"'/scripts/env.sh"
  # One persistent wineserver for the whole run, and Wine'"'"'s background
  # services (desktop, devices) started now, with their output going
  # nowhere: started by a test instead, they would inherit its output pipe
  # and keep ctest waiting.
  "$WINESERVER" -p
  "$WINE" cmd /c exit >/dev/null 2>&1 </dev/null
  cd "$QUARRY_BUILD/x64" && ctest --output-on-failure --timeout 300 "$@"
  rc=$?
  "$WINESERVER" -k 2>/dev/null
  exit $rc' ctest "$@" 2>&1 | tee "$LOG"
rc=${PIPESTATUS[0]}
summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$LOG" | tail -n 1)
if [ -z "$summary" ]; then
  echo "0 passed, 1 failed"
  exit 1
fi
failed=$(sed -E 's/.*tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$summary")
total=$(sed -E 's/.*tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$summary")
if [ -s "$QUARRY_BUILD/silent-starts.log" ]; then
  echo "Test processes that ended before printing anything and were started again:"
  cat "$QUARRY_BUILD/silent-starts.log"
fi
echo "$((total - failed)) passed, $failed failed"
exit $rc
