#!/usr/bin/env bash
# Runs the service: the simulated-machine demo.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake --preset host >/dev/null
cmake --build build/host --target quenvar-sim >/dev/null
build/host/quenvar-sim
