#include "write_guard.h"
#include "trace.h"

bool IsReparsePoint(LPCSTR path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool MayWriteFile(LPCSTR path)
{
    // The folder first: a name in a folder that leads elsewhere leads
    // elsewhere too. A path that does not resolve cannot be created either.
    char folder[MAX_PATH];
    LPSTR name = NULL;
    DWORD length = GetFullPathNameA(path, MAX_PATH, folder, &name);
    if (length == 0 || length >= MAX_PATH || !name) {
        Trace("%s not written: its full path is unknown or too long", path);
        return false;
    }
    // "C:\TELDAX\x" gives the folder "C:\TELDAX"; the root keeps its '\'.
    *name = '\0';
    if (name > folder + 3 && name[-1] == '\\')
        name[-1] = '\0';
    if (IsReparsePoint(folder)) {
        Trace("%s not written: its folder %s is a reparse point", path, folder);
        return false;
    }

    // The name itself, not what it leads to. A name that cannot be opened
    // this way (there is none, or no access) is left to the write, which
    // fails or makes a new file.
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return true;
    BY_HANDLE_FILE_INFORMATION info;
    bool known = GetFileInformationByHandle(file, &info) != FALSE;
    CloseHandle(file);
    if (known && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        Trace("%s not written: it is a reparse point", path);
        return false;
    }
    if (known && info.nNumberOfLinks > 1) {
        Trace("%s not written: it has %lu names (a hard link)", path, info.nNumberOfLinks);
        return false;
    }
    return true;
}
