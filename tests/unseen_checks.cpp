#include "unseen_checks.h"
#include "tools/jobs.h"

#include <string.h>

void RunUnseenCheckedAt(const char* file, int line, const char* commandLine, DWORD limitMs, bool silent,
                        UnseenRun* run)
{
    bool started = RunUnseen(commandLine, limitMs, run);
    OkAt(file, line, started, "cannot run %s where nobody sees the screen: error %lu", commandLine, run->error);
    OkAt(file, line, !run->timedOut, "%s still running after %lu ms where nobody sees the screen", commandLine,
         limitMs);
    for (int i = 0; i < run->windowCount; ++i) {
        const UnseenWindow& w = run->windows[i];
        bool library = strcmp(w.title, "Reporter Code") == 0 || strncmp(w.title, "Velloran - ", 11) == 0;
        OkAt(file, line, !library, "the library's window \"%s\" was made where nobody can answer it", w.title);
        OkAt(file, line, !silent || strcmp(w.className, "#32770") != 0,
             "a dialog or message box \"%s\" was made in a silent run where nobody can answer it", w.title);
    }
}

void CheckStoppedQuicklyAt(const char* file, int line, const UnseenRun& run)
{
    // A run that waits for an answer nobody can give never stops by itself;
    // one that stops does so in a few seconds here, and 10 to 25 times later
    // in the virtual machine, whose limits grow by the same factor.
    OkAt(file, line, run.elapsedMs <= TimeLimitMs(UnseenStopMs), "it stopped after %lu ms, not within %lu ms",
         run.elapsedMs, TimeLimitMs(UnseenStopMs));
}
