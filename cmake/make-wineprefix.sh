#!/bin/sh
# Makes (once) a Wine prefix for one architecture of the build, x86 (32-bit)
# or x64 (64-bit): the null graphics driver so that dialogs and message boxes
# work with no display, real folders in place of the links into the Linux
# home, and the Windows "system" folder that a 64-bit prefix lacks (a 32-bit
# one and Windows itself have it). Then starts a persistent wineserver so that
# each program starts fast. Exits 77 (ctest's "skipped") for x86 on a machine
# that cannot execute 32-bit x86 code.
#
#   cmake/make-wineprefix.sh PREFIX [x86|x64]
set -eu
prefix="$1"
arch="${2:-x86}"
. "$(dirname "$0")/../scripts/wine-env.sh"
if [ "$arch" = x86 ] && ! can_run_x86; then
  echo "skipped: $NoX86Reason"
  exit 77
fi
use_wine "$arch" "$prefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="$WINEDLLOVERRIDES;mscoree=d;mshtml=d"
unset DISPLAY

if [ ! -f "$prefix/.vinstall-ready" ]; then
  rm -rf "$prefix"
  "$WINE" wineboot -i >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  wineserver -w
  # The user's shell folders are links to $HOME in a new prefix.
  for link in "$prefix"/drive_c/users/*/*; do
    if [ -L "$link" ]; then
      rm -f "$link"
      mkdir -p "$link"
    fi
  done
  mkdir -p "$prefix/drive_c/windows/system"
  touch "$prefix/.vinstall-ready"
fi
wineserver -p </dev/null >/dev/null 2>&1 || true  # already running is fine
# Start Wine's own background processes now, detached from any output pipe:
# started by the first test instead, they would hold ctest's pipe open for as
# long as the persistent server lives.
"$WINE" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
