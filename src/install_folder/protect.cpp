#include "../guard/administrators_only.h"
#include "../guard/hold.h"
#include "../guard/install_folder.h"
#include "../interface/exports.h"
#include "../interface/state.h"
#include "../interface/trace.h"

#include <strsafe.h>

// The line for the setup program's log.
static char ProtectionLine[TraceLineSize];

// A refusal (GuardReason says why): said in the line, with what an
// administrator is to do, and in a box where someone may see it.
static int Refused(HWND window)
{
    static const char Advice[] = "an administrator should look at what the folder holds, then delete it or make "
                                 "Administrators its owner, and run the installation again";
    StringCchPrintfA(ProtectionLine, ARRAYSIZE(ProtectionLine), "%s: nothing installed; %s", GuardReason, Advice);
    char text[2 * TraceLineSize];
    StringCchPrintfA(text, ARRAYSIZE(text), "Setup cannot make the folder %s safe:\n%s.\n\nSetup has stopped: %s.",
                     InstallDir, GuardReason, Advice);
    ShowMessage(window, text, "Velloran - Install Folder", MB_OK | MB_ICONERROR);
    return 0;
}

static int Protect(HWND window, DWORD options)
{
    // On a Windows that BeforeInstallWithCode refuses, nothing is made or
    // changed: the setup program calls that next, which says why and stops.
    CheckWindowsVersion();
    if (UnsupportedWindows == 1) {
        StringCchPrintfA(ProtectionLine, ARRAYSIZE(ProtectionLine),
                         "Windows %lu.%lu, which BeforeInstallWithCode refuses: %s left as it is",
                         WindowsVersion.dwMajorVersion, WindowsVersion.dwMinorVersion, InstallDir);
        return 1;
    }
    bool checkOnly = (options & VINSTALL_CHECK_ONLY) != 0;
    if (GetFileAttributesA(InstallDir) == INVALID_FILE_ATTRIBUTES &&
        (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)) {
        if (checkOnly) {
            StringCchPrintfA(ProtectionLine, ARRAYSIZE(ProtectionLine),
                             "%s does not exist yet: it is to be made for administrators only", InstallDir);
            return 2;
        }
        // Made with its descriptor, or not at all: a folder of the default
        // security would let ordinary users plant files in the way.
        if (MakeInstallFolder(InstallDir, false)) {
            StringCchPrintfA(ProtectionLine, ARRAYSIZE(ProtectionLine),
                             WindowsVersion.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS
                                 ? "%s made: Windows 9x keeps no permissions"
                                 : "%s made, writable by administrators only",
                             InstallDir);
            return 2;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            if (GetLastError() == ERROR_INVALID_OWNER)
                Refuse("%s cannot be made with the owner Administrators: the setup program does not run as an "
                       "administrator",
                       InstallDir);
            else
                Refuse("%s cannot be made (error %lu)", InstallDir, GetLastError());
            return Refused(window);
        }
        // Someone else made it meanwhile: it is checked as any existing one.
    }
    switch (ProtectFolder(InstallDir, !checkOnly)) {
    case FolderUnprotected:
        StringCchPrintfA(ProtectionLine, ARRAYSIZE(ProtectionLine),
                         "%s: Windows 9x keeps no permissions: nothing to protect", InstallDir);
        return 1;
    case FolderProtected:
        StringCchPrintfA(ProtectionLine, ARRAYSIZE(ProtectionLine),
                         checkOnly ? "%s is owned by an administrator"
                                   : "%s and what it holds: only administrators may change them",
                         InstallDir);
        return 1;
    default:
        return Refused(window);
    }
}

VINSTALL_EXPORT ProtectInstallFolder(HWND window, LPARAM, DWORD options, LPSTR message, DWORD messageSize)
{
    TraceCall("ProtectInstallFolder", window);
    ProtectionLine[0] = '\0';
    SetupIsSilent = (options & VINSTALL_SILENT) ? 1 : 0;
    int status = Protect(window, options);
    SetupIsSilent = 0;
    return TraceReturnWithLine("ProtectInstallFolder", status, ProtectionLine, message, messageSize);
}
