#!/usr/bin/env bash
# The library's rooms and the way their includes may run, downward only:
#   reporter/, shortcuts/, releases/,
#   install_folder/                   may include  guard/, interface/, res/
#   guard/                            may include  interface/trace.h, interface/state.h
#   interface/                        includes none of the others
# Each include of src/ that leads elsewhere is named, and the check fails.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root/src"
status=0
while IFS=: read -r file _ include; do
  room=${file%%/*}
  target=$(realpath -m --relative-to=. "$(dirname "$file")/$include")
  case "$room:$target" in
    reporter:reporter/*|shortcuts:shortcuts/*|releases:releases/*|install_folder:install_folder/*) ;;
    reporter:guard/*|shortcuts:guard/*|releases:guard/*|install_folder:guard/*) ;;
    reporter:interface/*|shortcuts:interface/*|releases:interface/*|install_folder:interface/*) ;;
    reporter:../res/*) ;;
    guard:guard/*|guard:interface/trace.h|guard:interface/state.h) ;;
    interface:interface/*) ;;
    *) echo "src/$file includes $target: $room/ may not include it"; status=1 ;;
  esac
done < <(grep -rEo '^#include "[^"]+"' --include='*.cpp' --include='*.h' . | sed 's|^\./||; s|#include "||; s|"$||' |
         awk -F: '{print $1 ":" $1 ":" $2}')
[ $status -eq 0 ] && echo "layers: every include in src/ runs downward (rooms reporter, shortcuts, releases, install_folder > guard > interface)"
exit $status
