#!/usr/bin/env bash
# What scripts/pe-diff.sh reports when two builds differ: copies of the built
# DLL with one byte changed in a known place, each found from the values
# objdump shows (the time stamps are SOURCE_DATE_EPOCH, the checksum is
# printed), must be named by their place and fail the comparison; an
# identical copy must pass.
#
#   tests/pe-diff.sh DLL EPOCH-FILE WORK-DIR
set -euo pipefail
dll="$1" epoch=$(cat "$2") work="$3"
diff="$(cd "$(dirname "$0")/.." && pwd)/scripts/pe-diff.sh"
objdump=x86_64-w64-mingw32-objdump
rm -rf "$work"
mkdir -p "$work"

if [ "$epoch" = 0 ]; then
  echo "skipped: the time stamps are 0 (sources outside git, no SOURCE_DATE_EPOCH), so they cannot be found by value"
  exit 77
fi

hex=$(od -An -tx1 -v "$dll" | tr -d ' \n')
le32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
# The file offsets at which the little-endian 32-bit value lies.
offsets_of() {
  awk -v hex="$hex" -v want="$(le32 "$1")" 'BEGIN {
    for (at = 1; (i = index(substr(hex, at), want)) > 0; at += i)
      if ((at + i - 2) % 2 == 0) print (at + i - 2) / 2 }'
}

mapfile -t stamps < <(offsets_of "$epoch")
checksum=$("$objdump" -p "$dll" | awk '$1 == "CheckSum" { print $2 }')
mapfile -t sums < <(offsets_of $((0x$checksum)))
text=$("$objdump" -h "$dll" | awk '$2 == ".text" { print $6 }')
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
# The header's time stamp and the export directory's, in that order.
[ ${#stamps[@]} = 2 ] || fail "SOURCE_DATE_EPOCH $epoch is found ${#stamps[@]} times in $dll, expected 2"
[ ${#sums[@]} -ge 1 ] || fail "the checksum 0x$checksum is not in $dll"

# place|offset|what the report's first line must name
cases=("COFF header time stamp|${stamps[0]:-}|COFF header TimeDateStamp"
       "export directory time stamp|${stamps[1]:-}|export directory TimeDateStamp (section .edata)"
       "header checksum|${sums[0]:-}|optional header CheckSum"
       "code|$((0x$text + 16))|: section .text$"
       "an added byte at the end|append|one file ends there")
for case in "${cases[@]}"; do
  IFS='|' read -r name offset expected <<<"$case"
  [ -n "$offset" ] || continue
  copy="$work/changed.dll"
  cp "$dll" "$copy"
  if [ "$offset" = append ]; then
    printf '\0' >>"$copy"
  else
    byte=$(od -An -tu1 -j"$offset" -N1 "$copy" | tr -d ' ')
    printf "\\$(printf %o $((byte ^ 255)))" | dd of="$copy" bs=1 seek="$offset" conv=notrunc status=none
  fi
  status=0
  report=$("$diff" "$dll" "$copy") || status=$?
  first=$(grep '^first difference' <<<"$report" || true)
  if [ "$status" != 1 ] || ! grep -q -- "$expected" <<<"$first"; then
    fail "$name: exit $status, expected 1 and a first line naming '$expected'; the report:"
    sed 's/^/    /' <<<"$report"
  else
    echo "ok   $name -> $first"
  fi
done

cp "$dll" "$work/same.dll"
if report=$("$diff" "$dll" "$work/same.dll") && grep -q '^same bytes' <<<"$report"; then
  echo "ok   identical copy -> $report"
else
  fail "an identical copy is reported as different: $report"
fi
exit $((failures > 0))
