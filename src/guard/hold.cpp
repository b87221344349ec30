#include "hold.h"
#include "../interface/state.h"
#include "../interface/trace.h"
#include "platform.h"

#include <string.h>
#include <strsafe.h>
#include <winternl.h>

// A folder's hold shares reading and writing, a file's what its kind
// allows; deletion is never shared: while a hold is open its name can be
// neither deleted nor renamed, nor can a folder above it be renamed.
static const DWORD FolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The two native calls a check needs, found by name in ntdll.dll: they are
// documented for drivers only, and ntdll exports them on the NT family
// (NT 4.0's kernel32 reads a handle's information through the same call).
// A handle's path on its volume is FileNameInformation (9); a file is
// deleted through its handle with FileDispositionInformation (13).
typedef LONG(WINAPI* FileInformationCall)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, int);
enum { FileNameInformationClass = 9, FileDispositionInformationClass = 13 };

static FileInformationCall NativeCall(LPCSTR name)
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    FARPROC call = ntdll ? GetProcAddress(ntdll, name) : NULL;
    return reinterpret_cast<FileInformationCall>(reinterpret_cast<void*>(call));
}

// FILE_NAME_INFORMATION with room for a path of MAX_PATH characters.
struct NameInformation {
    ULONG bytes;
    WCHAR name[MAX_PATH];
};

// Whether the path on its volume of what handle holds ("\TELDAX\RC.DAT") is
// expected, length characters: ASCII letters compare without case, every
// other character exactly. held gets that path; one that cannot be read (or
// is longer than MAX_PATH characters) is empty.
static bool NamedAs(HANDLE handle, const WCHAR* expected, DWORD length, NameInformation* held)
{
    FileInformationCall query = NativeCall("NtQueryInformationFile");
    IO_STATUS_BLOCK status;
    if (!query || query(handle, &status, held, sizeof *held, FileNameInformationClass) < 0 ||
        held->bytes > sizeof held->name)
        held->bytes = 0;
    if (held->bytes != length * sizeof(WCHAR))
        return false;
    for (DWORD i = 0; i < length; ++i) {
        WCHAR x = held->name[i] >= L'a' && held->name[i] <= L'z' ? held->name[i] - (L'a' - L'A') : held->name[i];
        WCHAR y = expected[i] >= L'a' && expected[i] <= L'z' ? expected[i] - (L'a' - L'A') : expected[i];
        if (x != y)
            return false;
    }
    return true;
}

// A path from a handle, for the trace: ASCII as it is, anything else '?'.
static void ShowName(const NameInformation& held, char (&shown)[MAX_PATH])
{
    DWORD i = 0;
    for (; i < held.bytes / sizeof(WCHAR) && i + 1 < MAX_PATH; ++i)
        shown[i] = held.name[i] >= 0x20 && held.name[i] < 0x7f ? (char)held.name[i] : '?';
    shown[i] = '\0';
}

bool HoldFolder(LPCSTR path, HeldFolder* folder)
{
    folder->handle = INVALID_HANDLE_VALUE;
    folder->volume = 0;
    folder->nameLength = 0;
    Platform platform = CurrentPlatform();
    if (!platform.ntFamily)
        return true;

    // The trace names the folder in full, the current one too.
    char shown[MAX_PATH];
    DWORD length = GetFullPathNameA(path, MAX_PATH, shown, NULL);
    if (length && length < MAX_PATH)
        path = shown;

    // Listing the folder is data access, so that the share mode counts.
    HANDLE handle = CreateFileA(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FolderShare, NULL, OPEN_EXISTING,
                                platform.openFlags, NULL);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        Trace("nothing written in %s: %s (error %lu)", path,
              error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? "there is no such folder"
                                                                            : "it cannot be opened to be checked",
              error);
        return false;
    }
    // What its handle must name: the full path without its drive ("C:") or
    // the first '\' of a network path, and without a closing '\' but for
    // the volume's root.
    LPCSTR onVolume = path[0] && path[1] == ':' ? path + 2 : path[0] == '\\' && path[1] == '\\' ? path + 1 : path;
    int expected = MultiByteToWideChar(CP_ACP, 0, onVolume, -1, folder->name, MAX_PATH) - 1;
    if (expected > 1 && folder->name[expected - 1] == L'\\')
        --expected;
    // The name's attributes as well as the handle's: Wine shows a Unix link
    // to a folder as a reparse point by name only.
    DWORD attributes = GetFileAttributesA(path);
    BY_HANDLE_FILE_INFORMATION information;
    NameInformation held;
    LPCSTR refusal = NULL;
    if (attributes == INVALID_FILE_ATTRIBUTES || !GetFileInformationByHandle(handle, &information))
        refusal = "it cannot be checked";
    else if ((attributes | information.dwFileAttributes) & FILE_ATTRIBUTE_REPARSE_POINT)
        refusal = "it is a reparse point";
    else if (!(attributes & information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        refusal = "it is not a folder";
    // Without these nothing could tell where a file lies, or delete one made
    // in the wrong place: refused rather than written unchecked.
    else if (!NativeCall("NtQueryInformationFile") || !NativeCall("NtSetInformationFile"))
        refusal = "ntdll.dll lacks the calls to check it";
    else if (expected <= 0 || !NamedAs(handle, folder->name, (DWORD)expected, &held)) {
        char where[MAX_PATH];
        ShowName(held, where);
        Trace("nothing written in %s: its handle names \"%s\"", path, where);
        CloseHandle(handle);
        return false;
    }
    if (refusal) {
        Trace("nothing written in %s: %s", path, refusal);
        CloseHandle(handle);
        return false;
    }
    folder->handle = handle;
    folder->volume = information.dwVolumeSerialNumber;
    folder->nameLength = (DWORD)expected;
    return true;
}

// True when the file held by file may be written; otherwise says why in the
// trace. path names it in folder.
static bool MayWrite(const HeldFolder& folder, HANDLE file, LPCSTR path, HoldKind kind)
{
    BY_HANDLE_FILE_INFORMATION information;
    LPCSTR refusal = NULL;
    if (!GetFileInformationByHandle(file, &information))
        refusal = "it cannot be checked";
    else if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        refusal = "it is a reparse point";
    else if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        refusal = "it is a folder";
    else if (kind != ForAttributes && (information.dwFileAttributes &
                                       (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
        refusal = "it is read-only, hidden or a system file";
    else if (information.dwVolumeSerialNumber != folder.volume)
        refusal = "it lies on another volume";
    if (refusal) {
        Trace("%s not written: %s", path, refusal);
        return false;
    }
    if (information.nNumberOfLinks > 1) {
        Trace("%s not written: it has %lu names (a hard link)", path, information.nNumberOfLinks);
        return false;
    }
    // Its path on the volume is the folder's, '\' and its own name; the
    // root's path "\" is its files' own first character.
    WCHAR expected[2 * MAX_PATH];
    DWORD length = folder.nameLength == 1 ? 0 : folder.nameLength;
    CopyMemory(expected, folder.name, length * sizeof(WCHAR));
    expected[length++] = L'\\';
    LPCSTR last = strrchr(path, '\\');
    int name = MultiByteToWideChar(CP_ACP, 0, last ? last + 1 : path, -1, expected + length, MAX_PATH) - 1;
    NameInformation held;
    if (name > 0 && NamedAs(file, expected, length + (DWORD)name, &held))
        return true;
    char where[MAX_PATH];
    ShowName(held, where);
    Trace("%s not written: its handle names \"%s\"", path, where);
    return false;
}

bool HoldFile(const HeldFolder& folder, LPCSTR path, HoldKind kind, bool create, HANDLE* held, bool* created)
{
    *held = INVALID_HANDLE_VALUE;
    if (created)
        *created = false;
    Platform platform = CurrentPlatform();
    HANDLE file;
    bool made = false;
    if (!platform.ntFamily) {
        // Nothing is held or checked: the file is opened for kind as a
        // plain write opens it.
        if (kind == ForAttributes)
            return true;
        file = kind == ForWriting ? CreateForWriting(path)
                                  : CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL,
                                                create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        made = create && GetLastError() != ERROR_ALREADY_EXISTS;
    } else {
        // Whatever the kind, the handle has data access, so that its share
        // mode is recorded, which an open without data access would not do.
        DWORD access = FILE_READ_ATTRIBUTES | (kind == ForWriting    ? GENERIC_WRITE
                                               : kind == ForShortcut ? GENERIC_READ | GENERIC_WRITE
                                                                     : GENERIC_READ);
        DWORD share = kind == ForWriting ? FILE_SHARE_WRITE : kind == ForShortcut ? FILE_SHARE_READ : FolderShare;
        // A folder of that name opens too, to be refused as one.
        file = CreateFileA(path, access, share, NULL, OPEN_EXISTING, platform.openFlags, NULL);
        if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
            if (!create)
                return false;
            // The name itself is made, never what a link put there meanwhile
            // leads to; with the right to delete it again through this handle.
            file = CreateFileA(path, access | DELETE, share, NULL, CREATE_NEW,
                               platform.openFlags | FILE_ATTRIBUTE_NORMAL, NULL);
            made = true;
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        Trace("%s not written: it cannot be opened%s (error %lu)", path, platform.ntFamily ? " to be checked" : "",
              GetLastError());
        return false;
    }
    if (platform.ntFamily && !MayWrite(folder, file, path, kind)) {
        ReleaseUnwritten(file, path, made);
        return false;
    }
    *held = file;
    if (created)
        *created = made;
    return true;
}

void ReleaseHold(HANDLE held)
{
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
}

void ReleaseUnwritten(HANDLE held, LPCSTR path, bool created)
{
    if (!created || held == INVALID_HANDLE_VALUE) {
        ReleaseHold(held);
        return;
    }
    bool deleted;
    if (CurrentPlatform().ntFamily) {
        // Marked for deletion on the handle that made it, which goes on its
        // close: no name is looked up again, so nothing else can go.
        FileInformationCall set = NativeCall("NtSetInformationFile");
        IO_STATUS_BLOCK status;
        BOOLEAN deleteFile = TRUE;
        deleted = set && set(held, &status, &deleteFile, sizeof deleteFile, FileDispositionInformationClass) >= 0;
        ReleaseHold(held);
    } else {
        // There are no links on the 9x family: the name is the file.
        ReleaseHold(held);
        deleted = DeleteFileA(path) != FALSE;
    }
    Trace("%s %s again: it was made empty to be held", path, deleted ? "deleted" : "not deleted");
}
