#include "../guard/hold.h"
#include "../guard/install_folder.h"
#include "../interface/exports.h"
#include "../interface/state.h"
#include "../interface/trace.h"
#include "reporter.h"

#include <strsafe.h>
#include <string.h>

// The legacy program information file: only its first 900 bytes are read, and
// of those only the start-up directory field, a zero-terminated path.
enum {
    PifImportSize = 900,
    PifStartupDirOffset = 101,
    PifStartupDirSize = 64,
};

// "C:\" in front of the old code.
static const size_t PifCodeOffset = 3;

// Puts InstallDir followed by fileName ("\RC.DAT") into WorkPath.
static void BuildInstallPath(LPCSTR fileName)
{
    StringCchCopyA(WorkPath, ARRAYSIZE(WorkPath), InstallDir);
    StringCchCatA(WorkPath, ARRAYSIZE(WorkPath), fileName);
}

// RC.DAT as written: the code's characters, zero bytes up to the 24th byte.
// A longer code keeps its first 24 characters; one of exactly 24 has no
// terminating zero. path is in folder (".": the current directory), and
// both are held across the write.
static void WriteCodeFile(LPCSTR folder, LPCSTR path)
{
    char record[CodeRecordSize] = {};
    size_t length = strnlen(ReporterCode, sizeof ReporterCode);
    memcpy(record, ReporterCode, length < sizeof record ? length : sizeof record);

    HANDLE heldFolder, heldFile;
    bool created;
    if (!HoldFolder(folder, &heldFolder))
        return;
    if (HoldFile(path, ForCreateFile, true, &heldFile, &created)) {
        CodeFileHandle = CreateForWriting(path);
        if (CodeFileHandle == INVALID_HANDLE_VALUE) {
            Trace("%s not created (error %lu)", path, GetLastError());
            ReleaseUnwritten(heldFile, path, created);
        } else {
            if (WriteFile(CodeFileHandle, record, sizeof record, &BytesWritten, NULL))
                Trace("%s written: %lu bytes", path, BytesWritten);
            else
                Trace("%s not written (error %lu)", path, GetLastError());
            CloseHandle(CodeFileHandle);
            ReleaseHold(heldFile);
        }
    }
    ReleaseHold(heldFolder);
}

static void ShowMissingFileMessage()
{
    MessageBoxA(OwnerWindow, "A required file is missing.", "Velloran - Missing File", MB_OK);
}

// Imports the old code from TRAN.PIF and stores it in RC.DAT. A file of
// fewer than 900 bytes gives nothing, and RC.DAT is written from the code
// already held: a stored code read earlier in this load of the library.
// When that leaves no code, or the start-up directory has fewer than 4
// characters, the file counts as missing: an empty code is never written
// over RC.DAT.
static int ImportLegacyCode()
{
    BuildInstallPath("\\TRAN.PIF");
    CodeFileHandle = OpenForReading(WorkPath);
    if (CodeFileHandle == INVALID_HANDLE_VALUE) {
        Trace("required file missing: %s cannot be opened (error %lu)", WorkPath, GetLastError());
        ShowMissingFileMessage();
        return 0;
    }
    char pif[PifImportSize];
    BytesRead = 0;
    ReadFile(CodeFileHandle, pif, sizeof pif, &BytesRead, NULL);
    CloseHandle(CodeFileHandle);

    if (BytesRead == PifImportSize) {
        char startupDir[PifStartupDirSize + 1] = {};
        memcpy(startupDir, pif + PifStartupDirOffset, PifStartupDirSize);
        if (strlen(startupDir) <= PifCodeOffset) {
            Trace("required file missing: %s gives no code (start-up directory \"%s\")", WorkPath, startupDir);
            ShowMissingFileMessage();
            return 0;
        }
        StringCchCopyA(ReporterDir, ARRAYSIZE(ReporterDir), startupDir);
        StringCchCopyA(ReporterCode, ARRAYSIZE(ReporterCode), startupDir + PifCodeOffset);
        AsciiUpperCase(ReporterCode);
        Trace("code imported from %s: \"%s\"", WorkPath, ReporterCode);
    } else if (ReporterCode[0]) {
        Trace("%s gives no code (%lu of %d bytes read): the code held from earlier in this load is stored: \"%s\"",
              WorkPath, BytesRead, PifImportSize, ReporterCode);
    } else {
        Trace("required file missing: %s gives no code (%lu of %d bytes read) and no code is held", WorkPath,
              BytesRead, PifImportSize);
        ShowMissingFileMessage();
        return 0;
    }

    BuildInstallPath("\\RC.DAT");
    WriteCodeFile(InstallDir, WorkPath);
    return 1;
}

// An existing directory is fine; any other failure is only told.
static void MakeDirectory(LPCSTR path)
{
    if (CreateDirectoryA(path, NULL))
        Trace("%s created", path);
    else if (GetLastError() != ERROR_ALREADY_EXISTS)
        Trace("%s not created (error %lu)", path, GetLastError());
}

// A new code from the dialog: its directory and the install folder are made
// (an existing one is fine), and RC.DAT is written in the current directory,
// which is the install folder whenever it could be entered.
static int StoreNewCode()
{
    StringCchCopyA(ReporterDir, ARRAYSIZE(ReporterDir), "C:\\");
    StringCchCatA(ReporterDir, ARRAYSIZE(ReporterDir), ReporterCode);
    MakeDirectory(ReporterDir);
    MakeInstallFolder(InstallDir);
    if (!SetCurrentDirectoryA(InstallDir))
        Trace("%s cannot be entered (error %lu): RC.DAT goes into the current directory", InstallDir,
              GetLastError());
    WriteCodeFile(".", "RC.DAT");
    return 2;
}

// Status 0: stop the installation; 1: the stored (or imported) code is used;
// 2: a new code was entered and stored.
static int RunBeforeInstall(HWND window)
{
    OwnerWindow = window;
    CheckWindowsVersion();
    Trace("Windows %lu.%lu, platform %lu: %s", WindowsVersion.dwMajorVersion, WindowsVersion.dwMinorVersion,
          WindowsVersion.dwPlatformId, UnsupportedWindows == 1 ? "refused (above 6.2)" : "supported");
    if (UnsupportedWindows == 1) {
        MessageBoxA(window,
                    "Your version of the Velloran\nsoftware does not work with\nthis version of Windows.",
                    "Velloran - Windows Version", MB_OK | MB_ICONERROR);
        return 0;
    }

    // A current directory too long for the buffer is recorded as empty.
    DWORD length = GetCurrentDirectoryA(sizeof ReporterDir, ReporterDir);
    if (length == 0 || length >= sizeof ReporterDir)
        ReporterDir[0] = '\0';

    // Once a call has asked for a new code, every later call in this process
    // asks again.
    if (NeedNewCode == 1)
        Trace("a new code was asked for earlier in this process: asking again");
    if (!SetCurrentDirectoryA(InstallDir)) {
        Trace("%s cannot be entered (error %lu): a new code is needed", InstallDir, GetLastError());
        NeedNewCode = 1;
    } else {
        BuildInstallPath("\\RC.DAT");
        CodeFileHandle = OpenForReading(WorkPath);
        if (CodeFileHandle == INVALID_HANDLE_VALUE) {
            Trace("%s cannot be opened (error %lu): a new code is needed", WorkPath, GetLastError());
            NeedNewCode = 1;
        } else {
            CloseHandle(CodeFileHandle);
        }
    }

    if (NeedNewCode == 1) {
        INT_PTR answer = ShowDialog("ReptrCode", ReporterCodeDlgProc, 0);
        if (answer != 1) {
            if (answer == -1)
                Trace("the reporter code dialog could not be shown (error %lu)", GetLastError());
            else
                Trace("the reporter code dialog was cancelled");
            return 0;
        }
        Trace("code typed: \"%s\"", ReporterCode);
        return StoreNewCode();
    }

    BuildInstallPath("\\RC.DAT");
    CodeFileHandle = OpenForReading(WorkPath);
    if (CodeFileHandle == INVALID_HANDLE_VALUE) {
        Trace("%s found but cannot be opened again (error %lu): importing the code from TRAN.PIF", WorkPath,
              GetLastError());
        return ImportLegacyCode();
    }
    // The path form (':' in the second byte) has its code from the fourth byte.
    ReadCodeFile(CodeFileHandle);
    bool pathForm = ReporterDir[1] == ':';
    StringCchCopyA(ReporterCode, ARRAYSIZE(ReporterCode), pathForm ? ReporterDir + 3 : ReporterDir);
    CloseHandle(CodeFileHandle);
    Trace("stored code read from %s (%lu bytes, %s form): \"%s\"", WorkPath, BytesRead, pathForm ? "path" : "short",
          ReporterCode);
    return 1;
}

VINSTALL_EXPORT BeforeInstall(HWND window, LPARAM, LPARAM, LPARAM, LPARAM)
{
    TraceCall("BeforeInstall", window);
    return TraceReturn("BeforeInstall", RunBeforeInstall(window));
}
