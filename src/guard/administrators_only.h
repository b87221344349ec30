// Whether only administrators may change a folder and what it holds, checked
// on handles opened without following links: the setup program runs
// elevated, so a program that an ordinary user could replace (or a DLL
// planted beside it) would run as administrator. And the folder made so,
// its owner and DACL set on those same handles.
//
// An administrator here is SYSTEM, Administrators, TrustedInstaller, or the
// setup program's own user when its token is in Administrators and that user
// has no unelevated token beside this one: on Vista and later, UAC gives an
// administrator a split token, and the same person's unelevated processes
// carry the same user SID, so what that SID owns is not the elevated half's.
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
// volume keeps ACLs, and the folder, the program and every other entry
// directly in the folder (files and folders, and what those folders hold:
// a DLL there is loaded before the system's, install.exe.manifest or
// install.exe.local redirects what is loaded) are real (not reparse points,
// files of one name), are owned by an administrator and let no one else
// write, delete, or change their data, attributes, permissions or owner. On
// an NT volume without ACLs (FAT) anyone could replace it: it is false. On
// the 9x family there is nothing to check and it is true. held gets the
// open handles of the folder and the program (or none); release them with
// ReleaseProgram once the program has been started. The trace says what was
// found and, on false, why (GuardReason).
bool HoldProgramToStart(LPCSTR folder, LPCSTR program, HeldProgram* held);
void ReleaseProgram(HeldProgram* held);

// What ProtectFolder found.
enum FolderVerdict {
    FolderRefused,     // GuardReason says why
    FolderProtected,   // its owner is an administrator (and, taken over, its entries too)
    FolderUnprotected, // the 9x family: there is nothing to protect
};

// The existing folder at path (full), opened without following a link and
// held while it is checked: refused when it is a reparse point, lies on a
// volume that keeps no permissions, or its owner is not an administrator.
// With takeOver, its
// owner and DACL are then set on that handle to those of
// AdministratorsDescriptor, and so are those of every entry in it, each on a
// handle opened without following a link and checked to lie in it (a
// reparse point, a file with a second name, or one that cannot be opened or
// changed refuses the rest). Their owner and DACL set, the folders' earlier
// users keep only handles they opened before.
FolderVerdict ProtectFolder(LPCSTR path, bool takeOver);
