#include "state.h"
#include "trace.h"

#include <strsafe.h>

// Window stations are the NT family's: on Windows 95, 98 and Me user32 may
// lack these calls, and every window is seen there.
typedef HWINSTA(WINAPI* GetProcessWindowStationCall)();
typedef BOOL(WINAPI* GetUserObjectInformationCall)(HANDLE, int, PVOID, DWORD, LPDWORD);

static bool WindowStationVisible()
{
    HMODULE user32 = GetModuleHandleA("user32.dll");
    GetProcessWindowStationCall getStation =
        user32 ? reinterpret_cast<GetProcessWindowStationCall>(
                     reinterpret_cast<void*>(GetProcAddress(user32, "GetProcessWindowStation")))
               : NULL;
    GetUserObjectInformationCall getInformation =
        user32 ? reinterpret_cast<GetUserObjectInformationCall>(
                     reinterpret_cast<void*>(GetProcAddress(user32, "GetUserObjectInformationA")))
               : NULL;
    if (!getStation || !getInformation)
        return true;
    USEROBJECTFLAGS flags;
    HWINSTA station = getStation();
    // A station that cannot be asked is taken for the interactive one: that
    // is where a setup program started by a person runs.
    if (!station || !getInformation(station, UOI_FLAGS, &flags, sizeof flags, NULL))
        return true;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// From Vista on, session 0 holds the services and no one's desktop: its
// WinSta0 is flagged visible all the same, but a window shown there waits
// for an answer nobody can give (a deployment agent started as SYSTEM may
// run its setup program there). Before Vista, session 0 was the console's.
// ProcessIdToSessionId is Windows 2000's: found by name; and so is
// GetCurrentProcessId, which only this check needs, to keep the import
// table within the library's size budget.
typedef BOOL(WINAPI* ProcessIdToSessionIdCall)(DWORD, DWORD*);
typedef DWORD(WINAPI* GetCurrentProcessIdCall)();

static bool InSessionZeroOfServices()
{
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT || version.dwMajorVersion < 6)
        return false;
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    if (!kernel32)
        return false;
    ProcessIdToSessionIdCall sessionOf = reinterpret_cast<ProcessIdToSessionIdCall>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "ProcessIdToSessionId")));
    GetCurrentProcessIdCall processId = reinterpret_cast<GetCurrentProcessIdCall>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "GetCurrentProcessId")));
    DWORD session = 1;
    return sessionOf && processId && sessionOf(processId(), &session) && session == 0;
}

LPCSTR WhyNoWindows()
{
    if (SetupIsSilent == 1)
        return "the setup program runs silently";
    if (!WindowStationVisible())
        return "the window station is not visible";
    if (InSessionZeroOfServices())
        return "the process runs in session 0, which no one sees";
    return NULL;
}

INT_PTR ShowDialog(LPCSTR templateName, DLGPROC procedure, LPARAM initParam)
{
    return DialogBoxParamA(ModuleInstance, templateName, OwnerWindow, procedure, initParam);
}

int ShowMessage(HWND owner, LPCSTR text, LPCSTR title, UINT style)
{
    LPCSTR why = WhyNoWindows();
    if (why) {
        char line[TextBufferSize * 2];
        StringCchCopyA(line, ARRAYSIZE(line), text);
        LineFeedsToBlanks(line);
        Trace("message box passed over (%s): \"%s\": \"%s\"", why, title, line);
        return -1;
    }
    return MessageBoxA(owner, text, title, style) ? 1 : 0;
}
