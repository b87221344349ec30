#!/usr/bin/env bash
# Compiles every source of the DLL with clang for the same target, with
# warnings as errors: a second compiler's opinion of the code.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
status=0
while IFS= read -r source; do
  clang --target=i686-w64-mingw32 -std=c++17 -fno-exceptions -fno-rtti -Wall -Wextra -Werror \
        -D__USE_MINGW_ANSI_STDIO=0 -DWIN32_LEAN_AND_MEAN -I "$root/build/generated" -c "$source" -o /dev/null || status=1
done < <(find "$root/src" -name '*.cpp' | sort)
[ $status -eq 0 ] && echo "clang: every source of src/ compiles without a warning"
exit $status
