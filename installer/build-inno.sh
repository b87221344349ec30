#!/bin/sh
# Builds the setup program with Inno Setup's compiler under 32-bit Wine:
# VelloranInnoSetup.exe (a Master Load's records) and VelloranInnoUpdate.exe
# (an Update's), around the build's 32-bit DLL and product files. Run by
# ctest rather than by the build, because ISCC.exe and the setup programs it
# makes are 32-bit: exits 77 (ctest's "skipped") with the reason where
# 32-bit x86 code cannot run or Inno Setup is not installed.
#
#   installer/build-inno.sh WINE_RUN ISCC SCRIPT OUT_DIR DLL VELL_EXE PDF_SETUP_EXE VELLORAN_ICO
set -eu
run="$1" iscc="$2" script="$3" out="$4" dll="$5" vell="$6" pdf="$7" ico="$8"
. "$(dirname "$0")/../scripts/wine-env.sh"
if ! can_run_x86; then
  echo "skipped: $NoX86Reason (ISCC.exe and Inno Setup's setup programs are 32-bit)"
  exit 77
fi
if [ ! -f "$iscc" ]; then
  echo "skipped: Inno Setup 6.4.1 is not installed at $iscc (scripts/setup.sh installs it)"
  exit 77
fi

# A Linux path as Wine's Z: drive sees it.
win() { printf 'Z:%s' "$1" | tr / '\\'; }

mkdir -p "$out"
for kind in Setup Update; do
  rm -f "$out/VelloranInno$kind.exe"
  update=
  [ "$kind" = Update ] && update=/DUPDATE_RELEASE
  # shellcheck disable=SC2086  # $update is one word or none
  "$run" "$(win "$iscc")" /Q "/O$(win "$out")" "/FVelloranInno$kind" $update \
    "/DVINSTALLDLL=$(win "$dll")" "/DVELL_EXE=$(win "$vell")" "/DPDF_SETUP_EXE=$(win "$pdf")" \
    "/DVELLORAN_ICO=$(win "$ico")" "$(win "$script")"
  [ -f "$out/VelloranInno$kind.exe" ] || { echo "ISCC made no VelloranInno$kind.exe"; exit 1; }
  echo "built $out/VelloranInno$kind.exe"
done
