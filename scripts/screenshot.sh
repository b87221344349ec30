#!/usr/bin/env bash
# Photographs the reporter code dialog as it really renders: the reference
# setup program runs under Wine's X11 driver on a virtual X server (Xvfb),
# xdotool types a code into the dialog, and ImageMagick's import takes the
# window. The picture lands in docs/reporter-code-dialog.png.
#
#   scripts/screenshot.sh [output.png]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/docs/reporter-code-dialog.png}"
cd "$root"

scripts/setup.sh
# The shipped 32-bit build where 32-bit code runs, the x86_64 one elsewhere.
. scripts/wine-env.sh
if can_run_x86; then arch=x86 preset=default build=build; else arch=x64 preset=x64 build=build-x64; fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" >/dev/null

# A display number nobody uses.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
  display=$((display + 1))
done
prefix="$root/$build/screenshot-prefix"
Xvfb ":$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
setup=
cleanup() {
  [ -n "$setup" ] && kill "$setup" 2>/dev/null || true
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT

WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
rm -rf "$prefix"
cmake/make-wineprefix.sh "$prefix" "$arch"
use_wine "$arch" "$prefix"
export DISPLAY=":$display"
# The X11 driver, with windows that Wine draws whole, caption included: there
# is no window manager on the virtual server to draw it.
"$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f >/dev/null 2>&1
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1

"$WINE" "$build/installer/VelloranSetup.exe" "/LOG=C:\\screenshot.log" </dev/null >/dev/null 2>&1 &
setup=$!
if ! window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Reporter Code$' | head -n 1); then
  echo "screenshot: the reporter code dialog did not appear" >&2
  exit 1
fi
sleep 1  # let it finish painting
# Typed through the X server's keyboard into the focused window, the code
# field, as a person types.
xdotool windowfocus --sync "$window"
xdotool type --delay 50 john
sleep 0.5
mkdir -p "$(dirname "$out")"
import -window "$window" "$out"
xdotool key Escape
wait "$setup" 2>/dev/null || true
setup=
echo "screenshot: $out ($(identify -format '%wx%h' "$out"))"
