#include "platform.h"

Platform CurrentPlatform()
{
    // GetVersionExA fills what is read here; only the size is asked.
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = sizeof version;
    Platform platform = {true, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT};
    if (GetVersionExA(&version)) {
        platform.ntFamily = version.dwPlatformId == VER_PLATFORM_WIN32_NT;
        // Folders can be opened (FILE_FLAG_BACKUP_SEMANTICS) only on the NT
        // family; before Windows 2000 the reparse point flag means nothing.
        if (!platform.ntFamily)
            platform.openFlags = 0;
        else if (version.dwMajorVersion < 5)
            platform.openFlags = FILE_FLAG_BACKUP_SEMANTICS;
    }
    return platform;
}

bool IsWindows9x()
{
    return !CurrentPlatform().ntFamily;
}
