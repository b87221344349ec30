#!/usr/bin/env bash
# The deployment matrix in one command: runs the reference packages that this
# machine can run through the cells of scripts/deployment-matrix.tsv (a
# scenario, a Windows version as Wine plays it, a way of running: attended,
# silent or unseen), each cell in a fresh Wine prefix of its own with its own
# wineserver, several cells at once, and checks what each cell left on its
# machine against the outcome its row expects.
#
#   scripts/deployment-matrix.sh [--build DIR] [-j N] [--table FILE]
#                                [--only CELL,...] [--markdown FILE]
#                                [--work DIR] [--keep]
#
#   --build     the build tree whose packages and tools are used (default:
#               build/ where this machine runs 32-bit x86 code, else
#               build-x64/, as ./run.sh chooses)
#   -j N        how many cells (prefixes) at once (default: the number of
#               cores)
#   --table     the table of cells (default: scripts/deployment-matrix.tsv)
#   --only      run only these cells (comma-separated names)
#   --markdown  also write the outcome table, without times, as markdown
#   --work      where the prefixes and each cell's records go (default:
#               <build>/matrix); a cell's records stay in <work>/<cell>/
#   --keep      keep the prefixes afterwards (removed otherwise; the
#               records are always kept)
#
# The table (tab-separated, '#' lines are comments) has one row per cell:
#   cell package windows mode steps expect_exit expect_rcdat expect_installed
#   expect_teldax expect_start expect_log note
# package   nsis (VelloranSetup.exe; its next release VelloranUpdate.exe) or
#           msi (Velloran.msi; its next release VelloranNext.msi)
# windows   Wine's name of the version every program of the package sees
# mode      attended (tools/run_setup.exe types the code into the dialog;
#           NSIS installations only), silent (/S, /qn on the desktop) or
#           unseen (/S, /qn through tools/run_unseen.exe: a window station
#           nobody sees, as a deployment agent runs it)
# steps     actions on the one machine, separated by ';', run in order:
#             install:CODE       this release, with /CODE= (REPORTERCODE=);
#                                CODE '-' gives none
#             install:CODE,replace   and /REPLACECODE (REPLACECODE=1)
#             install:CODE,moved     and /D=C:\Apps\Velloran
#                                (TELDAX=C:\Apps\Velloran\)
#             next:CODE          the next release, the same way
#             remove             the uninstaller (msiexec /x {product code})
#             repair             a repair by an administrator: msiexec /i
#                                with REINSTALL=ALL REINSTALLMODE=vomus (Wine's
#                                msiexec /fa does not repair)
#             rcgone             C:\TELDAX\RC.DAT deleted, as by a person
#             lnkgone            C:\TELDAX\Velloran.lnk deleted, as by a person
#           the last step's outcome is checked, every step's exit code is
#           recorded
# expect_exit       the last step's exit code, or 'notplayable' (then note
#                   says why, and the cell is printed as not played)
# expect_rcdat      RC.DAT as text up to its first zero byte, '/', its
#                   length ('JOHN/24'), or '-' for no RC.DAT
# expect_installed  the Velloran entries under HKLM\...\Uninstall, as
#                   nsis:<DisplayVersion> (key Velloran) or msi:<DisplayVersion>
#                   (the product code's key), comma-separated; '-' for none
# expect_teldax     C:\TELDAX: 'absent', 'empty', 'rcdat' (RC.DAT alone) or
#                   'product' (vell.exe in it); anything in C:\Apps is a
#                   failure whatever the row says
# expect_start      the folder C:\TELDAX\Velloran.lnk starts in, '-' for no
#                   such shortcut
# expect_log        text that the library's lines of the last step must
#                   hold (the NSIS log, or the msiexec /l*v log's
#                   "VINSTALLDLL:" lines); '-' for no check
# Every played cell also expects no PendingFileRenameOperations.
#
# Prints one line per cell (cell, package, windows, mode, expected, got,
# seconds, verdict), then the totals and the wall time. Exits 0 when no cell
# failed, 1 otherwise, 2 for a wrong command line.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/wine-env.sh"

usage() {
  echo "usage: $0 [--build DIR] [-j N] [--table FILE] [--only CELL,...] [--markdown FILE] [--work DIR] [--keep]" >&2
  exit 2
}

build= jobs=$(nproc) table=$here/scripts/deployment-matrix.tsv only= markdown= work= keep=
while [ $# -gt 0 ]; do
  case "$1" in
    --build) [ $# -ge 2 ] || usage; build=$2; shift 2 ;;
    -j) [ $# -ge 2 ] || usage; jobs=$2; shift 2 ;;
    -j[0-9]*) jobs=${1#-j}; shift ;;
    --table) [ $# -ge 2 ] || usage; table=$2; shift 2 ;;
    --only) [ $# -ge 2 ] || usage; only=$2; shift 2 ;;
    --markdown) [ $# -ge 2 ] || usage; markdown=$2; shift 2 ;;
    --work) [ $# -ge 2 ] || usage; work=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) usage ;;
  esac
done
case "$jobs" in ''|*[!0-9]*|0) usage ;; esac
[ -f "$table" ] || { echo "$0: no table $table" >&2; exit 2; }
if [ -z "$build" ]; then
  if can_run_x86; then build=$here/build; else build=$here/build-x64; fi
fi
build=$(cd "$build" && pwd) || exit 2
case "$build" in *-x64) arch=x64 ;; *) arch=x86 ;; esac
if [ "$arch" = x86 ] && ! can_run_x86; then
  echo "$0: $build is the 32-bit tree and $NoX86Reason" >&2
  exit 2
fi
work=${work:-$build/matrix}
[ -n "$markdown" ] && markdown=$(cd "$(dirname "$markdown")" && pwd)/$(basename "$markdown")

declare -A file
file[nsis]=$build/installer/VelloranSetup.exe
file[nsis-next]=$build/installer/VelloranUpdate.exe
file[msi]=$build/installer/msi/Velloran.msi
file[msi-next]=$build/installer/msi/VelloranNext.msi
run_setup=$build/tools/run_setup.exe
run_unseen=$build/tools/run_unseen.exe
for f in "${file[@]}" "$run_setup" "$run_unseen"; do
  [ -f "$f" ] || { echo "$0: $f is missing: build the tree first" >&2; exit 2; }
done
# Each package's product code, read from the package itself: what a
# deployment tool removes and repairs by.
product_code() { msiinfo export "$1" Property | tr -d '\r' | awk -F '\t' '$1 == "ProductCode" { print $2 }'; }
msi_code=$(product_code "${file[msi]}")
msi_next_code=$(product_code "${file[msi-next]}")
[ -n "$msi_code" ] && [ -n "$msi_next_code" ] || { echo "$0: no ProductCode in the packages" >&2; exit 2; }

now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }

# The rows: fields split on tabs, empty fields kept.
cells=()
declare -A row
while IFS= read -r line || [ -n "$line" ]; do
  line=${line%$'\r'}
  case "$line" in ''|'#'*) continue ;; esac
  # Tabs are whitespace to read, which would merge empty fields: a unit
  # separator stands for each.
  line=${line//$'\t'/$'\x1f'}
  IFS=$'\x1f' read -r -a f <<<"$line"
  [ "${f[0]}" = cell ] && continue
  [ ${#f[@]} -ge 11 ] || { echo "$0: $table: a row with ${#f[@]} fields: $line" >&2; exit 2; }
  if [ -n "$only" ] && [[ ",$only," != *",${f[0]},"* ]]; then continue; fi
  [ -z "${row[${f[0]}]+x}" ] || { echo "$0: $table: cell ${f[0]} twice" >&2; exit 2; }
  cells+=("${f[0]}")
  row[${f[0]}]=$line
done <"$table"
[ ${#cells[@]} -gt 0 ] || { echo "$0: no cells to run" >&2; exit 2; }

# The working folder of the shortcut at $1, read from the file itself
# (Microsoft's [MS-SHLLINK], 2.1.1 LinkFlags and 2.4 StringData: the header's
# LinkFlags, then the optional ID list and
# LinkInfo, then the counted strings NAME, RELATIVE_PATH, WORKING_DIR in that
# order, UTF-16 when IsUnicode is set); '-' when there is none.
shortcut_start() {
  python3 - "$1" <<'EOF'
import struct, sys
try:
    data = open(sys.argv[1], 'rb').read()
except OSError:
    print('-'); sys.exit(0)
if len(data) < 0x4c or struct.unpack_from('<I', data, 0)[0] != 0x4c:
    print('(not a shortcut)'); sys.exit(0)
flags = struct.unpack_from('<I', data, 0x14)[0]
at = 0x4c
if flags & 0x1:
    at += 2 + struct.unpack_from('<H', data, at)[0]
if flags & 0x2:
    at += struct.unpack_from('<I', data, at)[0]
unicode = flags & 0x80
for bit in (0x4, 0x8, 0x10):
    if not flags & bit:
        continue
    count = struct.unpack_from('<H', data, at)[0]
    size = count * (2 if unicode else 1)
    text = data[at + 2:at + 2 + size].decode('utf-16-le' if unicode else 'cp1252', 'replace')
    at += 2 + size
    if bit == 0x10:
        print(text.rstrip('\0') or '(empty)'); sys.exit(0)
print('(none)')
EOF
}

# One cell, start to end, in its own prefix; its verdict line goes to
# $dir/result, its records to $dir/record.txt.
play() {
  local cell=$1 dir=$work/$1
  local package windows mode steps e_exit e_rc e_inst e_teldax e_start e_log note
  IFS=$'\x1f' read -r cell package windows mode steps e_exit e_rc e_inst e_teldax e_start e_log note <<<"${row[$cell]}"
  rm -rf "$dir"
  mkdir -p "$dir"
  (
    exec >"$dir/output.txt" 2>&1
    local prefix=$dir/prefix drive=$dir/prefix/drive_c t0 t1 codes=() problems=() n=0 last_log=
    t0=$(now)
    # A copy of a prefix that nothing ran in yet: the system folder's large,
    # never-written DLLs as hard links, everything else copied.
    mkdir -p "$prefix"
    tar -C "$template" --exclude=./drive_c/windows/system32 --exclude=./wineserver -cf - . | tar -C "$prefix" -xf -
    cp -al "$template/drive_c/windows/system32" "$drive/windows/system32"
    use_wine "$arch" "$prefix"
    export WINEDEBUG=-all
    unset DISPLAY
    # The server stays 2 s after the last program, so that waiting for it
    # (wineserver -w) waits for every program a step started, such as the
    # uninstaller's finishing copy.
    wineserver -p2
    mkdir -p "$drive/setup" "$drive/logs"
    cp "${file[$package]}" "${file[$package-next]}" "$drive/setup/"
    local setup=VelloranSetup.exe next=VelloranUpdate.exe code_now=$msi_code
    [ "$package" = msi ] && setup=Velloran.msi next=VelloranNext.msi
    # The Windows version, the whole prefix's, as a machine's is: the
    # kernel's own record of it, which the library reads to know whether
    # tokens can be split, follows only that setting, and is made when the
    # server starts, so the server starts again. The setup programs'
    # manifests decide whether 8.1 and 10 show through (they do).
    "$WINE" reg add 'HKCU\Software\Wine' /v Version /d "$windows" /f >/dev/null
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    wineserver -p2
    local step action code options exe args ts out exit
    IFS=';' read -r -a step_list <<<"$steps"
    for step in "${step_list[@]}"; do
      step=$(echo "$step" | sed 's/^ *//; s/ *$//')
      n=$((n + 1))
      action=${step%%:*} code= options=
      [[ "$step" == *:* ]] && code=${step#*:}
      [[ "$code" == *,* ]] && options=${code#*,} code=${code%%,*}
      [ "$code" = - ] && code=
      local log="C:\\logs\\step$n.log" ulog="$drive/logs/step$n.log"
      args=() exe=
      case "$package:$action" in
        nsis:install|nsis:next)
          exe="C:\\setup\\$setup"; [ "$action" = next ] && exe="C:\\setup\\$next"
          args=(/S)
          [ -n "$code" ] && args+=("/CODE=$code")
          [[ ",$options," == *,replace,* ]] && args+=(/REPLACECODE)
          args+=("/LOG=$log")
          # NSIS takes all after /D= as the folder: it comes last.
          [[ ",$options," == *,moved,* ]] && args+=('/D=C:\Apps\Velloran') ;;
        nsis:remove) exe='C:\TELDAX\Uninstall.exe'; args=(/S "/LOG=$log" '_?=C:\TELDAX') ;;
        msi:install|msi:next)
          exe=msiexec
          if [ "$action" = next ]; then args=(/i "C:\\setup\\$next"); code_now=$msi_next_code; else args=(/i "C:\\setup\\$setup"); code_now=$msi_code; fi
          args+=(/qn /l*v "$log")
          [ -n "$code" ] && args+=("REPORTERCODE=$code")
          [[ ",$options," == *,replace,* ]] && args+=(REPLACECODE=1)
          [[ ",$options," == *,moved,* ]] && args+=('TELDAX=C:\Apps\Velloran\') ;;
        msi:remove) exe=msiexec; args=(/x "$code_now" /qn /l*v "$log") ;;
        msi:repair) exe=msiexec; args=(/i "C:\\setup\\$setup" REINSTALL=ALL REINSTALLMODE=vomus /qn /l*v "$log") ;;
        *:rcgone|*:lnkgone) ;;
        *) echo "cell $cell: unknown step '$step'"; codes+=("?"); continue ;;
      esac
      ts=$(now)
      if [ "$action" = rcgone ]; then
        rm -f "$drive/TELDAX/RC.DAT"
        exit=-
      elif [ "$action" = lnkgone ]; then
        rm -f "$drive/TELDAX/Velloran.lnk"
        exit=-
      elif [ "$mode" = attended ] && [ "$package" = nsis ] && [ "$action" = install ]; then
        # The automated hand types the code into the library's dialog; the
        # program runs with /PDF, then once more with /S /CHECK.
        rm -f "$drive"/users/*/Temp/VelloranSetup.log
        "$WINE" "$run_setup" "C:\\setup\\$setup" --code "${code:-john}" >"$dir/step$n.txt" 2>&1
        exit=$(sed -n '1,/exit code/s/^setup program: .*, exit code \([0-9]*\).*/\1/p' "$dir/step$n.txt" | head -n 1)
        cp "$drive"/users/*/Temp/VelloranSetup.log "$ulog" 2>/dev/null
      elif [ "$mode" = unseen ]; then
        "$WINE" "$run_unseen" --limit 120 --no-windows "$exe" "${args[@]}" >"$dir/step$n.txt" 2>&1
        exit=$(tail -n 1 "$dir/step$n.txt" | sed -n 's/^run_unseen: exit code \([0-9]*\) after .*/\1/p')
        grep -q '#32770' "$dir/step$n.txt" && problems+=("step $n showed a dialog where nobody sees the screen")
      else
        # A batch file run by cmd: start /wait gives the program's whole exit
        # code (a Unix caller of Wine sees only its low 8 bits).
        {
          printf '@echo off\r\nstart "" /wait'
          for a in "$exe" "${args[@]}"; do printf ' "%s"' "$a"; done
          printf '\r\necho exit code %%ERRORLEVEL%%\r\n'
        } >"$drive/step$n.cmd"
        # "TELDAX=C:\Apps\Velloran\" would end in \" : msiexec reads the
        # property whole only unquoted.
        sed -i 's/"\(TELDAX=[^"]*\)"/\1/; s/"\(RE[A-Z]*=[A-Za-z0-9]*\)"/\1/g' "$drive/step$n.cmd"
        "$WINE" cmd /c "C:\\step$n.cmd" >"$dir/step$n.txt" 2>&1
        exit=$(sed -n 's/^exit code \([0-9-]*\).*/\1/p' "$dir/step$n.txt" | tr -d '\r' | tail -n 1)
      fi
      # What a step started may outlive it (the uninstaller's finishing
      # copy): the next step, and the records, come when all has ended.
      [ "$action" = remove ] || [ "$n" -eq "${#step_list[@]}" ] && wineserver -w
      codes+=("${exit:-?}")
      echo "step $n: $step -> exit code ${exit:-?} after $(seconds "$ts" "$(now)") s"
      [ "$exit" != - ] && last_log=$ulog
    done

    # What the machine holds now.
    local rc=- inst=() teldax=absent start pending library=
    if [ -f "$drive/TELDAX/RC.DAT" ]; then
      rc="$(head -c 4096 "$drive/TELDAX/RC.DAT" | tr '\0' '\n' | head -n 1 | tr -d '\n' | LC_ALL=C tr -c '[:print:]' '?')/$(stat -c %s "$drive/TELDAX/RC.DAT")"
    fi
    if [ -d "$drive/TELDAX" ]; then
      if [ -f "$drive/TELDAX/vell.exe" ]; then teldax=product
      elif [ -z "$(ls -A "$drive/TELDAX")" ]; then teldax=empty
      elif [ "$(ls -A "$drive/TELDAX")" = RC.DAT ]; then teldax=rcdat
      else teldax=other
      fi
    fi
    if [ -d "$drive/Apps" ] && [ -n "$(find "$drive/Apps" -mindepth 1 -print -quit)" ]; then
      teldax="$teldax+apps"
      problems+=("C:\\Apps holds $(cd "$drive/Apps" && find . -type f | head -n 3 | tr '\n' ' ')")
    fi
    start=$(shortcut_start "$drive/TELDAX/Velloran.lnk")
    # The registration and what waits for the next restart, in one run of
    # reg: every Uninstall entry with its values, then the Session Manager's
    # PendingFileRenameOperations.
    printf '%s\r\n' '@echo off' 'reg query HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall /s' 'echo ==pending==' \
      'reg query "HKLM\SYSTEM\CurrentControlSet\Control\Session Manager" /v PendingFileRenameOperations' \
      >"$drive/records.cmd"
    "$WINE" cmd /c 'C:\records.cmd' 2>&1 | tr -d '\r' >"$dir/registry.txt"
    mapfile -t inst < <(sed '/^==pending==/,$d' "$dir/registry.txt" | awk '
      /^HKEY.*\\Uninstall\\/ { key = $0; sub(/.*\\/, "", key); name = ""; next }
      /^ *DisplayName +REG_SZ/ { sub(/^ *DisplayName +REG_SZ +/, ""); names[key] = $0 }
      /^ *DisplayVersion +REG_SZ/ { sub(/^ *DisplayVersion +REG_SZ +/, ""); versions[key] = $0 }
      END { for (k in names) if (names[k] ~ /Velloran/) print (k ~ /^\{/ ? "msi:" : "nsis:") versions[k] }')
    local installed=-
    [ ${#inst[@]} -gt 0 ] && installed=$(printf '%s\n' "${inst[@]}" | sort | paste -sd, -)
    pending=$(sed -n '/^==pending==/,$p' "$dir/registry.txt" | sed -n 's/^ *PendingFileRenameOperations *REG_MULTI_SZ *//p')
    grep -q '^==pending==' "$dir/registry.txt" || problems+=("the registry could not be read (see registry.txt)")
    if [ -n "$pending" ]; then problems+=("PendingFileRenameOperations: $pending"); else pending=none; fi
    # The library's lines of the last step: the NSIS log as it is, the
    # msiexec log's lines that start "VINSTALLDLL:".
    if [ -n "$last_log" ] && [ -f "$last_log" ]; then
      if [ "$package" = nsis ]; then library=$(tr -d '\r' <"$last_log")
      else library=$(grep -a 'VINSTALLDLL:' "$last_log" | tr -d '\r' | sed 's/^.*VINSTALLDLL: //'); fi
    fi
    wineserver -k 2>/dev/null
    t1=$(now)

    local expected="exit=$e_exit rc=$e_rc inst=$e_inst teldax=$e_teldax start=$e_start"
    local got="exit=$(IFS=,; echo "${codes[*]}") rc=$rc inst=$installed teldax=$teldax start=$start"
    [ "${codes[${#codes[@]}-1]}" = "$e_exit" ] || problems+=("exit code ${codes[${#codes[@]}-1]}, expected $e_exit")
    [ "$rc" = "$e_rc" ] || problems+=("RC.DAT $rc, expected $e_rc")
    [ "$installed" = "$e_inst" ] || problems+=("installed $installed, expected $e_inst")
    [ "${teldax%+apps}" = "$e_teldax" ] || problems+=("C:\\TELDAX $teldax, expected $e_teldax")
    [ "$start" = "$e_start" ] || problems+=("the shortcut starts in $start, expected $e_start")
    if [ "$e_log" != - ] && [[ "$library" != *"$e_log"* ]]; then
      problems+=("the log lacks \"$e_log\"")
    fi
    {
      echo "cell:      $cell ($package, $windows, $mode): $steps"
      echo "expected:  $expected${e_log:+ log=$e_log}"
      echo "got:       $got"
      echo "pending:   $pending"
      echo "files:     $( [ -d "$drive/TELDAX" ] && ls -A "$drive/TELDAX" | paste -sd' ' -)"
      echo "library's lines of the last step:"
      printf '%s\n' "${library:-(none)}" | sed 's/^/  /'
      echo "time:      $(date -u +%FT%TZ), $(seconds "$t0" "$t1") s"
      [ ${#problems[@]} -gt 0 ] && printf 'problem:   %s\n' "${problems[@]}"
    } >"$dir/record.txt"
    local verdict=passed
    [ ${#problems[@]} -gt 0 ] && verdict="FAILED: $(IFS=';'; echo "${problems[*]}")"
    printf '%s\t%s\t%s\t%s\n' "$expected" "$got" "$(seconds "$t0" "$t1")" "$verdict" >"$dir/result"
    # The last library line, for the markdown table.
    printf '%s\n' "$library" | grep -v '^[A-Za-z0-9]* -\?[0-9]*$' | grep -v '^\(completed\|stopped\|removed\)$' |
      grep -v 'returned [0-9]*$' | tail -n 1 >"$dir/logline"
  )
}

mkdir -p "$work"
echo "== Deployment matrix: ${#cells[@]} cells from $(basename "$table"), $arch packages of $build, each a fresh Wine prefix, $jobs at once on $(nproc) cores"
start=$(now)
# One prefix that nothing runs in, made once, copied for each cell.
template=$work/template
(
  use_wine "$arch" "$template"
  "$here/cmake/make-wineprefix.sh" "$template" "$arch" >/dev/null 2>&1
  WINEPREFIX=$template wineserver -k 2>/dev/null
  WINEPREFIX=$template wineserver -w 2>/dev/null
) || { echo "$0: cannot make the Wine prefix $template" >&2; exit 1; }

running=0
for cell in "${cells[@]}"; do
  IFS=$'\x1f' read -r _ _ _ _ _ e_exit _ <<<"${row[$cell]}"
  [ "$e_exit" = notplayable ] && continue
  if [ "$running" -ge "$jobs" ]; then wait -n; running=$((running - 1)); fi
  play "$cell" &
  running=$((running + 1))
done
wait
end=$(now)

# Text for a cell of a markdown table: each '|' escaped.
md() { printf '%s' "$1" | sed 's/|/\\|/g'; }

printf '%-16s %-5s %-6s %-9s %-s\n' cell pkg win mode "expected | got | seconds | verdict"
passed=0 failed=0 skipped=0 md_rows=()
for cell in "${cells[@]}"; do
  IFS=$'\x1f' read -r _ package windows mode steps e_exit e_rc e_inst e_teldax e_start e_log note <<<"${row[$cell]}"
  if [ "$e_exit" = notplayable ]; then
    printf '%-16s %-5s %-6s %-9s not played: %s\n' "$cell" "$package" "$windows" "$mode" "$note"
    skipped=$((skipped + 1))
    md_rows+=("| $cell | $package | $windows | $mode | \`$steps\` | not playable | | not played | $(md "$note") |")
    continue
  fi
  if [ -f "$work/$cell/result" ]; then
    IFS=$'\t' read -r expected got secs verdict <"$work/$cell/result"
  else
    expected="exit=$e_exit" got="(no result: see $work/$cell/output.txt)" secs=- verdict="FAILED: no result"
  fi
  printf '%-16s %-5s %-6s %-9s %s | %s | %s s | %s\n' "$cell" "$package" "$windows" "$mode" "$expected" "$got" "$secs" "$verdict"
  if [ "$verdict" = passed ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
  logline=$(cat "$work/$cell/logline" 2>/dev/null)
  md_rows+=("| $cell | $package | $windows | $mode | \`$steps\` | \`$expected\` | \`$got\` | ${verdict%%:*} | ${logline:+\`$(md "$logline")\`} |")
done
echo "== ${#cells[@]} cells: $passed passed, $failed failed, $skipped not played; wall time $(seconds "$start" "$end") s"

if [ -n "$markdown" ]; then
  {
    echo "| cell | package | Windows | mode | steps | expected | got | verdict | the library's last line |"
    echo "|---|---|---|---|---|---|---|---|---|"
    printf '%s\n' "${md_rows[@]}"
  } >"$markdown"
fi
if [ -z "$keep" ]; then
  rm -rf "$template"
  for cell in "${cells[@]}"; do rm -rf "$work/$cell/prefix"; done
fi
[ "$failed" -eq 0 ]
