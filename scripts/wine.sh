#!/usr/bin/env bash
# Runs a Windows program in the project's private Wine prefix.
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
exec "$WINE" "$@"
