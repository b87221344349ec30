// The library runs inside an elevated setup program and writes in folders
// that ordinary users may be able to write too. Someone could put a hard
// link, a symbolic link or a junction where the library writes, to have the
// setup program overwrite a file elsewhere, and could do it between a check
// and the write that follows it. So a file is opened once, checked on that
// handle, and read and written through that same handle only: what was
// checked is what is used. The handle's share mode lets no one delete or
// rename what it holds while it is open.
//
//   HeldFolder folder;
//   HANDLE file;
//   if (HoldFolder(InstallDir, &folder)) {
//       if (HoldFile(folder, path, ForWriting, true, &file)) {
//           ... EmptyHeld(file), WriteFile(file, ...) ...
//           ReleaseHold(file);
//       }
//       ReleaseHold(folder.handle);
//   }
//
// On the NT family a file is checked to lie in the folder that was checked
// (its path on the volume, and the device of its volume, read on the
// handles), since a folder that someone empties can be turned into a
// junction while it is held. On Windows 95, 98 and Me there are no links,
// reparse points or ACLs: nothing is held or checked there, and a file is
// opened as a plain write would open it.
#pragma once
#include "../interface/trace.h"

#include <windows.h>

// Why the guard refused what it refused last, as the trace said it (without
// its prefix): an export puts it into its line for the setup program's log.
extern char GuardReason[TraceLineSize];
// Says a refusal in the trace and keeps it in GuardReason.
void Refuse(LPCSTR format, ...) __attribute__((format(printf, 1, 2)));

// What the handle is for, which decides its access and share mode.
enum HoldKind {
    // Replaced through the handle (RC.DAT, the record files): write access,
    // writing shared, as a plain create-or-replace shares it.
    ForWriting,
    // Read and then replaced through the handle (a shortcut): read and write
    // access, reading shared.
    ForShortcut,
    // Only read through the handle (RC.DAT, TRAN.PIF): read access, reading
    // shared, as a plain read opens it. Never created.
    ForReading,
};

// A folder held open by HoldFolder, with what its files are checked against.
struct HeldFolder {
    HANDLE handle;            // INVALID_HANDLE_VALUE where nothing is held
    DWORD nameLength;         // characters of name
    WCHAR name[MAX_PATH];     // its path on the volume ("\TELDAX"), as its handle names it
    int deviceLength;         // characters of device
    WCHAR device[MAX_PATH];   // its volume's device ("\Device\HarddiskVolume2"), as its handle names it
};

// Opens the folder at path (full, or relative to the current directory: "."
// is the current directory itself) and keeps it open, so that it cannot be
// renamed or deleted until ReleaseHold(folder->handle). False, said in the
// trace as "nothing <use> <path>: <why>", when nothing may be used in it: it
// does not exist, is a reparse point (a junction, a symbolic link, a mount
// point) or not a directory, its handle names another path than path does,
// or it cannot be opened or checked (ntdll.dll lacking the call that reads a
// handle's path included). access is asked for on top of listing it (to
// change its security, say). On the 9x family it is true and nothing is
// held.
bool HoldFolder(LPCSTR path, HeldFolder* folder, LPCSTR use = "written in", DWORD access = 0);

// The same checks for a folder that handle already holds, opened at path
// without following a link (FILE_FLAG_OPEN_REPARSE_POINT) and with
// FILE_READ_ATTRIBUTES: folder then holds handle, which the caller still
// owns. On the 9x family it is true.
bool AdoptFolder(HANDLE handle, LPCSTR path, HeldFolder* folder, LPCSTR use);

// Opens the file at path, which names a file in folder, for kind, checks it
// on that handle and keeps it open until ReleaseHold. A file to be read is
// checked as one to be written, but for its attributes, and refused as "not
// read". A name that does not
// exist yet is created, empty, when create is true, without following a
// link put at the name meanwhile (FILE_FLAG_OPEN_REPARSE_POINT from Windows
// 2000 on; NT 4.0 has no reparse points); with create false the call is
// then false. False, said in the trace, when the file may not be written: a
// reparse point, a directory, a file with more than one name (a hard link),
// a read-only, hidden or system file (which a create that replaces a file
// refuses) when it is to be written, a file outside folder (another path on
// the volume, or another volume), or a name that cannot be opened to be
// checked (in use, no access, no such path). A file this call made and then
// refused is deleted again. *created tells whether this call made the file.
//
// On the 9x family nothing is checked: the file is opened for kind as a
// plain write opens it (ForWriting: CreateForWriting).
bool HoldFile(const HeldFolder& folder, LPCSTR path, HoldKind kind, bool create, HANDLE* held,
              bool* created = NULL);

// Opens the file at path, in the folder at folder, to be read: the folder
// held while the file is checked (ForReading), then released; the file's
// handle, or INVALID_HANDLE_VALUE when it is not there or may not be read
// (the trace says why, and GetLastError: ERROR_ACCESS_DENIED for a refusal).
// Close it with ReleaseHold.
HANDLE OpenToRead(LPCSTR folder, LPCSTR path);

// Empties the held file, so that what is then written through it replaces
// what it held, as a create that replaces a file would. False (the last
// error tells why) when it could not be emptied.
inline bool EmptyHeld(HANDLE held)
{
    return SetFilePointer(held, 0, NULL, FILE_BEGIN) != INVALID_SET_FILE_POINTER && SetEndOfFile(held);
}

// Deletes the file named path by its name, unchecked: only for places that
// ordinary users cannot write (the desktop common to all users, the system
// folder) or a family without links. Says in the trace what became of it,
// leaving out the usual case of a file that is not there. True when it was
// deleted.
bool DeleteByName(LPCSTR path);

// Deletes the file at path, which names a file in folder, read-only or not,
// through a handle on which it was checked to lie there: a folder turned
// into a junction meanwhile cannot lead the delete elsewhere. A name of a
// file that has others goes alone; when that file is read-only it stays,
// since its attributes are those of every name. Says in the trace what
// became of it, leaving out a file that is not there. On the 9x family it
// is made writable and deleted by name. With isFolder, path names a folder
// in folder, which goes only when it is empty. True when it was deleted.
bool DeleteFromFolder(const HeldFolder& folder, LPCSTR path, bool isFolder = false);

// The attributes of what handle holds (it needs FILE_READ_ATTRIBUTES), and
// how many names it has, read on the handle; false when they cannot be read.
bool HandleAttributes(HANDLE handle, DWORD* attributes, DWORD* links = NULL);

// True when file, which path names (in folder), lies in folder: its path on
// the volume is the folder's and its own name, on the folder's volume.
// Otherwise says in the trace why "<path> not <done>".
bool LiesInFolder(const HeldFolder& folder, HANDLE file, LPCSTR path, LPCSTR done);


// Closes what HoldFolder or HoldFile held; INVALID_HANDLE_VALUE is fine.
void ReleaseHold(HANDLE held);

// Closes the hold of a file whose write failed. When the hold made the file
// (created), the file is deleted again rather than left in place of one
// that was never written: through the handle on the NT family, so that
// only the file this call made can go; by name on the 9x family.
void ReleaseUnwritten(HANDLE held, LPCSTR path, bool created);
