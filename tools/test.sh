#!/usr/bin/env bash
# Runs every test: host suites, the sanitizer builds, the Windows-built suites under Wine, and the
# real service under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake --workflow --preset host
