// The contract every export shares with the setup program: __stdcall, five
// 32-bit arguments, the first a window handle, and a 32-bit signed status as
// the result. The six of VINSTALL_EXPORT_LIST never read the other four;
// the three for setup programs that run unattended (below) read theirs.
// Each export is a failure boundary: it always returns its status and
// nothing else leaves it.
//
// The exports are listed once, here. Every file that defines one
// includes this header, so a definition that drifts from the contract is a
// conflicting declaration and does not compile; the tests take the names
// from the same list and check the built file's export directory (made from
// VINSTALLDLL.def) against it.
#pragma once
#include <windows.h>

#define VINSTALL_EXPORT extern "C" int __stdcall

// X(name) for each export, in the order of the module definition.
#define VINSTALL_EXPORT_LIST(X) \
    X(BeforeInstall)            \
    X(AfterInstall)             \
    X(UpdateInfo)               \
    X(MLDInfo)                  \
    X(Chk4TELDAX)               \
    X(InstallPDF)

#define VINSTALL_DECLARE_EXPORT(name) \
    VINSTALL_EXPORT name(HWND window, LPARAM unused2, LPARAM unused3, LPARAM unused4, LPARAM unused5);
// BeforeInstall: 0 stop, 1 stored code used, 2 new code stored.
// AfterInstall, UpdateInfo, MLDInfo, InstallPDF: always 1. Chk4TELDAX: always 0.
VINSTALL_EXPORT_LIST(VINSTALL_DECLARE_EXPORT)
#undef VINSTALL_DECLARE_EXPORT

// BeforeInstall with the reporter code from the setup program's command
// line (code: NULL or empty when none was given), the options below, and
// one line for the setup program's log (message: messageSize bytes, always
// terminated, cut to fit; 512 bytes are always enough; NULL for none).
// Statuses as BeforeInstall's. When the status is 0 the line "no reporter
// code" means that none was given and nobody could be asked, "cancelled at
// the reporter code dialog" that the person cancelled, and a line that
// starts with "another reporter code is stored" (VINSTALL_SAME_CODE) that a
// different code is stored; any other line a failure. A given code must
// also name a folder of its own: no device name (CON, NUL, COM1...), not
// only dots, no dot or blank at its end, no control character.
VINSTALL_EXPORT BeforeInstallWithCode(HWND window, LPCSTR code, DWORD options, LPSTR message, DWORD messageSize);

// Makes C:\TELDAX a folder that only administrators may change, before the
// setup program writes there: made with owner Administrators and a DACL of
// SYSTEM and Administrators (full) and Users (read and run) when it does not
// exist (status 2); when it exists, opened without following a link and,
// on that handle, refused (status 0) unless its owner is SYSTEM,
// Administrators, TrustedInstaller or the installing user where that user
// has no unelevated token beside this one; otherwise its owner and DACL are
// set on that handle, and so are those of every entry in it (a reparse point
// or a file with a second name there stops it, status 0), status 1. The
// second argument is reserved (0). message gets one line for the log, which
// says what to do after a refusal; a refusal is also shown in a message box
// where windows may be shown. On the 9x family there is nothing to protect
// (1; a folder made there is 2, with the default security); an NT volume
// that keeps no permissions is refused (0). On a Windows above 6.2, which
// BeforeInstallWithCode refuses, it changes nothing and gives 1: the setup
// program calls that next, which says why and stops.
VINSTALL_EXPORT ProtectInstallFolder(HWND window, LPARAM reserved, DWORD options, LPSTR message, DWORD messageSize);

// Removal: deletes what the library wrote that the setup program does not
// know, Velloran.lnk on the desktop common to all users and the three
// release records in C:\TELDAX, and the setup program's own files named in
// files ("vell.exe|install.exe|Velloran.lnk": names in C:\TELDAX separated
// by '|'; NULL or empty for none), each through a handle on which it was
// checked to lie in its folder, never by name; then C:\TELDAX itself when it
// is empty. RC.DAT and the reporter's folder stay, unless VINSTALL_TAKE_BACK
// says that this installation made them (a rollback of an installation that
// found no RC.DAT): then RC.DAT goes too, and the reporter's folder it
// names when that is empty. Status 1; 0 when C:\TELDAX exists but may not be
// deleted in (a reparse point, not a folder): nothing in it is touched. The
// line for the log says what was deleted.
VINSTALL_EXPORT RemoveLibraryFiles(HWND window, LPCSTR files, DWORD options, LPSTR message, DWORD messageSize);

// The options of the three exports above, or-ed together.
// The setup program runs silently: the library shows no window in this call.
#define VINSTALL_SILENT 0x1
// Decide only: nothing is made, written or deleted. BeforeInstallWithCode
// then puts into message, for status 1 and 2, the code it would keep or
// store in place of the log line (which goes to the trace); the dialog may
// still ask for it. ProtectInstallFolder only checks the owner: 2 when the
// folder does not exist, 1 when its owner is an administrator, 0 otherwise.
#define VINSTALL_CHECK_ONLY 0x2
// BeforeInstallWithCode: a given code that differs from the stored one
// replaces it (status 2), checked by the same rules and written through the
// checked handle.
#define VINSTALL_REPLACE_CODE 0x4
// BeforeInstallWithCode: a given code that differs from the stored one stops
// the installation (status 0, nothing written) rather than being passed over.
#define VINSTALL_SAME_CODE 0x8
// RemoveLibraryFiles: also take back RC.DAT and the reporter's folder, which
// this installation made.
#define VINSTALL_TAKE_BACK 0x10
// BeforeInstallWithCode: code was typed by a person into the reporter code
// dialog of an earlier VINSTALL_CHECK_ONLY call, and is passed on to be
// stored: it is held against the dialog's rules only, as a typed code is.
#define VINSTALL_TYPED_CODE 0x20

#define VINSTALL_EXPORT_NAME(name) #name,
inline constexpr const char* ExportNames[] = {VINSTALL_EXPORT_LIST(VINSTALL_EXPORT_NAME) "BeforeInstallWithCode",
                                              "ProtectInstallFolder", "RemoveLibraryFiles"};
#undef VINSTALL_EXPORT_NAME
