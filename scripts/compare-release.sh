#!/usr/bin/env bash
# Compares the files of a shipped release with the same files rebuilt from
# its commit (scripts/release.sh in a clone of that commit). A signed file is
# compared with its rebuilt twin carrying the shipped signature: the
# signature is the only part a rebuild cannot make. Exits 1 when any file
# differs, naming the first differing offset and its place in the file.
#
#   scripts/compare-release.sh SHIPPED-DIR [REBUILT-DIR]    (REBUILT-DIR: dist)
set -euo pipefail
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 SHIPPED-DIR [REBUILT-DIR]" >&2
  exit 2
fi
shipped="$1" rebuilt="${2:-dist}"
diff="$(dirname "$0")/pe-diff.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
if [ -f "$shipped/SHA256SUMS" ]; then
  if (cd "$shipped" && sha256sum --quiet -c SHA256SUMS); then
    echo "ok   $shipped: every file matches its SHA256SUMS"
  else
    echo "FAIL $shipped: files do not match its SHA256SUMS"
    status=1
  fi
fi

found=0
for file in "$shipped"/*.dll "$shipped"/*.exe; do
  [ -f "$file" ] || continue
  found=1
  name=$(basename "$file")
  twin="$rebuilt/$name"
  if [ ! -f "$twin" ]; then
    echo "FAIL $name: not in $rebuilt"
    status=1
    continue
  fi
  if osslsigncode extract-signature -in "$file" -out "$work/$name.sig" >/dev/null 2>&1; then
    # attach-signature also verifies the result against the system's
    # authorities and fails when it cannot; only the bytes it writes count.
    rm -f "$work/$name"
    osslsigncode attach-signature -sigin "$work/$name.sig" -in "$twin" -out "$work/$name" >/dev/null 2>&1 || true
    if [ ! -f "$work/$name" ]; then
      echo "FAIL $name: the shipped signature could not be put on the rebuilt file"
      status=1
      continue
    fi
    twin="$work/$name"
    echo "== $name (signed): compared with the rebuilt file carrying the shipped signature"
  else
    echo "== $name (not signed)"
  fi
  "$diff" "$file" "$twin" || status=1
done
if [ "$found" = 0 ]; then
  echo "FAIL $shipped holds no .dll or .exe file"
  status=1
fi
exit $status
