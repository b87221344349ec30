#!/usr/bin/env bash
# Installs what is missing, builds the DLL and its tests for both
# architectures and runs every test under Wine: always against the x86_64
# build of the sources, in a 64-bit prefix, so that the suite means the same
# on every machine; and against the shipped 32-bit DLL, in a 32-bit prefix:
# natively where this machine executes 32-bit x86 code, and elsewhere inside
# a small virtual machine whose kernel does (scripts/run-i386.sh).
#
#   VINSTALL_NO_VM=1  where 32-bit code does not run natively, do not start
#                     the virtual machine: the i686 tree's Wine tests are
#                     then reported as skipped, with that reason
#   VINSTALL_VM_TIMEOUT  seconds the virtual machine may run (default 3600)
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
. scripts/wine-env.sh

# How the i686 tree's Wine tests run here.
if can_run_x86; then
  x86=native scale=1
elif [ "${VINSTALL_NO_VM:-}" = 1 ]; then
  x86=skipped scale=1
else
  # The virtual machine emulates the CPU: 10 to 25 times slower.
  x86=vm scale=25
fi

# The 32-bit tree first: the 64-bit tree reads its DLL too.
cmake --preset default -DVINSTALL_TEST_TIME_SCALE=$scale >/dev/null
cmake --build --preset default
cmake --preset x64 >/dev/null
cmake --build --preset x64

status=0
echo "== x86_64 build, under 64-bit Wine"
ctest --preset x64 || status=1

case "$x86" in
  native)
    echo "== i686 build (the shipped DLL), under 32-bit Wine"
    ctest --preset default || status=1
    summary="i686 natively (32-bit Wine)"
    ;;
  skipped)
    why="VINSTALL_NO_VM=1 was given and $NoX86Reason"
    echo "== i686 build (the shipped DLL): its Wine tests are skipped ($why); its file is checked"
    ctest --preset default || status=1
    summary="i686 skipped ($why)"
    ;;
  vm)
    echo "== i686 build (the shipped DLL): $NoX86Reason; the checks of its file here, its Wine tests in the VM"
    ctest --preset default -LE wine || status=1
    # One boot and one prefix for all of them, within CI's time: the fleets
    # (three 32-bit prefixes each) and test_setup_signed (all of test_setup
    # again, with signed copies) are left out there, and test_robustness runs
    # 50 generated cases per input in place of 1000; the x86_64 tree ran all
    # of them above, on the same sources and scripts. The signed copies were
    # made here (the "signing" test).
    echo "== i686 build (the shipped DLL), under 32-bit Wine in the virtual machine (scripts/run-i386.sh);"
    echo "   not run there: fleet_win7, fleet_win8, test_setup_signed; test_robustness with 50 cases per input (the x86_64 tree ran them all)"
    vm_status=0
    VINSTALL_CASES=50 scripts/run-i386.sh --timeout "${VINSTALL_VM_TIMEOUT:-3600}" -- \
      ctest --preset default -L wine -FS signed -E '^(fleet_.*|test_setup_signed)$' || vm_status=$?
    case "$vm_status" in
      0) summary="i686 in the VM (32-bit Wine)" ;;
      124) status=1; summary="i686 in the VM: FAILED, the virtual machine timed out" ;;
      125) status=1; summary="i686 in the VM: FAILED, the virtual machine could not run (see above)" ;;
      *) status=1; summary="i686 in the VM (32-bit Wine): tests failed" ;;
    esac
    ;;
esac
echo "== Wine suites run: x86_64 natively (64-bit Wine); $summary"
exit $status
