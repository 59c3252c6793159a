#!/usr/bin/env bash
# Runs one Windows program under Wine in a private throwaway prefix and returns its exit status:
# the emulator through which ctest runs the Windows-built test suites.
#   tools/wine-run.sh program.exe [arguments...]
# QUENVAR_WINE_LIMIT bounds the program's run in seconds (default 540, below ctest's 600, so the
# prefix is still cleaned up when a suite hangs).
set -uo pipefail
source "$(dirname "$0")/wine/prefix.sh"

limit=${QUENVAR_WINE_LIMIT:-540}
trap wine_prefix_end EXIT
trap 'exit 130' INT TERM

wine_prefix_create || exit 125
wine_call "$limit" wine "$@"
status=$?
if [ "$status" -eq 124 ]; then
    echo "wine-run: $1 did not finish within ${limit} s" >&2
elif [ "$status" -ne 0 ]; then
    echo "wine-run: $1 exited with status $status" >&2
fi
exit "$status"
