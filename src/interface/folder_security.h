// Who may change the install folder and the programs in it. The setup
// program runs elevated: a program it starts from a folder that an ordinary
// user can change (or a DLL planted beside that program) runs as
// administrator. So the library makes the install folder writable by
// administrators only, and starts a program only from such a place.
//
// Every advapi32 security call is found through GetProcAddress: Windows 95's
// advapi32 lacks some of them, and the library must still load there.
#pragma once
#include <windows.h>

// Creates the install folder at path with owner Administrators and a DACL
// that SYSTEM and Administrators may change and Users may read and run,
// inherited by what is put inside and protected from what the parent would
// pass down (where the platform knows such protection). On the 9x family,
// or when Administrators cannot own the folder (the setup program is not
// elevated), it is made with the default security. Says in the trace what it
// did; an existing folder is left as it is. False when there is no folder
// made (GetLastError tells why; ERROR_ALREADY_EXISTS when there was one).
bool MakeInstallFolder(LPCSTR path);

// The folder and the program, kept open while the program is started so
// that neither can be changed, replaced, deleted or renamed meanwhile.
struct HeldProgram {
    HANDLE folder;
    HANDLE program;
};

// True when program, in folder (full paths, the folder's first three
// characters its drive's root), may be started: on the NT family, on a
// volume that keeps ACLs, the folder and the program itself are real (not
// reparse points), are owned by SYSTEM, Administrators, TrustedInstaller or
// the setup program's own user when that user is an administrator, and let
// no one else write, delete, or change their permissions or owner. On the
// 9x family and on volumes without ACLs there is nothing to check and it is
// true. held gets the open handles (or none); release them with
// ReleaseProgram once the program has been started. The trace says what was
// found and, on false, why.
bool HoldProgramToStart(LPCSTR folder, LPCSTR program, HeldProgram* held);
void ReleaseProgram(HeldProgram* held);
