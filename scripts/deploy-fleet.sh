#!/usr/bin/env bash
# A fleet in one command: deploys the Windows Installer package to N
# machines at once, each with its own reporter code, the way a deployment
# tool does it (msiexec /i /qn REPORTERCODE=<code>, started where nobody sees
# the screen, through tools/run_unseen.exe), verifies each machine, removes
# the product again (msiexec /x /qn) and verifies that too. Each machine is a
# fresh Wine prefix of its own, with its own wineserver.
#
#   scripts/deploy-fleet.sh [--build DIR] [--arch x86|x64] [--windows VERSION] [--work DIR] [--keep] N CODES.CSV
#
#   N          how many machines: the first N rows of CODES.CSV
#   CODES.CSV  "machine,code" lines (a first line "machine,code" is skipped);
#              a code keeps its inner blanks ("JO HN"), only blanks around it
#              go
#   --build    the build tree whose package and launcher are used (default:
#              build/ where this machine runs 32-bit x86 code, else
#              build-x64/, as ./run.sh chooses)
#   --arch     that tree's architecture (default: from the tree's name)
#   --windows  the Windows version every machine reports (Wine's names: win7,
#              the default, win8, winxp, win10...); where the product refuses
#              it (above Windows 8), a machine passes when the installation is
#              refused (1603) and leaves nothing installed
#   --work     where the machines' prefixes go (default: <build>/fleet)
#   --keep     keep the prefixes afterwards (they are removed otherwise)
#
# Prints one line per machine (machine, code, the exit codes and seconds of
# the installation and of the removal, the verdict), then the totals. Exits 0
# when every machine passed, 1 otherwise (2 for a wrong command line, 77 when
# the tree is 32-bit and this machine cannot run 32-bit code).
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/wine-env.sh"

usage() {
  echo "usage: $0 [--build DIR] [--arch x86|x64] [--windows VERSION] [--work DIR] [--keep] N CODES.CSV" >&2
  exit 2
}

build= arch= work= keep= windows=win7
while [ $# -gt 0 ]; do
  case "$1" in
    --build) [ $# -ge 2 ] || usage; build=$2; shift 2 ;;
    --arch) [ $# -ge 2 ] || usage; arch=$2; shift 2 ;;
    --windows) [ $# -ge 2 ] || usage; windows=$2; shift 2 ;;
    --work) [ $# -ge 2 ] || usage; work=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -eq 2 ] || usage
count=$1 csv=$2
# Wine ignores a version it does not know, which would pass unnoticed. The
# product installs up to Windows 8 (6.2): the package's launch condition
# refuses the rest.
case "$windows" in
  win8|win7|win2008r2|win2008|vista|win2003|winxp|winxp64|win2k|winme|win98|win95|nt40) refused= ;;
  win81|win10) refused=1 ;;
  *) echo "$0: unknown Windows version '$windows'" >&2; usage ;;
esac
case "$count" in ''|*[!0-9]*) usage ;; esac
[ "$count" -ge 1 ] && [ -f "$csv" ] || usage

if [ -z "$build" ]; then
  if can_run_x86; then build=$here/build; else build=$here/build-x64; fi
fi
build=$(cd "$build" && pwd) || exit 2
if [ -z "$arch" ]; then
  case "$build" in *-x64) arch=x64 ;; *) arch=x86 ;; esac
fi
if [ "$arch" = x86 ] && ! can_run_x86; then
  echo "skipped: $NoX86Reason (the 32-bit package; the x86_64 tree's runs instead)"
  exit 77
fi
work=${work:-$build/fleet}
package=$build/installer/msi/Velloran.msi
launcher=$build/tools/run_unseen.exe
for file in "$package" "$launcher"; do
  [ -f "$file" ] || { echo "$0: $file is missing: build the tree first" >&2; exit 2; }
done
# The package's product code, read from the package itself (each
# architecture and release has its own): how a deployment tool detects it,
# and what it removes.
product_code=$(msiinfo export "$package" Property | tr -d '\r' | awk -F '\t' '$1 == "ProductCode" { print $2 }')
[ -n "$product_code" ] || { echo "$0: no ProductCode in $package" >&2; exit 2; }

# The first N "machine,code" rows.
machines=() codes=()
while IFS=, read -r machine code _ && [ ${#machines[@]} -lt "$count" ]; do
  # Blanks around a field go; a code keeps those inside it.
  machine=${machine//[$'\r\t ']/}
  code=${code//$'\r'/}
  code=${code#"${code%%[![:space:]]*}"} code=${code%"${code##*[![:space:]]}"}
  [ -z "$machine" ] && continue
  [ "$machine,$code" = "machine,code" ] && continue
  case "$machine" in *[!A-Za-z0-9_-]*) echo "$0: machine name '$machine': letters, digits, - and _ only" >&2; exit 2 ;; esac
  machines+=("$machine") codes+=("$code")
done <"$csv"
[ ${#machines[@]} -eq "$count" ] || { echo "$0: $csv has ${#machines[@]} machines, $count asked for" >&2; exit 2; }

win() { printf 'Z:%s' "$1" | tr / '\\'; }
now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }

# One machine, start to end; its report line goes to $dir/result.
deploy() {
  local machine=$1 code=$2 dir=$work/$1
  local prefix=$dir/prefix drive=$dir/prefix/drive_c upper
  upper=$(printf '%s' "$code" | tr a-z A-Z)
  rm -rf "$dir"
  mkdir -p "$dir"
  (
    exec >"$dir/output.txt" 2>&1
    local t0 t1 t2 t3 verdict="passed" problems=() line install=- remove=-
    fail() { problems+=("$1"); }
    registered() {
      "$WINE" reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product_code" >/dev/null 2>&1
    }
    t0=$(now)
    "$here/cmake/make-wineprefix.sh" "$prefix" "$arch"
    use_wine "$arch" "$prefix"
    export WINEDEBUG=-all
    # The Windows version the machine reports, to msiexec and all it starts.
    "$WINE" reg add 'HKCU\Software\Wine' /v Version /d "$windows" /f >/dev/null 2>&1
    t1=$(now)
    # As a deployment agent runs it: silent, on a desktop nobody sees. The
    # property is one argument, which Wine quotes whole when it holds a blank
    # ("REPORTERCODE=MARY ANN"); a command line written by hand quotes the
    # value (REPORTERCODE="MARY ANN").
    "$WINE" "$launcher" --limit 120 --no-windows msiexec /i "$(win "$package")" /qn /l*v 'C:\install.log' \
      "REPORTERCODE=$code" >"$dir/install.txt"
    line=$(tail -n 1 "$dir/install.txt")
    install=$(sed -n 's/^run_unseen: exit code \([0-9]*\) after .*/\1/p' <<<"$line")
    t2=$(now)
    if [ -n "$refused" ]; then
      # Above Windows 8 the package refuses, before anything is made.
      [ "$install" = 1603 ] || fail "installation at $windows: ${line#run_unseen: }, expected a refusal (1603)"
      [ ! -e "$drive/TELDAX" ] || fail "C:\\TELDAX made at $windows"
      registered && fail "registered as installed at $windows"
      t3=$t2
    else
      [ "$install" = 0 ] || fail "installation: ${line#run_unseen: }"
      grep -aqF "VINSTALLDLL: reporter code $upper stored" "$drive/install.log" 2>/dev/null ||
        fail "the log does not say that $upper was stored"
      grep -aq "VINSTALLDLL: AfterInstall returned 1" "$drive/install.log" 2>/dev/null || fail "AfterInstall not called"
      [ -f "$drive/TELDAX/vell.exe" ] || fail "C:\\TELDAX\\vell.exe missing"
      [ -f "$drive/TELDAX/RC.DAT" ] || fail "no RC.DAT"
      [ -d "$drive/$upper" ] || fail "no C:\\$upper"
      [ -f "$drive/users/Public/Desktop/Velloran.lnk" ] || fail "no desktop shortcut"
      registered || fail "not registered as installed"
      # Removed as a deployment tool removes it: by the product code.
      "$WINE" "$launcher" --limit 120 --no-windows msiexec /x "$product_code" /qn /l*v 'C:\remove.log' \
        >"$dir/remove.txt"
      line=$(tail -n 1 "$dir/remove.txt")
      remove=$(sed -n 's/^run_unseen: exit code \([0-9]*\) after .*/\1/p' <<<"$line")
      t3=$(now)
      [ "$remove" = 0 ] || fail "removal: ${line#run_unseen: }"
      [ ! -e "$drive/TELDAX/vell.exe" ] || fail "vell.exe left after the removal"
      [ ! -e "$drive/users/Public/Desktop/Velloran.lnk" ] || fail "desktop shortcut left after the removal"
      [ -f "$drive/TELDAX/RC.DAT" ] && [ -d "$drive/$upper" ] || fail "the reporter's data went with the removal"
      registered && fail "still registered after the removal"
    fi
    wineserver -k 2>/dev/null
    if [ ${#problems[@]} -gt 0 ]; then
      verdict="FAILED: $(IFS=';'; echo "${problems[*]}")"
    elif [ -n "$refused" ]; then
      verdict="passed: refused at $windows"
    fi
    echo "$(seconds "$t1" "$t2")" >"$dir/install-seconds"
    printf '%-12s %-12s %7s %7s %7s %7s %7s  %s\n' "$machine" "$code" "${install:-?}" "$(seconds "$t1" "$t2")" \
      "${remove:-?}" "$(seconds "$t2" "$t3")" "$(seconds "$t0" "$t3")" "$verdict" >"$dir/result"
  )
}

mkdir -p "$work"
echo "== Fleet: $count machines at $windows, $(basename "$package") ($arch), each a fresh Wine prefix, all at once on $(nproc) cores"
start=$(now)
pids=()
for i in "${!machines[@]}"; do
  deploy "${machines[$i]}" "${codes[$i]}" &
  pids+=($!)
done
wait "${pids[@]}"
end=$(now)

printf '%-12s %-12s %7s %7s %7s %7s %7s  %s\n' machine code install seconds remove seconds total verdict
passed=0 failed=0
for machine in "${machines[@]}"; do
  if [ -f "$work/$machine/result" ]; then
    cat "$work/$machine/result"
    if grep -q ' passed\(: refused at .*\)\?$' "$work/$machine/result"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
  else
    printf '%-12s %s\n' "$machine" "FAILED: no result (see $work/$machine/output.txt)"
    failed=$((failed + 1))
  fi
done
# Mean and longest installation time, the figures a fleet plans with.
stats=$(cat "$work"/*/install-seconds 2>/dev/null |
  awk '{ n++; s += $1; if ($1 > m) m = $1 } END { if (n) printf "%.1f s mean, %.1f s longest", s / n, m }')
echo "== $count machines: $passed passed, $failed failed; installations $stats; wall time $(seconds "$start" "$end") s"
[ -n "$keep" ] || rm -rf "$work"
[ "$failed" -eq 0 ]
