#include "unseen.h"

#include "jobs.h"

#include <string.h>

namespace {

// A desktop of the station that nobody sees, made once per process.
HDESK UnseenDesktop(DWORD* error)
{
    static HDESK desktop;
    if (desktop)
        return desktop;
    // An existing station of that name is opened (another launcher's).
    HWINSTA station = CreateWindowStationA(UNSEEN_WINDOW_STATION, 0, WINSTA_ALL_ACCESS, NULL);
    if (!station) {
        *error = GetLastError();
        return NULL;
    }
    // A desktop is made in the process's own window station: this one's for
    // the moment, then the process's own again.
    HWINSTA own = GetProcessWindowStation();
    if (!SetProcessWindowStation(station)) {
        *error = GetLastError();
        return NULL;
    }
    desktop = CreateDesktopA("Default", NULL, NULL, 0, GENERIC_ALL, NULL);
    *error = GetLastError();
    SetProcessWindowStation(own);
    return desktop;
}

struct Watch {
    UnseenRun* run;
    HWND seen[64];
    int seenCount;
};

BOOL CALLBACK NoteWindow(HWND window, LPARAM param)
{
    Watch& watch = *(Watch*)param;
    UnseenRun& run = *watch.run;
    char className[sizeof run.windows[0].className];
    // The input method's own window, which every thread with a window gets.
    if (!GetClassNameA(window, className, sizeof className) || strcmp(className, "IME") == 0)
        return TRUE;
    int index = 0;
    while (index < watch.seenCount && watch.seen[index] != window)
        ++index;
    if (index == watch.seenCount) {
        if (watch.seenCount == (int)ARRAYSIZE(watch.seen) || run.windowCount == (int)ARRAYSIZE(run.windows))
            return TRUE;
        watch.seen[watch.seenCount++] = window;
        UnseenWindow& noted = run.windows[run.windowCount++];
        lstrcpynA(noted.className, className, sizeof noted.className);
        GetWindowThreadProcessId(window, &noted.processId);
    }
    // The title may be set after the window is made: read until there is one.
    // Not WM_GETTEXT, which would wait for a window whose thread waits.
    UnseenWindow& noted = run.windows[index];
    if (!noted.title[0]) {
        WCHAR title[ARRAYSIZE(noted.title)];
        if (!InternalGetWindowText(window, title, ARRAYSIZE(title)))
            title[0] = 0;
        WideCharToMultiByte(CP_ACP, 0, title, -1, noted.title, sizeof noted.title, NULL, NULL);
        noted.title[sizeof noted.title - 1] = '\0';
    }
    return TRUE;
}

}  // namespace

bool RunUnseen(const char* commandLine, DWORD timeLimitMs, UnseenRun* run)
{
    memset(run, 0, sizeof *run);
    run->exitCode = STILL_ACTIVE;
    HDESK desktop = UnseenDesktop(&run->error);
    if (!desktop)
        return false;

    // The command and every program it starts, to wait for them all and to
    // end them all at the limit.
    HANDLE job;
    PROCESS_INFORMATION process;
    char desktopName[] = UNSEEN_DESKTOP;
    if (!StartInJob(commandLine, desktopName, &job, &process)) {
        run->error = GetLastError();
        return false;
    }
    run->started = TRUE;

    Watch watch = {};
    watch.run = run;
    ULONGLONG start = Milliseconds();
    for (;;) {
        EnumDesktopWindows(desktop, NoteWindow, (LPARAM)&watch);
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0 && !JobRunning(job))
            break;
        if (Milliseconds() - start > TimeLimitMs(timeLimitMs)) {
            run->timedOut = TRUE;
            TerminateJobObject(job, ERROR_TIMEOUT);
            WaitForSingleObject(process.hProcess, 5000);
            break;
        }
        Sleep(20);
    }
    EnumDesktopWindows(desktop, NoteWindow, (LPARAM)&watch);
    run->elapsedMs = (DWORD)(Milliseconds() - start);
    GetExitCodeProcess(process.hProcess, &run->exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(job);
    return true;
}

const UnseenWindow* FindUnseenWindow(const UnseenRun& run, const char* className)
{
    for (int i = 0; i < run.windowCount; ++i) {
        if (strcmp(run.windows[i].className, className) == 0)
            return &run.windows[i];
    }
    return NULL;
}
