#!/bin/sh
# The one time a build records: the PE time stamps of VINSTALLDLL.dll and of
# the programs the setup programs carry. It is SOURCE_DATE_EPOCH from the
# environment of the build, or else the time of the source tree's last
# commit, never the clock, so that the same commit always links to the same
# bytes. Without either (sources outside git) it is 0.
#
#   source-date-epoch.sh record SOURCE_DIR FILE
#       writes the time into FILE, only when it changed (links depend on FILE)
#   source-date-epoch.sh link FILE COMMAND...
#       runs COMMAND with SOURCE_DATE_EPOCH from FILE; GNU ld writes it into
#       the header's and the export directory's time stamps
set -eu
case "${1:-}" in
  record)
    source_dir="$2" file="$3"
    epoch="${SOURCE_DATE_EPOCH:-}"
    if [ -z "$epoch" ]; then
      epoch=$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null) || epoch=
      if [ -z "$epoch" ]; then
        echo "source-date-epoch: no SOURCE_DATE_EPOCH and no git commit in $source_dir; time stamps are 0" >&2
        epoch=0
      fi
    fi
    case "$epoch" in
      '' | *[!0-9]*)
        echo "source-date-epoch: SOURCE_DATE_EPOCH '$epoch' is not a number of seconds since 1970" >&2
        exit 1 ;;
    esac
    if [ "$(cat "$file" 2>/dev/null)" != "$epoch" ]; then
      echo "$epoch" >"$file"
    fi ;;
  link)
    SOURCE_DATE_EPOCH=$(cat "$2")
    export SOURCE_DATE_EPOCH
    shift 2
    exec "$@" ;;
  *)
    echo "usage: $0 record SOURCE_DIR FILE | link FILE COMMAND..." >&2
    exit 2 ;;
esac
