// The library as the setup program meets it: the module's name and exports,
// the calling contract, the module entry, the dialog template in its
// resources, and the Windows version gate.
#include "harness.h"
#include "src/interface/exports.h"
#include "src/interface/trace.h"

#include <stdio.h>
#include <string.h>

static HWND SetupWindow;

static BYTE* ImageBase()
{
    return (BYTE*)Library;
}

static IMAGE_NT_HEADERS* NtHeaders()
{
    return (IMAGE_NT_HEADERS*)(ImageBase() + ((IMAGE_DOS_HEADER*)ImageBase())->e_lfanew);
}

// Each declared export has the type the setup program calls it through.
#define EXPECT_EXPORT_TYPE(name) \
    static_assert(__is_same(decltype(&name), ExportProc), #name " is not a five-argument __stdcall export");
VINSTALL_EXPORT_LIST(EXPECT_EXPORT_TYPE)
#undef EXPECT_EXPORT_TYPE
static_assert(__is_same(decltype(&BeforeInstallWithCode), int(__stdcall*)(HWND, LPCSTR, DWORD, LPSTR, DWORD)),
              "BeforeInstallWithCode is not the five-argument __stdcall export its callers declare");
static_assert(__is_same(decltype(&ProtectInstallFolder), int(__stdcall*)(HWND, LPARAM, DWORD, LPSTR, DWORD)),
              "ProtectInstallFolder is not the five-argument __stdcall export its callers declare");
static_assert(__is_same(decltype(&RemoveLibraryFiles), int(__stdcall*)(HWND, LPCSTR, DWORD, LPSTR, DWORD)),
              "RemoveLibraryFiles is not the five-argument __stdcall export its callers declare");

// The export directory itself is read from the file by test_artifact; here
// the loader finds each export by its plain name.
static void test_export_directory()
{
    LoadLibraryUnderTest();
    for (const char* e : ExportNames)
        ok(FindExport(e) != NULL, "export \"%s\" not found by its plain name", e);
}

#if defined(__i386__)
// Calls an export through a five-argument __stdcall call and measures how
// many bytes of arguments it removed from the stack. Only 32-bit code has a
// convention to get wrong; the shipped file's instructions are checked on
// every machine by scripts/check-export-returns.sh.
static int CallMeasuringStack(ExportProc proc, HWND window, DWORD* removed, const LPARAM (&arguments)[4])
{
    int result;
    DWORD before, after;
    const LPARAM* pushed = arguments;
    asm volatile("movl %%esp, %1\n\t"
                 "pushl 12(%%edx)\n\t"
                 "pushl 8(%%edx)\n\t"
                 "pushl 4(%%edx)\n\t"
                 "pushl (%%edx)\n\t"
                 "pushl %%ecx\n\t"
                 "call *%%ebx\n\t"
                 "movl %%esp, %2\n\t"
                 "movl %1, %%esp\n\t"
                 : "=&a"(result), "=&S"(before), "=&D"(after), "+d"(pushed), "+c"(window)
                 : "b"(proc)
                 : "memory", "cc");
    *removed = after - before + 20;
    return result;
}
#endif

// Calls the export name found as proc (NULL: -1) with the setup program's
// window and these four further arguments; in 32-bit code, a failed test
// unless it removed the 20 bytes of its five arguments.
static int CallExportProc(ExportProc proc, const char* name,
                          const LPARAM (&arguments)[4] = {0x11111111, 0x22222222, 0x33333333, 0x44444444})
{
#if defined(__i386__)
    DWORD removed = 0;
    int status = proc ? CallMeasuringStack(proc, SetupWindow, &removed, arguments) : -1;
    ok(removed == 20, "%s removed %lu bytes of arguments, expected 20", name, removed);
    return status;
#else
    (void)name;
    return proc ? proc(SetupWindow, arguments[0], arguments[1], arguments[2], arguments[3]) : -1;
#endif
}

static void PrepareStoredCode()
{
    CleanDrive();
    MakeDirectory("C:\\TELDAX");
    MakeDirectory("C:\\start");
    WriteBytes("C:\\TELDAX\\RC.DAT", "MARY\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 24);
    SetCwd("C:\\start");
}

static void test_calling_contract()
{
    static const struct {
        const char* name;
        int status;
    } exports[] = {{"BeforeInstall", 1}, {"AfterInstall", 1}, {"UpdateInfo", 1},
                   {"MLDInfo", 1},       {"InstallPDF", 1},   {"Chk4TELDAX", 0}};
#if !defined(__i386__)
    Skip("the bytes of arguments each export removes: measured in 32-bit code only");
#endif
    for (const auto& e : exports) {
        LoadLibraryUnderTest();
        PrepareStoredCode();
        ShellExecuteRecordOnly = true;
        int status = CallExportProc(FindExport(e.name), e.name);
        ShellExecuteRecordOnly = false;
        ok(status == e.status, "%s: status %d, expected %d", e.name, status, e.status);
        // The trace opens with the call and its window and closes with the status.
        char called[64], returns[64];
        snprintf(called, sizeof called, "VINSTALLDLL: %s: called, window 0x%p\n", e.name, (void*)SetupWindow);
        snprintf(returns, sizeof returns, "VINSTALLDLL: %s: returns %d\n", e.name, e.status);
        // The window's digits in either case: the C runtime decides.
        ok(_stricmp(TraceLine(0), called) == 0, "first trace line %s, expected %s",
           Show(TraceLine(0), strlen(TraceLine(0))), called);
        ok(TraceCount > 1 && strcmp(TraceLine(TraceCount - 1), returns) == 0, "last trace line %s, expected %s",
           Show(TraceLine(TraceCount - 1), strlen(TraceLine(TraceCount - 1))), returns);
    }
    RemoveTree("C:\\users\\Public\\Desktop\\Velloran.lnk");
    int status;

    // The seventh export reads its four: a code, the options, a buffer and
    // its size.
    LoadLibraryUnderTest();
    PrepareStoredCode();
    char line[128] = "";
    const LPARAM withCode[4] = {(LPARAM) "john", VINSTALL_SILENT, (LPARAM)line, sizeof line};
    status = CallExportProc(FindExport("BeforeInstallWithCode"), "BeforeInstallWithCode", withCode);
    ok(status == 1 && strcmp(line, "stored reporter code MARY kept: the given code john was not used") == 0,
       "BeforeInstallWithCode: status %d, \"%s\"", status, line);

    // The two for the install folder read theirs too: a check of the folder,
    // and a removal of nothing but the library's files.
    static const struct {
        const char* name;
        LPARAM second;
        DWORD options;
        int status;
        const char* line;
    } folderExports[] = {
        {"ProtectInstallFolder", 0, VINSTALL_SILENT | VINSTALL_CHECK_ONLY, 0,
         "C:\\TELDAX: S-1-5-21-0-0-0-1000 may change it as its owner"},
        {"RemoveLibraryFiles", (LPARAM) "", VINSTALL_SILENT, 1, "files deleted: 0; C:\\TELDAX kept: it is not empty"},
    };
    for (const auto& e : folderExports) {
        LoadLibraryUnderTest();
        PrepareStoredCode();
        char folderLine[512] = "";
        const LPARAM arguments[4] = {e.second, (LPARAM)e.options, (LPARAM)folderLine, sizeof folderLine};
        status = CallExportProc(FindExport(e.name), e.name, arguments);
        ok(status == e.status && strncmp(folderLine, e.line, strlen(e.line)) == 0, "%s: status %d, \"%s\"", e.name,
           status, folderLine);
    }

    // The four further arguments are never read.
    static const LPARAM extras[][4] = {{0, 0, 0, 0}, {-1, -1, -1, -1}, {1, 2, 3, 4}};
    for (const auto& e : extras) {
        LoadLibraryUnderTest();
        PrepareStoredCode();
        status = CallExport("BeforeInstall", SetupWindow, e[0], e[1], e[2], e[3]);
        ok(status == 1 && MessageCount == 0, "arguments %ld..%ld: status %d, %d messages", (long)e[0], (long)e[3], status,
           MessageCount);
    }
}

// The module entry records the instance only on process attach: thread
// notifications with another instance leave the dialog loadable.
static void test_module_entry()
{
    LoadLibraryUnderTest();
    typedef BOOL(WINAPI * EntryProc)(HINSTANCE, DWORD, LPVOID);
    EntryProc entry = (EntryProc)(void*)(ImageBase() + NtHeaders()->OptionalHeader.AddressOfEntryPoint);
    HINSTANCE bogus = (HINSTANCE)0x00BAD000;
    ok(entry(bogus, DLL_THREAD_ATTACH, NULL) == TRUE, "thread attach refused");
    ok(entry(bogus, DLL_THREAD_DETACH, NULL) == TRUE, "thread detach refused");

    CleanDrive();
    DialogAction cancel[] = {{ClickCancel, NULL}};
    ScriptDialog(cancel, 1);
    int status = CallExport("BeforeInstall", SetupWindow);
    ok(status == 0 && Dialog.shown == 1, "dialog after thread notifications: status %d, shown %d", status,
       Dialog.shown);
}

// --- The dialog template, read back from the resources ---------------------------------

static const WORD* SkipSzOrOrd(const WORD* p, char* out, int size)
{
    if (*p == 0xFFFF) {
        snprintf(out, size, "#%u", p[1]);
        return p + 2;
    }
    int length = WideCharToMultiByte(CP_ACP, 0, (LPCWSTR)p, -1, out, size, NULL, NULL);
    if (length == 0)
        out[0] = '\0';
    return p + lstrlenW((LPCWSTR)p) + 1;
}

struct ControlSpec {
    WORD id;
    const char* className;
    const char* text;
    DWORD style;
    short x, y, cx, cy;
};

static const ControlSpec ExpectedControls[] = {
    {0xFFFF, "#130",
     "Please enter your reporter code.\n\nIf you have previously installed the Velloran software, you must use "
     "the same reporter code you used on the other computer.",
     WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 6, 2, 203, 36},
    {200, "#129", "", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, 57, 91, 96, 12},
    {1, "#128", "&OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 168, 92, 41, 13},
    {2, "#128", "&Cancel", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 168, 108, 41, 13},
    {0xFFFF, "#130", "Reporter Code:", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 6, 92, 48, 9},
    {0xFFFF, "#130",
     "If you had a dictionary converted, check the dictionary conversion CD for your assigned reporter code."
     "\n\nYour reporter code is usually your first name or initials and must be 24 letters or less and "
     "contain no spaces.",
     WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 5, 41, 205, 41},
};

static void test_dialog_template()
{
    LoadLibraryUnderTest();
    HRSRC found = FindResourceA(Library, "ReptrCode", (LPCSTR)RT_DIALOG);
    ok(found != NULL, "no dialog resource \"ReptrCode\"");
    if (!found)
        return;
    const DLGTEMPLATE* t = (const DLGTEMPLATE*)LockResource(LoadResource(Library, found));
    ok(!(((const WORD*)t)[0] == 1 && ((const WORD*)t)[1] == 0xFFFF), "an extended template, not a classic one");
    ok(t->style == 0x80C808C6, "style 0x%08lx", t->style);
    ok(t->dwExtendedStyle == 0, "extended style 0x%08lx", t->dwExtendedStyle);
    ok(t->x == 0 && t->y == 0 && t->cx == 217 && t->cy == 126, "at %d,%d size %dx%d", t->x, t->y, t->cx, t->cy);
    ok(t->cdit == ARRAYSIZE(ExpectedControls), "%u controls", t->cdit);

    char text[512];
    const WORD* p = (const WORD*)(t + 1);
    p = SkipSzOrOrd(p, text, sizeof text);
    ok(text[0] == '\0', "menu \"%s\"", text);
    p = SkipSzOrOrd(p, text, sizeof text);
    ok(text[0] == '\0', "class \"%s\"", text);
    p = SkipSzOrOrd(p, text, sizeof text);
    ok(strcmp(text, "Reporter Code") == 0, "caption \"%s\"", text);
    WORD points = *p++;
    p = SkipSzOrOrd(p, text, sizeof text);
    ok(points == 10 && strcmp(text, "MS Sans Serif") == 0, "font %u \"%s\"", points, text);

    for (int i = 0; i < t->cdit && i < (int)ARRAYSIZE(ExpectedControls); ++i) {
        const ControlSpec& e = ExpectedControls[i];
        SetContext("control %d", i + 1);
        p = (const WORD*)(((ULONG_PTR)p + 3) & ~(ULONG_PTR)3);
        const DLGITEMTEMPLATE* item = (const DLGITEMTEMPLATE*)p;
        ok(item->id == e.id, "id 0x%04x, expected 0x%04x", item->id, e.id);
        ok(item->style == e.style, "style 0x%08lx, expected 0x%08lx", item->style, e.style);
        ok(item->dwExtendedStyle == 0, "extended style 0x%08lx", item->dwExtendedStyle);
        ok(item->x == e.x && item->y == e.y && item->cx == e.cx && item->cy == e.cy, "at %d,%d size %dx%d",
           item->x, item->y, item->cx, item->cy);
        p = (const WORD*)(item + 1);
        p = SkipSzOrOrd(p, text, sizeof text);
        ok(strcmp(text, e.className) == 0, "class \"%s\", expected \"%s\"", text, e.className);
        p = SkipSzOrOrd(p, text, sizeof text);
        ok(strcmp(text, e.text) == 0, "text %s", Show(text, strlen(text)));
        WORD extra = *p++;
        p = (const WORD*)((const BYTE*)p + extra);
    }
    ClearContext();
}

// --- The version gate -------------------------------------------------------------------

static const char RefusalText[] =
    "Your version of the Velloran\nsoftware does not work with\nthis version of Windows.";

struct VersionCase {
    DWORD major, minor;
    bool refused;
};

static const VersionCase VersionCases[] = {
    {4, 0, false},  {4, 10, false}, {4, 90, false}, {5, 0, false}, {5, 1, false},
    {5, 2, false},  {6, 0, false},  {6, 1, false},  {6, 2, false}, {6, 3, true},
    {7, 0, true},   {10, 0, true},  {6, 0xFFFFFFFF, true},          {0xFFFFFFFF, 0, true},
    {0x80000000, 0, true},          {5, 0xFFFFFFFF, false},
};

static void test_version_gate()
{
    for (const VersionCase& c : VersionCases) {
        for (DWORD platform = 1; platform <= 2; ++platform) {
            SetContext("version %lu.%lu platform %lu", c.major, c.minor, platform);
            LoadLibraryUnderTest();
            // A fresh machine: a passing version goes on to the dialog.
            CleanDrive();
            MakeDirectory("C:\\start");
            SetCwd("C:\\start");
            ReportVersion(c.major, c.minor, platform);
            DialogAction cancel[] = {{ClickCancel, NULL}};
            ScriptDialog(cancel, 1);
            int status = CallExport("BeforeInstall", SetupWindow);
            ok(status == 0, "status %d", status);
            char verdict[96];
            snprintf(verdict, sizeof verdict, "Windows %lu.%lu, platform %lu: %s", c.major, c.minor, platform,
                     c.refused ? "refused (above 6.2)" : "supported");
            ok(Traced(verdict) != NULL, "no trace line \"%s\" in:\n%s", verdict, TraceText());
            if (c.refused) {
                ok(Dialog.shown == 0, "the dialog was shown");
                ok(MessageCount == 1, "%d messages", MessageCount);
                ok(strcmp(Messages[0].text, RefusalText) == 0, "text %s",
                   Show(Messages[0].text, strlen(Messages[0].text)));
                ok(strcmp(Messages[0].title, "Velloran - Windows Version") == 0, "title \"%s\"", Messages[0].title);
                ok(Messages[0].style == (MB_OK | MB_ICONERROR), "style 0x%x", Messages[0].style);
                ok(Messages[0].owner == SetupWindow, "owner %p", (void*)Messages[0].owner);
                ok(CallCount("SetCurrentDirectoryA") == 0 && CallCount("CreateFileA") == 0,
                   "the disk was looked at");
            } else {
                ok(Dialog.shown == 1 && MessageCount == 0, "shown %d, %d messages", Dialog.shown, MessageCount);
            }
            ok(_stricmp(Cwd(), "C:\\start") == 0, "current directory %s", Cwd());
        }
    }
    ClearContext();
    UseRealVersion();

    // A refusal does not outlive a call that reports a passing version, and a
    // refusal with a null window has no owner.
    LoadLibraryUnderTest();
    PrepareStoredCode();
    ReportVersion(10, 0, 2);
    ok(CallExport("BeforeInstall", NULL) == 0 && MessageCount == 1 && Messages[0].owner == NULL,
       "refused with a null window: %d messages, owner %p", MessageCount, (void*)Messages[0].owner);
    ReportVersion(6, 1, 2);
    int status = CallExport("BeforeInstall", SetupWindow);
    ok(status == 1 && MessageCount == 0, "after a refusal: status %d, %d messages", status, MessageCount);
    UseRealVersion();

    // A version that cannot be read passes.
    LoadLibraryUnderTest();
    PrepareStoredCode();
    FailCall("GetVersionExA");
    status = CallExport("BeforeInstall", SetupWindow);
    ClearFaults();
    ok(status == 1 && MessageCount == 0, "GetVersionExA failing: status %d, %d messages", status, MessageCount);
    ok(Traced("GetVersionExA failed (error 5): the version reads 0.0") && Traced("Windows 0.0, platform 0: supported"),
       "GetVersionExA failing, trace:\n%s", TraceText());
}

// --- Where nobody sees the screen ------------------------------------------------------------

// The process in a window station that is not visible, as a service or a
// deployment agent running as SYSTEM is: no export shows a dialog or a
// message box, each box passed over is said with its title and text, and
// every export returns the status it gives after that box.
struct UnseenCase {
    const char* what;
    const char* exportName;
    bool storedCode;
    DWORD major;  // the version reported (minor 1 or 0)
    int status;
    const char* traced;
};

static const UnseenCase UnseenCases[] = {
    {"BeforeInstall, fresh machine", "BeforeInstall", false, 6, 0,
     "no reporter code: none was given and the dialog is not shown (the window station is not visible)"},
    {"BeforeInstall, stored code", "BeforeInstall", true, 6, 1, "stored code read from C:\\TELDAX\\RC.DAT"},
    {"BeforeInstall, Windows 10", "BeforeInstall", true, 10, 0,
     "message box passed over (the window station is not visible): \"Velloran - Windows Version\": \"Your version "
     "of the Velloran software does not work with this version of Windows.\""},
    {"BeforeInstallWithCode, fresh machine, no code", "BeforeInstallWithCode", false, 6, 0,
     "no reporter code: none was given"},
    {"AfterInstall", "AfterInstall", true, 6, 1, "desktop shortcut Velloran.lnk written"},
    {"UpdateInfo", "UpdateInfo", true, 6, 1, "c:\\teldax\\Update.txt written"},
    {"MLDInfo", "MLDInfo", true, 6, 1, "c:\\teldax\\Update.txt written"},
    {"InstallPDF", "InstallPDF", true, 6, 1, "InstallPDF: returns 1"},
    {"Chk4TELDAX", "Chk4TELDAX", true, 6, 0,
     "message box passed over (the window station is not visible): \"Velloran - No Update\": \"As of yet, there are "
     "no updates for the October 2021 Master Load. Try again later.\""},
};

static bool StationVisible(HWINSTA station)
{
    USEROBJECTFLAGS flags = {};
    return GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, NULL) &&
           (flags.dwFlags & WSF_VISIBLE);
}

static void test_unseen_window_station()
{
    HWINSTA seen = GetProcessWindowStation();
    HWINSTA unseen = CreateWindowStationA("VinstallUnseen", 0, WINSTA_ALL_ACCESS, NULL);
    if (!unseen || !SetProcessWindowStation(unseen)) {
        Skip("no window station that is not visible can be made here (error %lu)", GetLastError());
        return;
    }
    if (StationVisible(unseen)) {
        Skip("a new window station is visible here");
    } else {
        for (const UnseenCase& c : UnseenCases) {
            SetContext("not visible: %s", c.what);
            LoadLibraryUnderTest();
            if (c.storedCode)
                PrepareStoredCode();
            else
                CleanDrive();
            ReportVersion(c.major, c.major == 6 ? 1 : 0, VER_PLATFORM_WIN32_NT);
            ShellExecuteRecordOnly = true;
            // A dialog that opened all the same would be typed into.
            DialogAction john[] = {{TypeText, "john"}, {ClickOk, NULL}};
            ScriptDialog(john, 2);
            int status = CallExport(c.exportName, SetupWindow, 0, 0, 0, 0);
            ShellExecuteRecordOnly = false;
            UseRealVersion();
            ok(status == c.status, "status %d, expected %d", status, c.status);
            ok(CallCount("DialogBoxParamA") == 0 && CallCount("MessageBoxA") == 0,
               "%d dialogs, %d message boxes", CallCount("DialogBoxParamA"), CallCount("MessageBoxA"));
            ok(Traced(c.traced) != NULL, "no trace line \"%s\" in:\n%s", c.traced, TraceText());
            if (!c.storedCode)
                ok(!FileExists("C:\\TELDAX\\RC.DAT"), "RC.DAT written");
        }
        ClearContext();
    }
    SetProcessWindowStation(seen);
    CloseWindowStation(unseen);
    RemoveTree("C:\\users\\Public\\Desktop\\Velloran.lnk");

    // Back in the visible station, the same call shows its box again.
    LoadLibraryUnderTest();
    int status = CallExport("Chk4TELDAX", SetupWindow);
    ok(status == 0 && MessageCount == 1, "visible again: status %d, %d messages", status, MessageCount);
}

// --- The trace line itself ----------------------------------------------------------------

// What no export's text reaches: a line longer than its buffer is cut there
// and still ends with its line feed; control bytes from a file's content do
// not break the line; the caller's last error survives.
static void test_trace_line()
{
    RecordTraceOf(GetModuleHandleA(NULL));
    static const struct {
        const char* text;
        const char* line;  // NULL: cut to the buffer
    } cases[] = {
        {"plain", "VINSTALLDLL: plain\n"},
        {"code \"A\nB\tC\x01\"", "VINSTALLDLL: code \"A?B?C?\"\n"},
        {"", "VINSTALLDLL: \n"},
        {NULL, NULL},
    };
    static char longText[2 * TraceLineSize];
    memset(longText, 'x', sizeof longText - 1);
    for (const auto& c : cases) {
        const char* text = c.text ? c.text : longText;
        ClearTrace();
        SetLastError(1234);
        Trace("%s", text);
        DWORD error = GetLastError();
        const char* line = TraceLine(0);
        SetContext("trace of %.20s", text);
        ok(TraceCount == 1, "%d lines", TraceCount);
        ok(error == 1234, "last error %lu, expected 1234", error);
        if (c.line) {
            ok(strcmp(line, c.line) == 0, "line %s", Show(line, (int)strlen(line)));
        } else {
            size_t length = strlen(line);
            ok(length == TraceLineSize - 1 && strncmp(line, "VINSTALLDLL: xxx", 16) == 0 &&
                   line[length - 2] == 'x' && line[length - 1] == '\n',
               "cut line of %u bytes, ending %s", (unsigned)length, Show(line + length - 4, 4));
        }
    }
    ClearContext();
}

int main(int argc, char** argv)
{
    InitHarness(argc, argv);
    SetupWindow = MakeOwnerWindow();
    test_export_directory();
    test_calling_contract();
    test_module_entry();
    test_dialog_template();
    test_version_gate();
    test_unseen_window_station();
    test_trace_line();
    CleanDrive();
    return FinishTests("interface");
}
