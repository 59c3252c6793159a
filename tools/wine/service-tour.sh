#!/usr/bin/env bash
# Runs the real QuenvarService.exe as a Windows service under Wine at Windows major versions 6 and 5
# and says in a few plain lines what the service control manager reported.
#   tools/wine/service-tour.sh [BUILD_DIR]   (default: build/windows)
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tools/wine/prefix.sh"
source "$root/tools/wine/pulse.sh"

build=${1:-$root/build/windows}
name=Quenvar_Service
install_dir="Program Files/Quenvar"
install_path='C:\Program Files\Quenvar\QuenvarService.exe'
check_path='C:\Program Files\Quenvar\QuenvarCheck.exe'
trouble=0

say() { printf '  %-34s %s\n' "$1" "$2"; }

# product ARG: runs QuenvarService.exe ARG and tells its exit status and anything it printed.
product() {
    local out rc
    out=$(wine_call "$WINE_CALL_LIMIT" wine "$install_path" "$1" 2>&1)
    rc=$?
    [ "$rc" -eq 0 ] || trouble=1 # -install warns under Wine: every file is a user's there
    result="exit $rc${out:+, printed: ${out//$'\r'/}}"
}

probe() {
    probe_out=$(wine_call "$WINE_CALL_LIMIT" wine "$build/tests/wine/sc_probe.exe" "$@" 2>&1)
    probe_rc=$?
    probe_out=${probe_out//$'\r'/}
}

# sc COMMAND: Wine's own sc.exe; returns the STATE line's word, or its exit status.
sc() {
    local out rc
    out=$(wine_call "$WINE_CALL_LIMIT" wine sc "$1" "$name" 2>&1)
    rc=$?
    out=$(sed -n 's/^ *STATE *: [0-9]*  *\([A-Z_]*\).*/\1/p' <<<"${out//$'\r'/}")
    if [ "$rc" -ne 0 ]; then
        # Wine may end the service process before its dispatcher has answered a stop; whether the
        # service stopped is checked next, so a stop without an answer is no trouble by itself.
        [ "$1" = stop ] || trouble=1
        result="sc exit $rc"
    else
        result=${out:-done}
    fi
}

wait_for() {
    probe wait "$name" "$1" 10000
    if [ "$probe_rc" -eq 0 ]; then
        result="$1 after ${probe_out#reached: }"
    else
        trouble=1
        result="not $1 (${probe_out})"
    fi
}

open_prefix() {
    wine_prefix_create &&
        wine_reg_set 'HKCU\Software\Wine\Drivers' Audio pulse &&
        { [ "$1" != 5 ] || wine_prefix_winxp; } &&
        mkdir -p "$WINEPREFIX/drive_c/$install_dir" &&
        cp "$build/QuenvarService.exe" "$build/QuenvarCheck.exe" "$WINEPREFIX/drive_c/$install_dir/"
}

install() {
    product -install
    say "QuenvarService.exe -install" "$result"
    probe config "$name"
    if [ "$probe_rc" -eq 0 ]; then
        say "  registered command line" "$(sed -n 's/^path: //p' <<<"$probe_out")"
    else
        trouble=1
        say "  registered entry" "none ($probe_out)"
    fi
    sc start
    say "sc start $name" "$result"
    wait_for RUNNING
    say "  service state" "$result"
    sc query
    say "sc query $name" "$result"
    machine_check
}

# QuenvarCheck.exe beside the service: its report, and its exit status, which must be 1 here
# (Wine's devices cannot be mirrored).
machine_check() {
    local out rc
    out=$(wine_call "$WINE_CALL_LIMIT" wine "$check_path" 2>&1)
    rc=$?
    [ "$rc" -eq 1 ] || trouble=1
    say "QuenvarCheck.exe" "exit $rc; its report:"
    sed 's/^/    | /' <<<"${out//$'\r'/}"
}

for exe in "$build/QuenvarService.exe" "$build/QuenvarCheck.exe" "$build/tests/wine/sc_probe.exe"; do
    if [ ! -f "$exe" ]; then
        echo "$exe is missing: build the windows preset first" >&2
        exit 1
    fi
done
trap 'wine_prefix_end; pulse_stop' EXIT
trap 'exit 130' INT TERM
pulse_start || exit 1

echo "QuenvarService.exe under Wine, Windows version 6 (two null sinks stand in for the speakers):"
if open_prefix 6; then
    install
    sc stop
    say "sc stop $name" "$result"
    wait_for STOPPED
    say "  service state" "$result"
    product -remove
    say "QuenvarService.exe -remove" "$result"
    probe query "$name"
    [ "$probe_out" = "error: 1060" ] && say "  entry" "deleted" || {
        trouble=1
        say "  entry" "still there ($probe_out)"
    }
else
    trouble=1
    echo "  the Wine prefix could not be prepared"
fi
wine_prefix_end

echo "QuenvarService.exe under Wine, Windows version 5 (winecfg -v winxp64):"
if open_prefix 5; then
    install
    product -remove
    say "QuenvarService.exe -remove" "$result"
    probe delete "$name"
    [ "$probe_out" = "error: 1072" ] && say "  entry" "marked for deletion" || {
        trouble=1
        say "  entry" "$probe_out"
    }
    sc query
    say "sc query $name" "$result"
    say "(no stop at this version)" "Wine 8 deadlocks in it; the prefix is ended instead"
else
    trouble=1
    echo "  the Wine prefix could not be prepared"
fi
wine_prefix_end
exit "$trouble"
