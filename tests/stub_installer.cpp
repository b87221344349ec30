// Stands in for the PDF converter's installer. Records how it was started in
// "C:\TELDAX\started-<process id>.txt" (its whole command line) and then
// stays running until the test sets the event "VinstallStubInstallerRelease",
// or 30 s have passed, so that the test can see it still running.
#include <windows.h>

#include "tools/jobs.h"

#include <stdio.h>
#include <string.h>

int main()
{
    char temporary[MAX_PATH], record[MAX_PATH];
    snprintf(temporary, sizeof temporary, "C:\\TELDAX\\started-%lu.tmp", GetCurrentProcessId());
    snprintf(record, sizeof record, "C:\\TELDAX\\started-%lu.txt", GetCurrentProcessId());

    // Written under another name first, so that the test never reads half a record.
    HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    const char* commandLine = GetCommandLineA();
    DWORD written = 0;
    WriteFile(file, commandLine, (DWORD)strlen(commandLine), &written, NULL);
    CloseHandle(file);
    MoveFileA(temporary, record);

    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, "VinstallStubInstallerRelease");
    if (release) {
        WaitForSingleObject(release, TimeLimitMs(30000));
        CloseHandle(release);
    }
    return 0;
}
