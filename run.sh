#!/usr/bin/env bash
# The main job: builds VINSTALLDLL.dll and runs a first installation's
# BeforeInstall under Wine in a fresh prefix of its own, with the reporter
# code typed into the real dialog by an automated hand.
#
#   ./run.sh [--code CODE]
set -euo pipefail
cd "$(dirname "$0")"

code=john
while [ $# -gt 0 ]; do
  case "$1" in
    --code) code="$2"; shift 2 ;;
    *) echo "usage: $0 [--code CODE]" >&2; exit 2 ;;
  esac
done

scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null

prefix="$PWD/build/run-prefix"
rm -rf "$prefix"
cmake/make-wineprefix.sh "$prefix"
trap 'WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true' EXIT

echo "== First installation: BeforeInstall, code typed: $code"
WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d \
  wine build/tools/first_install.exe "$PWD/build/VINSTALLDLL.dll" "$code" </dev/null
