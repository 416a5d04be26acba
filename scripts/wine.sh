#!/usr/bin/env bash
# Runs a Windows program in the project's private Wine prefix.
#
# A program that ends with a non-zero status says so on standard error, so
# a test that dies before printing anything still leaves its exit status
# (and Wine's own error messages, which stay switched on) in the log.
#
# In a test run (QUARRY_TEST_RUN set), a process that ends with an error
# before printing a single byte never reached the test program's own code:
# Wine's start-up failed under it. Such a start is made once more and
# counted in $QUARRY_BUILD/silent-starts.log, which the test run reports.
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
what="$(basename "${1:-?}") ${*:2:1}"
if [ -z "${QUARRY_TEST_RUN:-}" ]; then
  "$WINE" "$@"
  rc=$?
  [ $rc -ne 0 ] && echo "wine.sh: $what ended with exit status $rc" >&2
  exit $rc
fi

out=$(mktemp) err=$(mktemp)
for attempt in 1 2; do
  "$WINE" "$@" >"$out" 2>"$err"
  rc=$?
  cat "$out"
  cat "$err" >&2
  if [ $rc -ne 0 ] && [ $attempt = 1 ] && [ ! -s "$out" ] && [ ! -s "$err" ]; then
    echo "$(date -u +%FT%TZ) $what: exit status $rc before any output; started again" >>"$QUARRY_BUILD/silent-starts.log"
    continue
  fi
  break
done
rm -f "$out" "$err"
[ $rc -ne 0 ] && echo "wine.sh: $what ended with exit status $rc" >&2
exit $rc
