#include "hold.h"
#include "../interface/state.h"
#include "../interface/trace.h"
#include "platform.h"

#include <stdarg.h>
#include <stddef.h>
#include <string.h>
#include <strsafe.h>
#include <winternl.h>

// A folder's hold shares reading and writing, a file's what its kind
// allows; deletion is never shared: while a hold is open its name can be
// neither deleted nor renamed, nor can a folder above it be renamed.
static const DWORD FolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The native calls a check needs, found by name in ntdll.dll: documented
// for drivers, and exported by ntdll on the whole NT family (NT 4.0's
// kernel32 reads a handle's information through the first). A handle's
// attributes, names and path on its volume are FileAllInformation (18); its
// object's name, which starts with its volume's device, ObjectNameInformation
// (1); a file is deleted through its handle with FileDispositionInformation
// (13). None of them reads the volume itself, which under Wine costs more
// than the rest of a write.
typedef LONG(WINAPI* FileInformationCall)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, int);
typedef LONG(WINAPI* ObjectInformationCall)(HANDLE, int, void*, ULONG, ULONG*);
enum {
    ObjectNameInformationClass = 1,
    FileBasicInformationClass = 4,
    FileDispositionInformationClass = 13,
    FileAllInformationClass = 18,
};

char GuardReason[TraceLineSize];

void Refuse(LPCSTR format, ...)
{
    va_list args;
    va_start(args, format);
    StringCchVPrintfA(GuardReason, ARRAYSIZE(GuardReason), format, args);
    va_end(args);
    Trace("%s", GuardReason);
}

static FARPROC NativeCall(LPCSTR name)
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll ? GetProcAddress(ntdll, name) : NULL;
}
#define NATIVE_CALL(type, name) reinterpret_cast<type>(reinterpret_cast<void*>(NativeCall(name)))

// FILE_ALL_INFORMATION as far as it is read, with room for a path of
// MAX_PATH characters.
struct AllInformation {
    LARGE_INTEGER times[4];
    ULONG attributes;
    LARGE_INTEGER allocationSize, endOfFile;
    ULONG links;
    BOOLEAN deletePending, directory;
    LARGE_INTEGER index;
    ULONG eaSize, access;
    LARGE_INTEGER position;
    ULONG mode, alignment;
    ULONG nameBytes;
    WCHAR name[MAX_PATH];
};
static_assert(offsetof(AllInformation, attributes) == 32 && offsetof(AllInformation, links) == 56 &&
                  offsetof(AllInformation, nameBytes) == 96 && offsetof(AllInformation, name) == 100,
              "laid out as FILE_ALL_INFORMATION");

// The attributes, number of names and path on its volume ("\TELDAX\RC.DAT")
// of what handle holds; false when they cannot be read.
static bool ReadAll(HANDLE handle, AllInformation* all)
{
    FileInformationCall query = NATIVE_CALL(FileInformationCall, "NtQueryInformationFile");
    IO_STATUS_BLOCK status;
    return query && query(handle, &status, all, sizeof *all, FileAllInformationClass) >= 0 &&
           all->nameBytes <= sizeof all->name;
}

bool HandleAttributes(HANDLE handle, DWORD* attributes, DWORD* links)
{
    AllInformation all;
    if (!ReadAll(handle, &all))
        return false;
    *attributes = all.attributes;
    if (links)
        *links = all.links;
    return true;
}

// ASCII letters compare without case, every other character exactly.
static bool SameText(const WCHAR* a, const WCHAR* b, DWORD length)
{
    for (DWORD i = 0; i < length; ++i) {
        WCHAR x = a[i] >= L'a' && a[i] <= L'z' ? a[i] - (L'a' - L'A') : a[i];
        WCHAR y = b[i] >= L'a' && b[i] <= L'z' ? b[i] - (L'a' - L'A') : b[i];
        if (x != y)
            return false;
    }
    return true;
}

// Whether all holds the path expected, length characters; else says so in
// the trace, after lead.
static bool NamedAs(const AllInformation& all, const WCHAR* expected, DWORD length, LPCSTR lead, LPCSTR path)
{
    if (all.nameBytes == length * sizeof(WCHAR) && SameText(all.name, expected, length))
        return true;
    // The path as the handle names it: ASCII as it is, anything else '?'.
    char shown[MAX_PATH];
    DWORD i = 0;
    for (; i < all.nameBytes / sizeof(WCHAR) && i + 1 < MAX_PATH; ++i)
        shown[i] = all.name[i] >= 0x20 && all.name[i] < 0x7f ? (char)all.name[i] : '?';
    shown[i] = '\0';
    Refuse(lead, path, shown);
    return false;
}

// The name of handle's object: its volume's device, then its path on that
// volume ("\Device\HarddiskVolume2\TELDAX"), which must be the path of
// length characters. The device's length in characters, or -1 when the name
// cannot be read or ends otherwise.
static int DeviceOf(HANDLE handle, const WCHAR* path, DWORD length, WCHAR (&device)[MAX_PATH])
{
    struct {
        UNICODE_STRING name;
        WCHAR text[2 * MAX_PATH];
    } object;
    ULONG size;
    ObjectInformationCall query = NATIVE_CALL(ObjectInformationCall, "NtQueryObject");
    if (!query || query(handle, ObjectNameInformationClass, &object, sizeof object, &size) < 0)
        return -1;
    DWORD total = object.name.Length / sizeof(WCHAR);
    DWORD deviceLength = total - length;
    if (total < length || deviceLength >= MAX_PATH || !SameText(object.name.Buffer + deviceLength, path, length))
        return -1;
    CopyMemory(device, object.name.Buffer, deviceLength * sizeof(WCHAR));
    return (int)deviceLength;
}

// The checks of HoldFolder on handle, which the caller opened at path (in
// full); false, said in the trace, when nothing may be used in the folder.
static bool CheckFolder(HANDLE handle, LPCSTR path, HeldFolder* folder, LPCSTR use)
{
    // What its handle must name: the full path without its drive ("C:") or
    // the first '\' of a network path, and without a closing '\' but for
    // the volume's root.
    LPCSTR onVolume = path[0] && path[1] == ':' ? path + 2 : path[0] == '\\' && path[1] == '\\' ? path + 1 : path;
    int expected = MultiByteToWideChar(CP_ACP, 0, onVolume, -1, folder->name, MAX_PATH) - 1;
    if (expected > 1 && folder->name[expected - 1] == L'\\')
        --expected;
    folder->nameLength = expected > 0 ? (DWORD)expected : 0;
    // The name's attributes as well as the handle's: Wine shows a Unix link
    // to a folder as a reparse point by name only.
    DWORD attributes = GetFileAttributesA(path);
    AllInformation all;
    LPCSTR refusal = NULL;
    char lead[64];
    StringCchPrintfA(lead, ARRAYSIZE(lead), "nothing %s %%s: its handle names \"%%s\"", use);
    // Without these calls nothing could tell where a file lies, or delete
    // one made in the wrong place: refused rather than used unchecked.
    if (!NativeCall("NtQueryInformationFile") || !NativeCall("NtQueryObject") || !NativeCall("NtSetInformationFile"))
        refusal = "ntdll.dll lacks the calls to check it";
    else if (attributes == INVALID_FILE_ATTRIBUTES || !ReadAll(handle, &all))
        refusal = "it cannot be checked";
    else if ((attributes | all.attributes) & FILE_ATTRIBUTE_REPARSE_POINT)
        refusal = "it is a reparse point";
    else if (!(attributes & all.attributes & FILE_ATTRIBUTE_DIRECTORY))
        refusal = "it is not a folder";
    else if (!NamedAs(all, folder->name, folder->nameLength, lead, path))
        refusal = "";  // said by NamedAs
    else if ((folder->deviceLength = DeviceOf(handle, folder->name, folder->nameLength, folder->device)) < 0)
        refusal = "it cannot be checked";
    if (refusal) {
        if (refusal[0])
            Refuse("nothing %s %s: %s", use, path, refusal);
        return false;
    }
    folder->handle = handle;
    return true;
}

bool AdoptFolder(HANDLE handle, LPCSTR path, HeldFolder* folder, LPCSTR use)
{
    folder->handle = INVALID_HANDLE_VALUE;
    return !CurrentPlatform().ntFamily || CheckFolder(handle, path, folder, use);
}

bool HoldFolder(LPCSTR path, HeldFolder* folder, LPCSTR use, DWORD access)
{
    folder->handle = INVALID_HANDLE_VALUE;
    Platform platform = CurrentPlatform();
    if (!platform.ntFamily)
        return true;

    // The trace names the folder in full, the current one too.
    char shown[MAX_PATH];
    DWORD length = GetFullPathNameA(path, MAX_PATH, shown, NULL);
    if (length && length < MAX_PATH)
        path = shown;

    // Listing the folder is data access, so that the share mode counts.
    HANDLE handle = CreateFileA(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | access, FolderShare, NULL,
                                OPEN_EXISTING, platform.openFlags, NULL);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        Refuse("nothing %s %s: %s (error %lu)", use, path,
              error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? "there is no such folder"
                                                                            : "it cannot be opened to be checked",
              error);
        return false;
    }
    if (!CheckFolder(handle, path, folder, use)) {
        CloseHandle(handle);
        // What refused it is no platform error: "access denied" stands for it.
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

// True when file, which path names, lies in folder; otherwise says in the
// trace why "<path> not <done>". Its path on the volume is the folder's, '\'
// and its own name (the root's path "\" is its files' own first character);
// its volume is the folder's: the same device starts both objects' names.
static bool LiesIn(const HeldFolder& folder, HANDLE file, const AllInformation& all, LPCSTR path, LPCSTR done)
{
    WCHAR expected[2 * MAX_PATH];
    DWORD length = folder.nameLength == 1 ? 0 : folder.nameLength;
    CopyMemory(expected, folder.name, length * sizeof(WCHAR));
    expected[length++] = L'\\';
    LPCSTR last = FindCharacter(path, '\\', true);
    int name = MultiByteToWideChar(CP_ACP, 0, last ? last + 1 : path, -1, expected + length, MAX_PATH) - 1;
    char lead[64];
    StringCchPrintfA(lead, ARRAYSIZE(lead), "%%s not %s: its handle names \"%%s\"", done);
    if (name <= 0 || !NamedAs(all, expected, length + (DWORD)name, lead, path))
        return false;
    WCHAR device[MAX_PATH];
    int deviceLength = DeviceOf(file, expected, length + (DWORD)name, device);
    if (deviceLength == folder.deviceLength && SameText(device, folder.device, (DWORD)deviceLength))
        return true;
    Refuse("%s not %s: %s", path, done, deviceLength < 0 ? "it cannot be checked" : "it lies on another volume");
    return false;
}

bool LiesInFolder(const HeldFolder& folder, HANDLE file, LPCSTR path, LPCSTR done)
{
    AllInformation all;
    if (ReadAll(file, &all))
        return LiesIn(folder, file, all, path, done);
    Refuse("%s not %s: it cannot be checked", path, done);
    return false;
}

// True when the file held by file may be used for kind; otherwise says why in
// the trace. path names it in folder. A file that is only read may have any
// attributes; one to be replaced may not have those that a create that
// replaces a file refuses.
static bool MayUse(const HeldFolder& folder, HANDLE file, LPCSTR path, HoldKind kind)
{
    LPCSTR done = kind == ForReading ? "read" : "written";
    AllInformation all;
    LPCSTR refusal = NULL;
    if (!ReadAll(file, &all))
        refusal = "it cannot be checked";
    else if (all.attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        refusal = "it is a reparse point";
    else if (all.attributes & FILE_ATTRIBUTE_DIRECTORY)
        refusal = "it is a folder";
    else if (kind != ForReading &&
             (all.attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
        refusal = "it is read-only, hidden or a system file";
    if (refusal) {
        Refuse("%s not %s: %s", path, done, refusal);
        return false;
    }
    if (all.links > 1) {
        Refuse("%s not %s: it has %lu names (a hard link)", path, done, all.links);
        return false;
    }
    return LiesIn(folder, file, all, path, done);
}

bool HoldFile(const HeldFolder& folder, LPCSTR path, HoldKind kind, bool create, HANDLE* held, bool* created)
{
    *held = INVALID_HANDLE_VALUE;
    if (created)
        *created = false;
    Platform platform = CurrentPlatform();
    HANDLE file;
    bool made = false;
    create = create && kind != ForReading;
    if (!platform.ntFamily) {
        // Nothing is held or checked: the file is opened for kind as a
        // plain read or write opens it.
        if (kind == ForReading)
            file = OpenForReading(path);
        else if (kind == ForWriting)
            file = CreateForWriting(path);
        else
            file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL,
                               create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        made = create && GetLastError() != ERROR_ALREADY_EXISTS;
    } else {
        // Whatever the kind, the handle has data access, so that its share
        // mode is recorded, which an open without data access would not do.
        DWORD access = FILE_READ_ATTRIBUTES | (kind == ForWriting   ? GENERIC_WRITE
                                               : kind == ForReading ? GENERIC_READ
                                                                    : GENERIC_READ | GENERIC_WRITE);
        DWORD share = kind == ForWriting ? FILE_SHARE_WRITE : FILE_SHARE_READ;
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
        DWORD error = GetLastError();
        // A file that is not there is no event for a reader: it says so itself.
        if (kind != ForReading || (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND))
            Refuse("%s not %s: it cannot be opened%s (error %lu)", path, kind == ForReading ? "read" : "written",
                  platform.ntFamily ? " to be checked" : "", error);
        SetLastError(error);
        return false;
    }
    if (platform.ntFamily && !MayUse(folder, file, path, kind)) {
        ReleaseUnwritten(file, path, made);
        // What refused it is no platform error: "access denied" stands for it.
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    *held = file;
    if (created)
        *created = made;
    return true;
}

HANDLE OpenToRead(LPCSTR folder, LPCSTR path)
{
    HeldFolder held;
    HANDLE file = INVALID_HANDLE_VALUE;
    if (!HoldFolder(folder, &held, "read from"))
        return file;
    HoldFile(held, path, ForReading, false, &file);
    DWORD error = GetLastError();
    ReleaseHold(held.handle);
    SetLastError(error);
    return file;
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
        FileInformationCall set = NATIVE_CALL(FileInformationCall, "NtSetInformationFile");
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

bool DeleteByName(LPCSTR path)
{
    if (DeleteFileA(path)) {
        Trace("%s deleted", path);
        return true;
    }
    if (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND)
        Trace("%s not deleted (error %lu)", path, GetLastError());
    return false;
}

bool DeleteFromFolder(const HeldFolder& folder, LPCSTR path, bool isFolder)
{
    if (!CurrentPlatform().ntFamily) {
        // There are no links on the 9x family: the name is the file.
        if (isFolder) {
            bool deleted = RemoveDirectoryA(path) != FALSE;
            if (deleted)
                Trace("%s deleted", path);
            return deleted;
        }
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        return DeleteByName(path);
    }
    // Deleting and changing attributes only; deletion not shared, so that
    // the name stays bound to what is checked until it goes.
    HANDLE file = CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, CurrentPlatform().openFlags, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND)
            Trace("%s not deleted (error %lu)", path, GetLastError());
        return false;
    }
    AllInformation all;
    LPCSTR refusal = NULL;
    if (!ReadAll(file, &all))
        refusal = "it cannot be checked";
    else if ((all.attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
             ((all.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != isFolder)
        refusal = isFolder ? "it is a reparse point or not a folder" : "it is a reparse point or a folder";
    // The attributes belong to the file, not to the name: those of a file
    // with other names elsewhere are not the library's to change.
    else if (all.links > 1 && (all.attributes & FILE_ATTRIBUTE_READONLY))
        refusal = "it is read-only and a hard link";
    if (refusal)
        Trace("%s not deleted: %s", path, refusal);
    FileInformationCall set = NATIVE_CALL(FileInformationCall, "NtSetInformationFile");
    IO_STATUS_BLOCK status;
    bool deleted = false;
    if (!refusal && LiesIn(folder, file, all, path, "deleted") && set) {
        // A read-only file is made writable first, so that it can go.
        struct {
            LARGE_INTEGER times[4];  // 0: left as they are
            ULONG attributes;
        } basic = {};
        basic.attributes = FILE_ATTRIBUTE_NORMAL;
        BOOLEAN deleteFile = TRUE;
        LONG result = 0;
        if (all.attributes & FILE_ATTRIBUTE_READONLY)
            result = set(file, &status, &basic, sizeof basic, FileBasicInformationClass);
        // The system refuses to mark a folder that holds anything.
        if (result >= 0)
            result = set(file, &status, &deleteFile, sizeof deleteFile, FileDispositionInformationClass);
        deleted = result >= 0;
        if (deleted)
            Trace("%s deleted", path);
        else
            Trace("%s not deleted (0x%08lX)%s", path, (unsigned long)result, isFolder ? ": it is not empty" : "");
    }
    CloseHandle(file);
    return deleted;
}
