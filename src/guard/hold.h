// The library runs inside an elevated setup program and writes in folders
// that ordinary users may be able to write too. Someone could put a hard
// link, a symbolic link or a junction where the library writes, to have the
// setup program overwrite a file elsewhere, and could do it between a check
// and the write that follows it. So a check is made on an open handle, and
// that handle stays open across the write, with a share mode that does not
// let anyone delete or rename what was checked: while it is held, the name
// stays bound to the checked object.
//
//   HANDLE folder, file;
//   if (HoldFolder(InstallDir, &folder)) {
//       if (HoldFile(path, ForCreateFile, &file)) {
//           ... the write, by path ...
//           ReleaseHold(file);
//       }
//       ReleaseHold(folder);
//   }
//
// On Windows 95, 98 and Me there are no links, reparse points or ACLs, and
// folders cannot be opened: the folder is not held there, files are.
#pragma once
#include <windows.h>

// How the write that follows reaches the file. The holding handle takes
// access of the kind that lets that write through and nothing else that
// the share mode would stop: a CreateFileA for writing (RC.DAT, the record
// files) shares writing only, IPersistFile::Save (a shortcut) and
// SetFileAttributesA (a twin) share reading.
enum HoldKind {
    ForCreateFile,
    ForSave,
    ForAttributes,
};

// Opens the folder at path (full, or relative to the current directory: "."
// is the current directory itself) and keeps it open, so that it cannot be
// renamed, deleted or replaced until ReleaseHold. False, said in the trace,
// when nothing may be written in it: it does not exist, is a reparse point
// (a junction, a symbolic link, a mount point) or not a directory, or
// cannot be opened to be checked.
bool HoldFolder(LPCSTR path, HANDLE* held);

// Opens the file at path and keeps it open until ReleaseHold. A name that
// does not exist yet is created, empty, so that the file that is checked
// and held is the one the write reaches (with create false it is not, and
// the call is false). False, said in the trace, when the file may not be
// written: a reparse point, a directory, a file with more than one name (a
// hard link), or a name that cannot be opened to be checked (in use, no
// access, no such path). *created tells whether this call made the file.
bool HoldFile(LPCSTR path, HoldKind kind, bool create, HANDLE* held, bool* created = NULL);

// Closes what HoldFolder or HoldFile held; INVALID_HANDLE_VALUE is fine.
void ReleaseHold(HANDLE held);

// Closes the hold of a file whose write failed. When the hold made the file
// (created), the empty file is deleted again rather than left in place of
// one that was never written.
void ReleaseUnwritten(HANDLE held, LPCSTR path, bool created);
