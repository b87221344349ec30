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

// The path on its volume of what handle holds ("\TELDAX\RC.DAT"). False
// when it cannot be read or is longer than MAX_PATH characters.
static bool ReadName(HANDLE handle, NameInformation* information)
{
    FileInformationCall query = NativeCall("NtQueryInformationFile");
    IO_STATUS_BLOCK status;
    return query && query(handle, &status, information, sizeof *information, FileNameInformationClass) >= 0 &&
           information->bytes <= sizeof information->name;
}

// ASCII letters compare without case, every other character exactly.
static bool SameName(const WCHAR* a, const WCHAR* b, DWORD length)
{
    for (DWORD i = 0; i < length; ++i) {
        WCHAR x = a[i] >= L'a' && a[i] <= L'z' ? a[i] - (L'a' - L'A') : a[i];
        WCHAR y = b[i] >= L'a' && b[i] <= L'z' ? b[i] - (L'a' - L'A') : b[i];
        if (x != y)
            return false;
    }
    return true;
}

// A path from a handle, for the trace: ASCII as it is, anything else '?'.
static void ShowName(const WCHAR* name, DWORD length, char (&shown)[MAX_PATH])
{
    DWORD i = 0;
    for (; i < length && i + 1 < MAX_PATH; ++i)
        shown[i] = name[i] >= 0x20 && name[i] < 0x7f ? (char)name[i] : '?';
    shown[i] = '\0';
}

// The folder's path on its volume as its handle must name it: the full path
// without its drive ("C:") or the first '\' of a network path ("\\server"),
// and without a closing '\' but for the volume's root. 0 when it does not
// convert.
static DWORD ExpectedFolderName(LPCSTR fullPath, WCHAR (&name)[MAX_PATH])
{
    LPCSTR onVolume = fullPath;
    if (fullPath[0] && fullPath[1] == ':')
        onVolume = fullPath + 2;
    else if (fullPath[0] == '\\' && fullPath[1] == '\\')
        onVolume = fullPath + 1;
    int length = MultiByteToWideChar(CP_ACP, 0, onVolume, -1, name, MAX_PATH);
    if (length <= 1)
        return 0;
    --length;
    if (length > 1 && name[length - 1] == L'\\')
        --length;
    return (DWORD)length;
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
    if (length == 0 || length >= MAX_PATH)
        StringCchCopyA(shown, ARRAYSIZE(shown), path);
    path = shown;

    // Listing the folder is data access, so that the share mode counts.
    HANDLE handle = CreateFileA(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FolderShare, NULL, OPEN_EXISTING,
                                platform.openFlags, NULL);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            Trace("nothing written in %s: there is no such folder (error %lu)", path, error);
        else
            Trace("nothing written in %s: it cannot be opened to be checked (error %lu)", path, error);
        return false;
    }
    // The name's attributes as well as the handle's: Wine shows a Unix link
    // to a folder as a reparse point by name only.
    DWORD attributes = GetFileAttributesA(path);
    BY_HANDLE_FILE_INFORMATION information;
    NameInformation held;
    WCHAR expected[MAX_PATH];
    DWORD expectedLength = ExpectedFolderName(path, expected);
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
    else if (!ReadName(handle, &held))
        refusal = "it cannot be checked";
    else if (held.bytes / sizeof(WCHAR) != expectedLength || !SameName(held.name, expected, expectedLength)) {
        char where[MAX_PATH];
        ShowName(held.name, held.bytes / sizeof(WCHAR), where);
        Trace("nothing written in %s: it lies at %s", path, where);
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
    folder->nameLength = expectedLength;
    CopyMemory(folder->name, held.name, expectedLength * sizeof(WCHAR));
    return true;
}

// True when the file held by file may be written; otherwise says why in the
// trace. path names it in folder.
static bool MayWrite(const HeldFolder& folder, HANDLE file, LPCSTR path, HoldKind kind)
{
    BY_HANDLE_FILE_INFORMATION information;
    NameInformation held;
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
    else if (!ReadName(file, &held))
        refusal = "it cannot be checked";
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
    LPCSTR last = strrchr(path, '\\');
    WCHAR name[MAX_PATH];
    int nameLength = MultiByteToWideChar(CP_ACP, 0, last ? last + 1 : path, -1, name, MAX_PATH) - 1;
    DWORD prefix = folder.nameLength == 1 ? 0 : folder.nameLength;
    DWORD length = held.bytes / sizeof(WCHAR);
    if (nameLength > 0 && length == prefix + 1 + (DWORD)nameLength && SameName(held.name, folder.name, prefix) &&
        held.name[prefix] == L'\\' && SameName(held.name + prefix + 1, name, (DWORD)nameLength))
        return true;
    char shown[MAX_PATH];
    ShowName(held.name, length, shown);
    Trace("%s not written: it lies at %s, outside its folder", path, shown);
    return false;
}

// The 9x family: opened for kind as a plain write opens it, nothing checked.
static bool OpenUnchecked(LPCSTR path, HoldKind kind, bool create, HANDLE* held, bool* created)
{
    if (kind == ForAttributes)
        return true;
    HANDLE file = kind == ForWriting ? CreateForWriting(path)
                                     : CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL,
                                                   create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD error = GetLastError();
    if (file == INVALID_HANDLE_VALUE) {
        if (create || error != ERROR_FILE_NOT_FOUND)
            Trace("%s not written: it cannot be opened (error %lu)", path, error);
        return false;
    }
    if (created)
        *created = create && error != ERROR_ALREADY_EXISTS;
    *held = file;
    return true;
}

bool HoldFile(const HeldFolder& folder, LPCSTR path, HoldKind kind, bool create, HANDLE* held, bool* created)
{
    *held = INVALID_HANDLE_VALUE;
    if (created)
        *created = false;
    Platform platform = CurrentPlatform();
    if (!platform.ntFamily)
        return OpenUnchecked(path, kind, create, held, created);

    // Whatever the kind, the handle has data access, so that its share mode
    // is recorded, which an open without data access would not do.
    DWORD access = FILE_READ_ATTRIBUTES | (kind == ForWriting    ? GENERIC_WRITE
                                           : kind == ForShortcut ? GENERIC_READ | GENERIC_WRITE
                                                                 : GENERIC_READ);
    DWORD share = kind == ForWriting ? FILE_SHARE_WRITE : kind == ForShortcut ? FILE_SHARE_READ : FolderShare;
    // A folder of that name opens too, to be refused as one.
    HANDLE file = CreateFileA(path, access, share, NULL, OPEN_EXISTING, platform.openFlags, NULL);
    bool made = false;
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
        if (!create)
            return false;
        // The name itself is made, never what a link put there meanwhile
        // leads to; with the right to delete it again through this handle.
        file = CreateFileA(path, access | DELETE, share, NULL, CREATE_NEW, platform.openFlags | FILE_ATTRIBUTE_NORMAL,
                           NULL);
        made = file != INVALID_HANDLE_VALUE;
    }
    if (file == INVALID_HANDLE_VALUE) {
        Trace("%s not written: it cannot be opened to be checked (error %lu)", path, GetLastError());
        return false;
    }

    if (!MayWrite(folder, file, path, kind)) {
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
    if (deleted)
        Trace("%s deleted again: it was made empty to be held", path);
    else
        Trace("%s not deleted again", path);
}
