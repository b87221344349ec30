#!/usr/bin/env bash
# Times the exports against the floor of the same platform, under Wine, in a
# fresh prefix of its own, and prints the figures.
#
#   scripts/benchmark.sh [largest shortcut count (default 5000)] [earlier VINSTALLDLL.dll]
#
# With an earlier build of the DLL (of the same architecture), both are timed
# in the same run, side by side, against the same floor.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# The shipped 32-bit build where 32-bit code runs, the x86_64 one elsewhere.
. scripts/wine-env.sh
if can_run_x86; then arch=x86 preset=default build=build; else arch=x64 preset=x64 build=build-x64; fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target VINSTALLDLL benchmark >/dev/null

prefix="$PWD/$build/bench-prefix"
rm -rf "$prefix"
cmake/make-wineprefix.sh "$prefix" "$arch"
trap 'WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true' EXIT
use_wine "$arch" "$prefix"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $("$WINE" --version)"
earlier=()
if [ -n "${2:-}" ]; then
  # A copy beside the measured one would share its name and folder; its own
  # folder keeps the two apart.
  mkdir -p "$prefix/earlier"
  cp "$2" "$prefix/earlier/VINSTALLDLL.dll"
  earlier=("$prefix/earlier/VINSTALLDLL.dll")
fi
"$WINE" "$build/tools/benchmark.exe" "$PWD/$build/VINSTALLDLL.dll" "${1:-5000}" "${earlier[@]}" </dev/null
