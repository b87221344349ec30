// Test harness: drives VINSTALLDLL.dll the way the setup program does and
// observes what a user would see.
//
// - The library is loaded from the path given on the command line, its
//   exports found by plain name and called through a five-argument __stdcall
//   pointer. Reloading it gives fresh process-wide state.
// - After every load the library's own import table is patched: message
//   boxes are recorded instead of shown, GetVersionExA and GetSystemTime
//   report what a case chooses, ShellExecuteA is recorded, and any hooked
//   platform call can be made to fail the way the platform fails it.
// - The reporter code dialog is driven by a thread timer while an export
//   runs: it types into the field, presses buttons and keys, and notes what
//   the dialog showed.
#pragma once
#include <windows.h>

// --- Reporting, in the manner of Wine's conformance tests ---------------------
#define ok(cond, ...) OkAt(__FILE__, __LINE__, (cond), __VA_ARGS__)
void OkAt(const char* file, int line, bool condition, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
// Names the case that the following failures belong to.
void SetContext(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ClearContext();
// A case that cannot be run here: says "skipped: <reason>" (with the case's
// context) and is counted, so that no total hides it.
void Skip(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Prints "<name>: N passed, N failed, N skipped" and gives the exit code.
int FinishTests(const char* name);

// --- The library under test ---------------------------------------------------
typedef int(__stdcall* ExportProc)(HWND, LPARAM, LPARAM, LPARAM, LPARAM);

// Takes the DLL's path (a Linux path is turned into a Z: path) from argv[1].
void InitHarness(int argc, char** argv);
const char* LibraryPath();
extern HMODULE Library;

// Unloads the library if loaded, loads it afresh and patches its imports.
HMODULE LoadLibraryUnderTest();
void UnloadLibraryUnderTest();
ExportProc FindExport(const char* name);
// Calls an export by plain name while the dialog driver runs; returns its
// status. The four further arguments default to values the library must ignore.
int CallExport(const char* name, HWND window, LPARAM a2 = 0x11111111, LPARAM a3 = 0x22222222,
               LPARAM a4 = 0x33333333, LPARAM a5 = 0x44444444);

// Puts the harness's hooks into module's import table (done for the library
// on every load).
void InstallHooks(HMODULE module);
// Records the message boxes of module (a test's own copy of library code).
void RecordMessageBoxesOf(HMODULE module);

// Replaces the pointer to function in module's import table; returns the old
// pointer, or NULL when the module does not import it.
void* PatchImport(HMODULE module, const char* function, void* replacement);

// --- Platform calls made to fail ------------------------------------------------
// The occurrence-th call (1-based; 0 = every call) of function whose path
// argument contains pathPart (case-insensitive; NULL = any path) fails with
// error. Hooked: CreateFileA, ReadFile, WriteFile, SetFilePointer,
// SetEndOfFile, SetCurrentDirectoryA, CreateDirectoryA, DeleteFileA,
// SetFileAttributesA, GetFileAttributesA, GetFileInformationByHandle (those
// on a handle matched by the path it was opened with), FindFirstFileA,
// SHGetSpecialFolderPathA, GetVersionExA, ReadProcessMemory, DialogBoxParamA, MessageBoxA,
// ShellExecuteA, CoCreateInstance, CreateStreamOnHGlobal; and, found through
// GetProcAddress (below), ntdll's NtQueryInformationFile, NtQueryObject and
// NtSetInformationFile (failing with STATUS_ACCESS_DENIED), advapi32's
// GetKernelObjectSecurity (by the handle's path), SetKernelObjectSecurity
// (likewise), OpenProcessToken, CheckTokenMembership and
// GetTokenInformation, and kernel32's ProcessIdToSessionId.
void FailCall(const char* function, int occurrence = 0, const char* pathPart = NULL,
              DWORD error = ERROR_ACCESS_DENIED);
void ClearFaults();
// How many calls of function the library made since the last load.
int CallCount(const char* function);

// --- What the platform reports to the library -----------------------------------
// GetVersionExA reports this version (until UseRealVersion()), and so does
// the kernel's own version, which the library reads from KUSER_SHARED_DATA
// (NtMajorVersion, NtMinorVersion at 0x7FFE026C) through ReadProcessMemory:
// the Windows a case plays.
void ReportVersion(DWORD major, DWORD minor, DWORD platformId);
// The kernel's own version alone, after ReportVersion: a compatibility mode,
// in which GetVersionExA reports an older Windows than the kernel is.
void ReportKernelVersion(DWORD major, DWORD minor);
void UseRealVersion();
// GetSystemTime reports this time from now on.
void ReportSystemTime(const SYSTEMTIME& time);

// --- Opens -----------------------------------------------------------------------------
// Every CreateFileA call of the library during the last CallExport (the
// first 64 are kept, all are counted), with its arguments.
struct OpenRecord {
    char path[MAX_PATH];
    DWORD access, share, disposition, flags;
};
extern OpenRecord Opens[64];
extern int OpenCount;

// --- What the shell was told (SHChangeNotify) ---------------------------------------
struct ShellNotice {
    LONG event;
    UINT flags;
    char path[MAX_PATH];  // for SHCNF_PATHA
};
extern ShellNotice ShellNotices[16];
extern int ShellNoticeCount;

// --- Where a handle says it lies ----------------------------------------------------------
// For what the library opened as a path ending in pathPart (case-
// insensitive): NtQueryInformationFile reports name as its path on the volume
// (FileNameInformation, and in FileAllInformation), NtQueryObject reports its
// object's name on device in place of the real one, the path on the volume
// following it. Until UseRealFileNames().
void ReportFileName(const char* pathPart, const WCHAR* name);
void ReportVolumeDevice(const char* pathPart, const WCHAR* device);
void UseRealFileNames();

// The opens of the last CallExport, held against what a platform asks: with
// flagExpected (Windows 2000 and later), every open that may create a file
// (CREATE_NEW, CREATE_ALWAYS, OPEN_ALWAYS) carries FILE_FLAG_OPEN_REPARSE_POINT;
// without (NT 4.0, which has no such flag), no open carries it. A failed test
// otherwise. Returns how many opens may have created a file, flag or not.
#define CheckCreateFlags(flagExpected) CheckCreateFlagsAt(__FILE__, __LINE__, flagExpected)
int CheckCreateFlagsAt(const char* file, int line, bool flagExpected);

// --- Message boxes ----------------------------------------------------------------
struct MessageRecord {
    HWND owner;
    char text[512];
    char title[128];
    UINT style;
    BOOL dialogOpen;  // the reporter code dialog was open at the time
};
extern MessageRecord Messages[16];
extern int MessageCount;

// --- ShellExecuteA ------------------------------------------------------------------
struct ShellExecuteRecord {
    HWND owner;
    char verb[64], file[MAX_PATH], parameters[512], directory[MAX_PATH];
    BOOL verbNull, fileNull, parametersNull, directoryNull;
    INT show;
};
extern ShellExecuteRecord ShellExecutes[8];
extern int ShellExecuteCount;
// When set, ShellExecuteA is only recorded and answers 42 (success).
extern bool ShellExecuteRecordOnly;

// --- The library's trace (OutputDebugStringA) -----------------------------------------
// The lines the library said during the last CallExport (the first 256 are
// kept, all are counted). Every line the library says in the process is
// checked for its form: "VINSTALLDLL: " in front, a line feed at the end and
// nowhere else, at most 511 bytes; FinishTests fails on one that is not.
extern int TraceCount;
const char* TraceLine(int index);
// The first line of the last call that contains part, or NULL.
const char* Traced(const char* part);
// All lines of the last call, for a failure message.
const char* TraceText();
// Records the trace of module (a test's own copy of library code) the same
// way; TraceCount counts from the next ClearTrace.
void RecordTraceOf(HMODULE module);
void ClearTrace();

// --- The reporter code dialog -------------------------------------------------------
enum DialogActionKind {
    TypeText,     // WM_CHAR for each character, as the keyboard gives them
    PasteText,    // the text put on the clipboard, then WM_PASTE
    ClearField,   // select all, Backspace
    ClickOk,      // the OK button clicked
    PressEnter,   // Enter in the field
    ClickCancel,  // the Cancel button clicked
    PressEscape,  // Esc in the field
    CloseBox,     // the caption's close box
    Snapshot,     // record the field's text
};
struct DialogAction {
    DialogActionKind kind;
    const char* text;
};
struct DialogObservation {
    int shown;                // dialogs that opened during the call
    HWND window;              // the last one
    HWND owner;               // its owner when it opened
    char caption[64];
    char fieldAtOpen[64];     // field text when it opened
    BOOL focusOnField;        // keyboard focus on the code field when it opened
    BOOL askedForeground;     // it asked to be the foreground window (SetForegroundWindow) when it opened
    char snapshots[8][64];    // field text at each Snapshot action
    int snapshotCount;
    BOOL scriptRanOut;        // still open after the last action (then cancelled)
    char fieldAfterOk[64];    // field text just after the last OK click
};
extern DialogObservation Dialog;
// The actions performed, one per timer tick, in the next dialog(s) that
// open during CallExport. Without a script a dialog is cancelled at once and
// noted as unexpected.
void ScriptDialog(const DialogAction* actions, int count);

// --- Files and windows -------------------------------------------------------------
// Removes everything on C:\ but the folders of a new Wine prefix (windows,
// users, Program Files, ProgramData).
void CleanDrive();
void RemoveTree(const char* path);
bool FileExists(const char* path);
bool DirectoryExists(const char* path);
// Reads at most size bytes; returns the file's length read, or -1.
int ReadBytes(const char* path, void* buffer, int size);
// The file as text: at most size - 1 bytes and a zero (empty when there is
// no file); returns the length read, or -1.
int ReadText(const char* path, char* text, int size);
bool WriteBytes(const char* path, const void* data, int size);
// The file holds exactly the text expected (no terminating zero); a failed
// test otherwise.
#define ExpectFile(path, expected) ExpectFileAt(__FILE__, __LINE__, path, expected)
void ExpectFileAt(const char* file, int line, const char* path, const char* expected);
void MakeDirectory(const char* path);
void SetCwd(const char* path);
const char* Cwd();
// Files that someone else put in the library's way. MakeHardLink gives the
// existing file a second name at link. MakeFolderLink makes link a folder
// that leads to target: Wine cannot make Windows symbolic links or junctions
// (CreateSymbolicLinkA makes nothing, FSCTL_SET_REPARSE_POINT is not
// supported), and shows a Unix symbolic link to a folder as a reparse point,
// so under Wine it is a Unix link made with ln. Both report their failure as
// a failed test.
bool MakeHardLink(const char* link, const char* existing);
bool MakeFolderLink(const char* link, const char* target);
void RemoveFolderLink(const char* link);
// RemoveFolderLink when path is a link to a folder; nothing otherwise.
void RemoveFolderLinkIfAny(const char* path);
// --- Someone swapping a name at the last moment -----------------------------------------
// action runs once, just before the library's occurrence-th call (1-based)
// of function whose path contains pathPart (NULL: any): "WriteFile" (on a
// handle opened as such a path: the write through the handle that was
// checked), "ReadFile" (likewise), "CreateFileA" (only an open that creates
// or replaces a file for writing), "SetFileAttributesA",
// "NtSetInformationFile" (on a handle opened as such a path: a twin made
// writable and deleted through the handle that was checked), or
// "SetWorkingDirectory", on a
// shortcut's link object (after ProxyLinkObjects). Cleared by every load of
// the library.
void RaceBefore(const char* function, const char* pathPart, void (*action)(), int occurrence = 1);
// What a user who may write in the folder does in that moment: the file at
// path renamed away (or deleted), if it is there, and a hard link to victim
// put in its place. The folder renamed away and a link to target put in its
// place. Each says whether the swap succeeded; neither fails a test.
bool SwapForHardLink(const char* path, const char* victim);
bool SwapFolderForLink(const char* folder, const char* target);
// Undoes SwapFolderForLink, if it succeeded.
void RestoreSwappedFolder(const char* folder);

// The bytes and attributes of a file, to show it untouched.
struct FileState {
    char bytes[1024];
    int length;      // -1: none
    DWORD attributes;
};
FileState StateOf(const char* path);
bool SameState(const FileState& a, const FileState& b);

// A top-level window to pass as the setup program's window.
HWND MakeOwnerWindow();
// Hex and printable form of bytes, for messages.
const char* Show(const void* data, int size);

// --- Sessions ------------------------------------------------------------------------------
// ProcessIdToSessionId (which the library finds through GetProcAddress)
// reports session for the current process, until UseRealSession().
void ReportSessionId(DWORD session);
void UseRealSession();

// --- Link objects behind a proxy --------------------------------------------------------
// From now until module is loaded again, the shell link objects that module's
// CoCreateInstance makes come back behind a thin proxy of IShellLinkA: every
// call reaches the real object, except that a request for IPersistFile or
// IPersistStream counts as a call of "QueryInterface" and, when FailCall says
// so, is refused with E_NOINTERFACE. Call it after each LoadLibraryUnderTest.
// Every IShellLinkA::Resolve is recorded with its window and flags.
void ProxyLinkObjects(HMODULE module);
struct ResolveRecord {
    HWND window;
    DWORD flags;
};
extern ResolveRecord Resolves[16];
extern int ResolveCount;

// --- Security: what the library reads through advapi32 ------------------------------------
// The library finds its advapi32 calls with GetProcAddress, which the harness
// hooks. For GetKernelObjectSecurity, SetKernelObjectSecurity,
// OpenProcessToken, CheckTokenMembership and GetTokenInformation (as for
// ProcessIdToSessionId and the ntdll calls FailCall lists) it hands back a
// wrapper that counts the call, fails it when FailCall says so (the path part
// of GetKernelObjectSecurity and SetKernelObjectSecurity is matched against
// the path the handle was opened with) and otherwise answers as chosen below
// or reaches the real function. FailCall("GetProcAddress", 0, name,
// ERROR_PROC_NOT_FOUND) makes a function missing, as on an older Windows.
//
// The object the library opened as path (case-insensitive) has the owner and
// DACL of sddl, until UseRealSecurity().
void ReportSecurity(const char* path, const char* sddl);
// For ReportSecurity and for what the library passes, as SDDL: the DACL of
// a folder only administrators may change (SYSTEM and Administrators full
// control, Users read and execute, inherited by files and folders inside,
// protected from the parent's ACEs), to put after an owner; and a user
// other than the installing one, neither administrator nor system.
#define ADMINISTRATORS_FOLDER_SDDL "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
#define ANOTHER_USER_SID "S-1-5-21-1-2-3-1001"
// CheckTokenMembership answers member (true or false) for any group.
void ReportTokenMembership(bool member);
// GetTokenInformation answers TokenElevationType with type: 1 (default: no
// split token, as with UAC off or before it), 2 (full: the elevated half of
// a split token, what Wine 8 always says), 3 (limited); 0 fails the query as
// Windows before Vista does (ERROR_INVALID_PARAMETER). Other classes reach
// the real function.
void ReportElevationType(int type);
// What the library set with SetKernelObjectSecurity during the last
// CallExport, in order: the path the handle was opened with, and the owner
// and DACL it was given as SDDL (the first 16 kept, all counted). Under Wine
// the call reaches the platform, which keeps no owner.
struct SecuritySetRecord {
    char path[MAX_PATH];
    char sddl[512];
    DWORD control;  // the descriptor's control bits
};
extern SecuritySetRecord SecuritySets[16];
extern int SecuritySetCount;
void UseRealSecurity();
// GetVolumeInformationA reports this file system and these flags, until
// UseRealVolume().
void ReportVolume(const char* fileSystem, DWORD flags);
void UseRealVolume();

// The directories the library created (or tried to) during the last
// CallExport, with the security descriptor it passed as SDDL (owner and DACL;
// empty when it passed none).
struct DirectoryRecord {
    char path[MAX_PATH];
    bool withSecurity;
    char sddl[512];
};
extern DirectoryRecord CreatedDirectories[8];
extern int CreatedDirectoryCount;

// Gives path and what it holds to another Unix user, as if someone else had
// made them: Wine then reports their owner as Anonymous Logon (S-1-5-7),
// with full control for that SID. False when that cannot be done here (only
// root may give files away): the caller skips what needs it.
bool GiveToAnotherUser(const char* path);
