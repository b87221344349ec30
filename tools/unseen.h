// Runs a command where nobody sees the screen: on a desktop of a window
// station that is not visible, the way a service or a deployment agent that
// runs as SYSTEM starts a setup program (Intune, Configuration Manager, Group
// Policy). A program there finds WSF_VISIBLE clear in its window station's
// flags, and a dialog or message box it shows waits for ever: nobody can
// answer it. The run has a time limit; at the limit the command and every
// program it started are ended (a job object). Every top-level window that
// appears on that desktop meanwhile is noted.
#pragma once
#include <windows.h>

// The window station's name is the one Windows gives the services of the
// LocalSystem account; it is made anew (or opened) by the launcher.
#define UNSEEN_WINDOW_STATION "Service-0x0-3e7$"
#define UNSEEN_DESKTOP UNSEEN_WINDOW_STATION "\\Default"

struct UnseenWindow {
    char className[64];
    char title[128];
    DWORD processId;
};

struct UnseenRun {
    BOOL started;
    BOOL timedOut;       // ended at the limit, with all it started
    DWORD exitCode;      // the command's (its last value when ended at the limit)
    DWORD elapsedMs;     // from its start until it and all it started had ended
    DWORD error;         // why it did not start
    int windowCount;     // top-level windows created on the desktop (each once)
    UnseenWindow windows[16];
};

// Runs commandLine on UNSEEN_DESKTOP; false when the desktop could not be
// made or the command could not be started (run->error says why).
bool RunUnseen(const char* commandLine, DWORD timeLimitMs, UnseenRun* run);

// The first window of the run whose class is className (a dialog or message
// box is "#32770"), or NULL.
const UnseenWindow* FindUnseenWindow(const UnseenRun& run, const char* className);
