// Shortcut migration: ReadShortcut and WriteShortcut (compiled into this
// program, with the harness's hooks in its own import table), and the
// AfterInstall export of the library. Fixtures are real shortcut files made
// with the platform's link object and read back property by property.
#include "harness.h"
#include "shortcut_files.h"
#include "src/shortcuts/shortcuts.h"
#include "unseen_checks.h"

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

static const char ProgramPath[] = "C:\\TELDAX\\Velloran Program.exe";
static const char CodePath[] = "C:\\TELDAX\\RC.DAT";
static const WORD CtrlAltV = MAKEWORD('V', HOTKEYF_CONTROL | HOTKEYF_ALT);

static HWND SetupWindow;

// The product's shortcut as the setup program installs it.
static const Link Program = {ProgramPath, "-x", "Velloran reporting", CtrlAltV,
                             "C:\\TELDAX\\velloran.ico", 2, "C:\\OLD", SW_SHOWMINNOACTIVE};

static void WriteCode(const char* text, int length)
{
    char record[64] = {};
    memcpy(record, text, strlen(text));
    ok(WriteBytes(CodePath, record, length), "cannot write RC.DAT");
}

// A fresh load of the library (no BeforeInstall in this process) and an
// install folder holding the product's program.
static void Fresh()
{
    CleanPlaces();
    LoadLibraryUnderTest();
    MakeDirectory("C:\\TELDAX");
    ok(WriteBytes(ProgramPath, "MZ", 2), "cannot make the program file");
    SetCwd("C:\\");
}

static int AfterInstall()
{
    return CallExport("AfterInstall", SetupWindow);
}

// --- ReadShortcut and WriteShortcut ------------------------------------------------------

// The shortcut file at path held open as AfterInstall holds one: for reading
// and writing, reading shared; made empty with CREATE_NEW.
static HANDLE Hold(const char* path, DWORD disposition = OPEN_EXISTING)
{
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, disposition, 0, NULL);
    ok(h != INVALID_HANDLE_VALUE, "cannot hold %s (error %lu)", path, GetLastError());
    return h;
}

static HRESULT ReadHeld(const char* path, ShortcutInfo* info)
{
    HANDLE h = Hold(path);
    HRESULT hr = ReadShortcut(h, info, SLR_ANY_MATCH);
    CloseHandle(h);
    return hr;
}

static HRESULT WriteHeld(const char* path, const ShortcutInfo* info, DWORD disposition = OPEN_EXISTING)
{
    HANDLE h = Hold(path, disposition);
    HRESULT hr = WriteShortcut(h, path, info, disposition != OPEN_EXISTING);
    CloseHandle(h);
    return hr;
}

struct Record {
    char target[MAX_PATH], description[MAX_PATH], iconPath[MAX_PATH], workingDirectory[MAX_PATH];
    ShortcutInfo info;
};

// Every field holds a sentinel, to show what a call wrote.
static void InitRecord(Record* r)
{
    memset(r, 'S', sizeof *r);
    lstrcpyA(r->target, "sentinel");
    lstrcpyA(r->description, "sentinel");
    lstrcpyA(r->iconPath, "sentinel");
    lstrcpyA(r->workingDirectory, "sentinel");
    ShortcutInfo info = {r->target, r->description, 0xBEEF, r->iconPath, 0xBEEF, r->workingDirectory};
    r->info = info;
}

static bool RecordUntouched(const Record& r)
{
    return strcmp(r.target, "sentinel") == 0 && strcmp(r.description, "sentinel") == 0 &&
           strcmp(r.iconPath, "sentinel") == 0 && strcmp(r.workingDirectory, "sentinel") == 0 &&
           r.info.Hotkey == 0xBEEF && r.info.IconIndex == 0xBEEF;
}

// True when the calls before left this thread without COM.
static bool ComClosed()
{
    HRESULT hr = CoInitialize(NULL);
    if (SUCCEEDED(hr))
        CoUninitialize();
    return hr == S_OK;
}

static void TestReadShortcut()
{
    static const struct {
        int stored;
        WORD read;
    } indexes[] = {{2, 2}, {65536, 0}, {-1, 65535}};
    const char* path = "C:\\TELDAX\\Velloran.lnk";
    for (const auto& c : indexes) {
        SetContext("ReadShortcut, icon index %d", c.stored);
        Fresh();
        Link link = Program;
        link.iconIndex = c.stored;
        MakeLink(path, link);

        Record r;
        InitRecord(&r);
        HRESULT hr = ReadHeld(path, &r.info);
        ok(hr == S_OK, "status 0x%08lx", hr);
        ok(strcmp(r.target, ShortTarget(ProgramPath)) == 0, "target \"%s\", expected \"%s\"", r.target,
           ShortTarget(ProgramPath));
        ok(strcmp(r.description, "Velloran reporting") == 0, "description \"%s\"", r.description);
        ok(r.info.Hotkey == CtrlAltV, "hotkey 0x%04x", r.info.Hotkey);
        ok(strcmp(r.iconPath, "C:\\TELDAX\\velloran.ico") == 0, "icon file \"%s\"", r.iconPath);
        ok(r.info.IconIndex == c.read, "icon index %u, expected %u", r.info.IconIndex, c.read);
        ok(strcmp(r.workingDirectory, "C:\\OLD") == 0, "working directory \"%s\"", r.workingDirectory);
        ok(ComClosed(), "COM left open");
    }

    SetContext("ReadShortcut, no record");
    FileCopy before;
    Keep(path, &before);
    HRESULT hr = ReadHeld(path, NULL);
    ok(hr == S_OK, "status 0x%08lx", hr);
    check_unchanged(path, before);
    SetContext("%s", "");
}

// The status that the platform's own link object gives for loading path.
static HRESULT PlatformLoadStatus(const char* path)
{
    LinkRead read;
    ReadLink(path, &read);
    return read.status;
}

static void TestReadShortcutFailures()
{
    static const struct {
        const char* name;
        const char* content;    // NULL: a real shortcut
        bool invalidHandle;     // no file held at all
        HRESULT createFails;    // CoCreateInstance fails with this
        bool streamFails;       // CreateStreamOnHGlobal fails
    } cases[] = {
        {"not a shortcut", "plain text, not a link", false, S_OK, false},
        {"empty file", "", false, S_OK, false},
        {"no file held", NULL, true, S_OK, false},
        {"no link object", NULL, false, REGDB_E_CLASSNOTREG, false},
        {"no stream in memory", NULL, false, S_OK, true},
    };
    for (const auto& c : cases) {
        SetContext("ReadShortcut, %s", c.name);
        Fresh();
        const char* path = "C:\\TELDAX\\Velloran.lnk";
        if (c.content)
            WriteBytes(path, c.content, (int)strlen(c.content));
        else
            MakeLink(path, Program);
        HRESULT expected = c.invalidHandle ? HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE)
                           : c.createFails ? c.createFails
                           : c.streamFails ? E_OUTOFMEMORY
                                           : PlatformLoadStatus(path);
        ok(FAILED(expected), "the platform loads the fixture: 0x%08lx", expected);

        if (c.createFails)
            FailCall("CoCreateInstance", 0, NULL, (DWORD)c.createFails);
        if (c.streamFails)
            FailCall("CreateStreamOnHGlobal");
        Record r;
        InitRecord(&r);
        HANDLE h = c.invalidHandle ? INVALID_HANDLE_VALUE : Hold(path);
        HRESULT hr = ReadShortcut(h, &r.info, SLR_ANY_MATCH);
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        ClearFaults();
        ok(hr == expected, "status 0x%08lx, expected 0x%08lx", hr, expected);
        ok(RecordUntouched(r), "record changed: \"%s\" \"%s\" \"%s\" \"%s\" 0x%04x %u", r.target, r.description,
           r.iconPath, r.workingDirectory, r.info.Hotkey, r.info.IconIndex);
        ok(ComClosed(), "COM left open");
    }
    SetContext("%s", "");
}

static void TestWriteShortcut()
{
    const char* path = "C:\\TELDAX\\Velloran.lnk";
    char target[MAX_PATH], description[] = "New description", icon[] = "C:\\TELDAX\\other.ico", dir[] = "C:\\MARY";
    lstrcpyA(target, ProgramPath);
    ShortcutInfo info = {target, description, CtrlAltV, icon, 65535, dir};

    SetContext("WriteShortcut over a shortcut with arguments");
    Fresh();
    MakeLink(path, Program);
    ShellNoticeCount = 0;
    HRESULT hr = WriteHeld(path, &info);
    ok(hr == S_OK, "status 0x%08lx", hr);
    // 65535 is written as such, not as -1.
    check_link(path, {ProgramPath, "", "New description", CtrlAltV, "C:\\TELDAX\\other.ico", 65535, "C:\\MARY", 0});
    ok(ComClosed(), "COM left open");
    ok(ShellNoticeCount == 1 && ShellNotices[0].event == SHCNE_UPDATEITEM && ShellNotices[0].flags == SHCNF_PATHA &&
           strcmp(ShellNotices[0].path, path) == 0,
       "%d notices to the shell, the first event 0x%lx, flags 0x%x, path \"%s\"", ShellNoticeCount,
       ShellNotices[0].event, ShellNotices[0].flags, ShellNotices[0].path);

    SetContext("relative paths, a new file");
    SetCwd("C:\\TELDAX");
    ShellNoticeCount = 0;
    hr = WriteHeld("Relative.lnk", &info, CREATE_NEW);
    ok(hr == S_OK, "write status 0x%08lx", hr);
    ok(FileExists("C:\\TELDAX\\Relative.lnk"), "not written in the current directory");
    ok(ShellNoticeCount == 1 && ShellNotices[0].event == SHCNE_CREATE &&
           strcmp(ShellNotices[0].path, "C:\\TELDAX\\Relative.lnk") == 0,
       "%d notices to the shell, the first event 0x%lx, path \"%s\"", ShellNoticeCount, ShellNotices[0].event,
       ShellNotices[0].path);
    Record r;
    InitRecord(&r);
    hr = ReadHeld("Relative.lnk", &r.info);
    ok(hr == S_OK && strcmp(r.description, "New description") == 0, "read status 0x%08lx, description \"%s\"", hr,
       r.description);

    SetContext("WriteShortcut over a longer file");
    Fresh();
    static char longer[8192];
    memset(longer, 'x', sizeof longer);
    WriteBytes(path, longer, sizeof longer);
    hr = WriteHeld(path, &info);
    ok(hr == S_OK, "status 0x%08lx", hr);
    check_link(path, {ProgramPath, "", "New description", CtrlAltV, "C:\\TELDAX\\other.ico", 65535, "C:\\MARY", 0});
    // Byte for byte what the same write gives in a new file.
    hr = WriteHeld("C:\\TELDAX\\New.lnk", &info, CREATE_NEW);
    FileCopy fresh;
    Keep("C:\\TELDAX\\New.lnk", &fresh);
    ok(hr == S_OK && SameBytes(path, fresh), "not the bytes of a new file's write (%d bytes there)", fresh.length);

    SetContext("WriteShortcut failures");
    Fresh();
    MakeLink(path, Program);
    FileCopy before;
    Keep(path, &before);
    int created = CallCount("CoCreateInstance");
    hr = WriteHeld(path, NULL);
    ok(hr == E_FAIL, "no record: status 0x%08lx", hr);
    check_unchanged(path, before);
    ok(CallCount("CoCreateInstance") == created, "no record: link object made");

    char longPath[MAX_PATH + 8];
    memset(longPath, 'a', MAX_PATH);
    memcpy(longPath, "C:\\TELDAX\\", 10);
    longPath[MAX_PATH] = '\0';
    HANDLE h = Hold(path);
    hr = WriteShortcut(h, longPath, &info, false);
    CloseHandle(h);
    ok(hr == E_INVALIDARG, "path of 260 characters: status 0x%08lx", hr);
    ok(CallCount("CoCreateInstance") == created, "path of 260 characters: link object made");
    check_unchanged(path, before);

    static const struct {
        const char* call;
        DWORD error;
        HRESULT status;
    } failing[] = {
        {"CoCreateInstance", (DWORD)REGDB_E_CLASSNOTREG, REGDB_E_CLASSNOTREG},
        {"CreateStreamOnHGlobal", ERROR_ACCESS_DENIED, E_OUTOFMEMORY},
        {"SetFilePointer", ERROR_ACCESS_DENIED, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)},
        {"SetEndOfFile", ERROR_ACCESS_DENIED, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)},
    };
    for (const auto& f : failing) {
        SetContext("WriteShortcut, %s fails", f.call);
        ShellNoticeCount = 0;
        FailCall(f.call, 0, NULL, f.error);
        hr = WriteHeld(path, &info);
        ClearFaults();
        ok(hr == f.status, "status 0x%08lx, expected 0x%08lx", hr, f.status);
        check_unchanged(path, before);
        ok(ComClosed(), "COM left open");
        ok(ShellNoticeCount == 0, "the shell told of a change that was not made");
    }
    SetContext("%s", "");
}

// A caller whose thread is in the multithreaded apartment: each call's
// CoInitialize fails there, and its COM must still be open afterwards.
static void TestCallerApartment()
{
    SetContext("caller in the multithreaded apartment");
    Fresh();
    const char* path = "C:\\TELDAX\\Velloran.lnk";
    MakeLink(path, Program);
    ok(CoInitializeEx(NULL, COINIT_MULTITHREADED) == S_OK, "apartment not entered");
    Record r;
    InitRecord(&r);
    HRESULT read = ReadHeld(path, &r.info);
    HRESULT written = WriteHeld(path, &r.info);
    HRESULT again = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    ok(read == S_OK && written == S_OK, "read 0x%08lx, write 0x%08lx", read, written);
    ok(again == S_FALSE, "the caller's COM was closed: CoInitializeEx gives 0x%08lx", again);
    CoUninitialize();
    if (again == S_FALSE)
        CoUninitialize();
    SetContext("%s", "");
}

// --- AfterInstall ----------------------------------------------------------------------------

static void TestCodeFile()
{
    static const struct {
        const char* name;
        const char* code;
        int length;  // bytes of RC.DAT; -1: none
        const char* dir;
    } cases[] = {
        {"bare code", "MARY", 24, "C:\\MARY"},
        {"path form", "C:\\MARY", 24, "C:\\MARY"},
        {"path form on another drive", "D:\\MARY", 24, "D:\\MARY"},
        {"trailing blanks", "MARY  ", 6, "C:\\MARY"},
        {"a tab is not a blank", "MARY\t ", 6, "C:\\MARY\t"},
        {"only the first 28 bytes", "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123", 30, "C:\\ABCDEFGHIJKLMNOPQRSTUVWXYZ01"},
        {"empty", "", 0, "C:\\"},
        {"no RC.DAT", "", -1, "C:\\"},
    };
    for (const auto& c : cases) {
        SetContext("RC.DAT: %s", c.name);
        Fresh();
        MakeLink("C:\\TELDAX\\Velloran.lnk", Program);
        if (c.length >= 0)
            WriteCode(c.code, c.length);
        int status = AfterInstall();
        ok(status == 1, "status %d", status);
        check_link("C:\\TELDAX\\Velloran.lnk", Rewritten(Program, c.dir));
        check_link(InFolder(CommonDesktop, "Velloran.lnk"), DesktopLink(c.dir));
    }

    // No install folder at all: nothing to rewrite, the desktop is still done.
    SetContext("no install folder");
    Fresh();
    RemoveTree("C:\\TELDAX");
    int status = AfterInstall();
    ok(status == 1, "status %d", status);
    check_link(InFolder(CommonDesktop, "Velloran.lnk"), DesktopLink("C:\\"));
    SetContext("%s", "");
}

// The code typed during BeforeInstall in the same process fills all 24 bytes
// of RC.DAT; AfterInstall is then run three times, the last time unable to
// open RC.DAT.
static void TestCodeFromBeforeInstall()
{
    SetContext("24-character code from BeforeInstall");
    const char code[] = "ABCDEFGHIJKLMNOPQRSTUVWX";
    const char dir[] = "C:\\ABCDEFGHIJKLMNOPQRSTUVWX";
    Fresh();
    RemoveTree("C:\\TELDAX");
    DialogAction typing[] = {{TypeText, code}, {ClickOk, NULL}};
    ScriptDialog(typing, 2);
    int status = CallExport("BeforeInstall", SetupWindow);
    ok(status == 2, "BeforeInstall status %d", status);
    char record[64];
    int length = ReadBytes(CodePath, record, sizeof record);
    ok(length == 24 && memcmp(record, code, 24) == 0, "RC.DAT %s", Show(record, length > 0 ? length : 0));

    ok(WriteBytes(ProgramPath, "MZ", 2), "cannot make the program file");
    const char* product = "C:\\TELDAX\\Velloran.lnk";
    const char* desktop = InFolder(CommonDesktop, "Velloran.lnk");
    MakeLink(product, Program);
    status = AfterInstall();
    ok(status == 1, "status %d", status);
    check_link(product, Rewritten(Program, dir));
    check_link(desktop, DesktopLink(dir));

    SetContext("second run");
    FileCopy productAfterFirst, desktopAfterFirst;
    Keep(product, &productAfterFirst);
    Keep(desktop, &desktopAfterFirst);
    status = AfterInstall();
    ok(status == 1, "status %d", status);
    check_unchanged(product, productAfterFirst);
    check_unchanged(desktop, desktopAfterFirst);

    SetContext("third run, RC.DAT cannot be opened");
    FailCall("CreateFileA", 0, "RC.DAT");
    status = AfterInstall();
    ClearFaults();
    ok(status == 1, "status %d", status);
    check_link(product, Rewritten(Program, dir));
    check_link(desktop, DesktopLink(dir));
    SetContext("%s", "");
}

static void TestSkipList()
{
    static const char* const skipped[] = {"Win9x",         "WinNT",          "MSDOSNT", "MS-DOS Prompt",
                                          "Shortcut to Velloran", "User's Manual", "Install Update"};
    SetContext("skip list");
    Fresh();
    WriteCode("MARY", 24);
    FileCopy kept[ARRAYSIZE(skipped)];
    char path[MAX_PATH];
    for (size_t i = 0; i < ARRAYSIZE(skipped); ++i) {
        // Upper-case types on some, to show the comparison ignores case.
        snprintf(path, sizeof path, "C:\\TELDAX\\%s.%s", skipped[i], i % 2 ? "LNK" : "lnk");
        MakeLink(path, Program);
        Keep(path, &kept[i]);
        snprintf(path, sizeof path, "C:\\TELDAX\\%s.PIF", skipped[i]);
        Touch(path);
    }
    MakeLink("C:\\TELDAX\\Velloran.lnk", Program);

    int status = AfterInstall();
    ok(status == 1, "status %d", status);
    for (size_t i = 0; i < ARRAYSIZE(skipped); ++i) {
        snprintf(path, sizeof path, "C:\\TELDAX\\%s.%s", skipped[i], i % 2 ? "LNK" : "lnk");
        check_unchanged(path, kept[i]);
        snprintf(path, sizeof path, "C:\\TELDAX\\%s.PIF", skipped[i]);
        ok(FileExists(path), "%s deleted", path);
        snprintf(path, sizeof path, "%s.%s passed over: on the skip list", skipped[i], i % 2 ? "LNK" : "lnk");
        ok(Traced(path) != NULL, "no trace line \"%s\" in:\n%s", path, TraceText());
    }
    ok(Traced("Velloran.lnk rewritten: starts in the reporter directory") && Traced("reporter directory: C:\\MARY"),
       "trace:\n%s", TraceText());
    check_link("C:\\TELDAX\\Velloran.lnk", Rewritten(Program, "C:\\MARY"));
    SetContext("%s", "");
}

static void TestRewrite()
{
    SetContext("rewrite");
    Fresh();
    WriteCode("MARY", 24);
    const Link readMe = {"C:\\TELDAX\\Read.Me.txt", "/p", "Read me first", 0, "C:\\TELDAX\\readme.ico", 7, "C:\\TELDAX", 0};
    WriteBytes("C:\\TELDAX\\Read.Me.txt", "text", 4);
    MakeLink("C:\\TELDAX\\Velloran.lnk", Program);
    MakeLink("C:\\TELDAX\\Read.Me.lnk", readMe);
    Touch("C:\\TELDAX\\Velloran.PIF");
    SetFileAttributesA("C:\\TELDAX\\Velloran.PIF", FILE_ATTRIBUTE_READONLY);
    Touch("C:\\TELDAX\\Read.PIF");
    Touch("C:\\TELDAX\\Read.Me.PIF");

    int status = AfterInstall();
    ok(status == 1, "status %d", status);
    check_link("C:\\TELDAX\\Velloran.lnk", Rewritten(Program, "C:\\MARY"));
    check_link("C:\\TELDAX\\Read.Me.lnk", Rewritten(readMe, "C:\\MARY"));
    ok(!FileExists("C:\\TELDAX\\Velloran.PIF"), "read-only Velloran.PIF kept");
    ok(!FileExists("C:\\TELDAX\\Read.PIF"), "Read.PIF kept");
    ok(FileExists("C:\\TELDAX\\Read.Me.PIF"), "Read.Me.PIF deleted: the name is cut at its first '.'");
    SetContext("%s", "");
}

// Shortcuts that give nothing to rewrite with stay byte for byte as they were,
// whatever was read from the shortcuts around them; their twins still go.
static void TestUnreadableShortcuts()
{
    SetContext("unreadable shortcuts");
    Fresh();
    WriteCode("MARY", 24);
    const Link noTarget = {NULL, "-y", "Nothing to start", 0, "C:\\TELDAX\\none.ico", 1, "C:\\OLD", 0};
    WriteBytes("C:\\TELDAX\\Broken.lnk", "L\0\0\0 damaged", 12);
    MakeLink("C:\\TELDAX\\NoTarget.lnk", noTarget);
    MakeLink("C:\\TELDAX\\Velloran.lnk", Program);
    FileCopy broken, empty;
    Keep("C:\\TELDAX\\Broken.lnk", &broken);
    Keep("C:\\TELDAX\\NoTarget.lnk", &empty);
    Touch("C:\\TELDAX\\Broken.PIF");
    Touch("C:\\TELDAX\\NoTarget.PIF");

    int status = AfterInstall();
    ok(status == 1, "status %d", status);
    check_unchanged("C:\\TELDAX\\Broken.lnk", broken);
    check_unchanged("C:\\TELDAX\\NoTarget.lnk", empty);
    ok(!FileExists("C:\\TELDAX\\Broken.PIF"), "Broken.PIF kept");
    ok(!FileExists("C:\\TELDAX\\NoTarget.PIF"), "NoTarget.PIF kept");
    check_link("C:\\TELDAX\\Velloran.lnk", Rewritten(Program, "C:\\MARY"));
    char said[64];
    snprintf(said, sizeof said, "Broken.lnk passed over: cannot be read (0x%08lX)",
             (unsigned long)PlatformLoadStatus("C:\\TELDAX\\Broken.lnk"));
    ok(Traced(said) && Traced("NoTarget.lnk passed over: names no target file") &&
           Traced("C:\\TELDAX\\Broken.PIF deleted"),
       "no trace line \"%s\" or of the target-less shortcut in:\n%s", said, TraceText());
    SetContext("%s", "");
}

// Names someone else put in the install folder or on the desktop to have the
// elevated setup program write elsewhere: a shortcut, the desktop shortcut
// and a read-only twin that are second names of files outside C:\TELDAX, and
// a C:\TELDAX that leads to another folder. What lies elsewhere keeps its
// bytes and attributes; the rest of AfterInstall is done; the status is 1.
static void TestPlantedNames()
{
    static const char Elsewhere[] = "C:\\elsewhere";
    static const struct {
        const char* name;
        const char* planted;   // a second name of a file in C:\elsewhere; NULL: C:\TELDAX leads there
        bool isShortcut;       // the file elsewhere is a shortcut, else a read-only text
        const char* traced;
    } cases[] = {
        {"a shortcut", "C:\\TELDAX\\Planted.lnk", true,
         "C:\\TELDAX\\Planted.lnk not written: it has 2 names (a hard link)"},
        {"the desktop shortcut", NULL, true, "Velloran.lnk not written: it has 2 names (a hard link)"},
        {"a read-only twin", "C:\\TELDAX\\Velloran.PIF", false,
         "C:\\TELDAX\\Velloran.PIF not deleted: it is read-only and a hard link"},
        {"C:\\TELDAX leads to another folder", NULL, false,
         "nothing written in C:\\TELDAX: it is a reparse point"},
    };
    for (const auto& c : cases) {
        SetContext("planted: %s", c.name);
        Fresh();
        MakeDirectory(Elsewhere);
        const char* other = InFolder(Elsewhere, c.isShortcut ? "Other.lnk" : "Other.PIF");
        bool folderLink = !c.planted && !c.isShortcut;
        bool desktop = !c.planted && c.isShortcut;
        if (c.isShortcut) {
            MakeLink(other, Program);
        } else {
            Touch(other);
            SetFileAttributesA(other, FILE_ATTRIBUTE_READONLY);
        }
        if (folderLink) {
            // The product's files are in the folder C:\TELDAX leads to.
            RemoveTree("C:\\TELDAX");
            MakeLink(InFolder(Elsewhere, "Velloran.lnk"), Program);
            WriteBytes(InFolder(Elsewhere, "RC.DAT"), "MARY\0", 5);
            MakeFolderLink("C:\\TELDAX", Elsewhere);
        } else {
            WriteCode("MARY", 24);
            MakeLink("C:\\TELDAX\\Velloran.lnk", Program);
            MakeHardLink(desktop ? InFolder(CommonDesktop, "Velloran.lnk") : c.planted, other);
        }
        FileState otherBefore = StateOf(other);
        FileState productBefore = StateOf(InFolder(Elsewhere, "Velloran.lnk"));

        int status = AfterInstall();
        ok(status == 1, "status %d", status);
        ok(Traced(c.traced) != NULL, "no trace line \"%s\" in:\n%s", c.traced, TraceText());
        if (folderLink)
            RemoveFolderLink("C:\\TELDAX");
        ok(SameState(StateOf(other), otherBefore), "%s changed (attributes 0x%lx)", other, GetFileAttributesA(other));
        if (folderLink) {
            ok(SameState(StateOf(InFolder(Elsewhere, "Velloran.lnk")), productBefore),
               "the shortcut in the folder C:\\TELDAX leads to was rewritten");
            // Its RC.DAT is not read either: an RC.DAT that cannot be opened,
            // and no BeforeInstall in this process.
            check_link(InFolder(CommonDesktop, "Velloran.lnk"), DesktopLink("C:\\"));
        } else {
            check_link("C:\\TELDAX\\Velloran.lnk", Rewritten(Program, "C:\\MARY"));
            if (!desktop)
                check_link(InFolder(CommonDesktop, "Velloran.lnk"), DesktopLink("C:\\MARY"));
        }
        SetFileAttributesA(other, FILE_ATTRIBUTE_NORMAL);
    }
    SetContext("%s", "");
}

// The same names swapped in the last moment before the library's write: the
// shortcut and the desktop shortcut just before their bytes are written
// through the handle that was checked, and a read-only twin just before it is
// made writable through its checked handle, each for a hard link to a file
// outside C:\TELDAX. The checked file is held open across the write, so the
// swap fails and what lies elsewhere keeps its bytes and attributes.
static const char* SwapPath;
static const char* SwapVictim;

static int SwapTries, Swapped;

static void SwapNamedFile()
{
    ++SwapTries;
    Swapped += SwapForHardLink(SwapPath, SwapVictim);
}

static void TestNamesSwappedDuringWrite()
{
    static const char Elsewhere[] = "C:\\elsewhere";
    static const struct {
        const char* name;
        const char* swapped;
        bool isShortcut;    // the file elsewhere is a shortcut, else a read-only text
        const char* before; // the library call the swap comes just before
        int occurrence;
    } cases[] = {
        {"a shortcut", "C:\\TELDAX\\Velloran.lnk", true, "WriteFile", 1},
        {"the desktop shortcut", NULL, true, "WriteFile", 2},
        {"a read-only twin", "C:\\TELDAX\\Velloran.PIF", false, "NtSetInformationFile", 1},
    };
    for (const auto& c : cases) {
        SetContext("swapped just before the write: %s", c.name);
        Fresh();
        ProxyLinkObjects(Library);
        MakeDirectory(Elsewhere);
        const char* other = InFolder(Elsewhere, c.isShortcut ? "Other.lnk" : "Other.PIF");
        static char otherPath[MAX_PATH], swapped[MAX_PATH];
        lstrcpynA(otherPath, other, sizeof otherPath);
        lstrcpynA(swapped, c.swapped ? c.swapped : InFolder(CommonDesktop, "Velloran.lnk"), sizeof swapped);
        if (c.isShortcut) {
            MakeLink(otherPath, Program);
        } else {
            Touch(otherPath);
            SetFileAttributesA(otherPath, FILE_ATTRIBUTE_READONLY);
            Touch(swapped);
            SetFileAttributesA(swapped, FILE_ATTRIBUTE_READONLY);
        }
        WriteCode("MARY", 24);
        MakeLink("C:\\TELDAX\\Velloran.lnk", Program);
        FileState otherBefore = StateOf(otherPath);
        SwapPath = swapped;
        SwapVictim = otherPath;
        RaceBefore(c.before, c.isShortcut ? "Velloran.lnk" : "Velloran.PIF", SwapNamedFile, c.occurrence);
        SwapTries = Swapped = 0;

        int status = AfterInstall();
        ok(status == 1, "status %d", status);
        ok(SwapTries == 1 && Swapped == 0, "%d swaps tried, %d succeeded", SwapTries, Swapped);
        ok(SameState(StateOf(otherPath), otherBefore), "%s changed (attributes 0x%lx)", otherPath,
           GetFileAttributesA(otherPath));
        check_link("C:\\TELDAX\\Velloran.lnk", Rewritten(Program, "C:\\MARY"));
        check_link(InFolder(CommonDesktop, "Velloran.lnk"), DesktopLink("C:\\MARY"));
        SetFileAttributesA(otherPath, FILE_ATTRIBUTE_NORMAL);
    }
    SetContext("%s", "");
}

static bool ReadWide(const WCHAR* path, FileCopy* copy)
{
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD read = 0;
    ReadFile(h, copy->bytes, sizeof copy->bytes, &read, NULL);
    CloseHandle(h);
    copy->length = (int)read;
    return true;
}

// A found name that makes a path of 259 characters is rewritten; one more
// character and the shortcut is passed over, and the search goes on.
static void TestLongNames()
{
    SetContext("long names");
    Fresh();
    WriteCode("MARY", 24);
    char fits[MAX_PATH];
    memset(fits, 0, sizeof fits);
    memcpy(fits, "C:\\TELDAX\\", 10);
    memset(fits + 10, 'f', 245);
    memcpy(fits + 255, ".lnk", 4);  // 259 characters
    MakeLink(fits, Program);

    // 260 characters: made under a short name, then renamed through the
    // wide API, which takes longer paths.
    WCHAR tooLong[MAX_PATH + 16] = L"\\\\?\\C:\\TELDAX\\";
    int used = lstrlenW(tooLong);
    for (int i = 0; i < 246; ++i)
        tooLong[used++] = L'g';
    lstrcpyW(tooLong + used, L".lnk");
    MakeLink("C:\\TELDAX\\Short.lnk", Program);
    ok(MoveFileW(L"C:\\TELDAX\\Short.lnk", tooLong), "cannot rename to a 250-character name: %lu", GetLastError());
    FileCopy before, after;
    ReadWide(tooLong, &before);
    // What that path cut to 259 characters would name: not a *.lnk, so never
    // to be touched.
    char cut[MAX_PATH];
    WideCharToMultiByte(CP_ACP, 0, tooLong + 4, -1, cut, sizeof cut, NULL, NULL);
    cut[MAX_PATH - 1] = '\0';
    MakeLink(cut, Program);
    FileCopy decoy;
    Keep(cut, &decoy);
    MakeLink("C:\\TELDAX\\Velloran.lnk", Program);

    int status = AfterInstall();
    ok(status == 1, "status %d", status);
    check_link(fits, Rewritten(Program, "C:\\MARY"));
    ok(ReadWide(tooLong, &after) && after.length == before.length && memcmp(after.bytes, before.bytes, before.length) == 0,
       "the shortcut with a 260-character path changed");
    check_unchanged(cut, decoy);
    check_link("C:\\TELDAX\\Velloran.lnk", Rewritten(Program, "C:\\MARY"));
    ok(Traced("ggg.lnk passed over: its path is longer than 259 characters") != NULL, "trace:\n%s", TraceText());
    DeleteFileW(tooLong);  // beyond what the harness's ANSI clean-up reaches
    SetContext("%s", "");
}

static bool SamePath(const char* a, const char* b)
{
    return lstrcmpiA(a, b) == 0;
}

// GetVersionExA reports Windows 7 for the NT family, Windows 98 otherwise.
static void ReportPlatform(DWORD platform)
{
    if (platform == VER_PLATFORM_WIN32_NT)
        ReportVersion(6, 1, platform);
    else
        ReportVersion(4, 10, platform);
}

// The desktop that the sequence's own version query chooses gets the new
// shortcut in place of the old ones and becomes the current directory; the
// other desktop is not touched.
static void TestDesktop()
{
    static const struct {
        const char* name;
        DWORD platform;
        const char* chosen;
        const char* other;
    } cases[] = {
        {"NT family: the desktop common to all users", VER_PLATFORM_WIN32_NT, CommonDesktop, UserDesktop},
        {"outside the NT family: the Windows folder's Desktop", VER_PLATFORM_WIN32_WINDOWS, WindowsDesktop,
         CommonDesktop},
    };
    for (const auto& c : cases) {
        SetContext("desktop, %s", c.name);
        Fresh();
        ReportPlatform(c.platform);
        WriteCode("MARY", 24);
        MakeLink("C:\\TELDAX\\Velloran.lnk", Program);
        MakeDirectory(WindowsDesktop);
        MakeLink(InFolder(c.chosen, "Velloran.lnk"), Program);
        const char* const desktops[] = {c.chosen, c.other};
        for (const char* desktop : desktops) {
            Touch(InFolder(desktop, "Shortcut to Pellitor.pif"));
            Touch(InFolder(desktop, "Shortcut to Velloran.lnk"));
        }

        int status = AfterInstall();
        ok(status == 1, "status %d", status);
        check_link(InFolder(c.chosen, "Velloran.lnk"), DesktopLink("C:\\MARY"));
        check_link("C:\\TELDAX\\Velloran.lnk", Rewritten(Program, "C:\\MARY"));
        ok(!FileExists(InFolder(c.chosen, "Shortcut to Pellitor.pif")), "old Pellitor shortcut kept");
        ok(!FileExists(InFolder(c.chosen, "Shortcut to Velloran.lnk")), "old Velloran shortcut kept");
        ok(FileExists(InFolder(c.other, "Shortcut to Pellitor.pif")) &&
               FileExists(InFolder(c.other, "Shortcut to Velloran.lnk")),
           "files deleted from %s", c.other);
        ok(!FileExists(InFolder(c.other, "Velloran.lnk")), "Velloran.lnk written in %s", c.other);
        ok(SamePath(Cwd(), c.chosen), "current directory %s, expected %s", Cwd(), c.chosen);
    }
    SetContext("%s", "");
}

static void MakeSystemFiles()
{
    for (const char* system : SystemFolders) {
        for (const char* name : SystemFiles)
            Touch(SystemFile(system, name));
    }
}

// The system folder follows the platform that BeforeInstall recorded in this
// process; the desktop follows AfterInstall's own version query.
static void TestSystemFiles()
{
    static const struct {
        const char* name;
        bool beforeInstall;
        DWORD platform;
        const char* emptied;
        const char* kept;
        bool readOnlyFirst;  // win32xac.dll read-only in the emptied folder
    } cases[] = {
        {"no BeforeInstall, NT family", false, VER_PLATFORM_WIN32_NT, "system", "system32", false},
        {"BeforeInstall on the NT family", true, VER_PLATFORM_WIN32_NT, "system32", "system", false},
        {"BeforeInstall outside the NT family", true, VER_PLATFORM_WIN32_WINDOWS, "system", "system32", false},
        {"read-only file", true, VER_PLATFORM_WIN32_NT, "system32", "system", true},
    };
    for (const auto& c : cases) {
        SetContext("system files: %s", c.name);
        Fresh();
        ReportPlatform(c.platform);
        WriteCode("MARY", 24);
        MakeSystemFiles();
        if (c.readOnlyFirst)
            SetFileAttributesA(SystemFile(c.emptied, "win32xac.dll"), FILE_ATTRIBUTE_READONLY);
        if (c.beforeInstall) {
            int status = CallExport("BeforeInstall", SetupWindow);
            ok(status == 1, "BeforeInstall status %d", status);
        }
        int status = AfterInstall();
        ok(status == 1, "status %d", status);
        for (const char* name : SystemFiles) {
            bool stays = c.readOnlyFirst && strcmp(name, "win32xac.dll") == 0;
            ok(FileExists(SystemFile(c.emptied, name)) == stays, "%s %s", SystemFile(c.emptied, name),
               stays ? "deleted" : "kept");
            ok(FileExists(SystemFile(c.kept, name)), "%s deleted", SystemFile(c.kept, name));
        }
        if (c.platform == VER_PLATFORM_WIN32_NT)
            ok(FileExists(InFolder(CommonDesktop, "Velloran.lnk")), "no Velloran.lnk on the common desktop");
    }
    SetContext("%s", "");
}

// The desktop folder cannot be determined: nothing is deleted or written on
// any desktop, the current directory stays, the rest is done.
static void TestDesktopUnknown()
{
    SetContext("desktop folder unknown");
    Fresh();
    WriteCode("MARY", 24);
    MakeLink("C:\\TELDAX\\Velloran.lnk", Program);
    MakeLink(InFolder(CommonDesktop, "Velloran.lnk"), Program);
    Touch(InFolder(CommonDesktop, "Shortcut to Pellitor.pif"));
    Touch(InFolder(CommonDesktop, "Shortcut to Velloran.lnk"));
    FileCopy oldDesktop;
    Keep(InFolder(CommonDesktop, "Velloran.lnk"), &oldDesktop);
    MakeSystemFiles();
    FailCall("SHGetSpecialFolderPathA");

    int status = AfterInstall();
    ClearFaults();
    ok(status == 1, "status %d", status);
    check_unchanged(InFolder(CommonDesktop, "Velloran.lnk"), oldDesktop);
    ok(FileExists(InFolder(CommonDesktop, "Shortcut to Pellitor.pif")) &&
           FileExists(InFolder(CommonDesktop, "Shortcut to Velloran.lnk")),
       "old desktop files deleted");
    ok(SamePath(Cwd(), "C:\\"), "current directory %s", Cwd());
    ok(!FileExists("C:\\Velloran.lnk"), "Velloran.lnk written in the current directory");
    check_link("C:\\TELDAX\\Velloran.lnk", Rewritten(Program, "C:\\MARY"));
    ok(!FileExists(SystemFile("system", "win32xac.dll")) && !FileExists(SystemFile("system", "tdx32inf.txt")),
       "system files kept");
    SetContext("%s", "");
}

// No link object can be made: no shortcut is touched and no new one appears,
// while the old desktop files and the current directory are still handled.
static void TestNoLinkObject()
{
    SetContext("no link object");
    Fresh();
    WriteCode("MARY", 24);
    MakeLink("C:\\TELDAX\\Velloran.lnk", Program);
    FileCopy product;
    Keep("C:\\TELDAX\\Velloran.lnk", &product);
    Touch(InFolder(CommonDesktop, "Shortcut to Velloran.lnk"));
    FailCall("CoCreateInstance", 0, NULL, (DWORD)REGDB_E_CLASSNOTREG);

    int status = AfterInstall();
    ClearFaults();
    ok(status == 1, "status %d", status);
    check_unchanged("C:\\TELDAX\\Velloran.lnk", product);
    ok(!FileExists(InFolder(CommonDesktop, "Velloran.lnk")), "Velloran.lnk written");
    ok(!FileExists(InFolder(CommonDesktop, "Shortcut to Velloran.lnk")), "old Velloran shortcut kept");
    ok(SamePath(Cwd(), CommonDesktop), "current directory %s", Cwd());
    SetContext("%s", "");
}

// --- Written as the platform's own save writes it -------------------------------------------

// MS-SHLLINK: what the StringData of the shortcut file at path holds by its
// LinkFlags: the relative path ("" when HasRelativePath is not set) and the
// working directory, ASCII texts. False when the bytes do not parse.
struct StringData {
    char relativePath[MAX_PATH];
    char workingDirectory[MAX_PATH];
};

static bool ReadStringData(const char* path, StringData* out)
{
    static BYTE bytes[65536];
    memset(out, 0, sizeof *out);
    int length = ReadBytes(path, bytes, sizeof bytes);
    if (length < 0x4C)
        return false;
    DWORD flags;
    memcpy(&flags, bytes + 0x14, sizeof flags);
    int at = 0x4C;
    if (flags & 0x1) {  // HasLinkTargetIDList: its size, then the list
        WORD size;
        memcpy(&size, bytes + at, sizeof size);
        at += 2 + size;
    }
    if (flags & 0x2) {  // HasLinkInfo: a structure that starts with its size
        DWORD size;
        memcpy(&size, bytes + at, sizeof size);
        at += (int)size;
    }
    // NAME, RELATIVE_PATH, WORKING_DIR, ARGUMENTS, ICON_LOCATION, each a
    // count of characters and the characters (UTF-16 when IsUnicode).
    static const DWORD present[] = {0x4, 0x8, 0x10, 0x20, 0x40};
    int width = (flags & 0x80) ? 2 : 1;
    for (int i = 0; i < 5; ++i) {
        if (!(flags & present[i]))
            continue;
        if (at + 2 > length)
            return false;
        WORD count;
        memcpy(&count, bytes + at, sizeof count);
        at += 2;
        if (at + count * width > length)
            return false;
        char* text = i == 1 ? out->relativePath : i == 2 ? out->workingDirectory : NULL;
        for (int k = 0; text && k < count && k < MAX_PATH - 1; ++k)
            text[k] = (char)bytes[at + k * width];
        at += count * width;
    }
    return true;
}

// The five properties saved by the platform's own IPersistFile::Save, on a
// new link object, as the plain write saved a shortcut.
static HRESULT SaveAsPlatform(const char* path, const ShortcutInfo& info)
{
    CoInitialize(NULL);
    IShellLinkA* link = NULL;
    IPersistFile* file = NULL;
    static const CLSID shellLink = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    HRESULT hr = CoCreateInstance(shellLink, NULL, CLSCTX_INPROC_SERVER, __uuidof(IShellLinkA), (void**)&link);
    if (SUCCEEDED(hr))
        hr = link->QueryInterface(__uuidof(IPersistFile), (void**)&file);
    if (SUCCEEDED(hr)) {
        link->SetPath(info.TargetPath);
        link->SetDescription(info.Description);
        link->SetHotkey(info.Hotkey);
        link->SetIconLocation(info.IconPath, info.IconIndex);
        link->SetWorkingDirectory(info.WorkingDirectory);
        WCHAR wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH);
        hr = file->Save(wide, TRUE);
    }
    if (file)
        file->Release();
    if (link)
        link->Release();
    CoUninitialize();
    return hr;
}

// A shortcut written through a handle from the link object's stream is the
// one the platform's own save of the file writes: every property read back
// through the link object, and the relative path and working directory in
// the file's bytes.
static void TestSameAsPlatformSave()
{
    static char program[] = "C:\\TELDAX\\Velloran Program.exe", tool[] = "C:\\other\\Tool.exe";
    static char none[] = "", reporting[] = "Velloran reporting", icon[] = "c:\\teldax\\velloran.ico";
    static char mary[] = "C:\\MARY", old[] = "C:\\OLD";
    static const struct {
        const char* name;
        ShortcutInfo info;
    } cases[] = {
        {"the desktop shortcut", {program, none, 0, icon, 0, mary}},
        {"every property", {program, reporting, CtrlAltV, icon, 65535, old}},
        {"a target in another folder, empty texts", {tool, none, 0, none, 0, none}},
    };
    for (const auto& c : cases) {
        SetContext("written as the platform's save writes it: %s", c.name);
        Fresh();
        MakeDirectory("C:\\other");
        WriteBytes(tool, "MZ", 2);
        const char* ours = "C:\\TELDAX\\Ours.lnk";
        const char* platforms = "C:\\TELDAX\\Platform's.lnk";
        HRESULT hr = WriteHeld(ours, &c.info, CREATE_NEW);
        ok(hr == S_OK, "WriteShortcut: 0x%08lx", hr);
        hr = SaveAsPlatform(platforms, c.info);
        ok(hr == S_OK, "IPersistFile::Save: 0x%08lx", hr);

        LinkRead a, b;
        ReadLink(ours, &a);
        ReadLink(platforms, &b);
        ok(a.status == S_OK && b.status == S_OK, "loads 0x%08lx and 0x%08lx", a.status, b.status);
        ok(strcmp(a.target, b.target) == 0, "target \"%s\", the platform's \"%s\"", a.target, b.target);
        ok(strcmp(a.arguments, b.arguments) == 0, "arguments \"%s\", the platform's \"%s\"", a.arguments, b.arguments);
        ok(strcmp(a.description, b.description) == 0, "description \"%s\", the platform's \"%s\"", a.description,
           b.description);
        ok(a.hotkey == b.hotkey, "hotkey 0x%04x, the platform's 0x%04x", a.hotkey, b.hotkey);
        ok(strcmp(a.iconPath, b.iconPath) == 0 && a.iconIndex == b.iconIndex, "icon %s,%d, the platform's %s,%d",
           a.iconPath, a.iconIndex, b.iconPath, b.iconIndex);
        ok(strcmp(a.workingDirectory, b.workingDirectory) == 0 &&
               strcmp(a.workingDirectory, c.info.WorkingDirectory) == 0,
           "working directory \"%s\", the platform's \"%s\"", a.workingDirectory, b.workingDirectory);
        ok(a.showCommand == b.showCommand, "show command %d, the platform's %d", a.showCommand, b.showCommand);

        StringData ourData, platformData;
        ok(ReadStringData(ours, &ourData) && ReadStringData(platforms, &platformData), "the bytes do not parse");
        ok(strcmp(ourData.relativePath, platformData.relativePath) == 0,
           "relative path \"%s\" in the bytes, the platform's \"%s\"", ourData.relativePath,
           platformData.relativePath);
        ok(strcmp(ourData.workingDirectory, c.info.WorkingDirectory) == 0,
           "working directory \"%s\" in the bytes, expected \"%s\"", ourData.workingDirectory,
           c.info.WorkingDirectory);
    }
    SetContext("%s", "");
}

// --- What the shell asks for when it opens a shortcut ----------------------------------------

// Wine's shell opens a .lnk through shcore.dll's CreateFileW. Here each such
// open asks for exclusive access, as ReactOS's shell does: no public document
// says what each Windows version's shell asks for.
static decltype(&CreateFileW) ShellCreateFileW;
static int ShellShortcutOpens;

static HANDLE WINAPI ExclusiveCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                          DWORD disposition, DWORD flags, HANDLE templateFile)
{
    int length = path ? lstrlenW(path) : 0;
    if (length > 4 && lstrcmpiW(path + length - 4, L".lnk") == 0) {
        ++ShellShortcutOpens;
        share = 0;
    }
    return ShellCreateFileW(path, access, share, security, disposition, flags, templateFile);
}

// Every shortcut is still rewritten and the desktop shortcut written: the
// shell never opens them by name.
static void TestShellOpensExclusive()
{
    SetContext("the shell's opens of shortcuts exclusive");
    Fresh();
    WriteCode("MARY", 24);
    const Link dictionary = {ProgramPath, "-d", "Velloran Dictionary", 0, "C:\\TELDAX\\velloran.ico", 1, "C:\\OLD",
                             0};
    MakeLink("C:\\TELDAX\\Velloran.lnk", Program);
    MakeLink("C:\\TELDAX\\Velloran Dictionary.lnk", dictionary);
    MakeLink(InFolder(CommonDesktop, "Shortcut to Velloran.lnk"), Program);
    HMODULE shcore = GetModuleHandleA("shcore.dll");
    void* shellOpen = shcore ? PatchImport(shcore, "CreateFileW", (void*)ExclusiveCreateFileW) : NULL;
    if (!shellOpen) {
        Skip("the shell's own opens of shortcuts are not reached here (no shcore.dll importing CreateFileW)");
        SetContext("%s", "");
        return;
    }
    ShellCreateFileW = (decltype(&CreateFileW))shellOpen;
    ShellShortcutOpens = 0;
    int status = AfterInstall();
    PatchImport(shcore, "CreateFileW", shellOpen);
    ok(status == 1, "status %d", status);
    check_link("C:\\TELDAX\\Velloran.lnk", Rewritten(Program, "C:\\MARY"));
    check_link("C:\\TELDAX\\Velloran Dictionary.lnk", Rewritten(dictionary, "C:\\MARY"));
    check_link(InFolder(CommonDesktop, "Velloran.lnk"), DesktopLink("C:\\MARY"));
    ok(ShellShortcutOpens == 0, "the shell opened shortcuts %d times", ShellShortcutOpens);
    SetContext("%s", "");
}

// --- Where the held files lie ---------------------------------------------------------------

// A file whose handle says that it lies outside the folder that was checked
// (another path on the volume, or another volume), or a folder whose handle
// names another path: nothing is written there, a file made for the write
// goes again, and the rest is done.
static void TestFilesOutsideTheirFolder()
{
    static const WCHAR ElsewhereProduct[] = L"\\elsewhere\\Velloran Dictionary.lnk";
    static const struct {
        const char* name;
        const char* pathPart;      // of what the library opened
        const WCHAR* reportedName; // NULL: the real one
        bool otherVolume;         // its object's name on another device
        bool productWritten, desktopWritten;
        const char* traced;
    } cases[] = {
        {"a shortcut's path elsewhere on the volume", "\\TELDAX\\Velloran Dictionary.lnk", ElsewhereProduct, 0,
         false, true,
         "C:\\TELDAX\\Velloran Dictionary.lnk not written: its handle names "
         "\"\\elsewhere\\Velloran Dictionary.lnk\""},
        {"a shortcut on another volume", "\\TELDAX\\Velloran Dictionary.lnk", NULL, true, false, true,
         "C:\\TELDAX\\Velloran Dictionary.lnk not written: it lies on another volume"},
        {"the desktop shortcut made on another volume", "Velloran.lnk", NULL, true, true, false,
         "Velloran.lnk not written: it lies on another volume"},
        {"the desktop shortcut made elsewhere on the volume", "Velloran.lnk", L"\\elsewhere\\Velloran.lnk", false, true,
         false, "Velloran.lnk not written: its handle names \"\\elsewhere\\Velloran.lnk\""},
        {"C:\\TELDAX's handle names another folder", "TELDAX", L"\\elsewhere", false, false, true,
         "nothing written in C:\\TELDAX: its handle names \"\\elsewhere\""},
    };
    const Link dictionary = {ProgramPath, "-d", "Velloran Dictionary", 0, "C:\\TELDAX\\velloran.ico", 1, "C:\\OLD",
                             0};
    for (const auto& c : cases) {
        SetContext("outside its folder: %s", c.name);
        Fresh();
        WriteCode("MARY", 24);
        const char* product = "C:\\TELDAX\\Velloran Dictionary.lnk";
        MakeLink(product, dictionary);
        FileCopy before;
        Keep(product, &before);
        if (c.reportedName)
            ReportFileName(c.pathPart, c.reportedName);
        if (c.otherVolume)
            ReportVolumeDevice(c.pathPart, L"\\Device\\AnotherVolume");
        int status = AfterInstall();
        UseRealFileNames();
        ok(status == 1, "status %d", status);
        if (c.productWritten)
            check_link(product, Rewritten(dictionary, "C:\\MARY"));
        else
            check_unchanged(product, before);
        if (c.desktopWritten) {
            // RC.DAT is read through the checked folder too: from one whose
            // handle names another, nothing, and the desktop starts in C:\.
            bool folderElsewhere = strcmp(c.pathPart, "TELDAX") == 0;
            check_link(InFolder(CommonDesktop, "Velloran.lnk"), DesktopLink(folderElsewhere ? "C:\\" : "C:\\MARY"));
        } else {
            ok(!FileExists(InFolder(CommonDesktop, "Velloran.lnk")), "the desktop shortcut made for it stays");
            ok(Traced("Velloran.lnk deleted again: it was made empty to be held") != NULL, "trace:\n%s",
               TraceText());
        }
        ok(Traced(c.traced) != NULL, "no trace line \"%s\" in:\n%s", c.traced, TraceText());
    }
    SetContext("%s", "");
}

// A shortcut's twin is deleted through a handle on which it was checked to
// lie in C:\TELDAX: when that handle says it lies elsewhere (the folder made
// a junction meanwhile), nothing is deleted, and the shortcut is still
// rewritten.
static void TestTwinOutsideItsFolder()
{
    static const struct {
        const char* name;
        const WCHAR* reportedName;  // NULL: the real one
        bool otherVolume;
        DWORD attributes;           // the twin's
        const char* traced;
    } cases[] = {
        {"a twin's path elsewhere on the volume", L"\\elsewhere\\Velloran.PIF", false, FILE_ATTRIBUTE_NORMAL,
         "C:\\TELDAX\\Velloran.PIF not deleted: its handle names \"\\elsewhere\\Velloran.PIF\""},
        {"a read-only twin's path elsewhere on the volume", L"\\elsewhere\\Velloran.PIF", false,
         FILE_ATTRIBUTE_READONLY,
         "C:\\TELDAX\\Velloran.PIF not deleted: its handle names \"\\elsewhere\\Velloran.PIF\""},
        {"a twin on another volume", NULL, true, FILE_ATTRIBUTE_NORMAL,
         "C:\\TELDAX\\Velloran.PIF not deleted: it lies on another volume"},
    };
    for (const auto& c : cases) {
        SetContext("outside its folder: %s", c.name);
        Fresh();
        WriteCode("MARY", 24);
        MakeLink("C:\\TELDAX\\Velloran.lnk", Program);
        Touch("C:\\TELDAX\\Velloran.PIF");
        SetFileAttributesA("C:\\TELDAX\\Velloran.PIF", c.attributes);
        DWORD attributesBefore = GetFileAttributesA("C:\\TELDAX\\Velloran.PIF");
        if (c.reportedName)
            ReportFileName("Velloran.PIF", c.reportedName);
        if (c.otherVolume)
            ReportVolumeDevice("Velloran.PIF", L"\\Device\\AnotherVolume");
        int status = AfterInstall();
        UseRealFileNames();
        ok(status == 1, "status %d", status);
        // What the name leads to is not the checked file: it stays as it was.
        ok(FileExists("C:\\TELDAX\\Velloran.PIF"), "the twin was deleted");
        ok(GetFileAttributesA("C:\\TELDAX\\Velloran.PIF") == attributesBefore,
           "the twin's attributes are 0x%lx, were 0x%lx", GetFileAttributesA("C:\\TELDAX\\Velloran.PIF"),
           attributesBefore);
        check_link("C:\\TELDAX\\Velloran.lnk", Rewritten(Program, "C:\\MARY"));
        ok(Traced(c.traced) != NULL, "no trace line \"%s\" in:\n%s", c.traced, TraceText());
        SetFileAttributesA("C:\\TELDAX\\Velloran.PIF", FILE_ATTRIBUTE_NORMAL);
    }
    SetContext("%s", "");
}

// --- How names are made -----------------------------------------------------------------------

// From Windows 2000 on, every open that may make a file carries
// FILE_FLAG_OPEN_REPARSE_POINT: a name is made, never what a link put at it
// leads to. NT 4.0 has no reparse points and no such flag. The desktop
// shortcut is made anew; the install folder's shortcuts are rewritten.
static void TestCreateFlags()
{
    static const struct {
        const char* name;
        DWORD major, minor;
        bool flag;
    } cases[] = {
        {"Windows 2000", 5, 0, true},
        {"Windows 7", 6, 1, true},
        {"NT 4.0", 4, 0, false},
    };
    for (const auto& c : cases) {
        SetContext("names made on %s", c.name);
        Fresh();
        ReportVersion(c.major, c.minor, VER_PLATFORM_WIN32_NT);
        WriteCode("MARY", 24);
        MakeLink("C:\\TELDAX\\Velloran.lnk", Program);
        int status = AfterInstall();
        UseRealVersion();
        ok(status == 1, "status %d", status);
        check_link("C:\\TELDAX\\Velloran.lnk", Rewritten(Program, "C:\\MARY"));
        check_link(InFolder(CommonDesktop, "Velloran.lnk"), DesktopLink("C:\\MARY"));
        int creates = CheckCreateFlags(c.flag);
        ok(creates > 0, "no open made a file");
    }
    SetContext("%s", "");
}

// On Windows 95, 98 and Me there are no links: nothing is held or checked,
// no folder opened, and each shortcut opened once, to be read and written.
static void TestNothingHeldOn9x()
{
    SetContext("nothing held on the 9x family");
    Fresh();
    ReportVersion(4, 10, VER_PLATFORM_WIN32_WINDOWS);
    MakeDirectory(WindowsDesktop);
    WriteCode("MARY", 24);
    MakeLink("C:\\TELDAX\\Velloran.lnk", Program);
    int status = AfterInstall();
    UseRealVersion();
    ok(status == 1, "status %d", status);
    check_link("C:\\TELDAX\\Velloran.lnk", Rewritten(Program, "C:\\MARY"));
    check_link(InFolder(WindowsDesktop, "Velloran.lnk"), DesktopLink("C:\\MARY"));
    ok(CallCount("GetFileInformationByHandle") + CallCount("NtQueryInformationFile") == 0, "%d files checked",
       CallCount("GetFileInformationByHandle") + CallCount("NtQueryInformationFile"));
    int product = 0, desktop = 0;
    for (int i = 0; i < OpenCount && i < (int)ARRAYSIZE(Opens); ++i) {
        const OpenRecord& r = Opens[i];
        ok(!(r.flags & (FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT)), "%s opened with flags 0x%08lx",
           r.path, r.flags);
        if (_stricmp(r.path, "C:\\TELDAX\\Velloran.lnk") == 0) {
            ++product;
            ok(r.access == (GENERIC_READ | GENERIC_WRITE) && r.disposition == OPEN_EXISTING,
               "the shortcut opened for 0x%08lx, disposition %lu", r.access, r.disposition);
        } else if (_stricmp(r.path, "Velloran.lnk") == 0) {
            ++desktop;
            ok(r.access == (GENERIC_READ | GENERIC_WRITE) && r.disposition == OPEN_ALWAYS,
               "the desktop shortcut opened for 0x%08lx, disposition %lu", r.access, r.disposition);
        }
    }
    ok(product == 1 && desktop == 1, "the shortcut opened %d times, the desktop shortcut %d times", product, desktop);
    SetContext("%s", "");
}

// RC.DAT made a second name of a file that the setup program may read (a
// secret of another user's): AfterInstall does not read it, so nothing of it
// reaches a shortcut or the trace.
static void TestCodeFileLinkNotRead()
{
    SetContext("RC.DAT a hard link to a secret");
    Fresh();
    MakeLink("C:\\TELDAX\\Velloran.lnk", Program);
    static const char Secret[] = "S3CRET-TOKEN-0042";
    WriteBytes("C:\\secret.txt", Secret, sizeof Secret - 1);
    MakeHardLink(CodePath, "C:\\secret.txt");
    int status = AfterInstall();
    ok(status == 1, "status %d", status);
    check_link(InFolder(CommonDesktop, "Velloran.lnk"), DesktopLink("C:\\"));
    ok(Traced("C:\\TELDAX\\RC.DAT not read: it has 2 names (a hard link)") != NULL, "trace:\n%s", TraceText());
    ok(Traced("S3CRET") == NULL, "the secret in the trace:\n%s", TraceText());
    DeleteFileA(CodePath);
    DeleteFileA("C:\\secret.txt");
    ClearContext();
}

// A shortcut whose target is gone, rewritten as AfterInstall rewrites the
// product's: in the setup program's own session the shell may ask where the
// target went (SLR_ANY_MATCH, no window); where nobody can answer it shows
// nothing and gives up after a second, and neither searches nor tracks
// (Resolve's flags, read through the link object; Wine's own Resolve never
// shows a dialog, so the flags are what can be seen here).
static const DWORD QuietResolve = SLR_ANY_MATCH | SLR_NO_UI | SLR_NOSEARCH | SLR_NOTRACK | SLR_NOLINKINFO |
                                  (1000 << 16);
static const Link Orphan = {"C:\\gone\\vell.exe", "", "Velloran", 0, "", 0, "C:\\OLD", 0};

static void TestResolveFlags()
{
    static const struct {
        const char* what;
        DWORD major, minor;
        int session;  // reported by ProcessIdToSessionId; -1: the real one
        DWORD flags;
        const char* why;
    } cases[] = {
        {"the person's session (Windows 7, session 1)", 6, 1, 1, SLR_ANY_MATCH,
         "the shell may ask where a target went"},
        {"session 0 on Windows 7: no one's desktop", 6, 1, 0, QuietResolve,
         "the process runs in session 0, which no one sees"},
        {"session 0 on Vista", 6, 0, 0, QuietResolve, "the process runs in session 0, which no one sees"},
        {"session 0 on XP: the console's own", 5, 1, 0, SLR_ANY_MATCH, "the shell may ask where a target went"},
        {"what Wine reports", 6, 1, -1, SLR_ANY_MATCH, "the shell may ask where a target went"},
    };
    for (const auto& c : cases) {
        SetContext("Resolve's flags, %s", c.what);
        Fresh();
        MakeLink("C:\\TELDAX\\Velloran.lnk", Orphan);
        ProxyLinkObjects(Library);
        ReportVersion(c.major, c.minor, VER_PLATFORM_WIN32_NT);
        if (c.session >= 0)
            ReportSessionId((DWORD)c.session);
        int status = AfterInstall();
        UseRealSession();
        UseRealVersion();
        ok(status == 1, "status %d", status);
        ok(ResolveCount == 1, "%d resolves", ResolveCount);
        ok(ResolveCount < 1 || (Resolves[0].flags == c.flags && Resolves[0].window == NULL),
           "resolved with flags 0x%08lx and window %p, expected 0x%08lx and none", Resolves[0].flags,
           (void*)Resolves[0].window, c.flags);
        char traced[128];
        snprintf(traced, sizeof traced, "shortcuts resolved with flags 0x%08lX: %s", c.flags, c.why);
        ok(Traced(traced) != NULL, "no trace line \"%s\" in:\n%s", traced, TraceText());
    }
    ClearContext();
}

// AfterInstall where nobody sees the screen: this program again, on the
// desktop of a window station that is not visible (tools/unseen.h), as a
// deployment agent's SYSTEM account runs a setup program. It ends by itself,
// no dialog or box is made on that desktop, and the shortcut whose target is
// gone was resolved without a window, search or tracking.
static const char UnseenResult[] = "C:\\unseen-resolve.txt";

static int RunUnseenChild()
{
    LoadLibraryUnderTest();
    ProxyLinkObjects(Library);
    int status = CallExport("AfterInstall", NULL);
    char result[128];
    snprintf(result, sizeof result, "%d %d 0x%08lx", status, ResolveCount, ResolveCount ? Resolves[0].flags : 0);
    WriteBytes(UnseenResult, result, (int)strlen(result));
    return 0;
}

static void TestUnseenAfterInstall()
{
    SetContext("AfterInstall where nobody sees the screen");
    Fresh();
    MakeLink("C:\\TELDAX\\Velloran.lnk", Orphan);
    DeleteFileA(UnseenResult);
    char self[MAX_PATH], command[3 * MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    snprintf(command, sizeof command, "\"%s\" \"%s\" --unseen-child", self, LibraryPath());
    UnseenRun run;
    RunUnseenChecked(command, UnseenLimitMs, true, &run);
    ok(run.exitCode == 0, "exit code %lu", run.exitCode);
    char result[128], expected[128];
    snprintf(expected, sizeof expected, "1 1 0x%08lx", QuietResolve);
    ok(ReadText(UnseenResult, result, sizeof result) > 0 && strcmp(result, expected) == 0,
       "AfterInstall there: \"%s\", expected \"%s\" (status, resolves, flags)", result, expected);
    printf("AfterInstall where nobody sees the screen: ended after %lu ms, %d windows made there\n", run.elapsedMs,
           run.windowCount);
    DeleteFileA(UnseenResult);
    ClearContext();
}

int main(int argc, char** argv)
{
    InitHarness(argc, argv);
    if (argc > 2 && strcmp(argv[2], "--unseen-child") == 0)
        return RunUnseenChild();
    // The shortcut code compiled into this program goes through the same
    // hooks as the library's.
    InstallHooks(GetModuleHandleA(NULL));
    ok(FindPlaces(), "desktops \"%s\" and \"%s\"", CommonDesktop, UserDesktop);
    SetupWindow = MakeOwnerWindow();

    TestReadShortcut();
    TestReadShortcutFailures();
    TestWriteShortcut();
    TestCallerApartment();
    TestCodeFile();
    TestCodeFromBeforeInstall();
    TestSkipList();
    TestRewrite();
    TestUnreadableShortcuts();
    TestPlantedNames();
    TestNamesSwappedDuringWrite();
    TestLongNames();
    TestDesktop();
    TestSystemFiles();
    TestDesktopUnknown();
    TestNoLinkObject();
    TestSameAsPlatformSave();
    TestShellOpensExclusive();
    TestFilesOutsideTheirFolder();
    TestTwinOutsideItsFolder();
    TestCreateFlags();
    TestNothingHeldOn9x();
    TestCodeFileLinkNotRead();
    TestResolveFlags();
    TestUnseenAfterInstall();

    CleanPlaces();
    DestroyWindow(SetupWindow);
    return FinishTests("shortcuts");
}
