// Programs run in a job of their own, so that a program and every program
// it starts are waited for and ended together; shared by the setup driver
// and the runs where nobody sees the screen.
#pragma once
#include <windows.h>

// Milliseconds from the performance counter, a monotonic clock.
ULONGLONG Milliseconds();
// Starts commandLine (on desktop, or the caller's when NULL) in a new job, so
// that every program it starts can be waited for and ended together. False,
// with the last error, when it could not start; *job and *process are then
// not open.
bool StartInJob(const char* commandLine, char* desktop, HANDLE* job, PROCESS_INFORMATION* process);
// Whether a program of the job other than Wine's own background programs
// (its desktop, RPC service, console host...) still runs.
bool JobRunning(HANDLE job);
// Whether processId is one of the job's processes (its own list is asked:
// Wine's IsProcessInJob fails).
bool InJob(HANDLE job, DWORD processId);

// A time limit of the tests and tools, multiplied by VINSTALL_TIME_SCALE from
// the environment (1 when unset or not a number from 1 to 100): the virtual
// machine in which the 32-bit suite runs on some machines emulates the CPU
// and runs everything 10 to 25 times slower.
inline DWORD TimeLimitMs(DWORD ms)
{
    char text[8];
    DWORD length = GetEnvironmentVariableA("VINSTALL_TIME_SCALE", text, sizeof text);
    DWORD scale = 0;
    for (DWORD i = 0; i < length && i < sizeof text && text[i] >= '0' && text[i] <= '9'; ++i)
        scale = scale * 10 + (DWORD)(text[i] - '0');
    if (length == 0 || length >= sizeof text || scale < 1 || scale > 100)
        scale = 1;
    return ms * scale;
}
