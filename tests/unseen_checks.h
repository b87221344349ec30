// Runs where nobody sees the screen, checked alike for every program a
// test starts there: the setup programs and the library's own AfterInstall.
// Each check reports its failures at the caller's line.
#pragma once
#include "harness.h"
#include "tools/unseen.h"

// A run that must end by itself, however it ends: past this limit it is
// taken for hung and ended. Room for an installation on a busy machine.
const DWORD UnseenLimitMs = 60000;
// A run that stops because nobody can be asked (no reporter code, a refused
// one) ends within this: it has nothing to wait for.
const DWORD UnseenStopMs = 10000;
#define CheckStoppedQuickly(run) CheckStoppedQuicklyAt(__FILE__, __LINE__, run)
void CheckStoppedQuicklyAt(const char* file, int line, const UnseenRun& run);

// Runs commandLine on a desktop of a window station that is not visible
// (tools/unseen.h), as a deployment agent running as SYSTEM does, ended at
// limitMs. Checks that it started and ended by itself within the limit, and
// that no window of the library was ever made there (the reporter code
// dialog, a "Velloran - ..." message box); in a silent run (silent) no
// dialog or message box at all (class #32770), the setup program's own
// included.
#define RunUnseenChecked(commandLine, limitMs, silent, run) \
    RunUnseenCheckedAt(__FILE__, __LINE__, commandLine, limitMs, silent, run)
void RunUnseenCheckedAt(const char* file, int line, const char* commandLine, DWORD limitMs, bool silent,
                        UnseenRun* run);
