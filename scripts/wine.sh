#!/usr/bin/env bash
# Runs a Windows program in the project's private Wine prefix.
#
# A program that ends with a non-zero status says so on standard error, so
# a test that dies before printing anything still leaves its exit status
# (and Wine's own error messages, which stay switched on) in the log.
#
# In a test run (QUARRY_TEST_RUN set), a process that ends with an error
# before printing a single byte to standard output never reached the test
# program's own code (the test framework prints first): Wine's start-up
# failed under it. Such a start is made once more and
# counted in $QUARRY_BUILD/silent-starts.log, which the test run reports.
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
what="$(basename "${1:-?}") ${*:2:1}"
if [ -z "${QUARRY_TEST_RUN:-}" ]; then
  "$WINE" "$@"
  rc=$?
  [ $rc -ne 0 ] && echo "wine.sh: $what ended with exit status $rc" >&2
  exit $rc
fi

# Standard output is passed on as it comes (a test that hangs still shows
# how far it got) and kept, to tell a start that printed nothing.
out=$(mktemp)
for attempt in 1 2; do
  "$WINE" "$@" | tee "$out"
  rc=${PIPESTATUS[0]}
  if [ $rc -ne 0 ] && [ $attempt = 1 ] && [ ! -s "$out" ]; then
    echo "$(date -u +%FT%TZ) $what: exit status $rc before any output; started again" >>"$QUARRY_BUILD/silent-starts.log"
    continue
  fi
  break
done
rm -f "$out"
[ $rc -ne 0 ] && echo "wine.sh: $what ended with exit status $rc" >&2
exit $rc
