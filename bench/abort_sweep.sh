#!/usr/bin/env bash
# Stops every long engine operation at ten points of its progress, on both
# back ends, and prints one table line per stop: operation, back end, abort
# point, seconds from the request to the engine's return, result, and the
# state of the files that existed before. Build first (scripts/build.sh).
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
"$QUARRY_ROOT/scripts/wineprefix.sh" >/dev/null || exit 1
cd "$QUARRY_BIN" || exit 1
xvfb-run -a -s "-screen 0 1280x1024x24" "$WINE" engine_tests.exe \
  --gtest_also_run_disabled_tests --gtest_filter='AbortTest.DISABLED_FullSweep' 2>&1 |
  grep -E '^\||Failure|FAILED|PASSED|Expected|Which is|left behind'
