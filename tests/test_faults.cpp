// One platform call made to fail at a time, through the library's import
// table: the export still returns its status, shows only the messages it
// should, and leaves the disk as it should. Each row prints a line of the
// table of results.
#include "harness.h"

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
    bool (*disk)();
    const char* expected;
};

static const FaultCase Cases[] = {
    {"GetVersionExA", 0, NULL, "BeforeInstall", StoredCodeMachine, false, 1, NULL, StoredCodeKept,
     "version reads 0.0 and passes; stored code used"},
    {"DialogBoxParamA", 0, NULL, "BeforeInstall", FreshMachine, false, 0, NULL, NothingMade,
     "no dialog: stop, nothing written"},
    {"SetCurrentDirectoryA", 0, "TELDAX", "BeforeInstall", StoredCodeMachine, true, 2, NULL, NewCodeBesideStoredOne,
     "install folder not entered: asks for a code; RC.DAT in the current directory"},
    {"SetCurrentDirectoryA", 2, "TELDAX", "BeforeInstall", FreshMachine, true, 2, NULL, NewCodeInCurrentDirectory,
     "install folder not entered after it is made: RC.DAT in the current directory"},
    {"CreateDirectoryA", 0, "JOHN", "BeforeInstall", FreshMachine, true, 2, NULL, NewCodeWithoutItsDirectory,
     "reporter directory not made: passed over"},
    {"CreateDirectoryA", 0, "TELDAX", "BeforeInstall", FreshMachine, true, 2, NULL, NewCodeInCurrentDirectory,
     "install folder not made: RC.DAT in the current directory"},
    {"CreateFileA", 1, "RC.DAT", "BeforeInstall", StoredCodeMachine, true, 2, NULL, NewCodeStored,
     "RC.DAT not opened at the probe: asks for a code and replaces RC.DAT"},
    {"CreateFileA", 2, "RC.DAT", "BeforeInstall", LegacyMachine, false, 1, NULL, ImportedCode,
     "RC.DAT not opened again: code imported from TRAN.PIF"},
    {"CreateFileA", 2, "RC.DAT", "BeforeInstall", StoredCodeMachine, false, 0, "Velloran - Missing File",
     StoredCodeKept, "RC.DAT not opened again, no TRAN.PIF: missing-file message"},
    {"CreateFileA", 0, "TRAN.PIF", "BeforeInstall", LegacyMachine, false, 1, NULL, StoredCodeKept,
     "TRAN.PIF not needed while RC.DAT opens: stored code used"},
    {"CreateFileA", 0, "RC.DAT", "BeforeInstall", FreshMachine, true, 2, NULL, NoCodeFileWritten,
     "RC.DAT not created: status 2 all the same, no message"},
    {"ReadFile", 0, "RC.DAT", "BeforeInstall", StoredCodeMachine, false, 1, NULL, StoredCodeKept,
     "RC.DAT not read: empty code, status 1, file kept"},
    {"ReadFile", 0, "TRAN.PIF", "BeforeInstall", LegacyMachine, false, 0, "Velloran - Missing File", StoredCodeKept,
     "TRAN.PIF not read: as missing, RC.DAT kept"},
    {"WriteFile", 0, "RC.DAT", "BeforeInstall", FreshMachine, true, 2, NULL, EmptyCodeFile,
     "RC.DAT not written: left empty, status 2"},
    {"MessageBoxA", 0, NULL, "BeforeInstall", StoredCodeMachine, false, 1, NULL, StoredCodeKept,
     "no message needed: unaffected"},
};

static void RunCase(const FaultCase& c)
{
    SetContext("%s fails (%s #%d) in %s", c.call, c.pathPart ? c.pathPart : "any", c.occurrence, c.exportName);
    LoadLibraryUnderTest();
    c.prepare();
    // RC.DAT's second open must fail together with TRAN.PIF's for the
    // missing-file path.
    if (strcmp(c.call, "ReadFile") == 0 && c.pathPart && strcmp(c.pathPart, "TRAN.PIF") == 0)
        FailCall("CreateFileA", 2, "RC.DAT", ERROR_SHARING_VIOLATION);
    FailCall(c.call, c.occurrence, c.pathPart);
    static const DialogAction john[] = {{TypeText, "john"}, {ClickOk, NULL}};
    ScriptDialog(john, c.answerDialog ? 2 : 0);
    int status = CallExport(c.exportName, SetupWindow);
    ClearFaults();

    bool statusOk = status == c.status;
    bool messagesOk = c.messageTitle ? MessageCount == 1 && strcmp(Messages[0].title, c.messageTitle) == 0
                                     : MessageCount == 0;
    bool diskOk = c.disk();
    bool dialogOk = !Dialog.scriptRanOut && (c.answerDialog == (Dialog.shown == 1));
    ok(statusOk, "status %d, expected %d", status, c.status);
    ok(messagesOk, "%d messages, first \"%s\"", MessageCount, MessageCount ? Messages[0].title : "");
    ok(diskOk, "the disk is not as expected");
    ok(dialogOk, "dialog shown %d times, script ran out %d", Dialog.shown, Dialog.scriptRanOut);
    char which[64];
    snprintf(which, sizeof which, "%s%s", c.pathPart ? c.pathPart : "any", c.occurrence ? "" : ", every call");
    if (c.occurrence)
        snprintf(which + strlen(which), sizeof which - strlen(which), ", call %d", c.occurrence);
    printf("| %s | %s | %s | %s | %s |\n", c.call, which, c.exportName, c.expected,
           statusOk && messagesOk && diskOk && dialogOk ? "as expected" : "FAILED");
}

int main(int argc, char** argv)
{
    InitHarness(argc, argv);
    SetupWindow = MakeOwnerWindow();
    printf("| call that fails | which | export | expected | result |\n|---|---|---|---|---|\n");
    for (const FaultCase& c : Cases)
        RunCase(c);
    ClearContext();

    // A refusal whose message box cannot be shown still stops.
    LoadLibraryUnderTest();
    StoredCodeMachine();
    ReportVersion(10, 0, 2);
    FailCall("MessageBoxA");
    int status = CallExport("BeforeInstall", SetupWindow);
    ClearFaults();
    UseRealVersion();
    ok(status == 0 && MessageCount == 1, "refusal without its message box: status %d", status);

    CleanDrive();
    return FinishTests("faults");
}
