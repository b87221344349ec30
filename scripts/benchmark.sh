#!/usr/bin/env bash
# Times the exports against the floor of the same platform, under Wine, in a
# fresh prefix of its own, and prints the figures.
#
#   scripts/benchmark.sh [largest shortcut count (default 5000)]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target VINSTALLDLL benchmark >/dev/null

prefix="$PWD/build/bench-prefix"
rm -rf "$prefix"
cmake/make-wineprefix.sh "$prefix"
trap 'WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true' EXIT
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(wine --version)"
WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d \
  wine build/tools/benchmark.exe "$PWD/build/VINSTALLDLL.dll" "${1:-5000}" </dev/null
