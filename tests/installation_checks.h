// What an installation leaves behind, checked alike for every setup program
// that carries the library (NSIS, Inno Setup, Windows Installer): the
// machine made ready, RC.DAT, the shortcuts read back, the product's files
// and what the PDF converter's installer was started with. Each check
// reports its failures at the caller's line.
#pragma once
#include "harness.h"
#include "tools/setup_driver.h"
#include "unseen_checks.h"

extern const char CodeFile[];      // C:\TELDAX\RC.DAT
extern const char ReceivedFile[];  // what the stand-in for install.exe wrote
// Found by FindInstallationPlaces.
extern char CommonDesktop[MAX_PATH];
extern char SystemFolder[MAX_PATH];

void FindInstallationPlaces();
void PathIn(char* out, int size, const char* folder, const char* name);
bool StartsWith(const char* text, const char* prefix);
// Removes every entry of folder whose name matches pattern.
void RemoveMatching(const char* folder, const char* pattern);
// A machine without Velloran: a clean C: drive, an empty common desktop,
// neither obsolete system file.
void PrepareMachine();
// The same with an earlier installation's C:\TELDAX\RC.DAT holding "MARY"
// and the obsolete win32xac.dll in the system folder, which AfterInstall
// deletes only when it still sees the platform id that BeforeInstall
// recorded (the library stayed loaded between the calls). Gives that file's
// path.
const char* PrepareStoredCodeMachine();
// The product's files in C:\TELDAX hold the same bytes as the build's, in
// productFolder.
#define CheckProductFiles(productFolder) CheckProductFilesAt(__FILE__, __LINE__, productFolder)
void CheckProductFilesAt(const char* file, int line, const char* productFolder);

// The Windows version Wine reports to program (its file name; NULL: the
// prefix's own version again).
void ReportWindowsVersionTo(const char* program, const char* version);

// RC.DAT holds exactly the written form of code.
#define CheckCodeFile(code) CheckCodeFileAt(__FILE__, __LINE__, code)
void CheckCodeFileAt(const char* file, int line, const char* code);

// The setup program's log holds exactly expected.
#define CheckLog(log, expected) CheckLogAt(__FILE__, __LINE__, log, expected)
void CheckLogAt(const char* file, int line, const char* log, const char* expected);

// Message box index of the run: its title, text and owner (a caption's
// beginning; NULL or "": none).
#define CheckMessage(run, index, title, text, ownerPrefix) \
    CheckMessageAt(__FILE__, __LINE__, run, index, title, text, ownerPrefix)
void CheckMessageAt(const char* file, int line, const SetupRun& run, int index, const char* title, const char* text,
                    const char* ownerPrefix);

// The PDF converter's installer was started with the build's parameters;
// gives what it received.
#define CheckConverterParameters() CheckConverterParametersAt(__FILE__, __LINE__)
const char* CheckConverterParametersAt(const char* file, int line);

// A shortcut as it must read back.
struct ShortcutCase {
    const char* folder;     // NULL: the common desktop
    const char* name;
    const char* target;     // NULL: the shortcut must not exist
    const char* arguments;
    const char* directory;
    const char* iconPath = NULL;  // NULL: icon and hotkey not compared
    WORD hotkey = 0;
};
void CheckShortcuts(const ShortcutCase* cases, int count);

// The product installed for the reporter code (upper case): RC.DAT holds
// it, C:\<code> exists, the product's files are the build's (in
// productFolder), and the shortcuts that AfterInstall moves, in C:\TELDAX
// and on the common desktop, start in C:\<code>.
#define CheckInstalledFor(code, productFolder) CheckInstalledForAt(__FILE__, __LINE__, code, productFolder)
void CheckInstalledForAt(const char* file, int line, const char* code, const char* productFolder);

// Nothing of the product on the machine: no C:\TELDAX, no desktop shortcut.
#define CheckNothingInstalled() CheckNothingInstalledAt(__FILE__, __LINE__)
void CheckNothingInstalledAt(const char* file, int line);

// Removed as a fleet removes it: the product's files, its shortcuts, the
// desktop shortcut and the release records are gone; the reporter's own data
// stays: RC.DAT holding code, and C:\<code>.
#define CheckRemovedKeeping(code) CheckRemovedKeepingAt(__FILE__, __LINE__, code)
void CheckRemovedKeepingAt(const char* file, int line, const char* code);

// The program's log (its text) holds line as one of its lines.
#define CheckLogHasLine(log, line) CheckLogHasLineAt(__FILE__, __LINE__, log, line)
void CheckLogHasLineAt(const char* file, int line, const char* log, const char* expected);

// The refusal of "A/B" as the library words it for the log.
extern const char RefusedSlashLine[];

// A mutex of that name, held by this process (as another installation holds
// it) until CloseHandle.
HANDLE HoldMutex(const char* name);

// The registration in Programs and Features under HKLM's Uninstall key:
// value name's text ("" when the key or value is missing).
void ReadUninstallValue(const char* key, const char* name, char* value, DWORD size);
