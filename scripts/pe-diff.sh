#!/usr/bin/env bash
# Compares two builds of a Windows file byte for byte. The same: says so, with
# the SHA-256, and exits 0. Different: names the first differing offset and
# the place of the file it lies in (a field of the PE headers, of a section
# header or of the export directory, or a section), then every differing run
# of bytes the same way, and exits 1. The places come from the first file's
# layout as objdump reports it (-p, -h); only the headers' own field offsets
# are written out here.
#
#   scripts/pe-diff.sh build/VINSTALLDLL.dll rebuilt/VINSTALLDLL.dll
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 FILE OTHER-FILE" >&2
  exit 2
fi
a="$1" b="$2"
if cmp -s "$a" "$b"; then
  echo "same bytes: $a and $b (sha256 $(sha256sum <"$a" | cut -d' ' -f1))"
  exit 0
fi

# Both mingw-w64 objdumps come with the toolchain; the x86_64 one reads
# 32-bit and 64-bit files alike.
objdump=x86_64-w64-mingw32-objdump
u32() { od -An -tu4 -j"$2" -N4 "$1" | tr -d ' '; }
u16() { od -An -tu2 -j"$2" -N2 "$1" | tr -d ' '; }

# One "start end place" line per place, start inclusive, end exclusive.
places() {
  local f="$1" pe opt optsize magic at dir sections
  pe=$(u32 "$f" 60)
  echo "0 64 DOS header"
  echo "64 $pe DOS stub"
  echo "$pe $((pe + 4)) PE signature"
  at=$((pe + 4))
  while read -r off size name; do
    echo "$((at + off)) $((at + off + size)) COFF header $name"
  done <<'EOF'
0 2 Machine
2 2 NumberOfSections
4 4 TimeDateStamp
8 4 PointerToSymbolTable
12 4 NumberOfSymbols
16 2 SizeOfOptionalHeader
18 2 Characteristics
EOF
  opt=$((pe + 24))
  optsize=$(u16 "$f" $((pe + 20)))
  magic=$(u16 "$f" "$opt")
  # PE32 (0x10b) and PE32+ (0x20b) differ in BaseOfData and the widths of
  # ImageBase and the stack and heap sizes.
  if [ "$magic" = 523 ]; then
    fields='0 2 Magic|2 1 MajorLinkerVersion|3 1 MinorLinkerVersion|4 4 SizeOfCode|8 4 SizeOfInitializedData|12 4 SizeOfUninitializedData|16 4 AddressOfEntryPoint|20 4 BaseOfCode|24 8 ImageBase|32 4 SectionAlignment|36 4 FileAlignment|40 2 MajorOperatingSystemVersion|42 2 MinorOperatingSystemVersion|44 2 MajorImageVersion|46 2 MinorImageVersion|48 2 MajorSubsystemVersion|50 2 MinorSubsystemVersion|52 4 Win32VersionValue|56 4 SizeOfImage|60 4 SizeOfHeaders|64 4 CheckSum|68 2 Subsystem|70 2 DllCharacteristics|72 8 SizeOfStackReserve|80 8 SizeOfStackCommit|88 8 SizeOfHeapReserve|96 8 SizeOfHeapCommit|104 4 LoaderFlags|108 4 NumberOfRvaAndSizes'
    dir=112
  else
    fields='0 2 Magic|2 1 MajorLinkerVersion|3 1 MinorLinkerVersion|4 4 SizeOfCode|8 4 SizeOfInitializedData|12 4 SizeOfUninitializedData|16 4 AddressOfEntryPoint|20 4 BaseOfCode|24 4 BaseOfData|28 4 ImageBase|32 4 SectionAlignment|36 4 FileAlignment|40 2 MajorOperatingSystemVersion|42 2 MinorOperatingSystemVersion|44 2 MajorImageVersion|46 2 MinorImageVersion|48 2 MajorSubsystemVersion|50 2 MinorSubsystemVersion|52 4 Win32VersionValue|56 4 SizeOfImage|60 4 SizeOfHeaders|64 4 CheckSum|68 2 Subsystem|70 2 DllCharacteristics|72 4 SizeOfStackReserve|76 4 SizeOfStackCommit|80 4 SizeOfHeapReserve|84 4 SizeOfHeapCommit|88 4 LoaderFlags|92 4 NumberOfRvaAndSizes'
    dir=96
  fi
  tr '|' '\n' <<<"$fields" | while read -r off size name; do
    echo "$((opt + off)) $((opt + off + size)) optional header $name"
  done
  local i=0
  for name in Export Import Resource Exception "Certificate (signature)" "Base Relocation" Debug \
              Architecture "Global Pointer" TLS "Load Config" "Bound Import" "Import Address Table" \
              "Delay Import" "CLR Runtime" Reserved; do
    at=$((opt + dir + 8 * i))
    [ "$at" -lt $((opt + optsize)) ] || break
    echo "$at $((at + 4)) data directory $i ($name) address"
    echo "$((at + 4)) $((at + 8)) data directory $i ($name) size"
    i=$((i + 1))
  done

  # Section headers in file order, then the sections' contents; the export
  # directory's fields within its section.
  sections=$("$objdump" -h "$f" | awk '$1 ~ /^[0-9]+$/ && NF == 7 { print $1, $2, $3, $4, $6 }')
  local headers=$((opt + optsize)) base export_rva export_at
  while read -r idx name size vma fileoff; do
    at=$((headers + 40 * idx))
    while read -r off width field; do
      echo "$((at + off)) $((at + off + width)) section header $idx ($name) $field"
    done <<'EOF'
0 8 Name
8 4 VirtualSize
12 4 VirtualAddress
16 4 SizeOfRawData
20 4 PointerToRawData
24 4 PointerToRelocations
28 4 PointerToLinenumbers
32 2 NumberOfRelocations
34 2 NumberOfLinenumbers
36 4 Characteristics
EOF
  done <<<"$sections"
  local private
  private=$("$objdump" -p "$f")
  base=$(awk '$1 == "ImageBase" { print $2 }' <<<"$private")
  export_rva=$(awk '$1 == "Entry" && $2 == "0" { print $3 }' <<<"$private")
  while read -r idx name size vma fileoff; do
    [ "$fileoff" != 00000000 ] || continue
    local start=$((0x$fileoff)) rva=$((0x$vma - 0x$base)) raw
    if [ -n "$export_rva" ] && [ $((0x$export_rva)) -ne 0 ] &&
       [ $((0x$export_rva)) -ge "$rva" ] && [ $((0x$export_rva)) -lt $((rva + 0x$size)) ]; then
      export_at=$((start + 0x$export_rva - rva))
      while read -r off width field; do
        echo "$((export_at + off)) $((export_at + off + width)) export directory $field (section $name)"
      done <<'EOF'
0 4 Characteristics
4 4 TimeDateStamp
8 2 MajorVersion
10 2 MinorVersion
12 4 Name
16 4 Base
20 4 NumberOfFunctions
24 4 NumberOfNames
28 4 AddressOfFunctions
32 4 AddressOfNames
36 4 AddressOfNameOrdinals
EOF
    fi
    raw=$(u32 "$f" $((headers + 40 * idx + 16)))
    echo "$start $((start + raw)) section $name"
  done <<<"$sections"
  echo "0 $(u32 "$f" $((opt + 60))) headers (padding)"
}

# The first place (in the order above, so the narrowest) that holds each
# differing byte; cmp -l counts offsets from 1. Neighbouring bytes in the same
# place are reported as one run.
sa=$(stat -c %s "$a") sb=$(stat -c %s "$b")
echo "DIFFERENT: $a ($sa bytes) and $b ($sb bytes)"
{ places "$a"; echo "--"; cmp -l "$a" "$b" 2>/dev/null || true; } | awk -v sa="$sa" -v sb="$sb" '
  $0 == "--" { differences = 1; next }
  !differences { n++; start[n] = $1; end[n] = $2; $1 = $2 = ""; place[n] = substr($0, 3); next }
  {
    o = $1 - 1
    p = "after the sections (appended data: a signature, a setup program'"'"'s payload)"
    for (i = 1; i <= n; i++) if (o >= start[i] && o < end[i]) { p = place[i]; break }
    if (!runs) printf "first difference at offset 0x%x: %s\n", o, p
    if (runs && p == runplace[runs] && o == runend[runs] + 1) runend[runs] = o
    else { runs++; runstart[runs] = runend[runs] = o; runplace[runs] = p }
  }
  END {
    small = sa < sb ? sa : sb
    if (!runs) printf "first difference at offset 0x%x: one file ends there\n", small
    else print "differing bytes:"
    for (r = 1; r <= runs; r++)
      printf "  0x%06x-0x%06x %6d bytes  %s\n", runstart[r], runend[r], runend[r] - runstart[r] + 1, runplace[r]
    if (sa != sb) printf "  and from offset 0x%x on, only one file has bytes\n", small
  }'
exit 1
