// The reporter code set-up as the setup program and the person at the dialog
// see it: BeforeInstall's statuses, the dialog, its messages, RC.DAT on disk
// and the current directory it leaves.
#include "harness.h"

#include "src/interface/exports.h"
#include "src/reporter/reporter.h"

#include <stdio.h>
#include <string.h>

static const char CodeFile[] = "C:\\TELDAX\\RC.DAT";
static const char PifFile[] = "C:\\TELDAX\\TRAN.PIF";
static const char StartDir[] = "C:\\start";
static HWND SetupWindow;

static const char InvalidCharactersText[] =
    "The file name contains invalid characters.\nThe file name may not include any of the\n"
    "following characters:  \\/:*?\"<>|";
static const char NameTooLongText[] =
    "The file name has too many characters.  The\nmaximum number of characters is 24.";
static const char TypeTooLongText[] =
    "The file type has too many characters.  The\nmaximum number of characters is 3.";

// A clean C: drive with an empty start directory as the current one; and,
// when code is given, "C:\TELDAX" holding RC.DAT with those bytes.
static void PrepareDisk(const void* code = NULL, int size = 0)
{
    CleanDrive();
    MakeDirectory(StartDir);
    if (code) {
        MakeDirectory("C:\\TELDAX");
        WriteBytes(CodeFile, code, size);
    }
    SetCwd(StartDir);
}

// RC.DAT holds exactly these bytes.
static void CheckCodeFileBytes(int line, const void* bytes, int size)
{
    unsigned char actual[64];
    int length = ReadBytes(CodeFile, actual, sizeof actual);
    OkAt(__FILE__, line, length == size && memcmp(actual, bytes, size) == 0, "RC.DAT is %s, expected %s",
         length < 0 ? "missing" : Show(actual, length), Show(bytes, size));
}

// RC.DAT holds exactly the written form of code: its characters, zero bytes
// up to 24.
static void CheckCodeFile(int line, const char* code)
{
    unsigned char expected[24] = {};
    memcpy(expected, code, strlen(code) < 24 ? strlen(code) : 24);
    CheckCodeFileBytes(line, expected, sizeof expected);
}

static void CheckMessage(int line, int index, HWND owner, const char* text, const char* title, UINT style)
{
    OkAt(__FILE__, line, MessageCount > index, "message %d not shown (%d shown)", index, MessageCount);
    if (MessageCount <= index)
        return;
    const MessageRecord& m = Messages[index];
    OkAt(__FILE__, line, strcmp(m.text, text) == 0, "text %s, expected %s", Show(m.text, strlen(m.text)),
         Show(text, strlen(text)));
    OkAt(__FILE__, line, strcmp(m.title, title) == 0, "title \"%s\", expected \"%s\"", m.title, title);
    OkAt(__FILE__, line, m.style == style, "style 0x%x, expected 0x%x", m.style, style);
    OkAt(__FILE__, line, m.owner == owner, "owner %p, expected %p", (void*)m.owner, (void*)owner);
}

static int RunBeforeInstall(const DialogAction* script, int count, HWND window = SetupWindow)
{
    ScriptDialog(script, count);
    return CallExport("BeforeInstall", window);
}

// --- The dialog ------------------------------------------------------------------

// A code typed on a fresh machine and OK pressed: what is stored, or what the
// dialog says about it (the dialog then stays open with the field as typed).
struct TypedCase {
    const char* typed;
    const char* stored;        // RC.DAT's code when accepted, else NULL
    const char* message;       // the refusal's text, else NULL
    const char* messageTitle;
};

static const TypedCase TypedCases[] = {
    {"john", "JOHN", NULL, NULL},
    {"MARY.ABC", "MARY.ABC", NULL, NULL},
    {"MARY.ABCD", NULL, TypeTooLongText, "Velloran - Too Many Characters"},
    {"A.B.X", "A.B.X", NULL, NULL},
    {".ABC", ".ABC", NULL, NULL},
    {"JOHN.", "JOHN.", NULL, NULL},
    {"jo hn", "JO HN", NULL, NULL},
    {"   ", "   ", NULL, NULL},
    {"Jo/hn", NULL, InvalidCharactersText, "Velloran - Invalid Characters"},
    {"C:JOHN", NULL, InvalidCharactersText, "Velloran - Invalid Characters"},
    {"A|B", NULL, InvalidCharactersText, "Velloran - Invalid Characters"},
    {"back\\slash", NULL, InvalidCharactersText, "Velloran - Invalid Characters"},
    {"st*r?", NULL, InvalidCharactersText, "Velloran - Invalid Characters"},
    {"\"q\"", NULL, InvalidCharactersText, "Velloran - Invalid Characters"},
    {"<a>", NULL, InvalidCharactersText, "Velloran - Invalid Characters"},
    // A forbidden character and a long type: only the first rule is reported.
    {"a:b.long", NULL, InvalidCharactersText, "Velloran - Invalid Characters"},
    // Letters outside ASCII are accepted as they are and not upper-cased.
    {"ren\xe9" "e", "REN\xe9" "E", NULL, NULL},
    // The 25th character cannot be typed: the field keeps 24.
    {"abcdefghijklmnopqrstuvwxyz", "ABCDEFGHIJKLMNOPQRSTUVWX", NULL, NULL},
    {"abcdefghijklmnopqrst.txt", "ABCDEFGHIJKLMNOPQRST.TXT", NULL, NULL},
    {"abcdefghijklmnopqrs.text", NULL, TypeTooLongText, "Velloran - Too Many Characters"},
};

static void test_typed_codes()
{
    for (const TypedCase& c : TypedCases) {
        SetContext("typed \"%s\"", c.typed);
        LoadLibraryUnderTest();
        PrepareDisk();
        DialogAction script[] = {{TypeText, c.typed}, {ClickOk, NULL}, {ClickCancel, NULL}};
        int status = RunBeforeInstall(script, 3);
        char typedInField[64];
        lstrcpynA(typedInField, c.typed, 25);
        ok(strcmp(Dialog.fieldAfterOk, typedInField) == 0, "field shows \"%s\" after OK, expected \"%s\"",
           Dialog.fieldAfterOk, typedInField);
        if (c.stored) {
            ok(status == 2, "status %d, expected 2", status);
            ok(MessageCount == 0, "%d messages shown, first \"%s\"", MessageCount, Messages[0].title);
            CheckCodeFile(__LINE__, c.stored);
            char reporterDir[64];
            snprintf(reporterDir, sizeof reporterDir, "C:\\%s", c.stored);
            ok(DirectoryExists(reporterDir), "%s not created", reporterDir);
            ok(_stricmp(Cwd(), "C:\\TELDAX") == 0, "current directory %s", Cwd());
        } else {
            ok(status == 0, "status %d, expected 0 after Cancel", status);
            ok(MessageCount == 1, "%d messages shown, expected 1", MessageCount);
            CheckMessage(__LINE__, 0, Dialog.window, c.message, c.messageTitle, MB_OK | MB_ICONINFORMATION);
            ok(!FileExists(CodeFile) && !DirectoryExists("C:\\TELDAX"), "something was written");
            ok(_stricmp(Cwd(), StartDir) == 0, "current directory %s", Cwd());
        }
    }
    ClearContext();
}

static void test_dialog_as_shown()
{
    LoadLibraryUnderTest();
    PrepareDisk();
    DialogAction script[] = {{ClickCancel, NULL}};
    RunBeforeInstall(script, 1);
    ok(Dialog.shown == 1, "dialog shown %d times", Dialog.shown);
    ok(strcmp(Dialog.caption, "Reporter Code") == 0, "caption \"%s\"", Dialog.caption);
    ok(Dialog.owner == SetupWindow, "owner %p, expected the setup window %p", (void*)Dialog.owner,
       (void*)SetupWindow);
    ok(Dialog.fieldAtOpen[0] == '\0', "field starts with \"%s\"", Dialog.fieldAtOpen);
    ok(Dialog.focusOnField, "keyboard focus is not on the code field");
    ok(Dialog.askedForeground, "the dialog did not ask to come to the front");

    // With a null window the dialog has no owner, and still comes to the
    // front: in a silent installation nothing else of the setup shows.
    LoadLibraryUnderTest();
    PrepareDisk();
    RunBeforeInstall(script, 1, NULL);
    ok(Dialog.shown == 1 && Dialog.owner == NULL, "shown %d, owner %p", Dialog.shown, (void*)Dialog.owner);
    ok(Dialog.askedForeground, "the unowned dialog did not ask to come to the front");
}

// Every way of leaving the dialog but OK ends it with nothing written, even
// with a valid code in the field.
static void test_dialog_cancelled()
{
    static const struct {
        const char* name;
        DialogActionKind action;
    } ways[] = {{"Cancel", ClickCancel}, {"Esc", PressEscape}, {"close box", CloseBox}};
    for (const auto& way : ways) {
        for (int folderExists = 0; folderExists < 2; ++folderExists) {
            SetContext("%s, install folder %s", way.name, folderExists ? "exists" : "missing");
            LoadLibraryUnderTest();
            PrepareDisk();
            if (folderExists)
                MakeDirectory("C:\\TELDAX");
            DialogAction script[] = {{TypeText, "john"}, {way.action, NULL}};
            int status = RunBeforeInstall(script, 2);
            ok(status == 0, "status %d", status);
            ok(!Dialog.scriptRanOut, "the dialog did not end");
            ok(MessageCount == 0, "%d messages", MessageCount);
            ok(!FileExists(CodeFile) && !DirectoryExists("C:\\JOHN"), "something was written");
            ok(DirectoryExists("C:\\TELDAX") == (folderExists != 0), "install folder changed");
            const char* expectedDir = folderExists ? "C:\\TELDAX" : StartDir;
            ok(_stricmp(Cwd(), expectedDir) == 0, "current directory %s, expected %s", Cwd(), expectedDir);
        }
    }
    ClearContext();
}

static void test_dialog_corrections()
{
    // OK on an empty field: the message, owned by the dialog, and it stays open.
    LoadLibraryUnderTest();
    PrepareDisk();
    DialogAction empty[] = {{ClickOk, NULL}, {TypeText, "amy"}, {PressEnter, NULL}};
    int status = RunBeforeInstall(empty, 3);
    ok(status == 2, "status %d", status);
    CheckMessage(__LINE__, 0, Dialog.window, "You must enter your reporter code.", "Velloran - Error",
                 MB_OK | MB_ICONINFORMATION);
    ok(Messages[0].dialogOpen, "the dialog was not open at the message");
    CheckCodeFile(__LINE__, "AMY");

    // A refused code stays in the field as typed; corrected, it is accepted.
    LoadLibraryUnderTest();
    PrepareDisk();
    DialogAction fix[] = {{TypeText, "jo/hn"}, {ClickOk, NULL}, {Snapshot, NULL}, {ClearField, NULL},
                          {Snapshot, NULL},     {TypeText, "jo"}, {ClickOk, NULL}};
    status = RunBeforeInstall(fix, 7);
    ok(status == 2, "status %d", status);
    ok(strcmp(Dialog.snapshots[0], "jo/hn") == 0, "field after refusal \"%s\"", Dialog.snapshots[0]);
    ok(Dialog.snapshots[1][0] == '\0', "field after clearing \"%s\"", Dialog.snapshots[1]);
    ok(MessageCount == 1, "%d messages", MessageCount);
    CheckCodeFile(__LINE__, "JO");
    ok(DirectoryExists("C:\\JO"), "C:\\JO not created");

    // Pasting cannot get past the field's limit either.
    LoadLibraryUnderTest();
    PrepareDisk();
    DialogAction paste[] = {{PasteText, "pastedpastedpastedpasted+more"}, {Snapshot, NULL}, {ClickOk, NULL}};
    status = RunBeforeInstall(paste, 3);
    ok(strcmp(Dialog.snapshots[0], "pastedpastedpastedpasted") == 0, "field after paste \"%s\"",
       Dialog.snapshots[0]);
    ok(status == 2, "status %d", status);
    CheckCodeFile(__LINE__, "PASTEDPASTEDPASTEDPASTED");
}

// The name rules for texts the field cannot produce, and the silent mode.
static void test_validate_file_name()
{
    RecordMessageBoxesOf(GetModuleHandleA(NULL));
    static const struct {
        const char* name;
        int valid;
        const char* message;
    } cases[] = {
        {"ABCDEFGHIJKLMNOPQRSTUVWXY", 0, NameTooLongText},
        {"ABCDEFGHIJKLMNOPQRSTUVWX", 1, NULL},
        {"ABCDEFGHIJKLMNOPQRSTUVWXY.TXT", 0, NameTooLongText},
        {"ABCDEFGHIJKLMNOPQRSTUVWXY.TEXT", 0, NameTooLongText},
        {"A:BCDEFGHIJKLMNOPQRSTUVWXYZ", 0, InvalidCharactersText},
        {"", 1, NULL},
        {"CON", 1, NULL},
        {"x.", 1, NULL},
        {".", 1, NULL},
    };
    HWND owner = SetupWindow;
    for (const auto& c : cases) {
        SetContext("ValidateFileName(\"%s\")", c.name);
        MessageCount = 0;
        int valid = ValidateFileName(owner, c.name, 1);
        ok(valid == c.valid, "returned %d", valid);
        ok(MessageCount == (c.message ? 1 : 0), "%d messages", MessageCount);
        if (c.message)
            CheckMessage(__LINE__, 0, owner,
                         c.message, c.message == InvalidCharactersText ? "Velloran - Invalid Characters"
                                                                        : "Velloran - Too Many Characters",
                         MB_OK | MB_ICONINFORMATION);
        MessageCount = 0;
        valid = ValidateFileName(owner, c.name, 0);
        ok(valid == c.valid && MessageCount == 0, "silent: returned %d with %d messages", valid, MessageCount);
    }
    ClearContext();
}

// --- BeforeInstall with a stored code ---------------------------------------------------

struct StoredCase {
    const char* what;
    const char* bytes;
    int size;
};

static const StoredCase StoredCases[] = {
    {"short form", "MARY\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 24},
    {"long form", "C:\\MARY\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 24},
    {"lower case", "mary\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 24},
    {"24 characters, no zero", "ABCDEFGHIJKLMNOPQRSTUVWX", 24},
    {"long form over 28 bytes", "D:\\ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", 39},
    {"empty", "", 0},
    {"one byte", "M", 1},
    {"second byte ':' only", "X:", 2},
    {"all 0xFF", "\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff"
                 "\xff\xff\xff\xff\xff\xff\xff\xff", 32},
};

static void test_stored_code()
{
    for (const StoredCase& c : StoredCases) {
        SetContext("RC.DAT %s", c.what);
        LoadLibraryUnderTest();
        PrepareDisk(c.bytes, c.size);
        int status = RunBeforeInstall(NULL, 0);
        ok(status == 1, "status %d", status);
        ok(Dialog.shown == 0, "the dialog was shown");
        ok(MessageCount == 0, "%d messages", MessageCount);
        CheckCodeFileBytes(__LINE__, c.bytes, c.size);
        ok(!DirectoryExists("C:\\MARY"), "a reporter directory was created");
        ok(_stricmp(Cwd(), "C:\\TELDAX") == 0, "current directory %s", Cwd());
        ok(CallCount("WriteFile") == 0 && CallCount("CreateDirectoryA") == 0, "%d writes, %d directories made",
           CallCount("WriteFile"), CallCount("CreateDirectoryA"));
        ok(CallCount("CreateFileA") == CallCount("CloseHandle"), "%d opens but %d closes",
           CallCount("CreateFileA"), CallCount("CloseHandle"));
    }
    ClearContext();
}

// An existing install folder without RC.DAT asks for a code and keeps what
// the folder holds.
static void test_folder_without_code()
{
    LoadLibraryUnderTest();
    PrepareDisk();
    MakeDirectory("C:\\TELDAX");
    WriteBytes("C:\\TELDAX\\vell.exe", "MZ", 2);
    DialogAction script[] = {{TypeText, "john"}, {ClickOk, NULL}};
    int status = RunBeforeInstall(script, 2);
    ok(status == 2, "status %d", status);
    CheckCodeFile(__LINE__, "JOHN");
    ok(FileExists("C:\\TELDAX\\vell.exe"), "the folder's file is gone");
    ok(DirectoryExists("C:\\JOHN"), "C:\\JOHN not created");
}

// Once a call has asked for a code, every later call in the process asks
// again; a fresh load starts over.
static void test_new_code_is_sticky()
{
    LoadLibraryUnderTest();
    PrepareDisk();
    DialogAction john[] = {{TypeText, "john"}, {ClickOk, NULL}};
    ok(RunBeforeInstall(john, 2) == 2, "first call");

    DialogAction mary[] = {{TypeText, "mary"}, {ClickOk, NULL}};
    int status = RunBeforeInstall(mary, 2);
    ok(status == 2, "second call: status %d", status);
    ok(Dialog.shown == 1 && Dialog.fieldAtOpen[0] == '\0', "second call: shown %d, field \"%s\"", Dialog.shown,
       Dialog.fieldAtOpen);
    CheckCodeFile(__LINE__, "MARY");

    DialogAction cancel[] = {{TypeText, "sue"}, {ClickCancel, NULL}};
    status = RunBeforeInstall(cancel, 2);
    ok(status == 0 && Dialog.shown == 1, "third call: status %d, shown %d", status, Dialog.shown);
    CheckCodeFile(__LINE__, "MARY");

    LoadLibraryUnderTest();
    status = RunBeforeInstall(NULL, 0);
    ok(status == 1 && Dialog.shown == 0, "after a reload: status %d, shown %d", status, Dialog.shown);

    // A process that found its code never asks.
    status = RunBeforeInstall(NULL, 0);
    ok(status == 1 && Dialog.shown == 0, "second stored call: status %d, shown %d", status, Dialog.shown);
}

// --- The legacy import --------------------------------------------------------------------

static void WritePif(int size, const char* startupDir, int dirBytes = -1)
{
    static unsigned char pif[2048];
    memset(pif, 0x5A, sizeof pif);
    memset(pif + 101, 0, 64);
    if (startupDir)
        memcpy(pif + 101, startupDir, dirBytes >= 0 ? dirBytes : (int)strlen(startupDir));
    WriteBytes(PifFile, pif, size);
}

struct ImportCase {
    const char* what;
    int pifSize;               // 0: no TRAN.PIF
    const char* startupDir;
    int dirBytes;              // -1: the text's length
    bool storedCodeRead;       // an earlier call of the same load read "MARY" from RC.DAT
    const char* imported;      // the code RC.DAT then holds; NULL: missing file
    const char* traced;        // what the trace says of TRAN.PIF
};

// A file that gives no code stops the installation rather than have an empty
// code written over RC.DAT; a code read earlier in the same load is stored
// instead, since that is the code the file would otherwise be written with.
static const ImportCase ImportCases[] = {
    {"old code", 900, "C:\\jan", -1, false, "JAN", "code imported from C:\\TELDAX\\TRAN.PIF: \"JAN\""},
    {"longer file", 1500, "C:\\old.one", -1, false, "OLD.ONE", "code imported from C:\\TELDAX\\TRAN.PIF: \"OLD.ONE\""},
    {"other drive", 900, "D:\\Ann", -1, false, "ANN", "code imported from C:\\TELDAX\\TRAN.PIF: \"ANN\""},
    {"field without a zero", 900, "C:\\ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", 64, false,
     "ABCDEFGHIJKLMNOPQRSTUVWX", "TRAN.PIF: \"ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZ012345678\""},
    {"four characters", 900, "C:\\x", -1, false, "X", "TRAN.PIF: \"X\""},
    {"old code after a stored code read", 900, "C:\\jan", -1, true, "JAN",
     "code imported from C:\\TELDAX\\TRAN.PIF: \"JAN\""},
    {"no TRAN.PIF", 0, NULL, -1, false, NULL,
     "required file missing: C:\\TELDAX\\TRAN.PIF cannot be opened (error 2)"},
    {"899 bytes", 899, "C:\\jan", -1, false, NULL,
     "required file missing: C:\\TELDAX\\TRAN.PIF gives no code (899 of 900 bytes read) and no code is held"},
    {"empty file", 1, NULL, -1, false, NULL, "TRAN.PIF gives no code (1 of 900 bytes read) and no code is held"},
    {"100 bytes in a fresh load", 100, NULL, -1, false, NULL,
     "TRAN.PIF gives no code (100 of 900 bytes read) and no code is held"},
    {"100 bytes after a stored code read", 100, NULL, -1, true, "MARY",
     "C:\\TELDAX\\TRAN.PIF gives no code (100 of 900 bytes read): the code held from earlier in this load is "
     "stored: \"MARY\""},
    {"start-up directory of 3 characters", 900, "C:\\", -1, false, NULL,
     "TRAN.PIF gives no code (start-up directory \"C:\\\")"},
    {"start-up directory of 3 characters after a stored code read", 900, "C:\\", -1, true, NULL,
     "TRAN.PIF gives no code (start-up directory \"C:\\\")"},
    {"empty start-up directory", 900, "", -1, false, NULL, "TRAN.PIF gives no code (start-up directory \"\")"},
};

static void test_legacy_import()
{
    static const char stored[24] = "KEEP";
    static const char mary[24] = "MARY";
    for (const ImportCase& c : ImportCases) {
        SetContext("TRAN.PIF: %s", c.what);
        LoadLibraryUnderTest();
        if (c.storedCodeRead) {
            PrepareDisk(mary, sizeof mary);
            int first = RunBeforeInstall(NULL, 0);
            ok(first == 1, "the call that reads the stored code: status %d", first);
            SetCwd(StartDir);
        }
        // RC.DAT now holds other bytes, so that a file written from the
        // code read before is told from one left alone.
        PrepareDisk(stored, sizeof stored);
        if (c.pifSize)
            WritePif(c.pifSize, c.startupDir, c.dirBytes);
        // RC.DAT is there at the probe but cannot be opened the second time.
        FailCall("CreateFileA", 2, "RC.DAT", ERROR_SHARING_VIOLATION);
        int status = RunBeforeInstall(NULL, 0);
        ClearFaults();
        ok(Traced("C:\\TELDAX\\RC.DAT found but cannot be opened again (error 32): importing the code from TRAN.PIF") &&
               Traced(c.traced),
           "no trace line \"%s\" in:\n%s", c.traced, TraceText());
        ok(Dialog.shown == 0, "the dialog was shown");
        ok(_stricmp(Cwd(), "C:\\TELDAX") == 0, "current directory %s", Cwd());
        if (c.imported) {
            ok(status == 1, "status %d", status);
            ok(MessageCount == 0, "%d messages", MessageCount);
            CheckCodeFile(__LINE__, c.imported);
        } else {
            ok(status == 0, "status %d", status);
            ok(MessageCount == 1, "%d messages", MessageCount);
            CheckMessage(__LINE__, 0, SetupWindow, "A required file is missing.", "Velloran - Missing File",
                         MB_OK);
            CheckCodeFileBytes(__LINE__, stored, sizeof stored);
        }
    }
    ClearContext();
}

// --- Names put in the library's way ---------------------------------------------------------

// A file outside C:\TELDAX that RC.DAT is made a second name of.
static const char Victim[] = "C:\\elsewhere\\victim.dat";

// RC.DAT made a second name of Victim.
static void PlantCodeFileLink()
{
    DeleteFileA(CodeFile);
    MakeHardLink(CodeFile, Victim);
}

// RC.DAT as a second name of a file outside C:\TELDAX, read at the probe, or
// written by the import and by a new code, and a C:\TELDAX that leads to
// another folder: the file elsewhere keeps its bytes and no RC.DAT is made
// there; the statuses are those of an RC.DAT that cannot be opened, or
// created.
static void test_planted_code_file()
{
    static const char kept[24] = "KEEP";
    static const DialogAction john[] = {{TypeText, "john"}, {ClickOk, NULL}};
    static const struct {
        const char* name;
        bool folderLink;   // else RC.DAT is a hard link to Victim
        bool newCode;      // else imported from TRAN.PIF
        bool linkAtProbe;  // a new code's hard link opened at the probe, else its open fails there
        int status;
        const char* traced;
    } cases[] = {
        // A plain RC.DAT at the probe, made a hard link before the import writes.
        {"imported over a hard link", false, false, false, 1,
         "C:\\TELDAX\\RC.DAT not written: it has 2 names (a hard link)"},
        {"new code over a hard link", false, true, false, 2, "RC.DAT not written: it has 2 names (a hard link)"},
        // Not read at the probe, as a file that cannot be opened: a new code.
        {"a hard link at the probe", false, true, true, 2,
         "C:\\TELDAX\\RC.DAT not read: it has 2 names (a hard link)"},
        {"new code in a C:\\TELDAX that leads elsewhere", true, true, false, 2,
         "nothing written in C:\\TELDAX: it is a reparse point"},
    };
    for (const auto& c : cases) {
        SetContext("planted: %s", c.name);
        LoadLibraryUnderTest();
        PrepareDisk();
        MakeDirectory("C:\\elsewhere");
        WriteBytes(Victim, kept, sizeof kept);
        if (c.folderLink) {
            MakeFolderLink("C:\\TELDAX", "C:\\elsewhere");
        } else if (c.newCode) {
            MakeDirectory("C:\\TELDAX");
            MakeHardLink(CodeFile, Victim);
            // RC.DAT fails to open at the probe, or is refused there.
            if (!c.linkAtProbe)
                FailCall("CreateFileA", 1, "RC.DAT", ERROR_SHARING_VIOLATION);
        } else {
            MakeDirectory("C:\\TELDAX");
            WriteBytes(CodeFile, "MARY", 4);
            WritePif(900, "C:\\jan");
            // RC.DAT fails to open the second time: the import, which finds
            // a hard link in its place when it writes.
            FailCall("CreateFileA", 2, "RC.DAT", ERROR_SHARING_VIOLATION);
            RaceBefore("ReadFile", "TRAN.PIF", PlantCodeFileLink);
        }
        int status = RunBeforeInstall(john, c.newCode ? 2 : 0);
        ClearFaults();
        ok(status == c.status, "status %d, expected %d", status, c.status);
        ok(Traced(c.traced) != NULL, "no trace line \"%s\" in:\n%s", c.traced, TraceText());
        if (c.folderLink) {
            ok(!FileExists("C:\\elsewhere\\RC.DAT"), "RC.DAT made in the folder C:\\TELDAX leads to");
            RemoveFolderLink("C:\\TELDAX");
        }
        unsigned char victim[64];
        int length = ReadBytes(Victim, victim, sizeof victim);
        ok(length == sizeof kept && memcmp(victim, kept, sizeof kept) == 0, "the file elsewhere is %s",
           Show(victim, length > 0 ? length : 0));
    }
    ClearContext();
}

// RC.DAT swapped for a hard link to a file outside C:\TELDAX just before the
// library writes the code through the handle it checked, on both paths that
// write it. That handle holds the file, so the swap fails: the file elsewhere
// keeps its bytes and RC.DAT holds the code.
static int SwapTries, Swapped;

static void SwapCodeFile()
{
    ++SwapTries;
    Swapped += SwapForHardLink(CodeFile, Victim);
}

static void test_code_file_swapped_during_write()
{
    static const char kept[24] = "KEEP";
    static const DialogAction john[] = {{TypeText, "john"}, {ClickOk, NULL}};
    for (int newCode = 0; newCode < 2; ++newCode) {
        SetContext("RC.DAT swapped just before the write of %s", newCode ? "a new code" : "an imported code");
        LoadLibraryUnderTest();
        if (newCode) {
            PrepareDisk();
            MakeDirectory("C:\\TELDAX");  // without RC.DAT: the dialog asks
        } else {
            PrepareDisk(kept, sizeof kept);
            WritePif(900, "C:\\jan");
            FailCall("CreateFileA", 2, "RC.DAT", ERROR_SHARING_VIOLATION);
        }
        MakeDirectory("C:\\elsewhere");
        WriteBytes(Victim, kept, sizeof kept);
        FileState victimBefore = StateOf(Victim);
        RaceBefore("WriteFile", "RC.DAT", SwapCodeFile);
        SwapTries = Swapped = 0;
        int status = RunBeforeInstall(john, newCode ? 2 : 0);
        ClearFaults();
        ok(status == (newCode ? 2 : 1), "status %d", status);
        ok(SwapTries == 1 && Swapped == 0, "%d swaps tried, %d succeeded", SwapTries, Swapped);
        ok(SameState(StateOf(Victim), victimBefore), "the file elsewhere changed: %s",
           Show(StateOf(Victim).bytes, StateOf(Victim).length));
        CheckCodeFile(__LINE__, newCode ? "JOHN" : "JAN");
    }
    ClearContext();
}

// --- Where RC.DAT lies, and how it is made --------------------------------------------------

// Before the import writes RC.DAT, the file is gone, so that the write makes
// it anew.
static void DeleteCodeFile()
{
    DeleteFileA(CodeFile);
}

// RC.DAT reported on another volume from the import's read of TRAN.PIF on.
static void ReportCodeFileElsewhere()
{
    ReportVolumeDevice("RC.DAT", L"\\Device\\AnotherVolume");
}

// A BeforeInstall that writes RC.DAT: a new code typed into a fresh machine,
// or the import from TRAN.PIF over a stored RC.DAT that cannot be opened a
// second time; beforeImportRead (if not NULL) runs just before the import
// reads TRAN.PIF.
static int RunWritingCode(bool newCode, void (*beforeImportRead)())
{
    static const DialogAction john[] = {{TypeText, "john"}, {ClickOk, NULL}};
    static const char stored[24] = "MARY";
    if (newCode) {
        PrepareDisk();
        return RunBeforeInstall(john, 2);
    }
    PrepareDisk(stored, sizeof stored);
    WritePif(900, "C:\\jan");
    FailCall("CreateFileA", 2, "RC.DAT", ERROR_SHARING_VIOLATION);
    if (beforeImportRead)
        RaceBefore("ReadFile", "TRAN.PIF", beforeImportRead);
    int status = RunBeforeInstall(NULL, 0);
    ClearFaults();
    return status;
}

// An RC.DAT whose handle says that it lies outside the folder that was
// checked, or a folder whose handle names another one: RC.DAT is not written
// there, one made for the write goes again, the status is that of an RC.DAT
// that cannot be created.
static void test_code_file_outside_its_folder()
{
    static const struct {
        const char* name;
        bool newCode;
        const char* pathPart;
        const WCHAR* reportedName;
        bool otherVolume;
        const char* traced;
    } cases[] = {
        {"a new code's RC.DAT made elsewhere on the volume", true, "RC.DAT", L"\\elsewhere\\RC.DAT", false,
         "RC.DAT not written: its handle names \"\\elsewhere\\RC.DAT\""},
        {"a new code's RC.DAT made on another volume", true, "RC.DAT", NULL, true,
         "RC.DAT not written: it lies on another volume"},
        {"a new code in a folder whose handle names another one", true, "TELDAX", L"\\elsewhere", false,
         "nothing written in C:\\TELDAX: its handle names \"\\elsewhere\""},
        // Reported from the import's read of TRAN.PIF on, after RC.DAT was
        // read at the probe.
        {"the imported code over an RC.DAT on another volume", false, "RC.DAT", NULL, true,
         "C:\\TELDAX\\RC.DAT not written: it lies on another volume"},
    };
    for (const auto& c : cases) {
        SetContext("RC.DAT outside its folder: %s", c.name);
        LoadLibraryUnderTest();
        if (c.reportedName)
            ReportFileName(c.pathPart, c.reportedName);
        if (c.otherVolume && c.newCode)
            ReportVolumeDevice(c.pathPart, L"\\Device\\AnotherVolume");
        int status = RunWritingCode(c.newCode, c.otherVolume && !c.newCode ? ReportCodeFileElsewhere : NULL);
        UseRealFileNames();
        ok(status == (c.newCode ? 2 : 1), "status %d", status);
        ok(Traced(c.traced) != NULL, "no trace line \"%s\" in:\n%s", c.traced, TraceText());
        if (c.newCode) {
            ok(!FileExists(CodeFile), "RC.DAT made for the write stays");
        } else {
            static const char stored[24] = "MARY";
            CheckCodeFileBytes(__LINE__, stored, sizeof stored);
        }
    }
    ClearContext();
}

// From Windows 2000 on, every open that may make RC.DAT carries
// FILE_FLAG_OPEN_REPARSE_POINT, on both paths that write it; NT 4.0 has no
// such flag. RC.DAT is made anew each time.
static void test_code_file_create_flags()
{
    static const struct {
        const char* name;
        DWORD major, minor;
        bool flag;
    } versions[] = {{"Windows 2000", 5, 0, true}, {"Windows 7", 6, 1, true}, {"NT 4.0", 4, 0, false}};
    for (const auto& v : versions) {
        for (int newCode = 0; newCode < 2; ++newCode) {
            SetContext("RC.DAT made on %s by %s", v.name, newCode ? "a new code" : "the import");
            LoadLibraryUnderTest();
            ReportVersion(v.major, v.minor, VER_PLATFORM_WIN32_NT);
            // The import finds no RC.DAT when it writes.
            int status = RunWritingCode(newCode != 0, DeleteCodeFile);
            UseRealVersion();
            ok(status == (newCode ? 2 : 1), "status %d", status);
            CheckCodeFile(__LINE__, newCode ? "JOHN" : "JAN");
            int creates = CheckCreateFlags(v.flag);
            ok(creates == 1, "%d opens made a file", creates);
        }
    }
    ClearContext();
}

// On Windows 95, 98 and Me nothing is held or checked: RC.DAT is opened
// once to be written, as a plain write opens it, and written through it.
static void test_code_file_on_9x()
{
    SetContext("RC.DAT on the 9x family");
    LoadLibraryUnderTest();
    ReportVersion(4, 10, VER_PLATFORM_WIN32_WINDOWS);
    int status = RunWritingCode(true, NULL);
    UseRealVersion();
    ok(status == 2, "status %d", status);
    CheckCodeFile(__LINE__, "JOHN");
    ok(CallCount("GetFileInformationByHandle") + CallCount("NtQueryInformationFile") == 0, "%d files checked",
       CallCount("GetFileInformationByHandle") + CallCount("NtQueryInformationFile"));
    int writes = 0;
    for (int i = 0; i < OpenCount && i < (int)ARRAYSIZE(Opens); ++i) {
        const OpenRecord& r = Opens[i];
        ok(!(r.flags & FILE_FLAG_BACKUP_SEMANTICS), "%s opened as a folder", r.path);
        if (r.disposition == OPEN_EXISTING && r.access == GENERIC_READ)
            continue;  // the reads of RC.DAT
        ++writes;
        ok(strcmp(r.path, "RC.DAT") == 0 && r.access == GENERIC_WRITE && r.share == FILE_SHARE_WRITE &&
               r.disposition == CREATE_ALWAYS && r.flags == FILE_ATTRIBUTE_NORMAL,
           "%s opened for 0x%08lx, sharing 0x%lx, disposition %lu, flags 0x%08lx", r.path, r.access, r.share,
           r.disposition, r.flags);
    }
    ok(writes == 1, "%d opens to write", writes);
    ClearContext();
}

// --- Platform calls that fail -----------------------------------------------------------

static void test_failing_calls()
{
    static const char stored[24] = "MARY";

    SetContext("GetVersionExA fails");
    LoadLibraryUnderTest();
    PrepareDisk(stored, sizeof stored);
    FailCall("GetVersionExA");
    int status = RunBeforeInstall(NULL, 0);
    ok(status == 1 && MessageCount == 0, "status %d, %d messages", status, MessageCount);
    ClearFaults();

    SetContext("dialog cannot be made");
    LoadLibraryUnderTest();
    PrepareDisk();
    FailCall("DialogBoxParamA");
    status = RunBeforeInstall(NULL, 0);
    ok(status == 0 && MessageCount == 0, "status %d, %d messages", status, MessageCount);
    ok(!DirectoryExists("C:\\TELDAX"), "the install folder was made");
    ClearFaults();

    SetContext("install folder cannot be entered");
    LoadLibraryUnderTest();
    PrepareDisk(stored, sizeof stored);
    FailCall("SetCurrentDirectoryA", 0, "TELDAX");
    DialogAction john[] = {{TypeText, "john"}, {ClickOk, NULL}};
    status = RunBeforeInstall(john, 2);
    ClearFaults();
    ok(status == 2 && Dialog.shown == 1, "status %d, shown %d", status, Dialog.shown);
    // RC.DAT goes into the directory that is current instead.
    ok(FileExists("C:\\start\\RC.DAT"), "RC.DAT not written in the current directory");
    CheckCodeFileBytes(__LINE__, stored, sizeof stored);

    SetContext("RC.DAT cannot be written");
    LoadLibraryUnderTest();
    PrepareDisk();
    FailCall("CreateFileA", 0, "RC.DAT");
    status = RunBeforeInstall(john, 2);
    ClearFaults();
    ok(status == 2 && MessageCount == 0, "status %d, %d messages", status, MessageCount);
    ok(!FileExists(CodeFile) && DirectoryExists("C:\\JOHN"), "RC.DAT written or C:\\JOHN missing");

    SetContext("RC.DAT cannot be read");
    LoadLibraryUnderTest();
    PrepareDisk(stored, sizeof stored);
    FailCall("ReadFile", 0, "RC.DAT");
    status = RunBeforeInstall(NULL, 0);
    ClearFaults();
    ok(status == 1 && MessageCount == 0 && Dialog.shown == 0, "status %d, %d messages", status, MessageCount);
    CheckCodeFileBytes(__LINE__, stored, sizeof stored);
    ClearContext();
}

// --- The install folder's security --------------------------------------------------

static void Windows98()
{
    ReportVersion(4, 10, 1);
}
// NT 4.0's advapi32 has no SetSecurityDescriptorControl.
static void WindowsNT4()
{
    ReportVersion(4, 0, 2);
    FailCall("GetProcAddress", 0, "SetSecurityDescriptorControl", ERROR_PROC_NOT_FOUND);
}
// A setup program that is not elevated may not make Administrators the owner.
static void NotAnAdministrator()
{
    FailCall("CreateDirectoryA", 1, "TELDAX", ERROR_INVALID_OWNER);
}

// The security descriptor the library passes to CreateDirectoryA for
// C:\TELDAX when a new code is stored on a fresh machine, as SDDL: owner
// Administrators, SYSTEM and Administrators full control, Users read and
// execute, inherited by files and folders, protected from C:\'s ACEs where
// Windows can say so. C:\<code> is the user's data and gets none.
struct FolderSecurityCase {
    const char* name;
    void (*prepare)();
    const char* sddl;  // NULL: made with no descriptor (the default security)
    const char* traced;
};
static const FolderSecurityCase FolderSecurityCases[] = {
    {"Windows 7", NULL, "O:BA" ADMINISTRATORS_FOLDER_SDDL, "C:\\TELDAX created, writable by administrators only"},
    {"NT 4.0", WindowsNT4, "O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)",
     "advapi32.dll has no SetSecurityDescriptorControl (error 127)"},
    {"Windows 98", Windows98, NULL, "C:\\TELDAX created with the default security"},
    {"Administrators may not own it", NotAnAdministrator, NULL,
     "C:\\TELDAX cannot be owned by Administrators (error 1307)"},
};

static void test_install_folder_security()
{
    static const DialogAction john[] = {{TypeText, "john"}, {ClickOk, NULL}};
    for (const FolderSecurityCase& c : FolderSecurityCases) {
        SetContext("install folder's security, %s", c.name);
        LoadLibraryUnderTest();
        PrepareDisk();
        if (c.prepare)
            c.prepare();
        int status = RunBeforeInstall(john, 2);
        ClearFaults();
        UseRealVersion();
        ok(status == 2 && MessageCount == 0, "status %d, %d messages", status, MessageCount);
        CheckCodeFile(__LINE__, "JOHN");
        ok(DirectoryExists("C:\\JOHN"), "C:\\JOHN not created");
        const DirectoryRecord* folder = NULL;
        for (int i = 0; i < CreatedDirectoryCount && i < (int)ARRAYSIZE(CreatedDirectories); ++i) {
            const DirectoryRecord& r = CreatedDirectories[i];
            if (strcmp(r.path, "C:\\JOHN") == 0)
                ok(!r.withSecurity, "C:\\JOHN made with %s", r.sddl);
            else if (strcmp(r.path, "C:\\TELDAX") == 0)
                folder = &r;  // the last attempt made it
            else
                ok(false, "%s made", r.path);
        }
        ok(folder != NULL, "C:\\TELDAX not made");
        if (folder && c.sddl)
            ok(folder->withSecurity && strcmp(folder->sddl, c.sddl) == 0, "C:\\TELDAX made with \"%s\"",
               folder->withSecurity ? folder->sddl : "no descriptor");
        else if (folder)
            ok(!folder->withSecurity, "C:\\TELDAX made with \"%s\"", folder->sddl);
        ok(Traced(c.traced) != NULL, "no trace line \"%s\" in:\n%s", c.traced, TraceText());
    }
    ClearContext();
}

// --- The code from the setup program's command line ----------------------------------

// BeforeInstallWithCode as a setup program calls it: the code given (NULL:
// none), whether it runs silently, and what it finds on disk. The dialog,
// where it may open, types "john" and presses OK, or cancels.
struct GivenCodeCase {
    const char* what;
    const char* stored;       // RC.DAT's code before the call, or NULL for a fresh machine
    const char* given;
    bool silent;
    DWORD major, minor;       // the version reported
    bool cancel;              // the dialog, if it opens, is cancelled
    int status;
    const char* message;      // the line for the setup program's log
    const char* codeAfter;    // RC.DAT's code after the call, or NULL for none
    bool dialog;              // the dialog opened
    const char* box;          // the title of the one message box shown, or NULL
    DWORD options = 0;        // further options: VINSTALL_CHECK_ONLY and the like
};

#define REFUSED_DEVICE " refused: it is the name of a device (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9)"
#define REFUSED_END " refused: it ends in a dot or a blank, which Windows drops from a folder's name"
#define REFUSED_DOTS " refused: it consists of dots only, which name C:\\ itself"
#define REFUSED_CONTROL " refused: it holds a control character"
#define REFUSED_LONG " refused: it is longer than 24 characters, all that RC.DAT holds"
#define OTHER_CODE "another reporter code is stored: MARY is kept and the given code john was not used"

static const GivenCodeCase GivenCodeCases[] = {
    {"fresh machine, code given", NULL, "john", false, 6, 1, false, 2, "reporter code JOHN stored", "JOHN", false,
     NULL},
    {"fresh machine, code given, silent", NULL, "mary.abc", true, 6, 1, false, 2, "reporter code MARY.ABC stored",
     "MARY.ABC", false, NULL},
    // A code from the command line must name a folder of its own under C:\,
    // which the dialog's rules alone do not ask.
    {"code of blanks", NULL, "   ", true, 6, 1, false, 0, "reporter code    " REFUSED_END, NULL, false, NULL},
    {"device name", NULL, "con", true, 6, 1, false, 0, "reporter code CON" REFUSED_DEVICE, NULL, false, NULL},
    {"device name with a type", NULL, "Lpt1.txt", true, 6, 1, false, 0, "reporter code LPT1.TXT" REFUSED_DEVICE,
     NULL, false, NULL},
    {"device name, blanks before its type", NULL, "aux .log", true, 6, 1, false, 0,
     "reporter code AUX .LOG" REFUSED_DEVICE, NULL, false, NULL},
    {"device name COM9", NULL, "com9", true, 6, 1, false, 0, "reporter code COM9" REFUSED_DEVICE, NULL, false, NULL},
    {"device name with a superscript digit", NULL, "COM\xb9", true, 6, 1, false, 0,
     "reporter code COM\xb9" REFUSED_DEVICE, NULL, false, NULL},
    {"COM10 is no device", NULL, "com10", true, 6, 1, false, 2, "reporter code COM10 stored", "COM10", false, NULL},
    {"CONSOLE is no device", NULL, "console", true, 6, 1, false, 2, "reporter code CONSOLE stored", "CONSOLE", false,
     NULL},
    {"one dot", NULL, ".", true, 6, 1, false, 0, "reporter code ." REFUSED_DOTS, NULL, false, NULL},
    {"two dots", NULL, "..", true, 6, 1, false, 0, "reporter code .." REFUSED_DOTS, NULL, false, NULL},
    {"a dot at the end", NULL, "john.", true, 6, 1, false, 0, "reporter code JOHN." REFUSED_END, NULL, false, NULL},
    {"a blank at the end", NULL, "john ", true, 6, 1, false, 0, "reporter code JOHN " REFUSED_END, NULL, false, NULL},
    {"a tab", NULL, "A\tB", true, 6, 1, false, 0, "reporter code A?B" REFUSED_CONTROL, NULL, false, NULL},
    {"a carriage return", NULL, "A\rcompleted", true, 6, 1, false, 0, "reporter code A?COMPLETED" REFUSED_CONTROL,
     NULL, false, NULL},
    {"DEL", NULL, "A\x7f", true, 6, 1, false, 0, "reporter code A?" REFUSED_CONTROL, NULL, false, NULL},
    // Typed into the dialog of an earlier call that only checked: the
    // dialog's rules alone, which let a device name through.
    {"a typed code passed on", NULL, "con", true, 6, 1, false, 2, "reporter code CON stored", "CON", false, NULL,
     VINSTALL_TYPED_CODE},
    {"forbidden character", NULL, "A/B", false, 6, 1, false, 0,
     "reporter code A/B refused: The file name contains invalid characters. The file name may not include any of "
     "the following characters:  \\/:*?\"<>|",
     NULL, false, NULL},
    {"type too long", NULL, "mary.abcd", true, 6, 1, false, 0,
     "reporter code MARY.ABCD refused: The file type has too many characters.  The maximum number of characters "
     "is 3.",
     NULL, false, NULL},
    {"25 characters", NULL, "abcdefghijklmnopqrstuvwxy", true, 6, 1, false, 0,
     "reporter code ABCDEFGHIJKLMNOPQRSTUVWXY refused: The file name has too many characters.  The maximum number "
     "of characters is 24.",
     NULL, false, NULL},
    // RC.DAT holds 24 bytes: a code within the name rules (a base of up to
    // 24, a type of up to 3) but longer than that is refused, typed or not;
    // one of exactly 24 is stored whole.
    {"24 characters with a type", NULL, "abcdefghijklmnopqrst.abc", true, 6, 1, false, 2,
     "reporter code ABCDEFGHIJKLMNOPQRST.ABC stored", "ABCDEFGHIJKLMNOPQRST.ABC", false, NULL},
    {"25 characters with a type", NULL, "abcdefghijklmnopqrstu.abc", true, 6, 1, false, 0,
     "reporter code ABCDEFGHIJKLMNOPQRSTU.ABC" REFUSED_LONG, NULL, false, NULL},
    {"28 characters", NULL, "ABCDEFGHIJKLMNOPQRSTUVWX.ABC", false, 6, 1, false, 0,
     "reporter code ABCDEFGHIJKLMNOPQRSTUVWX.ABC" REFUSED_LONG, NULL, false, NULL},
    {"28 characters, typed before", NULL, "ABCDEFGHIJKLMNOPQRSTUVWX.ABC", true, 6, 1, false, 0,
     "reporter code ABCDEFGHIJKLMNOPQRSTUVWX.ABC" REFUSED_LONG, NULL, false, NULL, VINSTALL_TYPED_CODE},
    {"28 characters, a check", NULL, "ABCDEFGHIJKLMNOPQRSTUVWX.ABC", true, 6, 1, false, 0,
     "reporter code ABCDEFGHIJKLMNOPQRSTUVWX.ABC" REFUSED_LONG, NULL, false, NULL, VINSTALL_CHECK_ONLY},
    {"28 characters over a stored code", "MARY", "ABCDEFGHIJKLMNOPQRSTUVWX.ABC", true, 6, 1, false, 0,
     "reporter code ABCDEFGHIJKLMNOPQRSTUVWX.ABC" REFUSED_LONG, "MARY", false, NULL, VINSTALL_REPLACE_CODE},
    {"stored code kept", "MARY", "john", true, 6, 1, false, 1,
     "stored reporter code MARY kept: the given code john was not used", "MARY", false, NULL},
    // A different stored code replaced, or stopping the setup program.
    {"stored code replaced", "MARY", "john", true, 6, 1, false, 2, "reporter code JOHN stored in place of MARY",
     "JOHN", false, NULL, VINSTALL_REPLACE_CODE},
    {"stored code the same, not replaced", "MARY", "mary", true, 6, 1, false, 1, "stored reporter code MARY kept",
     "MARY", false, NULL, VINSTALL_REPLACE_CODE},
    {"a replacement refused by the rules", "MARY", "A/B", true, 6, 1, false, 0,
     "reporter code A/B refused: The file name contains invalid characters. The file name may not include any of "
     "the following characters:  \\/:*?\"<>|",
     "MARY", false, NULL, VINSTALL_REPLACE_CODE},
    {"another stored code stops", "MARY", "john", true, 6, 1, false, 0, OTHER_CODE, "MARY", false, NULL,
     VINSTALL_SAME_CODE},
    {"the same stored code goes on", "MARY", "mary", true, 6, 1, false, 1, "stored reporter code MARY kept", "MARY",
     false, NULL, VINSTALL_SAME_CODE},
    // A check decides and makes nothing: the code is the line.
    {"a check on a fresh machine", NULL, "john", true, 6, 1, false, 2, "JOHN", NULL, false, NULL,
     VINSTALL_CHECK_ONLY},
    {"a check, typed", NULL, NULL, false, 6, 1, false, 2, "JOHN", NULL, true, NULL, VINSTALL_CHECK_ONLY},
    {"a check over a stored code", "MARY", NULL, true, 6, 1, false, 1, "MARY", "MARY", false, NULL,
     VINSTALL_CHECK_ONLY},
    {"a check for a replacement", "MARY", "john", true, 6, 1, false, 2, "JOHN", "MARY", false, NULL,
     VINSTALL_CHECK_ONLY | VINSTALL_REPLACE_CODE},
    {"a check against another stored code", "MARY", "john", true, 6, 1, false, 0, OTHER_CODE, "MARY", false, NULL,
     VINSTALL_CHECK_ONLY | VINSTALL_SAME_CODE},
    {"stored code, none given", "MARY", NULL, false, 6, 1, false, 1, "stored reporter code MARY kept", "MARY", false,
     NULL},
    {"no code, silent", NULL, NULL, true, 6, 1, false, 0, "no reporter code", NULL, false, NULL},
    {"empty code, silent", NULL, "", true, 6, 1, false, 0, "no reporter code", NULL, false, NULL},
    {"no code, attended: typed", NULL, NULL, false, 6, 1, false, 2, "reporter code JOHN typed and stored", "JOHN",
     true, NULL},
    {"no code, attended: cancelled", NULL, NULL, false, 6, 1, true, 0, "cancelled at the reporter code dialog", NULL,
     true, NULL},
    {"Windows 8.1, silent", NULL, "john", true, 6, 3, false, 0,
     "Velloran - Windows Version: Your version of the Velloran software does not work with this version of "
     "Windows.",
     NULL, false, NULL},
    {"Windows 10, attended", "MARY", "john", false, 10, 0, false, 0,
     "Velloran - Windows Version: Your version of the Velloran software does not work with this version of "
     "Windows.",
     "MARY", false, "Velloran - Windows Version"},
};

static void test_given_code()
{
    static const DialogAction john[] = {{TypeText, "john"}, {ClickOk, NULL}};
    static const DialogAction cancel[] = {{ClickCancel, NULL}};
    for (const GivenCodeCase& c : GivenCodeCases) {
        SetContext("BeforeInstallWithCode, %s", c.what);
        LoadLibraryUnderTest();
        char stored[24] = {};
        if (c.stored) {
            memcpy(stored, c.stored, strlen(c.stored));
            PrepareDisk(stored, sizeof stored);
        } else {
            PrepareDisk();
        }
        ReportVersion(c.major, c.minor, VER_PLATFORM_WIN32_NT);
        if (c.cancel)
            ScriptDialog(cancel, 1);
        else
            ScriptDialog(john, 2);
        char message[512];
        memset(message, 'x', sizeof message);
        int status = CallExport("BeforeInstallWithCode", SetupWindow, (LPARAM)c.given,
                                (c.silent ? VINSTALL_SILENT : 0) | c.options, (LPARAM)message, sizeof message);
        UseRealVersion();
        bool check = c.options & VINSTALL_CHECK_ONLY;
        ok(status == c.status, "status %d, expected %d", status, c.status);
        ok(strcmp(message, c.message) == 0, "message \"%s\", expected \"%s\"", message, c.message);
        ok((Dialog.shown > 0) == c.dialog, "the dialog was %sshown", Dialog.shown ? "" : "not ");
        if (!c.dialog)
            ok(CallCount("DialogBoxParamA") == 0, "DialogBoxParamA called %d times", CallCount("DialogBoxParamA"));
        if (c.box) {
            ok(MessageCount == 1 && strcmp(Messages[0].title, c.box) == 0, "%d messages, the first \"%s\"",
               MessageCount, MessageCount ? Messages[0].title : "");
        } else {
            ok(MessageCount == 0 && CallCount("MessageBoxA") == 0, "%d messages: \"%s\"", MessageCount,
               MessageCount ? Messages[0].text : "");
        }
        if (c.codeAfter) {
            CheckCodeFile(__LINE__, c.codeAfter);
        } else {
            ok(!FileExists(CodeFile), "RC.DAT written");
            ok(!DirectoryExists("C:\\TELDAX"), "C:\\TELDAX made");
        }
        if (check) {
            // Nothing made, and nothing opened to be written.
            ok(CreatedDirectoryCount == 0, "%d folders made, the first %s", CreatedDirectoryCount,
               CreatedDirectories[0].path);
            for (int i = 0; i < OpenCount && i < (int)ARRAYSIZE(Opens); ++i)
                ok(!(Opens[i].access & (GENERIC_WRITE | FILE_WRITE_DATA | DELETE)), "%s opened with access 0x%08lx",
                   Opens[i].path, Opens[i].access);
            ok(!DirectoryExists("C:\\JOHN"), "C:\\JOHN made");
        } else if (c.status == 2) {
            char reporterDir[MAX_PATH] = "C:\\";
            strcat(reporterDir, c.codeAfter);
            // A device's name makes no folder: why the command line refuses it.
            ok(DirectoryExists(reporterDir) == !(c.options & VINSTALL_TYPED_CODE), "%s %smade", reporterDir,
               c.options & VINSTALL_TYPED_CODE ? "" : "not ");
            ok(_stricmp(Cwd(), "C:\\TELDAX") == 0, "current directory %s", Cwd());
        }
        if (c.stored && c.given && c.status != 2)
            ok(!DirectoryExists("C:\\JOHN"), "the given code's directory was made");
        // A refused code that would name a folder of its own made none.
        char givenDir[MAX_PATH] = "C:\\";
        if (c.given && c.status == 0 && strlen(c.given) < 64) {
            strcat(givenDir, c.given);
            CharUpperA(givenDir);
            if (!BrokenFolderRule(givenDir + 3))
                ok(!DirectoryExists(givenDir), "%s made", givenDir);
        }
    }
    ClearContext();
}

// The log line is cut to the buffer it is given and always ends; a null
// buffer is fine; the silent option lasts for its call only.
static void test_given_code_buffer_and_silence()
{
    SetContext("a log buffer of 8 bytes");
    LoadLibraryUnderTest();
    PrepareDisk();
    char message[16];
    memset(message, 'x', sizeof message);
    int status = CallExport("BeforeInstallWithCode", SetupWindow, 0, 1, (LPARAM)message, 8);
    ok(status == 0 && strcmp(message, "no repo") == 0 && message[8] == 'x', "status %d, message %s", status,
       Show(message, sizeof message));

    SetContext("no log buffer");
    status = CallExport("BeforeInstallWithCode", SetupWindow, (LPARAM) "john", 1, 0, 0);
    ok(status == 2, "status %d", status);
    CheckCodeFile(__LINE__, "JOHN");

    SetContext("a code of 300 characters");
    LoadLibraryUnderTest();
    PrepareDisk();
    char longCode[301];
    memset(longCode, 'a', 300);
    longCode[300] = '\0';
    status = CallExport("BeforeInstallWithCode", SetupWindow, (LPARAM)longCode, 1, (LPARAM)message, sizeof message);
    ok(status == 0 && !FileExists(CodeFile), "status %d", status);

    // After a silent call, the library's windows show again.
    SetContext("Chk4TELDAX after a silent call");
    status = CallExport("Chk4TELDAX", SetupWindow);
    ok(status == 0 && MessageCount == 1, "status %d, %d messages", status, MessageCount);

    // A silent call that finds RC.DAT but cannot open it a second time, and
    // no TRAN.PIF: the missing-file box is passed over.
    SetContext("required file missing, silent");
    LoadLibraryUnderTest();
    static const char stored[24] = "MARY";
    PrepareDisk(stored, sizeof stored);
    FailCall("CreateFileA", 2, "RC.DAT", ERROR_SHARING_VIOLATION);
    char line[512];
    status = CallExport("BeforeInstallWithCode", SetupWindow, 0, 1, (LPARAM)line, sizeof line);
    ClearFaults();
    ok(status == 0 && CallCount("MessageBoxA") == 0, "status %d, %d boxes", status, CallCount("MessageBoxA"));
    ok(strcmp(line, "Velloran - Missing File: A required file is missing.") == 0, "message \"%s\"", line);
    ok(Traced("message box passed over (the setup program runs silently): \"Velloran - Missing File\": \"A required "
              "file is missing.\""),
       "no trace of the box passed over in:\n%s", TraceText());
    ClearContext();
}

// The dialog keeps the name rules alone: a device's name typed there is
// stored as typed, while the same code from the command line is refused.
static void test_typed_device_name()
{
    SetContext("CON typed into the dialog");
    static const DialogAction con[] = {{TypeText, "con"}, {ClickOk, NULL}};
    LoadLibraryUnderTest();
    PrepareDisk();
    int status = RunBeforeInstall(con, 2);
    ok(status == 2 && MessageCount == 0, "status %d, %d messages", status, MessageCount);
    CheckCodeFile(__LINE__, "CON");
    ClearContext();
}

// A new code whose RC.DAT cannot be made or written: BeforeInstall keeps its
// status and says so in the trace; BeforeInstallWithCode stops the setup
// program (0) with a line that says "not stored" and why.
static void test_code_not_stored()
{
    static const DialogAction john[] = {{TypeText, "john"}, {ClickOk, NULL}};
    static const struct {
        const char* what;
        const char* function;
        const char* why;
    } cases[] = {
        {"the write fails", "WriteFile", "RC.DAT not written (error 5)"},
        {"RC.DAT cannot be made", "CreateFileA", "RC.DAT not written: it cannot be opened to be checked (error 5)"},
    };
    for (const auto& c : cases) {
        char expected[256];
        snprintf(expected, sizeof expected, "reporter code JOHN not stored: %s", c.why);

        SetContext("BeforeInstallWithCode, %s", c.what);
        LoadLibraryUnderTest();
        PrepareDisk();
        FailCall(c.function, 0, "RC.DAT");
        char line[512];
        int status = CallExport("BeforeInstallWithCode", SetupWindow, (LPARAM) "john", VINSTALL_SILENT, (LPARAM)line,
                                sizeof line);
        ClearFaults();
        ok(status == 0, "status %d, expected 0", status);
        ok(strcmp(line, expected) == 0, "line \"%s\", expected \"%s\"", line, expected);
        ok(Traced(expected) != NULL, "no trace line \"%s\" in:\n%s", expected, TraceText());

        SetContext("BeforeInstall, %s", c.what);
        LoadLibraryUnderTest();
        PrepareDisk();
        FailCall(c.function, 0, "RC.DAT");
        status = RunBeforeInstall(john, 2);
        ClearFaults();
        ok(status == 2, "status %d, expected 2", status);
        ok(Traced(expected) != NULL, "no trace line \"%s\" in:\n%s", expected, TraceText());
    }
    ClearContext();
}

// RC.DAT and TRAN.PIF made second names of a file the setup program may
// read (a secret of another user's): neither is read, so nothing of it
// reaches the log line, the trace or RC.DAT, and the file keeps its bytes.
static void test_linked_code_files_not_read()
{
    static const char Secret[] = "S3CRET-TOKEN-0042";
    static const struct {
        const char* what;
        bool pif;  // TRAN.PIF the link, RC.DAT found but not opened again
        int status;
        const char* line;
    } cases[] = {
        {"RC.DAT a hard link, a code given", false, 0,
         "reporter code JOHN not stored: RC.DAT not written: it has 2 names (a hard link)"},
        {"TRAN.PIF a hard link", true, 0, "Velloran - Missing File: A required file is missing."},
    };
    for (const auto& c : cases) {
        SetContext("%s", c.what);
        LoadLibraryUnderTest();
        PrepareDisk();
        MakeDirectory("C:\\TELDAX");
        static unsigned char secret[900];
        memset(secret, 0, sizeof secret);
        memcpy(secret, Secret, sizeof Secret - 1);
        memcpy(secret + 101, "C:\\S3CRET-TOKEN-0042", 20);
        WriteBytes("C:\\secret.txt", secret, sizeof secret);
        if (c.pif) {
            WriteBytes(CodeFile, "MARY", 4);
            MakeHardLink(PifFile, "C:\\secret.txt");
            FailCall("CreateFileA", 2, "RC.DAT", ERROR_SHARING_VIOLATION);
        } else {
            MakeHardLink(CodeFile, "C:\\secret.txt");
        }
        char line[512];
        int status = CallExport("BeforeInstallWithCode", SetupWindow, (LPARAM)(c.pif ? NULL : "john"),
                                VINSTALL_SILENT, (LPARAM)line, sizeof line);
        ClearFaults();
        ok(status == c.status, "status %d, expected %d", status, c.status);
        ok(strcmp(line, c.line) == 0, "line \"%s\", expected \"%s\"", line, c.line);
        ok(Traced("S3CRET") == NULL, "the secret in the trace:\n%s", TraceText());
        ok(!DirectoryExists("C:\\S3CRET-TOKEN-0042"), "the secret's folder made");
        unsigned char after[1024];
        ok(ReadBytes("C:\\secret.txt", after, sizeof after) == sizeof secret && memcmp(after, secret, sizeof secret) == 0,
           "the secret's file changed");
    }
    ClearContext();
}

// What RC.DAT holds reaches the log as one line: its control characters as
// '?'. A code typed on the machine may hold anything a file can.
static void test_stored_code_on_one_line()
{
    SetContext("RC.DAT holding carriage returns");
    LoadLibraryUnderTest();
    static const char stored[24] = "X\rcompleted\r";
    PrepareDisk(stored, sizeof stored);
    char line[512];
    int status = CallExport("BeforeInstallWithCode", SetupWindow, 0, VINSTALL_SILENT, (LPARAM)line, sizeof line);
    ok(status == 1, "status %d", status);
    ok(strcmp(line, "stored reporter code X?completed? kept") == 0, "line %s", Show(line, (int)strlen(line)));
    SetContext("RC.DAT holding carriage returns, another code given");
    LoadLibraryUnderTest();
    status = CallExport("BeforeInstallWithCode", SetupWindow, (LPARAM) "john", VINSTALL_SILENT | VINSTALL_SAME_CODE,
                        (LPARAM)line, sizeof line);
    ok(status == 0, "status %d", status);
    ok(strcmp(line, "another reporter code is stored: X?completed? is kept and the given code john was not used") ==
           0,
       "line %s", Show(line, (int)strlen(line)));
    ClearContext();
}

int main(int argc, char** argv)
{
    InitHarness(argc, argv);
    SetupWindow = MakeOwnerWindow();
    test_typed_codes();
    test_dialog_as_shown();
    test_dialog_cancelled();
    test_dialog_corrections();
    test_validate_file_name();
    test_stored_code();
    test_folder_without_code();
    test_new_code_is_sticky();
    test_legacy_import();
    test_planted_code_file();
    test_code_file_swapped_during_write();
    test_code_file_outside_its_folder();
    test_code_file_create_flags();
    test_code_file_on_9x();
    test_failing_calls();
    test_install_folder_security();
    test_given_code();
    test_given_code_buffer_and_silence();
    test_typed_device_name();
    test_code_not_stored();
    test_linked_code_files_not_read();
    test_stored_code_on_one_line();
    CleanDrive();
    return FinishTests("reporter");
}
