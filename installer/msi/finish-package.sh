#!/bin/sh
# Finishes a package that wixl built, with msibuild and msiinfo (msitools),
# where wixl cannot say what the package needs:
#   - the rollback action's type: wixl writes Execute="rollback" as an
#     immediate action; 3329 is a DLL action (1), rollback (256), in the
#     script (1024), without impersonation (2048);
#   - SecureCustomProperties: wixl ignores Secure="yes" and writes its own
#     list for MajorUpgrade; the package's public properties are appended.
# With --failing-step, also a deferred action after the library's that
# fails, for the test of a rollback: VinstallStore once more, under a name
# that hands it no CustomActionData, which it refuses. (Wine takes a DLL
# entry that is not there for success.)
#
#   finish-package.sh <package.msi> [--failing-step]
set -eu
package=$1
failing=${2:-}

msibuild "$package" -q "UPDATE \`CustomAction\` SET \`Type\` = 3329 WHERE \`Action\` = 'VinstallStoreRollback'"

secure="REPORTERCODE;REPLACECODE;PDF;UPDATE"
# msiinfo ends each line with CR LF.
current=$(msiinfo export "$package" Property | tr -d '\r' | awk -F '\t' '$1 == "SecureCustomProperties" { print $2 }')
if [ -n "$current" ]; then
  msibuild "$package" -q "UPDATE \`Property\` SET \`Value\` = '$current;$secure' WHERE \`Property\` = 'SecureCustomProperties'"
else
  msibuild "$package" -q "INSERT INTO \`Property\` (\`Property\`, \`Value\`) VALUES ('SecureCustomProperties', '$secure')"
fi

if [ "$failing" = --failing-step ]; then
  msibuild "$package" -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('FailingStep', 3073, 'VinstallMsi', 'VinstallStore')"
  msibuild "$package" -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('FailingStep', 'NOT Installed', 6590)"
fi
