// One platform call made to fail at a time, through the library's import
// table: the export still returns its status, shows only the messages it
// should, and leaves the disk as it should. Each row prints a line of the
// table of results.
#include "harness.h"
#include "release_settings.h"
#include "shortcut_files.h"

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

static HWND SetupWindow;
static const char CodeFile[] = "C:\\TELDAX\\RC.DAT";
static const char StoredCode[24] = "MARY";

// --- Disks before ---------------------------------------------------------------------

static void FreshMachine()
{
    CleanDrive();
    MakeDirectory("C:\\start");
    SetCwd("C:\\start");
}

static void StoredCodeMachine()
{
    FreshMachine();
    MakeDirectory("C:\\TELDAX");
    WriteBytes(CodeFile, StoredCode, sizeof StoredCode);
}

static void LegacyMachine()
{
    StoredCodeMachine();
    static unsigned char pif[900];
    memset(pif, 0, sizeof pif);
    memcpy(pif + 101, "C:\\jan", 6);
    WriteBytes("C:\\TELDAX\\TRAN.PIF", pif, sizeof pif);
}

// --- What the disk must hold after ---------------------------------------------------------

static bool CodeFileHolds(const char* path, const char* code)
{
    char expected[24] = {};
    memcpy(expected, code, strlen(code));
    char actual[64];
    return ReadBytes(path, actual, sizeof actual) == 24 && memcmp(actual, expected, 24) == 0;
}

static bool StoredCodeKept()
{
    return CodeFileHolds(CodeFile, "MARY") && !DirectoryExists("C:\\MARY");
}

static bool NothingMade()
{
    return !DirectoryExists("C:\\TELDAX") && !DirectoryExists("C:\\JOHN") && !FileExists("C:\\start\\RC.DAT");
}

static bool NewCodeStored()
{
    return CodeFileHolds(CodeFile, "JOHN") && DirectoryExists("C:\\JOHN");
}

static bool NewCodeWithoutItsDirectory()
{
    return CodeFileHolds(CodeFile, "JOHN") && !DirectoryExists("C:\\JOHN");
}

static bool NewCodeInCurrentDirectory()
{
    return CodeFileHolds("C:\\start\\RC.DAT", "JOHN") && !FileExists(CodeFile);
}

static bool NewCodeBesideStoredOne()
{
    return CodeFileHolds("C:\\start\\RC.DAT", "JOHN") && CodeFileHolds(CodeFile, "MARY");
}

static bool StoredCodeNotReplaced()
{
    return CodeFileHolds(CodeFile, "MARY") && DirectoryExists("C:\\JOHN");
}

static bool NoCodeFileWritten()
{
    return !FileExists(CodeFile) && DirectoryExists("C:\\JOHN") && DirectoryExists("C:\\TELDAX");
}

static bool EmptyCodeFile()
{
    char actual[8];
    return ReadBytes(CodeFile, actual, sizeof actual) == 0;
}

static bool ImportedCode()
{
    return CodeFileHolds(CodeFile, "JAN");
}

// --- AfterInstall's machine -------------------------------------------------------------------

static const char Product[] = "C:\\TELDAX\\Velloran.lnk";
static const char Twin[] = "C:\\TELDAX\\Velloran.PIF";
static const char Skipped[] = "C:\\TELDAX\\WinNT.lnk";
static const char SkippedTwin[] = "C:\\TELDAX\\WinNT.PIF";
static const Link ProductLink = {"C:\\TELDAX\\vell.exe", "-x", "Velloran reporting",
                                 MAKEWORD('V', HOTKEYF_CONTROL | HOTKEYF_ALT), "C:\\TELDAX\\velloran.ico", 2,
                                 "C:\\OLD", 0};
static const Link OldDesktopLink = {"C:\\TELDAX\\old.exe", "", "old desktop shortcut", 0, "", 0, "C:\\OLD", 0};

// What the files were before the call, for those that may have to stay so.
static struct {
    FileCopy product, skipped, desktop, code;
} Before;
// A file that the case holds open while the export runs.
static HANDLE HeldFile = INVALID_HANDLE_VALUE;

static const char* DesktopShortcut()
{
    return InFolder(CommonDesktop, "Velloran.lnk");
}

// The product copied after a BeforeInstall that used the stored code, in this
// process: one shortcut to rewrite with its read-only twin, one on the skip
// list with its twin, the old desktop files on both desktops, the obsolete
// system files in both system folders.
static void AfterInstallMachine()
{
    CleanPlaces();
    StoredCodeMachine();
    WriteBytes("C:\\TELDAX\\vell.exe", "MZ", 2);
    MakeLink(Product, ProductLink);
    Touch(Twin);
    SetFileAttributesA(Twin, FILE_ATTRIBUTE_READONLY);
    MakeLink(Skipped, ProductLink);
    Touch(SkippedTwin);
    MakeLink(DesktopShortcut(), OldDesktopLink);
    Touch(InFolder(CommonDesktop, "Shortcut to Pellitor.pif"));
    Touch(InFolder(CommonDesktop, "Shortcut to Velloran.lnk"));
    Touch(InFolder(UserDesktop, "Shortcut to Velloran.lnk"));
    for (const char* system : SystemFolders) {
        for (const char* name : SystemFiles)
            Touch(SystemFile(system, name));
    }
    Keep(Product, &Before.product);
    Keep(Skipped, &Before.skipped);
    Keep(DesktopShortcut(), &Before.desktop);
    Keep(CodeFile, &Before.code);
    int status = CallExport("BeforeInstall", SetupWindow);
    ok(status == 1, "BeforeInstall before: status %d", status);
}

// The shortcut to rewrite is damaged: IPersistStream::Load fails on it.
static void DamagedShortcutMachine()
{
    AfterInstallMachine();
    WriteBytes(Product, "L\0\0\0 damaged", 12);
    Keep(Product, &Before.product);
}

// The shortcut to rewrite is read-only and open elsewhere for reading with
// only reading shared: it cannot be opened to be read and written.
static void HeldShortcutMachine()
{
    AfterInstallMachine();
    SetFileAttributesA(Product, FILE_ATTRIBUTE_READONLY);
    HeldFile = CreateFileA(Product, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ok(HeldFile != INVALID_HANDLE_VALUE, "cannot hold %s open", Product);
}

// A folder has the desktop shortcut's name: it opens, and is refused as one.
static void DesktopFolderMachine()
{
    AfterInstallMachine();
    RemoveTree(DesktopShortcut());
    MakeDirectory(DesktopShortcut());
    Before.desktop.length = -1;
}

// --- What AfterInstall must leave -----------------------------------------------------------------

enum ProductAfter { ProductRewritten, ProductKept, ProductReplacedByDesktopShortcut };
enum DesktopAfter { DesktopWritten, DesktopKept };

struct AfterInstallOutcome {
    ProductAfter product;
    bool twinGone;
    DesktopAfter desktop;
    bool oldDesktopFilesGone;
    bool systemFilesGone;  // from system32, the folder of the platform BeforeInstall saw
    const char* dir;       // the working directory of what is written
};

static bool Expect(bool condition, const char* what)
{
    ok(condition, "%s", what);
    return condition;
}

static bool AfterInstallLeft(const AfterInstallOutcome& e)
{
    bool good = true;
    if (e.product == ProductRewritten)
        good &= check_link(Product, Rewritten(ProductLink, e.dir));
    else if (e.product == ProductReplacedByDesktopShortcut)
        good &= check_link(Product, DesktopLink(e.dir));
    else
        good &= Expect(SameBytes(Product, Before.product), "the shortcut changed");
    good &= Expect(FileExists(Twin) != e.twinGone, e.twinGone ? "its twin kept" : "its twin deleted");
    good &= Expect(SameBytes(Skipped, Before.skipped) && FileExists(SkippedTwin), "a skipped shortcut touched");

    if (e.desktop == DesktopWritten)
        good &= check_link(DesktopShortcut(), DesktopLink(e.dir));
    else
        good &= Expect(SameBytes(DesktopShortcut(), Before.desktop) &&
                           (Before.desktop.length >= 0 || DirectoryExists(DesktopShortcut())),
                       "the desktop shortcut replaced");
    for (int i = 1; i < 3; ++i) {
        bool exists = FileExists(InFolder(CommonDesktop, DesktopFiles[i]));
        good &= Expect(exists != e.oldDesktopFilesGone, DesktopFiles[i]);
    }
    good &= Expect(FileExists(InFolder(UserDesktop, "Shortcut to Velloran.lnk")), "the user's own desktop touched");

    for (const char* name : SystemFiles) {
        good &= Expect(FileExists(SystemFile("system32", name)) != e.systemFilesGone, name);
        good &= Expect(FileExists(SystemFile("system", name)), "a file of the other system folder deleted");
    }
    good &= Expect(SameBytes(CodeFile, Before.code), "RC.DAT changed");
    return good;
}

static const AfterInstallOutcome AllDone = {ProductRewritten, true, DesktopWritten, true, true, "C:\\MARY"};
static const AfterInstallOutcome ShortcutKept = {ProductKept, true, DesktopWritten, true, true, "C:\\MARY"};
static const AfterInstallOutcome DesktopShortcutKept = {ProductRewritten, true, DesktopKept, true, true, "C:\\MARY"};
static const AfterInstallOutcome BothShortcutsKept = {ProductKept, true, DesktopKept, true, true, "C:\\MARY"};
static const AfterInstallOutcome NoShortcutFound = {ProductKept, false, DesktopWritten, true, true, "C:\\MARY"};
static const AfterInstallOutcome DesktopUntouched = {ProductRewritten, true, DesktopKept, false, true, "C:\\MARY"};
// DeleteFileA fails: what is deleted by name stays; the twin goes through
// the handle on which it was checked.
static const AfterInstallOutcome OnlyTwinDeleted = {ProductRewritten, true, DesktopWritten, false, false, "C:\\MARY"};
static const AfterInstallOutcome ReadOnlyTwinKept = {ProductRewritten, false, DesktopWritten, true, true, "C:\\MARY"};
static const AfterInstallOutcome DesktopShortcutInInstallFolder = {ProductReplacedByDesktopShortcut, true, DesktopKept,
                                                                   true, true, "C:\\MARY"};
static const AfterInstallOutcome EmptyCode = {ProductRewritten, true, DesktopWritten, true, true, "C:\\"};

// --- The release records -------------------------------------------------------------------

static const char OldRecord[] = "an older record that must not survive a write";
static const char* const RecordFiles[] = {"C:\\TELDAX\\Update.txt", "C:\\TELDAX\\UpdName.txt",
                                          "C:\\TELDAX\\UpdDetails.txt"};

static void ReleaseMachine()
{
    StoredCodeMachine();
    for (const char* file : RecordFiles)
        WriteBytes(file, OldRecord, sizeof OldRecord - 1);
}

enum RecordState { Kept, Empty, Written };

// What each record file holds: the old record, nothing, or a new text
// (for the addresses, exactly the one given).
static bool RecordIs(int index, RecordState state, const char* address = NULL)
{
    char actual[512];
    int length = ReadBytes(RecordFiles[index], actual, sizeof actual);
    if (state == Kept)
        return length == (int)sizeof OldRecord - 1 && memcmp(actual, OldRecord, length) == 0;
    if (state == Empty)
        return length == 0;
    if (address)
        return length == (int)strlen(address) && memcmp(actual, address, length) == 0;
    return length > 0 && !(length == (int)sizeof OldRecord - 1 && memcmp(actual, OldRecord, length) == 0);
}

static const char UpdateInstaller[] = VINSTALL_DOWNLOAD_BASE VINSTALL_UPDATE_INSTALLER;
static const char UpdateDetails[] = VINSTALL_DOWNLOAD_BASE VINSTALL_UPDATE_DETAILS;
static const char MasterLoadInstaller[] = VINSTALL_DOWNLOAD_BASE VINSTALL_MASTER_LOAD_INSTALLER;

static bool NoticeKeptOthersWritten()
{
    return RecordIs(0, Kept) && RecordIs(1, Written, UpdateInstaller) && RecordIs(2, Written, UpdateDetails);
}

static bool AllRecordsKept()
{
    return RecordIs(0, Kept) && RecordIs(1, Kept) && RecordIs(2, Kept);
}

static bool InstallerAddressKept()
{
    return RecordIs(0, Written) && RecordIs(1, Kept) && RecordIs(2, Written);
}

static bool NoticeLeftEmpty()
{
    return RecordIs(0, Empty) && RecordIs(1, Written, UpdateInstaller) && RecordIs(2, Written, UpdateDetails);
}

static bool DetailsLeftEmpty()
{
    return RecordIs(0, Written) && RecordIs(1, Written, MasterLoadInstaller) && RecordIs(2, Empty);
}

static bool NoRecordMade()
{
    for (const char* file : RecordFiles) {
        if (FileExists(file))
            return false;
    }
    return true;
}

static bool FolderMissingAndNoRecordMade()
{
    return NoRecordMade() && !DirectoryExists("C:\\TELDAX");
}

// --- InstallPDF's machine ---------------------------------------------------------------------

// C:\TELDAX with an install.exe; under Wine the installing user owns both and
// has full control, with SYSTEM: the converter's installer may be started.
// Played on a Windows where the installing user has no unelevated token
// beside this one: Wine owns every file by that user, whom it reports as
// the elevated half of a split token, which no start would pass.
static void ConverterMachine()
{
    FreshMachine();
    MakeDirectory("C:\\TELDAX");
    WriteBytes("C:\\TELDAX\\install.exe", "MZ", 2);
    ReportElevationType(TokenElevationTypeDefault);
}

static bool ConverterStarted()
{
    return ShellExecuteCount == 1 && FileExists("C:\\TELDAX\\install.exe");
}

static bool ConverterNotStarted()
{
    return ShellExecuteCount == 0 && FileExists("C:\\TELDAX\\install.exe");
}

// --- The table -------------------------------------------------------------------------------

struct FaultCase {
    const char* call;
    int occurrence;          // 0: every call
    const char* pathPart;    // NULL: any
    const char* exportName;
    void (*prepare)();
    bool answerDialog;       // type "john" and press OK if the dialog opens
    int status;
    const char* messageTitle;  // NULL: no message
    bool (*disk)();                              // NULL: after, for AfterInstall
    const char* expected;
    const char* traced;        // the trace line that tells why
    const AfterInstallOutcome* after = NULL;
    const char* which = NULL;  // printed in place of the path and the call
    bool byFile = false;       // the real call fails on what prepare made; nothing injected
    // The occurrence is the last call the export makes without the fault
    // (counted in a run of its own): how many link objects and streams a
    // shortcut's write takes depends on the platform's link object.
    bool lastCall = false;
};

static const FaultCase Cases[] = {
    {"GetVersionExA", 0, NULL, "BeforeInstall", StoredCodeMachine, false, 1, NULL, StoredCodeKept,
     "version reads 0.0 and passes; stored code used", "GetVersionExA failed (error 5): the version reads 0.0"},
    {"DialogBoxParamA", 0, NULL, "BeforeInstall", FreshMachine, false, 0, NULL, NothingMade,
     "no dialog: stop, nothing written", "the reporter code dialog could not be shown (error 5)"},
    {"SetCurrentDirectoryA", 0, "TELDAX", "BeforeInstall", StoredCodeMachine, true, 2, NULL, NewCodeBesideStoredOne,
     "install folder not entered: asks for a code; RC.DAT in the current directory",
     "C:\\TELDAX cannot be entered (error 5): a new code is needed"},
    {"SetCurrentDirectoryA", 2, "TELDAX", "BeforeInstall", FreshMachine, true, 2, NULL, NewCodeInCurrentDirectory,
     "install folder not entered after it is made: RC.DAT in the current directory",
     "C:\\TELDAX cannot be entered (error 5): RC.DAT goes into the current directory"},
    {"CreateDirectoryA", 0, "JOHN", "BeforeInstall", FreshMachine, true, 2, NULL, NewCodeWithoutItsDirectory,
     "reporter directory not made: passed over", "C:\\JOHN not created (error 5)"},
    {"CreateDirectoryA", 0, "TELDAX", "BeforeInstall", FreshMachine, true, 2, NULL, NewCodeInCurrentDirectory,
     "install folder not made: RC.DAT in the current directory", "C:\\TELDAX not created (error 5)"},
    {"CreateFileA", 1, "RC.DAT", "BeforeInstall", StoredCodeMachine, true, 2, NULL, NewCodeStored,
     "RC.DAT not opened at the probe: asks for a code and replaces RC.DAT",
     "C:\\TELDAX\\RC.DAT cannot be opened (error 5): a new code is needed"},
    {"CreateFileA", 2, "RC.DAT", "BeforeInstall", LegacyMachine, false, 1, NULL, ImportedCode,
     "RC.DAT not opened again: code imported from TRAN.PIF", "code imported from C:\\TELDAX\\TRAN.PIF"},
    {"CreateFileA", 2, "RC.DAT", "BeforeInstall", StoredCodeMachine, false, 0, "Velloran - Missing File",
     StoredCodeKept, "RC.DAT not opened again, no TRAN.PIF: missing-file message",
     "required file missing: C:\\TELDAX\\TRAN.PIF cannot be opened (error 2)"},
    {"CreateFileA", 0, "TRAN.PIF", "BeforeInstall", LegacyMachine, false, 1, NULL, StoredCodeKept,
     "TRAN.PIF not needed while RC.DAT opens: stored code used", "stored code read from C:\\TELDAX\\RC.DAT"},
    {"CreateFileA", 0, "RC.DAT", "BeforeInstall", FreshMachine, true, 2, NULL, NoCodeFileWritten,
     "RC.DAT cannot be checked: not created, status 2 all the same, no message",
     "RC.DAT not written: it cannot be opened to be checked (error 5)"},
    {"SetEndOfFile", 0, "RC.DAT", "BeforeInstall", FreshMachine, true, 2, NULL, NoCodeFileWritten,
     "RC.DAT checked, cannot be emptied to be written: the file made to be held goes, status 2",
     "RC.DAT not created (error 5)"},
    {"NtQueryObject", 0, "RC.DAT", "BeforeInstall", FreshMachine, true, 2, NULL, NoCodeFileWritten,
     "RC.DAT's volume cannot be read: not written, the file made to be held goes, status 2",
     "RC.DAT not written: it cannot be checked"},
    {"NtSetInformationFile", 0, "RC.DAT", "BeforeInstall", FreshMachine, true, 2, NULL, EmptyCodeFile,
     "RC.DAT made, refused (its volume cannot be read), cannot be deleted again: it stays empty, status 2",
     "RC.DAT not deleted again"},
    {"GetProcAddress", 0, "NtSetInformationFile", "BeforeInstall", FreshMachine, true, 2, NULL, NoCodeFileWritten,
     "ntdll.dll without it: nothing written in the folder, status 2",
     "nothing written in C:\\TELDAX: ntdll.dll lacks the calls to check it"},
    {"NtQueryInformationFile", 0, "RC.DAT", "BeforeInstall", FreshMachine, true, 2, NULL, NoCodeFileWritten,
     "RC.DAT cannot be checked: not written, the empty file made to be held goes, status 2",
     "RC.DAT not written: it cannot be checked"},
    {"NtQueryInformationFile", 0, "RC.DAT", "BeforeInstall", StoredCodeMachine, true, 2, NULL, StoredCodeNotReplaced,
     "RC.DAT cannot be checked: not read, as one that cannot be opened; the new code not written over it, status 2",
     "C:\\TELDAX\\RC.DAT not read: it cannot be checked"},
    {"ReadFile", 0, "RC.DAT", "BeforeInstall", StoredCodeMachine, false, 1, NULL, StoredCodeKept,
     "RC.DAT not read: empty code, status 1, file kept",
     "stored code read from C:\\TELDAX\\RC.DAT (0 bytes, short form): \"\""},
    {"ReadFile", 0, "TRAN.PIF", "BeforeInstall", LegacyMachine, false, 0, "Velloran - Missing File", StoredCodeKept,
     "TRAN.PIF not read: as missing, RC.DAT kept", "C:\\TELDAX\\TRAN.PIF gives no code (0 of 900 bytes read"},
    {"WriteFile", 0, "RC.DAT", "BeforeInstall", FreshMachine, true, 2, NULL, EmptyCodeFile,
     "RC.DAT not written: left empty, status 2", "RC.DAT not written (error 5)"},
    {"MessageBoxA", 0, NULL, "BeforeInstall", StoredCodeMachine, false, 1, NULL, StoredCodeKept,
     "no message needed: unaffected", "stored code read from C:\\TELDAX\\RC.DAT"},
    {"CoCreateInstance", 1, NULL, "AfterInstall", AfterInstallMachine, false, 1, NULL, NULL,
     "shortcut not read: left as it is; the rest done",
     "Velloran.lnk passed over: cannot be read (0x80070005)", &ShortcutKept, "call 1: reading Velloran.lnk"},
    {"CoCreateInstance", 2, NULL, "AfterInstall", AfterInstallMachine, false, 1, NULL, NULL,
     "shortcut not written: left as it is; the rest done",
     "Velloran.lnk not rewritten: the write failed (0x80070005)", &ShortcutKept, "call 2: writing Velloran.lnk"},
    {"CoCreateInstance", 0, NULL, "AfterInstall", AfterInstallMachine, false, 1, NULL, NULL,
     "desktop shortcut not written: the old one stays; the rest done",
     "desktop shortcut Velloran.lnk not written (0x80070005)", &DesktopShortcutKept,
     "the last call: the desktop's Velloran.lnk", false, true},
    {"QueryInterface", 1, NULL, "AfterInstall", AfterInstallMachine, false, 1, NULL, NULL,
     "shortcut not read: left as it is; the rest done",
     "Velloran.lnk passed over: cannot be read (0x80004002)", &ShortcutKept, "IPersistStream, reading Velloran.lnk"},
    {"QueryInterface", 2, NULL, "AfterInstall", AfterInstallMachine, false, 1, NULL, NULL,
     "shortcut not written: left as it is; the rest done",
     "Velloran.lnk not rewritten: the write failed (0x80004002)", &ShortcutKept,
     "IPersistStream, writing Velloran.lnk"},
    {"QueryInterface", 0, NULL, "AfterInstall", AfterInstallMachine, false, 1, NULL, NULL,
     "desktop shortcut not written: the old one stays; the rest done",
     "desktop shortcut Velloran.lnk not written (0x80004002)", &DesktopShortcutKept,
     "IPersistStream, the last call: the desktop's Velloran.lnk", false, true},
    {"CreateStreamOnHGlobal", 1, NULL, "AfterInstall", AfterInstallMachine, false, 1, NULL, NULL,
     "shortcut's bytes not read into memory: left as it is; the rest done",
     "Velloran.lnk passed over: cannot be read (0x8007000E)", &ShortcutKept, "call 1: reading Velloran.lnk"},
    {"CreateStreamOnHGlobal", 4, NULL, "AfterInstall", AfterInstallMachine, false, 1, NULL, NULL,
     "desktop shortcut not saved into memory: the old one stays; the rest done",
     "desktop shortcut Velloran.lnk not written (0x8007000E)", &DesktopShortcutKept,
     "call 4: the desktop's Velloran.lnk"},
    {"CreateStreamOnHGlobal", 0, NULL, "AfterInstall", AfterInstallMachine, false, 1, NULL, NULL,
     "the desktop shortcut's save with its relative path fails: written as saved without it; all done",
     "desktop shortcut Velloran.lnk written", &AllDone, "the last call: the desktop's second save", false, true},
    {"SetEndOfFile", 0, "Velloran.lnk", "AfterInstall", AfterInstallMachine, false, 1, NULL, NULL,
     "shortcuts cannot be emptied to be written: both left as they are; the rest done",
     "Velloran.lnk not rewritten: the write failed (0x80070005)", &BothShortcutsKept},
    {"IPersistStream::Load", 0, NULL, "AfterInstall", DamagedShortcutMachine, false, 1, NULL, NULL,
     "damaged shortcut left as it is; its twin deleted; the rest done",
     "Velloran.lnk passed over: cannot be read (0x8", &ShortcutKept, "Velloran.lnk damaged", true},
    {"CreateFileA", 0, NULL, "AfterInstall", HeldShortcutMachine, false, 1, NULL, NULL,
     "shortcut left as it is; the rest done",
     "C:\\TELDAX\\Velloran.lnk not written: it cannot be opened to be checked (error 32)", &ShortcutKept,
     "Velloran.lnk read-only and open elsewhere: its hold cannot share with that", true},
    {"CreateFileA", 0, NULL, "AfterInstall", DesktopFolderMachine, false, 1, NULL, NULL,
     "no desktop shortcut; the folder stays; the rest done",
     "Velloran.lnk not written: it is a folder", &DesktopShortcutKept,
     "a folder named Velloran.lnk on the desktop: it opens, and is refused as one", true},
    {"FindFirstFileA", 0, NULL, "AfterInstall", AfterInstallMachine, false, 1, NULL, NULL,
     "no shortcut rewritten, no twin deleted; the desktop and system files done",
     "no shortcut found as C:\\TELDAX\\*.lnk (error 5)", &NoShortcutFound},
    {"SHGetSpecialFolderPathA", 0, NULL, "AfterInstall", AfterInstallMachine, false, 1, NULL, NULL,
     "desktop unknown: nothing on it touched, nothing written elsewhere; the rest done",
     "desktop folder unknown: SHGetSpecialFolderPathA failed (error 5)", &DesktopUntouched},
    {"DeleteFileA", 0, NULL, "AfterInstall", AfterInstallMachine, false, 1, NULL, NULL,
     "old desktop and system files stay; the twin, deleted through its handle, goes; the rest done",
     "Shortcut to Pellitor.pif not deleted (error 5)", &OnlyTwinDeleted},
    {"NtSetInformationFile", 0, "Velloran.PIF", "AfterInstall", AfterInstallMachine, false, 1, NULL, NULL,
     "read-only twin stays; the rest done", "C:\\TELDAX\\Velloran.PIF not deleted (0xC0000022)", &ReadOnlyTwinKept},
    {"SetCurrentDirectoryA", 0, NULL, "AfterInstall", AfterInstallMachine, false, 1, NULL, NULL,
     "desktop not entered: Velloran.lnk written in the current directory, C:\\TELDAX, over the product's",
     "cannot be entered (error 5): Velloran.lnk goes into the current directory",
     &DesktopShortcutInInstallFolder},
    {"CreateFileA", 0, "RC.DAT", "AfterInstall", AfterInstallMachine, false, 1, NULL, NULL,
     "RC.DAT not opened: the code BeforeInstall read is used",
     "C:\\TELDAX\\RC.DAT cannot be opened (error 5): the reporter text stays as BeforeInstall left it", &AllDone},
    {"ReadFile", 0, "RC.DAT", "AfterInstall", AfterInstallMachine, false, 1, NULL, NULL,
     "RC.DAT not read: empty code, everything starts in C:\\",
     "reporter code read from C:\\TELDAX\\RC.DAT (0 bytes)", &EmptyCode},
    {"MessageBoxA", 0, NULL, "AfterInstall", AfterInstallMachine, false, 1, NULL, NULL,
     "no message needed: unaffected", "AfterInstall: returns 1", &AllDone},
    {"CreateFileA", 0, "Update.txt", "UpdateInfo", ReleaseMachine, false, 1, NULL, NoticeKeptOthersWritten,
     "notice cannot be checked: keeps its old record; the two addresses written",
     "c:\\teldax\\Update.txt not written: it cannot be opened to be checked (error 5)"},
    {"SetEndOfFile", 0, "Update.txt", "UpdateInfo", ReleaseMachine, false, 1, NULL, NoticeKeptOthersWritten,
     "notice checked, cannot be emptied to be written: keeps its old record; the two addresses written",
     "c:\\teldax\\Update.txt not created (error 5): passed over"},
    {"SetFilePointer", 0, "UpdName.txt", "MLDInfo", ReleaseMachine, false, 1, NULL, InstallerAddressKept,
     "installer address checked, cannot be emptied: keeps its old record; the others written",
     "c:\\teldax\\UpdName.txt not created (error 5): passed over"},
    {"NtQueryObject", 0, "Update.txt", "UpdateInfo", ReleaseMachine, false, 1, NULL, NoticeKeptOthersWritten,
     "the notice's volume cannot be read: keeps its old record; the two addresses written",
     "c:\\teldax\\Update.txt not written: it cannot be checked"},
    {"NtQueryInformationFile", 0, "teldax", "MLDInfo", ReleaseMachine, false, 1, NULL, AllRecordsKept,
     "the install folder cannot be checked: all records keep their old content",
     "nothing written in c:\\teldax: it cannot be checked"},
    {"NtQueryObject", 0, "teldax", "MLDInfo", ReleaseMachine, false, 1, NULL, AllRecordsKept,
     "the install folder's volume cannot be read: all records keep their old content",
     "nothing written in c:\\teldax: it cannot be checked"},
    {"GetProcAddress", 0, "NtQueryInformationFile", "UpdateInfo", ReleaseMachine, false, 1, NULL, AllRecordsKept,
     "ntdll.dll without it: all records keep their old content, no message",
     "nothing written in c:\\teldax: ntdll.dll lacks the calls to check it"},
    {"NtQueryInformationFile", 0, "Update.txt", "UpdateInfo", ReleaseMachine, false, 1, NULL,
     NoticeKeptOthersWritten, "notice cannot be checked: keeps its old record; the two addresses written",
     "c:\\teldax\\Update.txt not written: it cannot be checked"},
    {"GetFileAttributesA", 0, "teldax", "MLDInfo", ReleaseMachine, false, 1, NULL, AllRecordsKept,
     "install folder cannot be checked: all records keep their old content",
     "nothing written in c:\\teldax: it cannot be checked"},
    {"CreateFileA", 0, "UpdName.txt", "MLDInfo", ReleaseMachine, false, 1, NULL, InstallerAddressKept,
     "installer address cannot be checked: keeps its old record; the others written",
     "c:\\teldax\\UpdName.txt not written: it cannot be opened to be checked (error 5)"},
    {"CreateFileA", 0, "\\Upd", "UpdateInfo", ReleaseMachine, false, 1, NULL, AllRecordsKept,
     "no record file can be checked: all keep their old records, no message",
     "c:\\teldax\\UpdDetails.txt not written: it cannot be opened to be checked (error 5)"},
    {"CreateFileA", 0, NULL, "MLDInfo", FreshMachine, false, 1, NULL, FolderMissingAndNoRecordMade,
     "no install folder: nothing made, no message",
     "nothing written in c:\\teldax: there is no such folder (error 2)", NULL,
     "the record files, C:\\TELDAX missing", true},
    {"WriteFile", 0, "Update.txt", "UpdateInfo", ReleaseMachine, false, 1, NULL, NoticeLeftEmpty,
     "notice not written: left empty; the two addresses written", "c:\\teldax\\Update.txt not written (error 5)"},
    {"WriteFile", 0, "UpdDetails.txt", "MLDInfo", ReleaseMachine, false, 1, NULL, DetailsLeftEmpty,
     "details address not written: left empty; the others written",
     "c:\\teldax\\UpdDetails.txt not written (error 5)"},
    {"MessageBoxA", 0, NULL, "Chk4TELDAX", FreshMachine, false, 0, "Velloran - No Update", NothingMade,
     "notice not shown: status 0 all the same", "no-update notice not shown (error 5)"},
    {"ShellExecuteA", 0, NULL, "InstallPDF", ConverterMachine, false, 1, NULL, ConverterStarted,
     "converter's installer not started: status 1, no message of its own",
     "the shell did not start c:\\teldax\\install.exe -s \"Velloran PDF Converter\" (it returned 2)"},
    {"GetVolumeInformationA", 0, NULL, "InstallPDF", ConverterMachine, false, 1, NULL, ConverterStarted,
     "file system unknown: permissions checked, installer started",
     "c:\\: its file system is unknown (error 5)"},
    {"CreateFileA", 1, "teldax", "InstallPDF", ConverterMachine, false, 1, NULL, ConverterNotStarted,
     "folder not opened: nothing started, no message",
     "nothing started from c:\\teldax: it cannot be opened to be checked (error 5)"},
    {"CreateFileA", 0, "install.exe", "InstallPDF", ConverterMachine, false, 1, NULL, ConverterNotStarted,
     "installer not opened: nothing started, no message",
     "c:\\teldax\\install.exe not read: it cannot be opened to be checked (error 5)"},
    {"GetKernelObjectSecurity", 0, NULL, "InstallPDF", ConverterMachine, false, 1, NULL, ConverterNotStarted,
     "security unreadable: nothing started, no message",
     "c:\\teldax: its security cannot be read (error 5)"},
    {"GetProcAddress", 0, "GetKernelObjectSecurity", "InstallPDF", ConverterMachine, false, 1, NULL,
     ConverterNotStarted, "advapi32 without it: nothing started, no message",
     "advapi32.dll has no GetKernelObjectSecurity (error 5)"},
    {"OpenProcessToken", 0, NULL, "InstallPDF", ConverterMachine, false, 1, NULL, ConverterNotStarted,
     "own user unknown: the folder's owner (that user) counts as a user; nothing started",
     "the setup program's user does not count as an administrator (error 5)"},
    {"CheckTokenMembership", 0, NULL, "InstallPDF", ConverterMachine, false, 1, NULL, ConverterNotStarted,
     "own user not known to be an administrator: nothing started",
     "the setup program's user does not count as an administrator (error 5)"},
    {"GetProcAddress", 0, "CheckTokenMembership", "InstallPDF", ConverterMachine, false, 1, NULL, ConverterStarted,
     "as on NT 4.0: the token's groups say administrator; installer started",
     "c:\\teldax and c:\\teldax\\install.exe: only administrators may change them"},
    {"GetProcAddress", 0, "SetSecurityDescriptorControl", "BeforeInstall", FreshMachine, true, 2, NULL,
     NewCodeStored, "as on NT 4.0: C:\\TELDAX made with its DACL not marked protected; code stored",
     "advapi32.dll has no SetSecurityDescriptorControl (error 5)"},
};

static void RunCase(const FaultCase& c)
{
    SetContext("%s fails (%s #%d) in %s", c.call, c.pathPart ? c.pathPart : "any", c.occurrence, c.exportName);
    static const DialogAction john[] = {{TypeText, "john"}, {ClickOk, NULL}};
    int occurrence = c.occurrence;
    if (c.lastCall) {
        LoadLibraryUnderTest();
        ProxyLinkObjects(Library);
        c.prepare();
        ScriptDialog(john, c.answerDialog ? 2 : 0);
        CallExport(c.exportName, SetupWindow);
        occurrence = CallCount(c.call);
    }
    LoadLibraryUnderTest();
    // The link objects pass every call through to the real ones; only a
    // QueryInterface fault refuses IPersistStream.
    ProxyLinkObjects(Library);
    c.prepare();
    // RC.DAT's second open must fail together with TRAN.PIF's for the
    // missing-file path.
    if (strcmp(c.call, "ReadFile") == 0 && c.pathPart && strcmp(c.pathPart, "TRAN.PIF") == 0)
        FailCall("CreateFileA", 2, "RC.DAT", ERROR_SHARING_VIOLATION);
    // A file made and then refused, so that it is deleted again.
    if (strcmp(c.call, "NtSetInformationFile") == 0 && c.prepare == FreshMachine)
        FailCall("NtQueryObject", 0, c.pathPart);
    if (!c.byFile)
        FailCall(c.call, occurrence, c.pathPart);
    ScriptDialog(john, c.answerDialog ? 2 : 0);
    int status = CallExport(c.exportName, SetupWindow);
    ClearFaults();
    UseRealSecurity();

    bool statusOk = status == c.status;
    bool messagesOk = c.messageTitle ? MessageCount == 1 && strcmp(Messages[0].title, c.messageTitle) == 0
                                     : MessageCount == 0;
    bool diskOk = c.after ? AfterInstallLeft(*c.after) : c.disk();
    bool dialogOk = !Dialog.scriptRanOut && (c.answerDialog == (Dialog.shown == 1));
    bool tracedOk = Traced(c.traced) != NULL;
    ok(statusOk, "status %d, expected %d", status, c.status);
    ok(messagesOk, "%d messages, first \"%s\"", MessageCount, MessageCount ? Messages[0].title : "");
    ok(diskOk, "the disk is not as expected");
    ok(dialogOk, "dialog shown %d times, script ran out %d", Dialog.shown, Dialog.scriptRanOut);
    ok(tracedOk, "no trace line \"%s\" in:\n%s", c.traced, TraceText());
    if (HeldFile != INVALID_HANDLE_VALUE) {
        CloseHandle(HeldFile);
        HeldFile = INVALID_HANDLE_VALUE;
    }
    char which[64];
    snprintf(which, sizeof which, "%s%s", c.pathPart ? c.pathPart : "any", occurrence ? "" : ", every call");
    if (occurrence)
        snprintf(which + strlen(which), sizeof which - strlen(which), ", call %d", occurrence);
    printf("| %s | %s | %s | %s | %s |\n", c.call, c.which ? c.which : which, c.exportName, c.expected,
           statusOk && messagesOk && diskOk && dialogOk && tracedOk ? "as expected" : "FAILED");
}

int main(int argc, char** argv)
{
    InitHarness(argc, argv);
    ok(FindPlaces(), "desktops \"%s\" and \"%s\"", CommonDesktop, UserDesktop);
    SetupWindow = MakeOwnerWindow();
    // The converter's installer is a stand-in of two bytes: its start is only recorded.
    ShellExecuteRecordOnly = true;
    printf("| call that fails | which | export | expected | result |\n|---|---|---|---|---|\n");
    for (const FaultCase& c : Cases)
        RunCase(c);
    // Wine 8's link object fails Resolve only when it runs out of memory: a
    // missing target, a damaged or a target-less link all give S_OK. No file
    // makes it fail here, so it is listed and not run; a failed read takes
    // the same way as a failed Load, which is run.
    printf("| IShellLinkA::Resolve | no file makes it fail under Wine 8 | AfterInstall | "
           "shortcut left as it is, like a failed Load | not run |\n");
    ClearContext();
    Skip("IShellLinkA::Resolve failing: no file makes it fail under Wine 8");

    // A refusal whose message box cannot be shown still stops.
    LoadLibraryUnderTest();
    StoredCodeMachine();
    ReportVersion(10, 0, 2);
    FailCall("MessageBoxA");
    int status = CallExport("BeforeInstall", SetupWindow);
    ClearFaults();
    UseRealVersion();
    ok(status == 0 && MessageCount == 1, "refusal without its message box: status %d", status);

    CleanPlaces();
    return FinishTests("faults");
}
