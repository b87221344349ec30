#!/usr/bin/env bash
# Installs what is missing, builds the DLL and its tests, runs every test
# under Wine.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default
