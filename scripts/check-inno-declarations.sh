#!/usr/bin/env bash
# Reads the Inno Setup script's declarations of the library against the
# library's own export directory: every export of the DLL declared exactly
# once, by its plain name, from "files:VINSTALLDLL.dll", stdcall, with five
# 32-bit arguments (a window, then four Integers; for BeforeInstallWithCode
# a code, the options, a buffer and its size) and an Integer status; and
# nothing declared that the DLL does not export. A wrong count of arguments
# would leave Setup's stack broken after each call, a wrong name fails only
# when Setup starts. Works on the files alone, without Inno Setup or Wine.
# Then shows that it catches faults: the same check on copies of the script
# with one declaration removed, one argument dropped, and cdecl in place of
# stdcall must each fail.
#
#   scripts/check-inno-declarations.sh installer/VelloranSetup.iss build/VINSTALLDLL.dll
set -euo pipefail
iss="$1"
dll="$2"

exports=$(i686-w64-mingw32-objdump -p "$dll" |
  sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *[0-9]*\] \([A-Za-z0-9_@]*\)$/\1/p' | sort)
if [ -z "$exports" ]; then
  echo "FAIL $dll: no exports found"
  exit 1
fi

# Prints one "ok"/"FAIL" line per finding; status 1 on any failure.
check() {
  EXPORTS="$exports" perl -0777 -ne '
    my %exported = map { $_ => 1 } split /\n/, $ENV{EXPORTS};
    my ($fail, %declared) = (0);
    s{//[^\n]*}{}g;  # comments that could hold a declaration as text
    # Every mention of the library in an external clause must be one of
    # the declarations read below.
    my $mentions = () = /external\s+\x27[^\x27]*VINSTALLDLL\.dll[^\x27]*\x27/gi;
    my $read = 0;
    while (/function\s+(\w+)\s*\(([^)]*)\)\s*:\s*(\w+)\s*;\s*external\s+\x27([^\x27]*VINSTALLDLL\.dll[^\x27]*)\x27/gi) {
      my ($function, $parameters, $result, $clause) = ($1, $2, $3, $4);
      ++$read;
      unless ($clause =~ /^(\w+)\@files:VINSTALLDLL\.dll stdcall$/) {
        print "FAIL $function: external \x27$clause\x27, expected \x27<export>\@files:VINSTALLDLL.dll stdcall\x27\n";
        $fail = 1;
        next;
      }
      my $export = $1;
      my @types;
      for my $group (split /;/, $parameters) {
        my ($names, $type) = $group =~ /^\s*(?:const\s+)?([\w\s,]+?)\s*:\s*(\w+)\s*$/ or next;
        push @types, ($type) x scalar(split /\s*,\s*/, $names);
      }
      my $shape = join(", ", @types) . " -> $result";
      # The six take four Integers the library ignores; BeforeInstallWithCode
      # a code, the options, a buffer for the log line and its size.
      my $expected = $export eq "BeforeInstallWithCode"
        ? "HWND, AnsiString, Integer, AnsiString, Integer -> Integer"
        : "HWND, Integer, Integer, Integer, Integer -> Integer";
      my $ok = lc($shape) eq lc($expected) && $parameters !~ /\bvar\b/i;
      if (!$exported{$export}) {
        print "FAIL $function: declares $export, which the DLL does not export\n";
        $fail = 1;
      } elsif ($declared{$export}++) {
        print "FAIL $function: declares $export a second time\n";
        $fail = 1;
      } elsif (!$ok) {
        print "FAIL $function: $export declared as ($shape), expected ($expected)\n";
        $fail = 1;
      } else {
        print "ok   $export as $function ($shape), stdcall\n";
      }
    }
    if ($read != $mentions) {
      print "FAIL ", $mentions - $read, " external clause(s) naming VINSTALLDLL.dll not in a function declaration of the expected form\n";
      $fail = 1;
    }
    for my $export (sort keys %exported) {
      next if $declared{$export};
      print "FAIL $export: exported by the DLL, not declared in the script\n";
      $fail = 1;
    }
    exit $fail;
  ' "$1"
}

status=0
echo "== $iss against the exports of $dll"
check "$iss" || status=1

# Each fault must be caught.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
faults=(
  "one declaration removed|/external .BeforeInstall@files/d"
  "an argument dropped|s/function VAfterInstall(Wnd: HWND; A, B, C, D: Integer)/function VAfterInstall(Wnd: HWND; A, B, C: Integer)/"
  "cdecl in place of stdcall|s/MLDInfo@files:VINSTALLDLL.dll stdcall/MLDInfo@files:VINSTALLDLL.dll cdecl/"
  "the log buffer declared as an Integer|s/Options: Integer; Msg: AnsiString;/Options: Integer; Msg: Integer;/"
)
for fault in "${faults[@]}"; do
  name=${fault%%|*}
  sed "${fault#*|}" "$iss" >"$work/fault.iss"
  if cmp -s "$iss" "$work/fault.iss"; then
    echo "FAIL fault \"$name\": the script did not change; the fault is not shown"
    status=1
  elif check "$work/fault.iss" >"$work/out"; then
    echo "FAIL fault \"$name\": not caught"
    status=1
  else
    echo "ok   fault \"$name\" caught: $(grep -m1 FAIL "$work/out")"
  fi
done
exit $status
