#include "jobs.h"

#include <string.h>

// The ids of the job's processes: JOBOBJECT_BASIC_PROCESS_ID_LIST with room
// for 64 ids, since indexed past its declared single element the compiler
// may look at the first id only. 0 when the job cannot be asked.
struct JobProcessIds {
    DWORD assigned;
    DWORD listed;
    ULONG_PTR ids[64];
};

static DWORD ListJobProcesses(HANDLE job, JobProcessIds* list)
{
    memset(list, 0, sizeof *list);
    if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, list, sizeof *list, NULL))
        return 0;
    return list->listed < ARRAYSIZE(list->ids) ? list->listed : ARRAYSIZE(list->ids);
}

ULONGLONG Milliseconds()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return (ULONGLONG)count.QuadPart * 1000 / (ULONGLONG)frequency.QuadPart;
}

// Background programs of Wine's own that a program in the job may start
// (the desktop, the RPC service, a console host); they outlive the setup
// program and are not waited for.
static const char* const WineHelpers[] = {"explorer.exe", "rpcss.exe", "services.exe", "conhost.exe",
                                          "winedevice.exe", "plugplay.exe", "svchost.exe", "winemenubuilder.exe"};

static bool IsWineHelper(DWORD processId)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return true;  // gone already
    char path[MAX_PATH];
    DWORD size = sizeof path;
    BOOL named = QueryFullProcessImageNameA(process, 0, path, &size);
    CloseHandle(process);
    if (!named)
        return false;
    const char* name = strrchr(path, '\\') ? strrchr(path, '\\') + 1 : path;
    for (const char* helper : WineHelpers) {
        if (_stricmp(name, helper) == 0)
            return true;
    }
    return false;
}

bool StartInJob(const char* commandLine, char* desktop, HANDLE* job, PROCESS_INFORMATION* process)
{
    *job = CreateJobObjectA(NULL, NULL);
    char line[4 * MAX_PATH];
    lstrcpynA(line, commandLine, sizeof line);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop;
    ZeroMemory(process, sizeof *process);
    if (!*job || !CreateProcessA(NULL, line, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &startup, process)) {
        DWORD error = GetLastError();
        if (*job)
            CloseHandle(*job);
        SetLastError(error);
        return false;
    }
    AssignProcessToJobObject(*job, process->hProcess);
    ResumeThread(process->hThread);
    return true;
}

bool JobRunning(HANDLE job)
{
    JobProcessIds list;
    DWORD count = ListJobProcesses(job, &list);
    for (DWORD i = 0; i < count; ++i) {
        if (!IsWineHelper((DWORD)list.ids[i]))
            return true;
    }
    return false;
}

bool InJob(HANDLE job, DWORD processId)
{
    JobProcessIds list;
    DWORD count = ListJobProcesses(job, &list);
    for (DWORD i = 0; i < count; ++i) {
        if ((DWORD)list.ids[i] == processId)
            return true;
    }
    return false;
}
