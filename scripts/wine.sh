#!/usr/bin/env bash
# Runs a Windows program in the project's private Wine prefix.
#
# A program that ends with a non-zero status says so on standard error, so
# a test that dies before printing anything still leaves its exit status
# (and Wine's own error messages, which stay switched on) in the log.
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$WINE" "$@"
rc=$?
if [ $rc -ne 0 ]; then
  echo "wine.sh: $(basename "${1:-?}") ${*:2:1} ended with exit status $rc" >&2
fi
exit $rc
