// Process-wide state shared by the exports. Everything here exists once per
// load of the library, starts at its value at load and is never saved: the
// next load starts again from scratch. The exports are called one at a time
// on the setup program's thread, so nothing here is locked.
#pragma once
#include <windows.h>

// The install folder; paths of files in it are built from this text.
extern const char InstallDir[];

enum {
    TextBufferSize = MAX_PATH,   // every shared text buffer but WorkPath
    WorkPathSize = 256,
    CodeRecordSize = 24,         // RC.DAT as written
    CodeReadSize = 28,           // at most this much of RC.DAT is read
};

extern HINSTANCE ModuleInstance;
extern HWND OwnerWindow;
extern OSVERSIONINFOA WindowsVersion;
extern int UnsupportedWindows;
extern char ReporterCode[TextBufferSize];
extern char ReporterDir[TextBufferSize];
extern char WorkPath[WorkPathSize];
extern int NeedNewCode;
extern DWORD BytesRead;
extern DWORD BytesWritten;
extern HANDLE CodeFileHandle;
// 1 while a call of BeforeInstallWithCode says that the setup program runs
// silently: no window of the library is shown then.
extern int SetupIsSilent;

// Runs a dialog from the library's own resources, modal to OwnerWindow, and
// returns what the dialog passed to EndDialog (-1 when it could not be made).
INT_PTR ShowDialog(LPCSTR templateName, DLGPROC procedure, LPARAM initParam);

// Why no window of the library may be shown now, or NULL when one may:
// the setup program runs silently (SetupIsSilent), or the process's window
// station is not visible (a service, or a deployment agent running as
// SYSTEM), where a dialog or message box would wait for ever.
LPCSTR WhyNoWindows();

// A message box of the library. Where WhyNoWindows() forbids it, the box is
// passed over and said in the trace with its title and text. 1 when it was
// shown and closed, -1 when passed over, 0 when MessageBoxA failed (the
// last error says why).
int ShowMessage(HWND owner, LPCSTR text, LPCSTR title, UINT style);

// Fills WindowsVersion and decides UnsupportedWindows (1 above 6.2).
void CheckWindowsVersion();

// Every file is opened, used and closed within one call. Reads share reading
// with others; writes create or replace the file and share writing.
HANDLE OpenForReading(LPCSTR path);
HANDLE CreateForWriting(LPCSTR path);

// Reads RC.DAT, open in file, in its read form: at most its first 28 bytes
// into ReporterDir, cleared first, so the text always ends. BeforeInstall
// and AfterInstall both read it this way.
void ReadCodeFile(HANDLE file);

// The desktop common to all users on the NT family (asked of the platform,
// whatever BeforeInstall saw), the Windows folder's Desktop elsewhere: where
// AfterInstall writes Velloran.lnk. False, said in the trace, when the
// folder cannot be determined. owner is only for the shell's lookup.
bool FindDesktopFolder(HWND owner, char (&desktop)[MAX_PATH]);

// Case conversion of names: only the ASCII letters change, whatever the
// user's locale says.
void AsciiUpperCase(char* text);
void AsciiLowerCase(char* text);

// The first c in text, or with last the last one; NULL when there is none.
// The C runtime's strchr and strrchr, without two entries in the import
// table that the size budget does not have room for.
char* FindCharacter(const char* text, char c, bool last = false);

// A message text on one line, for the trace and the setup program's log.
void LineFeedsToBlanks(char* text);
