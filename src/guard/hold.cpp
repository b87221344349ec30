#include "hold.h"
#include "../interface/trace.h"
#include "platform.h"

#include <strsafe.h>

// Deletion is never shared: while a hold is open its name can be neither
// deleted nor renamed, nor can a folder above it be renamed.
static const DWORD HoldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool HoldFolder(LPCSTR path, HANDLE* held)
{
    *held = INVALID_HANDLE_VALUE;
    Platform platform = CurrentPlatform();
    if (!platform.ntFamily)
        return true;

    // The trace names the folder in full, the current one too.
    char shown[MAX_PATH];
    DWORD length = GetFullPathNameA(path, MAX_PATH, shown, NULL);
    if (length == 0 || length >= MAX_PATH)
        StringCchCopyA(shown, ARRAYSIZE(shown), path);
    path = shown;

    // Listing the folder is data access, so that the share mode counts.
    HANDLE folder = CreateFileA(path, FILE_LIST_DIRECTORY, HoldShare, NULL, OPEN_EXISTING, platform.openFlags, NULL);
    if (folder == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            Trace("nothing written in %s: there is no such folder (error %lu)", path, error);
        else
            Trace("nothing written in %s: it cannot be opened to be checked (error %lu)", path, error);
        return false;
    }
    // Asked of the name once the folder is held: the name cannot lead
    // anywhere else then, and this costs far less than the handle's full
    // information (which also reads the volume). Wine, too, shows a Unix
    // link to a folder as a reparse point by name only.
    DWORD attributes = GetFileAttributesA(path);
    const char* refusal = NULL;
    if (attributes == INVALID_FILE_ATTRIBUTES)
        refusal = "it cannot be checked";
    else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        refusal = "it is a reparse point";
    else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        refusal = "it is not a folder";
    if (refusal) {
        Trace("nothing written in %s: %s", path, refusal);
        CloseHandle(folder);
        return false;
    }
    *held = folder;
    return true;
}

bool HoldFile(LPCSTR path, HoldKind kind, bool create, HANDLE* held, bool* created)
{
    *held = INVALID_HANDLE_VALUE;
    if (created)
        *created = false;
    Platform platform = CurrentPlatform();
    // Writing data for a write that shares writing only; reading data for
    // the others, which share reading. Either way the share mode is
    // recorded, which an open without data access would not do.
    DWORD access = kind == ForCreateFile ? GENERIC_WRITE : GENERIC_READ;
    // A folder of that name opens too, to be refused as one.
    HANDLE file = CreateFileA(path, access, HoldShare, NULL, OPEN_EXISTING, platform.openFlags, NULL);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
        if (!create)
            return false;
        // CREATE_NEW makes a new file or fails: it never follows a link
        // that someone put there in the meantime.
        file = CreateFileA(path, access, HoldShare, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE && created)
            *created = true;
    }
    if (file == INVALID_HANDLE_VALUE) {
        Trace("%s not written: it cannot be opened to be checked (error %lu)", path, GetLastError());
        return false;
    }

    BY_HANDLE_FILE_INFORMATION info;
    const char* refusal = NULL;
    if (!GetFileInformationByHandle(file, &info))
        refusal = "it cannot be checked";
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        refusal = "it is a reparse point";
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        refusal = "it is a folder";
    if (refusal) {
        Trace("%s not written: %s", path, refusal);
        ReleaseUnwritten(file, path, created && *created);
        if (created)
            *created = false;
        return false;
    }
    if (info.nNumberOfLinks > 1) {
        Trace("%s not written: it has %lu names (a hard link)", path, info.nNumberOfLinks);
        CloseHandle(file);
        return false;
    }
    *held = file;
    return true;
}

void ReleaseHold(HANDLE held)
{
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
}

void ReleaseUnwritten(HANDLE held, LPCSTR path, bool created)
{
    ReleaseHold(held);
    if (!created)
        return;
    // The hold kept others from touching the name until now; deleting it
    // removes a name only, whatever it may lead to by then.
    if (DeleteFileA(path))
        Trace("%s deleted again: it was made empty to be held", path);
}
