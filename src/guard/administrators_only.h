// Whether only administrators may change a program and its folder, checked
// on the handles that then stay open while the program is started: the
// setup program runs elevated, so a program that an ordinary user could
// replace (or a DLL planted beside it) would run as administrator.
//
// Every advapi32 security call is found through GetProcAddress: Windows 95's
// advapi32 lacks some of them, and the library must still load there.
#pragma once
#include <windows.h>

// The folder and the program, kept open while the program is started so
// that neither can be changed, replaced, deleted or renamed meanwhile.
struct HeldProgram {
    HANDLE folder;
    HANDLE program;
};

// True when program, in folder (full paths, the folder's first three
// characters its drive's root), may be started: on the NT family, the
// volume keeps ACLs, and the folder and the program itself are real (not
// reparse points), are owned by SYSTEM, Administrators, TrustedInstaller or
// the setup program's own user when that user is an administrator, and let
// no one else write, delete, or change their data, attributes, permissions
// or owner. On an NT volume without ACLs (FAT) anyone could replace it: it
// is false. On the 9x family there is nothing to check and it is true. held
// gets the open handles (or none); release them with ReleaseProgram once
// the program has been started. The trace says what was found and, on
// false, why.
bool HoldProgramToStart(LPCSTR folder, LPCSTR program, HeldProgram* held);
void ReleaseProgram(HeldProgram* held);
