#!/usr/bin/env bash
# The main job: builds VINSTALLDLL.dll and the reference setup program, makes
# a fresh Wine prefix of its own and runs a complete first installation in it,
# then prints what the installation left behind. Headless by default: an
# automated hand types the reporter code into the real dialog and presses
# Enter, and presses OK on the library's message boxes.
#
#   ./run.sh [--code CODE] [--windows VERSION] [--interactive] [--vm]
#
#   --code CODE        the reporter code typed into the dialog (default john)
#   --windows VERSION  the Windows version the Wine prefix plays: winxp
#                      (default: there every step shows, see below), win7,
#                      win8, win81, win10, win2k, win98...
#   --interactive      show the dialog on the display for a person to answer
#   --vm               on a machine that cannot execute 32-bit x86 code: the
#                      shipped 32-bit DLL in the 32-bit setup program, inside
#                      the virtual machine of scripts/run-i386.sh (slow: some
#                      minutes); without it such a machine runs the x86_64 build
set -euo pipefail
cd "$(dirname "$0")"

usage() {
  echo "usage: $0 [--code CODE] [--windows win7|win8|win81|win10|vista|winxp|win2k|win98] [--interactive] [--vm]" >&2
  exit 2
}

code=john
windows=winxp
interactive=
vm=
args=("$@")
while [ $# -gt 0 ]; do
  case "$1" in
    --code) [ $# -ge 2 ] || usage; code="$2"; shift 2 ;;
    --windows) [ $# -ge 2 ] || usage; windows="$2"; shift 2 ;;
    --interactive) interactive=1; shift ;;
    --vm) vm=1; shift ;;
    *) usage ;;
  esac
done
# Wine ignores a version it does not know, which would pass unnoticed.
case "$windows" in
  win10|win81|win8|win2008r2|win7|win2008|vista|win2003|winxp|win2k|winme|win98|win95|nt40) ;;
  *) echo "$0: unknown Windows version '$windows'" >&2; usage ;;
esac
if [ -n "$interactive" ] && [ -z "${DISPLAY:-}" ]; then
  echo "$0: --interactive needs a display (DISPLAY is not set)" >&2
  exit 2
fi

# The shipped 32-bit DLL in the 32-bit setup program wherever 32-bit code
# runs; elsewhere the same setup program and library built for x86_64.
. scripts/wine-env.sh
if [ -n "$vm" ] && [ -n "$interactive" ]; then
  echo "$0: --vm and --interactive do not go together: the virtual machine has no display" >&2
  exit 2
fi
if [ -n "$vm" ] && [ -z "${VINSTALL_IN_VM:-}" ]; then
  if can_run_x86; then
    echo "== --vm: this machine executes 32-bit x86 code itself, so no virtual machine is needed"
  else
    # Built here, run there: the guest's emulated CPU is 10 to 25 times
    # slower, and the tree's paths are the same on both sides.
    echo "== Architecture: 32-bit (i686), the shipped DLL in the 32-bit setup program, inside a virtual machine (scripts/run-i386.sh): $NoX86Reason"
    scripts/setup.sh
    cmake --preset default >/dev/null
    cmake --build --preset default >/dev/null
    export VINSTALL_TIME_SCALE=25
    exec scripts/run-i386.sh -- ./run.sh "${args[@]}"
  fi
fi
if [ -n "${VINSTALL_IN_VM:-}" ]; then
  arch=x86 preset=default build=build
  echo "== in the virtual machine: its kernel executes 32-bit x86 code"
elif can_run_x86; then
  arch=x86 preset=default build=build
  echo "== Architecture: 32-bit (i686), the shipped DLL in the 32-bit setup program: this machine executes 32-bit x86 code"
else
  arch=x64 preset=x64 build=build-x64
  echo "== Architecture: 64-bit (x86_64), the same sources in the 64-bit setup program: $NoX86Reason"
fi

scripts/setup.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" >/dev/null

prefix="$PWD/$build/run-prefix"
WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true  # left over from an earlier run
rm -rf "$prefix"
cmake/make-wineprefix.sh "$prefix" "$arch"
trap 'WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true' EXIT
use_wine "$arch" "$prefix"
export WINEDEBUG=-all

# The version is the whole prefix's, as a machine's is: the kernel's own
# record of it, which the library reads to know whether tokens can be split,
# follows only that setting. The setup program's manifest decides whether
# Windows 8.1 and 10 show through (they do).
"$WINE" reg add 'HKCU\Software\Wine' /v Version /d "$windows" /f >/dev/null 2>&1
# The kernel's record is made when the server starts: start it again.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
wineserver -p </dev/null >/dev/null 2>&1 || true
# Wine answers every token as the elevated half of a split one, which Windows
# has only from Vista on: there the installing user (who owns every file
# under Wine) does not count as an administrator, and InstallPDF starts
# nothing. Before Vista that user counts, as on Windows.
case "$windows" in
  winxp|win2k|win2003|nt40)
    echo "== Windows $windows: every step shows, the PDF converter's installer started included: before Vista no token is split, so the installing user, whom Wine makes every file's owner, counts as an administrator" ;;
  win98|win95|winme)
    echo "== Windows $windows: Windows 9x keeps no owners or permissions, so the library has none to check" ;;
  *)
    echo "== Windows $windows: Wine reports every token as the elevated half of a split one (from Vista on, Windows does that only under UAC), so the installing user, whom Wine makes every file's owner, does not count as an administrator and the PDF converter's installer is not started; --windows winxp shows it started" ;;
esac
hand=(--code "$code")
if [ -n "$interactive" ]; then
  "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f >/dev/null 2>&1
  hand=(--interactive)
  echo "== First installation, Windows $windows: type a reporter code into the dialog on the display"
else
  echo "== First installation, Windows $windows, reporter code typed by the automated hand: $code"
fi
# What the library says through OutputDebugStringA reaches Wine's +debugstr
# channel on standard error, one quoted and escaped line per call.
trace="$PWD/$build/run-trace.txt"
status=0
WINEDEBUG=-all,+debugstr "$WINE" "$build/tools/run_setup.exe" "$PWD/$build/installer/VelloranSetup.exe" \
  "${hand[@]}" </dev/null 2>"$trace" || status=$?
echo
echo "what the library said (OutputDebugStringA, read through Wine's +debugstr channel):"
sed -n 's/^.*:debugstr:OutputDebugStringA "\(VINSTALLDLL: .*\)\\n"$/  \1/p' "$trace" | sed 's/\\\(.\)/\1/g'
grep -v ':debugstr:' "$trace" >&2 || true
exit $status
