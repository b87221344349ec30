#!/usr/bin/env bash
# Compiles every source of the DLL with clang for the same target, with
# warnings as errors: a second compiler's opinion of the code.
#
#   scripts/clang-check.sh [TARGET [GENERATED_DIR]]   (i686-w64-mingw32, build/generated)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
target="${1:-i686-w64-mingw32}"
generated="${2:-$root/build/generated}"
status=0
while IFS= read -r source; do
  clang --target="$target" -std=c++17 -fno-exceptions -fno-rtti -Wall -Wextra -Werror \
        -D__USE_MINGW_ANSI_STDIO=0 -DWIN32_LEAN_AND_MEAN -I "$generated" -c "$source" -o /dev/null || status=1
done < <(find "$root/src" -name '*.cpp' | sort)
[ $status -eq 0 ] && echo "clang ($target): every source of src/ compiles without a warning"
exit $status
