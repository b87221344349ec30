// Runs a command where nobody sees the screen, as a deployment agent that
// runs as SYSTEM does (see unseen.h), and says how it ended:
//
//   run_unseen.exe [--limit SECONDS] [--no-windows] COMMAND [ARGUMENTS...]
//
//   --limit SECONDS  end the command and all it started after this long
//                    (default 60)
//   --no-windows     fail (exit code 3) if any top-level window of the
//                    class #32770 (a dialog or message box) was created
//
// It prints one line per top-level window that appeared on the desktop and
// a last line "run_unseen: exit code N after S.SS s" (or, at the limit,
// "run_unseen: time limit of N s reached: ..."). Its own exit code is the
// command's; ERROR_TIMEOUT (1460) at the limit; 3 for --no-windows when a
// dialog appeared; 2 for a wrong command line or a command that did not
// start. Under Wine a Unix caller sees only the low 8 bits of an exit code
// (1603 as 67): read the last line.
#include "unseen.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int Usage()
{
    printf("usage: run_unseen.exe [--limit SECONDS] [--no-windows] COMMAND [ARGUMENTS...]\n");
    return 2;
}

// The command line from the first word that is not an option on, as the
// process got it (so that quoting survives).
static const char* CommandTail(int skipWords)
{
    const char* p = GetCommandLineA();
    for (int word = 0; word < skipWords; ++word) {
        while (*p == ' ' || *p == '\t')
            ++p;
        bool quoted = false;
        for (; *p && (quoted || (*p != ' ' && *p != '\t')); ++p) {
            if (*p == '"')
                quoted = !quoted;
        }
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

int main(int argc, char** argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    DWORD limitSeconds = 60;
    bool noWindows = false;
    int first = 1;
    for (; first < argc && strncmp(argv[first], "--", 2) == 0; ++first) {
        if (strcmp(argv[first], "--limit") == 0 && first + 1 < argc)
            limitSeconds = strtoul(argv[++first], NULL, 10);
        else if (strcmp(argv[first], "--no-windows") == 0)
            noWindows = true;
        else
            return Usage();
    }
    if (first >= argc || limitSeconds == 0)
        return Usage();
    const char* command = CommandTail(first);

    UnseenRun run;
    if (!RunUnseen(command, limitSeconds * 1000, &run)) {
        printf("run_unseen: %s failed (error %lu): %s\n", run.started ? "the run" : "the start", run.error,
               command);
        return 2;
    }
    bool dialog = false;
    for (int i = 0; i < run.windowCount; ++i) {
        const UnseenWindow& w = run.windows[i];
        printf("run_unseen: window created on %s: class %s, title \"%s\", process %lu\n", UNSEEN_DESKTOP,
               w.className, w.title, w.processId);
        dialog = dialog || strcmp(w.className, "#32770") == 0;
    }
    if (run.timedOut) {
        printf("run_unseen: time limit of %lu s reached: the command and all it started were ended\n",
               limitSeconds);
        return ERROR_TIMEOUT;
    }
    printf("run_unseen: exit code %lu after %lu.%02lu s\n", run.exitCode, run.elapsedMs / 1000,
           run.elapsedMs % 1000 / 10);
    if (noWindows && dialog) {
        printf("run_unseen: a dialog or message box was created where nobody can answer it\n");
        return 3;
    }
    return (int)run.exitCode;
}
