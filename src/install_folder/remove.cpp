#include "../guard/hold.h"
#include "../interface/exports.h"
#include "../interface/state.h"
#include "../interface/trace.h"

#include <strsafe.h>
#include <string.h>

// The line for the setup program's log.
static char RemovalLine[TraceLineSize];

// What the library writes into the install folder: the release records.
static const char Records[] = "Update.txt|UpdName.txt|UpdDetails.txt";

// Whether name holds a character that leads out of a folder.
static bool LeadsElsewhere(LPCSTR name)
{
    for (; *name; ++name) {
        if (*name == '\\' || *name == '/' || *name == ':')
            return true;
    }
    return false;
}

// Deletes name, a plain name of a file in the held install folder, through
// a handle on which it was checked to lie there. A name that would lead
// elsewhere is refused. True when it was deleted.
static bool DeleteInInstallFolder(const HeldFolder& folder, LPCSTR name)
{
    char path[MAX_PATH];
    if (!name[0] || LeadsElsewhere(name) || lstrcmpA(name, ".") == 0 || lstrcmpA(name, "..") == 0 ||
        FAILED(StringCchPrintfA(path, ARRAYSIZE(path), "%s\\%s", InstallDir, name))) {
        Trace("\"%s\" not deleted: it is no name of a file in %s", name, InstallDir);
        return false;
    }
    return DeleteFromFolder(folder, path);
}

// Deletes each name in names (separated by '|') in the held install folder;
// how many went.
static int DeleteNames(const HeldFolder& folder, LPCSTR names)
{
    int deleted = 0;
    for (LPCSTR name = names; name && *name;) {
        LPCSTR end = FindCharacter(name, '|');
        size_t length = end ? (size_t)(end - name) : (size_t)lstrlenA(name);
        char one[MAX_PATH];
        if (length > 0 && SUCCEEDED(StringCchPrintfA(one, ARRAYSIZE(one), "%.*s", (int)length, name)))
            deleted += DeleteInInstallFolder(folder, one) ? 1 : 0;
        else if (length > 0)
            Trace("a name of %u characters not deleted: too long", (unsigned)length);
        name = end ? end + 1 : name + length;
    }
    return deleted;
}

// RC.DAT, and the reporter's folder it names (a bare code, under C:\) when
// that is empty: what an installation that found no RC.DAT made. RC.DAT is
// read through the handle on which it was checked, as every reader does.
static int TakeBackCode(const HeldFolder& folder)
{
    char path[MAX_PATH];
    StringCchPrintfA(path, ARRAYSIZE(path), "%s\\RC.DAT", InstallDir);
    HANDLE file;
    if (!HoldFile(folder, path, ForReading, false, &file))
        return 0;
    char record[CodeReadSize + 1] = {};
    DWORD read = 0;
    ReadFile(file, record, CodeReadSize, &read, NULL);
    ReleaseHold(file);
    int deleted = DeleteFromFolder(folder, path) ? 1 : 0;
    int length = lstrlenA(record);
    while (length > 0 && record[length - 1] == ' ')
        record[--length] = '\0';
    char reporterDir[MAX_PATH];
    HeldFolder root;
    // The path form names a folder of someone's choosing: it stays.
    if (length > 0 && !LeadsElsewhere(record) &&
        SUCCEEDED(StringCchPrintfA(reporterDir, ARRAYSIZE(reporterDir), "C:\\%s", record)) &&
        HoldFolder("C:\\", &root, "deleted in")) {
        DeleteFromFolder(root, reporterDir, true);
        ReleaseHold(root.handle);
    }
    return deleted;
}

static int Remove(HWND window, LPCSTR files, DWORD options)
{
    int deleted = 0;
    char desktop[MAX_PATH];
    if (FindDesktopFolder(window, desktop)) {
        HeldFolder folder;
        char path[MAX_PATH];
        if (SUCCEEDED(StringCchPrintfA(path, ARRAYSIZE(path), "%s\\Velloran.lnk", desktop)) &&
            HoldFolder(desktop, &folder, "deleted in")) {
            deleted += DeleteFromFolder(folder, path) ? 1 : 0;
            ReleaseHold(folder.handle);
        }
    }
    if (GetFileAttributesA(InstallDir) == INVALID_FILE_ATTRIBUTES &&
        (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)) {
        StringCchPrintfA(RemovalLine, ARRAYSIZE(RemovalLine), "files deleted: %d; %s does not exist", deleted,
                         InstallDir);
        return 1;
    }
    HeldFolder folder;
    if (!HoldFolder(InstallDir, &folder, "deleted in")) {
        StringCchPrintfA(RemovalLine, ARRAYSIZE(RemovalLine), "files deleted: %d; %s: nothing in it deleted",
                         deleted, GuardReason);
        return 0;
    }
    deleted += DeleteNames(folder, Records) + DeleteNames(folder, files);
    if (options & VINSTALL_TAKE_BACK)
        deleted += TakeBackCode(folder);
    ReleaseHold(folder.handle);
    // The install folder itself, as a folder of C:\, when it is empty.
    HeldFolder root;
    bool gone = HoldFolder("C:\\", &root, "deleted in") && DeleteFromFolder(root, InstallDir, true);
    ReleaseHold(root.handle);
    StringCchPrintfA(RemovalLine, ARRAYSIZE(RemovalLine), "files deleted: %d; %s %s", deleted, InstallDir,
                     gone ? "deleted" : "kept: it is not empty");
    return 1;
}

VINSTALL_EXPORT RemoveLibraryFiles(HWND window, LPCSTR files, DWORD options, LPSTR message, DWORD messageSize)
{
    TraceCall("RemoveLibraryFiles", window);
    RemovalLine[0] = '\0';
    int status = Remove(window, files, options);
    return TraceReturnWithLine("RemoveLibraryFiles", status, RemovalLine, message, messageSize);
}
