# Sourced (POSIX sh) by every script that runs Windows programs of the build.
#
#   can_run_x86           status 0 when this machine executes 32-bit x86 code
#   use_wine ARCH PREFIX  Wine for one build, x86 (the shipped 32-bit DLL) or
#                         x64 (the same sources for x86_64), in PREFIX: sets
#                         WINE (the loader to run programs with), WINEARCH,
#                         WINEPREFIX, WINELOADER, a quiet WINEDEBUG, the DLL
#                         overrides every run needs and the locale
#
# Debian's /usr/bin/wine starts the 32-bit loader whenever wine32 is
# installed, so each architecture calls its own loader directly. Both share
# the one wineserver, a 64-bit program.

NoX86Reason="this machine cannot execute 32-bit x86 code"

# Runs a 96-byte static 32-bit program that exits with 42. Some machines of
# this kind cannot execute 32-bit code at all, whatever the kernel's
# configuration says. VINSTALL_NO_X86=1 answers "no" without asking, to try
# the 64-bit-only path on a machine that could run both.
can_run_x86() {
  [ "${VINSTALL_NO_X86:-}" = 1 ] && return 1
  _probe=$(mktemp) || return 1
  printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' >"$_probe"
  chmod +x "$_probe"
  _status=0
  "$_probe" 2>/dev/null || _status=$?
  rm -f "$_probe"
  [ "$_status" = 42 ]
}

use_wine() {
  case "$1" in
    x86) WINE=/usr/lib/wine/wine WINEARCH=win32 WINELOADER=/usr/lib/wine/wine ;;
    x64) WINE=/usr/lib/wine/wine64 WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 ;;
    *) echo "use_wine: unknown architecture '$1' (x86 or x64)" >&2; return 2 ;;
  esac
  WINEPREFIX="$2"
  WINEDEBUG="${WINEDEBUG:--all}"
  # Saving a .lnk would otherwise start winemenubuilder, which writes menu
  # and desktop entries into the Linux user's home.
  WINEDLLOVERRIDES="winemenubuilder.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
  case ":$PATH:" in *:/usr/lib/wine:*) ;; *) PATH="$PATH:/usr/lib/wine" ;; esac
  # Wine takes its ANSI code page from the Unix locale; with none set (as in
  # containers and many CI runners) an "é" typed into the dialog never
  # reaches the file system as it does on the Windows the product's users
  # have. Every Debian has C.UTF-8: the suite and ./run.sh run under it,
  # whatever the caller's locale.
  LC_ALL=C.UTF-8
  export WINE WINEARCH WINELOADER WINEPREFIX WINEDEBUG WINEDLLOVERRIDES PATH LC_ALL
}
