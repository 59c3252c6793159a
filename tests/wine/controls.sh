#!/usr/bin/env bash
# Sends the real QuenvarService.exe, running as a service under Wine at Windows version 6, every
# control code from 0 to 255 that the service manager lets through; interrogations in a tight loop
# from two clients at once; and then a hundred start-and-stop cycles.
#   tests/wine/controls.sh [BUILD_DIR]       (default: build/windows)
# The service answers as its handler's table says (interrogate answered, every other code it
# receives ERROR_CALL_NOT_IMPLEMENTED; codes the manager refuses itself are counted apart), stays
# RUNNING until the stop, and reaches STOPPED in every cycle. Exits non-zero on any failed check.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tools/wine/prefix.sh"
source "$root/tools/wine/pulse.sh"

build=${1:-$root/build/windows}
service_exe=$build/QuenvarService.exe
probe_exe=$build/tests/wine/sc_probe.exe
name=Quenvar_Service
install_path='C:\Program Files\Quenvar\QuenvarService.exe'
cycles=${QUENVAR_WINE_CYCLES:-100}
loop_ms=3000
failures=0

# check DESCRIPTION COMMAND...: runs a Wine command, shows its output indented, counts a failure.
check() {
    local what=$1 out rc
    shift
    out=$(wine_call "$WINE_CALL_LIMIT" "$@" 2>&1)
    rc=$?
    out=${out//$'\r'/}
    [ -z "$out" ] || sed 's/^/    /' <<<"$out"
    if [ "$rc" -ne 0 ]; then
        echo "  FAIL: $what (exit $rc)"
        failures=$((failures + 1))
    fi
    return "$rc"
}

for exe in "$service_exe" "$probe_exe"; do
    [ -f "$exe" ] || { echo "FAIL: $exe is missing: build the windows preset first"; exit 1; }
done
trap 'wine_prefix_end; pulse_stop' EXIT
trap 'exit 130' INT TERM
started=$(date +%s)
pulse_start || exit 1
wine_prefix_create || exit 1
wine_reg_set 'HKCU\Software\Wine\Drivers' Audio pulse || exit 1
mkdir -p "$WINEPREFIX/drive_c/Program Files/Quenvar"
cp "$service_exe" "$WINEPREFIX/drive_c/Program Files/Quenvar/"

check "install" wine "$install_path" -install
echo "  every control code but the stop, at version 6:"
if check "start" wine "$probe_exe" start "$name" 10000; then
    check "controls 0-255" wine "$probe_exe" controls "$name"
    echo "  interrogations from two clients at once for $((loop_ms / 1000)) s:"
    loop_out=$(mktemp)
    for client in 1 2; do
        wine_call "$WINE_CALL_LIMIT" wine "$probe_exe" interrogate-loop "$name" "$loop_ms" \
            >"$loop_out.$client" 2>&1 &
    done
    for client in 1 2; do
        wait -n || { echo "  FAIL: an interrogation client"; failures=$((failures + 1)); }
    done
    for client in 1 2; do
        sed "s/\r//; s/^/    client $client: /" "$loop_out.$client"
    done
    rm -f "$loop_out" "$loop_out".*
    check "still running" wine "$probe_exe" query "$name"
    check "stop" wine "$probe_exe" stop "$name" 10000
fi
echo "  $cycles start-and-stop cycles:"
WINE_CALL_LIMIT=400 check "cycles" wine "$probe_exe" cycles "$name" "$cycles" 20000
check "remove" wine "$install_path" -remove
echo "  $(($(date +%s) - started)) s, $failures failed checks"
[ "$failures" -eq 0 ]
