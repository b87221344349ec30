#!/usr/bin/env bash
# Reads the shipped 32-bit DLL's own instructions: each of the nine exports,
# found by name in its export directory, must end with "ret $0x14", removing
# its five 32-bit arguments (20 bytes) as __stdcall requires. A caller that
# pushes five arguments would otherwise be left with a broken stack. Works on
# the file alone, so it runs on machines that cannot execute 32-bit code.
#
#   scripts/check-export-returns.sh build/VINSTALLDLL.dll
set -euo pipefail
dll="$1"
objdump=i686-w64-mingw32-objdump
headers=$("$objdump" -p "$dll")
base=$(awk '$1 == "ImageBase" { print $2 }' <<<"$headers")
# "[   0] +base[   1] 23f0 Export RVA" and, in the name table, "[   0] AfterInstall":
# both indexed by the ordinal less the ordinal base.
declare -A rva
while read -r index address; do rva[$index]=$address; done < <(
  sed -n 's/^\s*\[ *\([0-9]*\)\] +base\[ *[0-9]*\] \([0-9a-f]*\) Export RVA$/\1 \2/p' <<<"$headers")
declare -A name
while read -r index export; do name[$export]=$index; done < <(
  sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *\([0-9]*\)\] \([A-Za-z0-9_@]*\)$/\1 \2/p' <<<"$headers")

status=0
for export in BeforeInstall AfterInstall UpdateInfo MLDInfo Chk4TELDAX InstallPDF BeforeInstallWithCode \
              ProtectInstallFolder RemoveLibraryFiles; do
  index=${name[$export]:-}
  if [ -z "$index" ] || [ -z "${rva[$index]:-}" ]; then
    echo "FAIL $export: not in the export directory by its plain name"
    status=1
    continue
  fi
  start=$((0x$base + 0x${rva[$index]}))
  # The first return instruction from the entry on: the body is contiguous.
  code=$("$objdump" -d --start-address=$start --stop-address=$((start + 4096)) "$dll")
  ret=$(awk -F'\t' '$3 ~ /^ret/ { sub(/ +$/, "", $3); print $3; exit }' <<<"$code")
  if [ "$ret" = 'ret    $0x14' ]; then
    echo "ok   $export (at 0x$(printf '%x' $start)): $ret"
  else
    echo "FAIL $export (at 0x$(printf '%x' $start)): returns with '${ret:-nothing found}', expected 'ret \$0x14'"
    status=1
  fi
done
exit $status
