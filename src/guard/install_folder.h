// The install folder, made so that only administrators may change what is
// in it: the setup program runs elevated, and a program it starts from a
// folder that an ordinary user can change (or a DLL planted beside that
// program) runs as administrator.
#pragma once
#include <windows.h>

// Creates the install folder at path with owner Administrators and a DACL
// that SYSTEM and Administrators may change and Users may read and run,
// inherited by what is put inside and protected from what the parent would
// pass down (where the platform knows such protection). On the 9x family it
// is made with the default security. When Administrators cannot own the
// folder (the setup program is not elevated) it is made with the default
// security if orDefault, else not at all. Says in the trace what it did; an
// existing folder is left as it is. False when there is no folder made
// (GetLastError tells why; ERROR_ALREADY_EXISTS when there was one).
bool MakeInstallFolder(LPCSTR path, bool orDefault = true);

// The descriptor that MakeInstallFolder gives the folder (forFolder) or one
// for a file or folder inside it, with the same owner and ACEs, none of them
// inherited by what lies below a file.
PSECURITY_DESCRIPTOR AdministratorsDescriptor(bool forFolder);
