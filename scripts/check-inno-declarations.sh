#!/usr/bin/env bash
# Reads the Inno Setup script's declarations of the library against the
# library's own export directory: every export of the DLL declared, by its
# plain name, stdcall, with five 32-bit arguments in the shape of its
# contract and an Integer status; nothing declared that the DLL does not
# export, and no export declared twice from the same place. A wrong count of
# arguments would leave Setup's stack broken after each call, a wrong name
# fails only when Setup starts.
#
# Where the library is loaded from is held against what Inno Setup does
# (its help, "Pascal Scripting: Using DLL files" and "UnloadDLL"): Setup's
# calls extract it ("files:VINSTALLDLL.dll"), never with "uninstallonly"
# (the uninstaller cannot extract, and the compiler refuses the pair); the
# uninstaller's calls load the copy installed in the application folder
# ("{app}\VINSTALLDLL.dll" with "uninstallonly", without which Setup would
# expand {app} when its script starts), which [Files] must then install
# there under that name, and which the script must unload with
# UnloadDLL(ExpandConstant('{app}\VINSTALLDLL.dll')) so that the uninstaller
# can delete it. Options are Inno Setup's four. Works on the files alone,
# without Inno Setup or Wine.
#
# Then shows that it catches faults: the same check on copies of the script
# with one fault each must fail.
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
    my ($fail, %declared, %placed) = (0);
    s{//[^\n]*}{}g;  # comments that could hold a declaration as text
    # The shape of each export: the six take four Integers the library
    # ignores; the three for unattended setup programs take a code or a
    # file list (AnsiString) or a reserved Integer, the options, a buffer
    # for the log line and its size.
    my %shapes = (
      BeforeInstallWithCode => "HWND, AnsiString, Integer, AnsiString, Integer -> Integer",
      ProtectInstallFolder  => "HWND, Integer, Integer, AnsiString, Integer -> Integer",
      RemoveLibraryFiles    => "HWND, AnsiString, Integer, AnsiString, Integer -> Integer",
    );
    my %options = map { $_ => 1 } qw(delayload loadwithalteredsearchpath setuponly uninstallonly);
    # Every mention of the library in an external clause must be one of
    # the declarations read below.
    my $mentions = () = /external\s+\x27[^\x27]*VINSTALLDLL\.dll[^\x27]*\x27/gi;
    my $read = 0;
    while (/function\s+(\w+)\s*\(([^)]*)\)\s*:\s*(\w+)\s*;\s*external\s+\x27([^\x27]*VINSTALLDLL\.dll[^\x27]*)\x27/gi) {
      my ($function, $parameters, $result, $clause) = ($1, $2, $3, $4);
      ++$read;
      unless ($clause =~ /^(\w+)\@(files:|\{app\}\\)VINSTALLDLL\.dll stdcall((?: \w+)*)$/) {
        print "FAIL $function: external \x27$clause\x27, expected \x27<export>\@files:VINSTALLDLL.dll stdcall\x27",
              " or \x27<export>\@{app}\\VINSTALLDLL.dll stdcall uninstallonly\x27\n";
        $fail = 1;
        next;
      }
      my ($export, $place) = ($1, $2 eq "files:" ? "files:" : "{app}");
      my %given = map { $_ => 1 } grep { $_ ne "" } split / /, $3;
      my @unknown = grep { !$options{$_} } sort keys %given;
      my $where = "";
      if (@unknown) {
        $where = "unknown option(s) @unknown";
      } elsif ($place eq "files:" && $given{uninstallonly}) {
        $where = "\"uninstallonly\" with \"files:\": the uninstaller does not extract, the compiler refuses it";
      } elsif ($place eq "{app}" && !$given{uninstallonly}) {
        $where = "{app} without \"uninstallonly\": Setup would expand {app} before it is known";
      }
      $placed{$place} = 1;
      my @types;
      for my $group (split /;/, $parameters) {
        my ($names, $type) = $group =~ /^\s*(?:const\s+)?([\w\s,]+?)\s*:\s*(\w+)\s*$/ or next;
        push @types, ($type) x scalar(split /\s*,\s*/, $names);
      }
      my $shape = join(", ", @types) . " -> $result";
      my $expected = $shapes{$export} // "HWND, Integer, Integer, Integer, Integer -> Integer";
      my $ok = lc($shape) eq lc($expected) && $parameters !~ /\bvar\b/i;
      if (!$exported{$export}) {
        print "FAIL $function: declares $export, which the DLL does not export\n";
        $fail = 1;
      } elsif ($declared{"$export $place"}++) {
        print "FAIL $function: declares $export from $place a second time\n";
        $fail = 1;
      } elsif (!$ok) {
        print "FAIL $function: $export declared as ($shape), expected ($expected)\n";
        $fail = 1;
      } elsif ($where ne "") {
        print "FAIL $function: $export: $where\n";
        $fail = 1;
      } else {
        $declared{$export} = 1;
        print "ok   $export as $function ($shape), stdcall, from $place", (%given ? " (" . join(" ", sort keys %given) . ")" : ""), "\n";
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
    if ($placed{"{app}"}) {
      # The copy the uninstaller loads: installed into {app} under the name
      # the declarations give, and unloaded before the uninstaller deletes it.
      my ($files) = /^\[Files\]\s*\n(.*?)(?=^\[|\z)/ms;
      my $installed = grep { /^\s*Source:\s*"\{#VINSTALLDLL\}"\s*;/i && /DestDir:\s*"\{app\}"/i &&
                             /DestName:\s*"VINSTALLDLL\.dll"/i && !/\bdontcopy\b/i } split /\n/, $files // "";
      if ($installed) {
        print "ok   [Files] installs the library into {app} as VINSTALLDLL.dll for the uninstaller\n";
      } else {
        print "FAIL [Files] does not install {#VINSTALLDLL} into {app} as VINSTALLDLL.dll, which the uninstaller loads\n";
        $fail = 1;
      }
      if (/UnloadDLL\(\s*ExpandConstant\(\s*\x27\{app\}\\VINSTALLDLL\.dll\x27\s*\)\s*\)/) {
        print "ok   the uninstaller unloads {app}\\VINSTALLDLL.dll before it is deleted\n";
      } else {
        print "FAIL no UnloadDLL(ExpandConstant(\x27{app}\\VINSTALLDLL.dll\x27)): the uninstaller cannot delete the library it loaded\n";
        $fail = 1;
      }
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
  'one declaration removed|/external .BeforeInstall@files/d'
  'an argument dropped|s/function VAfterInstall(Wnd: HWND; A, B, C, D: Integer)/function VAfterInstall(Wnd: HWND; A, B, C: Integer)/'
  'cdecl in place of stdcall|s/MLDInfo@files:VINSTALLDLL.dll stdcall/MLDInfo@files:VINSTALLDLL.dll cdecl/'
  'the log buffer declared as an Integer|s/Options: Integer; Msg: AnsiString;/Options: Integer; Msg: Integer;/'
  'the reserved argument of ProtectInstallFolder dropped|s/Wnd: HWND; Reserved: Integer; Options: Integer;/Wnd: HWND; Options: Integer;/'
  'the file list of RemoveLibraryFiles declared as an Integer|s/Files: AnsiString;/Files: Integer;/'
  'the uninstaller extracting the library|s/RemoveLibraryFiles@{app}\\VINSTALLDLL.dll/RemoveLibraryFiles@files:VINSTALLDLL.dll/'
  'uninstallonly dropped|s/\(RemoveLibraryFiles@.*\) uninstallonly/\1/'
  'an option Inno Setup does not have|s/uninstallonly delayload/uninstallonly delayloaded/'
  'the library not installed into {app}|/^Source: .*DestName: "VINSTALLDLL.dll"/d'
  'the library not unloaded by the uninstaller|/UnloadDLL(ExpandConstant(.{app}/d'
  'ProtectInstallFolder declared twice|s/^\(function VProtectInstallFolder\)/function VProtectAgain(Wnd: HWND; Reserved: Integer; Options: Integer; Msg: AnsiString; Size: Integer): Integer; external '"'"'ProtectInstallFolder@files:VINSTALLDLL.dll stdcall'"'"';\n\1/'
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
