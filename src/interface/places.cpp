#include "state.h"
#include "trace.h"

#include <shlobj.h>
#include <strsafe.h>

bool FindDesktopFolder(HWND owner, char (&desktop)[MAX_PATH])
{
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        if (SHGetSpecialFolderPathA(owner, desktop, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE))
            return true;
        Trace("desktop folder unknown: SHGetSpecialFolderPathA failed (error %lu)", GetLastError());
        return false;
    }
    char windows[MAX_PATH];
    UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
    if (length > 0 && length < MAX_PATH &&
        SUCCEEDED(StringCchPrintfA(desktop, MAX_PATH, "%s\\Desktop", windows)))
        return true;
    Trace("desktop folder unknown: no Windows folder with room for \"\\Desktop\"");
    return false;
}
