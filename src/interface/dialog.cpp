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

LPCSTR WhyNoWindows()
{
    if (SetupIsSilent == 1)
        return "the setup program runs silently";
    if (!WindowStationVisible())
        return "the window station is not visible";
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
