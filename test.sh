#!/usr/bin/env bash
# Installs what is missing, builds the DLL and its tests for both
# architectures and runs every test under Wine: always against the x86_64
# build of the sources, in a 64-bit prefix, so that the suite means the same
# on every machine; and against the shipped 32-bit DLL wherever this machine
# executes 32-bit x86 code. Elsewhere ctest reports the 32-bit Wine tests as
# skipped, while the checks of the 32-bit file itself still run.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
. scripts/wine-env.sh
# The 32-bit tree first: the 64-bit tree reads its DLL too.
for preset in default x64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

status=0
echo "== x86_64 build, under 64-bit Wine"
ctest --preset x64 || status=1
if can_run_x86; then
  echo "== i686 build (the shipped DLL), under 32-bit Wine"
  x86="i686 (32-bit Wine)"
else
  echo "== i686 build (the shipped DLL): $NoX86Reason, so its Wine tests are skipped; its file is checked"
  x86="i686 skipped ($NoX86Reason)"
fi
ctest --preset default || status=1
echo "== Wine suites run: x86_64 (64-bit Wine); $x86"
exit $status
