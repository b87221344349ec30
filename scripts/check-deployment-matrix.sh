#!/usr/bin/env bash
# Runs the deployment matrix (scripts/deployment-matrix.sh) on a build tree
# and holds the guide's outcome table against what the run produced: the
# block between "<!-- deployment-matrix:begin -->" and
# "<!-- deployment-matrix:end -->" in docs/deploying.md must be the run's
# table, byte for byte. Fails when a cell failed or the block differs (the
# difference is printed; --update writes the run's table into the guide).
#
#   scripts/check-deployment-matrix.sh BUILD-DIR [--update]
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$1
update=${2:-}
guide=$here/docs/deploying.md
table=$build/deployment-matrix.md
status=0
"$here/scripts/deployment-matrix.sh" --build "$build" --markdown "$table" || status=1
[ -s "$table" ] || { echo "deployment matrix: no outcome table written"; exit 1; }
begin='<!-- deployment-matrix:begin -->' end='<!-- deployment-matrix:end -->'
committed=$(awk -v b="$begin" -v e="$end" '$0 == e { inside = 0 } inside { print } $0 == b { inside = 1 }' "$guide")
if [ "$update" = --update ]; then
  awk -v b="$begin" -v e="$end" -v t="$table" '
    $0 == b { print; while ((getline line < t) > 0) print line; skip = 1; next }
    $0 == e { skip = 0 }
    !skip { print }' "$guide" >"$guide.new" && mv "$guide.new" "$guide"
  echo "deployment matrix: the guide's table written from this run"
elif [ "$committed" != "$(cat "$table")" ]; then
  echo "deployment matrix: docs/deploying.md's outcome table is not this run's; the difference (< guide, > run):"
  diff <(printf '%s\n' "$committed") "$table"
  echo "(scripts/check-deployment-matrix.sh $build --update writes the run's table into the guide)"
  status=1
else
  echo "deployment matrix: docs/deploying.md's outcome table is this run's"
fi
exit $status
