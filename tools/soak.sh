#!/usr/bin/env bash
# Runs the seeded soak of the service on the simulated machine with new seeds, at Windows 6.1 and
# 5.1, for about as long as asked. A failing seed prints its steps and the command that replays it.
#   tools/soak.sh SECONDS
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:?usage: tools/soak.sh SECONDS}
tools/setup.sh
cmake --preset host >/dev/null
cmake --build build/host --target quenvar-soak
exec build/host/tests/quenvar-soak --seconds "$seconds"
