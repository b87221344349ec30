#!/usr/bin/env bash
# Static analysis of the DLL's sources and of the MSI wrapper; any finding fails.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cppcheck -q --enable=warning,style,performance,portability --error-exitcode=1 --inline-suppr \
         --platform=win32A --std=c++17 --language=c++ --suppress=missingIncludeSystem \
         -I "$root/build/generated" "$root/src" "$root/installer/msi"
echo "cppcheck: no findings in src/ and installer/msi/"
