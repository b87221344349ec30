#!/bin/sh
# Makes (once) the Wine prefix in which the tests run: 32-bit, with the null
# graphics driver so that dialogs and message boxes work with no display, and
# with real folders in place of the links into the Linux home. Then starts a
# persistent wineserver so that each test program starts fast.
set -eu
prefix="$1"
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
unset DISPLAY

if [ ! -f "$prefix/.vinstall-ready" ]; then
  rm -rf "$prefix"
  wineboot -i >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  wineserver -w
  # The user's shell folders are links to $HOME in a new prefix.
  for link in "$prefix"/drive_c/users/*/*; do
    if [ -L "$link" ]; then
      rm -f "$link"
      mkdir -p "$link"
    fi
  done
  touch "$prefix/.vinstall-ready"
fi
wineserver -p </dev/null >/dev/null 2>&1 || true  # already running is fine
# Start Wine's own background processes now, detached from any output pipe:
# started by the first test instead, they would hold ctest's pipe open for as
# long as the persistent server lives.
wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
