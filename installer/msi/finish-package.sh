#!/bin/sh
# Finishes a package that wixl built, with msibuild and msiinfo (msitools),
# where wixl cannot say what the package needs:
#   - the rollback action's type: wixl writes Execute="rollback" as an
#     immediate action; 3329 is a DLL action (1), rollback (256), in the
#     script (1024), without impersonation (2048);
#   - SecureCustomProperties: wixl ignores Secure="yes" and writes its own
#     list for MajorUpgrade; the package's public properties are appended;
#   - VinstallAfterInstall's type: wixl writes Execute="commit" as an
#     immediate action; 3585 is a DLL action (1), commit (512), in the
#     script (1024), without impersonation (2048);
#   - VinstallPinFolder's type 51 (a property set from formatted text),
#     without the no-impersonation bit wixl adds, which means nothing there;
#   - RemoveExistingProducts at 6610, after InstallFinalize (6600), where
#     MajorUpgrade has no attribute to put it (Microsoft's
#     "RemoveExistingProducts Action": "After the InstallFinalize action");
#   - --detect-component <GUID>: the other architecture's component, looked
#     for by AppSearch (a CompLocator row: Microsoft's "CompLocator Table";
#     type 1, its key path is a file) into VELLORANOTHERARCH, which a launch
#     condition of the .wxs refuses. AppSearch runs at 50, before
#     LaunchConditions (100), in both sequences.
# Options, for the packages of the tests:
#   --failing-step  a deferred action after the library's that fails, for
#       the test of a rollback: VinstallStore once more, under a name that
#       hands it no CustomActionData, which it refuses. (Wine takes a DLL
#       entry that is not there for success.)
#   --next-test  the library's actions taken out of the sequence (under Wine
#       the gate refuses the C:\TELDAX an earlier release left, which is the
#       Wine user's), and the failing action above run only with FAILSTEP=1:
#       an upgrade that fails in its script, or succeeds, past the gate.
#   --as-product <product code> <component GUID>  the package carries these
#       codes in place of its own: the other architecture's package of the
#       release, played by this architecture's (only one runs here).
#
#   finish-package.sh <package.msi> [options]
set -eu
package=$1
shift
failing=
next_test=
as_product=
as_component=
detect_component=
while [ $# -gt 0 ]; do
  case $1 in
    --failing-step) failing=yes ;;
    --next-test) next_test=yes ;;
    --as-product) as_product=$2; as_component=$3; shift 2 ;;
    --detect-component) detect_component=$2; shift ;;
    *) echo "finish-package.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

run() {
  msibuild "$package" -q "$1"
}

run "UPDATE \`CustomAction\` SET \`Type\` = 3329 WHERE \`Action\` = 'VinstallStoreRollback'"

run "UPDATE \`CustomAction\` SET \`Type\` = 3585 WHERE \`Action\` = 'VinstallAfterInstall'"
run "UPDATE \`CustomAction\` SET \`Type\` = 51 WHERE \`Action\` = 'VinstallPinFolder'"
run "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 6610 WHERE \`Action\` = 'RemoveExistingProducts'"

if [ -n "$detect_component" ]; then
  run "CREATE TABLE \`CompLocator\` (\`Signature_\` CHAR(72) NOT NULL, \`ComponentId\` CHAR(38) NOT NULL, \`Type\` SHORT PRIMARY KEY \`Signature_\`)"
  run "INSERT INTO \`CompLocator\` (\`Signature_\`, \`ComponentId\`, \`Type\`) VALUES ('OtherArchitecture', '$detect_component', 1)"
  run "INSERT INTO \`AppSearch\` (\`Property\`, \`Signature_\`) VALUES ('VELLORANOTHERARCH', 'OtherArchitecture')"
  run "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('AppSearch', 50)"
  run "INSERT INTO \`InstallUISequence\` (\`Action\`, \`Sequence\`) VALUES ('AppSearch', 50)"
fi

secure="REPORTERCODE;REPLACECODE;PDF;UPDATE"
# msiinfo ends each line with CR LF.
current=$(msiinfo export "$package" Property | tr -d '\r' | awk -F '\t' '$1 == "SecureCustomProperties" { print $2 }')
if [ -n "$current" ]; then
  run "UPDATE \`Property\` SET \`Value\` = '$current;$secure' WHERE \`Property\` = 'SecureCustomProperties'"
else
  run "INSERT INTO \`Property\` (\`Property\`, \`Value\`) VALUES ('SecureCustomProperties', '$secure')"
fi

if [ -n "$failing" ] || [ -n "$next_test" ]; then
  condition="NOT Installed"
  [ -n "$next_test" ] && condition="NOT Installed AND FAILSTEP"
  run "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('FailingStep', 3073, 'VinstallMsi', 'VinstallStore')"
  run "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('FailingStep', '$condition', 6590)"
fi
if [ -n "$next_test" ]; then
  for action in $(msiinfo export "$package" InstallExecuteSequence | tr -d '\r' | awk -F '\t' '$1 ~ /^Vinstall/ { print $1 }'); do
    run "DELETE FROM \`InstallExecuteSequence\` WHERE \`Action\` = '$action'"
  done
fi
if [ -n "$as_product" ]; then
  run "UPDATE \`Property\` SET \`Value\` = '$as_product' WHERE \`Property\` = 'ProductCode'"
  run "UPDATE \`Component\` SET \`ComponentId\` = '$as_component' WHERE \`Component\` = 'Product'"
fi
