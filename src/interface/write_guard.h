// The library runs inside an elevated setup program and writes in a folder
// that ordinary users may be able to write too. Before it creates or replaces
// a file there it makes sure that the name is not a way to some other file:
// someone could have put a hard link, a symbolic link or a junction in its
// place to have the setup program overwrite a file elsewhere.
#pragma once
#include <windows.h>

// True when the file at path (full, or relative to the current directory)
// may be created or replaced: there is no file of that name, or a plain file
// with one name only. False, said in the trace, when the file is a reparse
// point (symbolic link, junction, mount point) or has more than one name
// (hard link), or when the folder that holds it is a reparse point.
bool MayWriteFile(LPCSTR path);

// True when path names a reparse point: a symbolic link, a junction or a
// mount point.
bool IsReparsePoint(LPCSTR path);
