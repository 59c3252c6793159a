#!/usr/bin/env bash
# Runs one Windows program under Wine in a private throwaway prefix and returns its exit status:
# the emulator through which ctest runs the Windows-built test suites.
#   tools/wine-run.sh program.exe [arguments...]
# QUENVAR_WINE_LIMIT bounds the program's run in seconds (default 540, below ctest's 600, so the
# prefix is still cleaned up when a suite hangs).
# QUENVAR_WINE_PULSE=1 gives the prefix the private PulseAudio daemon's null sinks as its render
# devices; QUENVAR_WINE_DISPLAY=1 gives it a virtual X display (Xvfb), for windows outside a
# service.
set -uo pipefail
here=$(dirname "$0")
source "$here/wine/prefix.sh"
source "$here/wine/pulse.sh"
source "$here/wine/display.sh"

limit=${QUENVAR_WINE_LIMIT:-540}
trap 'wine_prefix_end; pulse_stop; display_stop' EXIT
trap 'exit 130' INT TERM

if [ "${QUENVAR_WINE_PULSE:-0}" = 1 ]; then
    pulse_start || exit 125
fi
# The display must be there when the prefix starts: Wine's desktop picks its driver then.
if [ "${QUENVAR_WINE_DISPLAY:-0}" = 1 ]; then
    display_start || exit 125
fi
wine_prefix_create || exit 125
if [ "${QUENVAR_WINE_PULSE:-0}" = 1 ]; then
    wine_reg_set 'HKCU\Software\Wine\Drivers' Audio pulse || exit 125
fi
wine_call "$limit" wine "$@"
status=$?
if [ "$status" -eq 124 ]; then
    echo "wine-run: $1 did not finish within ${limit} s" >&2
elif [ "$status" -ne 0 ]; then
    echo "wine-run: $1 exited with status $status" >&2
fi
exit "$status"
