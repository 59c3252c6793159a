#!/usr/bin/env bash
# Runs the service: first the real service logic on the simulated Windows machine (quenvar-sim),
# then the real QuenvarService.exe as a Windows service under Wine at Windows versions 6 and 5.
set -uo pipefail
cd "$(dirname "$0")/.."

quiet() {
    local log
    log=$(mktemp)
    if ! "$@" >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        echo "failed: $*" >&2
        exit 1
    fi
    rm -f "$log"
}

echo "Installing what is missing and building (a first build takes a few minutes)..."
quiet tools/setup.sh
quiet cmake --preset host
quiet cmake --build build/host --target quenvar-sim
quiet cmake --preset windows
quiet cmake --build build/windows --target QuenvarService QuenvarCheck sc_probe

echo
echo "The service on the simulated machine:"
build/host/quenvar-sim || exit 1
echo
tools/wine/service-tour.sh build/windows
