// Generated hostile inputs, each run through the export that reads it: no
// crash, no hang, the status the rules give, and nothing changed on disk that
// may not change. A fixed seed keeps CI repeatable; for a longer run:
//
//   VINSTALL_CASES=100000 VINSTALL_SEED=7 ctest --preset default -R robustness
//
// VINSTALL_CASES counts the code and legacy files; a quarter as many install
// folders of generated shortcuts are run through AfterInstall.
#include "harness.h"
#include "tools/jobs.h"
#include "shortcut_files.h"

#include <shlobj.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static unsigned Seed = 20261210;
static int Cases = 1000;
// Each folder holds several hostile shortcuts, and every shortcut costs a few
// link objects: fewer of them than of the other inputs.
static int ShortcutCases;
static HWND SetupWindow;

// --- A case that crashes or hangs names itself ----------------------------------------

static char CaseName[512];
static volatile DWORD CaseStarted;

static void BeginCase(const char* format, ...) __attribute__((format(printf, 1, 2)));
static void BeginCase(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(CaseName, sizeof CaseName, format, args);
    va_end(args);
    SetContext("%s", CaseName);
    CaseStarted = GetTickCount();
}

static LONG WINAPI ReportCrash(EXCEPTION_POINTERS* e)
{
    printf("crash: exception 0x%08lx at %p in %s\n", e->ExceptionRecord->ExceptionCode,
           e->ExceptionRecord->ExceptionAddress, CaseName);
    fflush(stdout);
    return EXCEPTION_EXECUTE_HANDLER;
}

// No single case takes more than a few seconds; one that runs for a minute
// has hung.
static DWORD WINAPI Watchdog(void*)
{
    for (;;) {
        Sleep(1000);
        DWORD started = CaseStarted;
        if (started && GetTickCount() - started > TimeLimitMs(60000)) {
            printf("hang: %s has run for a minute\n", CaseName);
            fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 4);
        }
    }
}

static unsigned Random()
{
    // xorshift32: the same sequence on every machine.
    Seed ^= Seed << 13;
    Seed ^= Seed >> 17;
    Seed ^= Seed << 5;
    return Seed;
}

enum Fill { RandomBytes, ZeroFree, AllFF };

static void Generate(unsigned char* out, int size, Fill fill)
{
    for (int i = 0; i < size; ++i) {
        unsigned char b = (unsigned char)Random();
        if (fill == ZeroFree && b == 0)
            b = 1 + (unsigned char)(Random() % 255);
        out[i] = fill == AllFF ? 0xFF : b;
    }
    // Bias toward the forms the reader tells apart.
    if (fill != AllFF && size > 1 && Random() % 4 == 0)
        out[1] = ':';
}

// What FindFirstFileA gives the library for a name.
static const char* AnsiName(const WCHAR* name)
{
    static char names[2][2 * MAX_PATH];
    static int next;
    char* out = names[next++ % 2];
    WideCharToMultiByte(CP_ACP, 0, name, -1, out, 2 * MAX_PATH, NULL, NULL);
    return out;
}

// --- Trees before and after ------------------------------------------------------------------

struct Entry {
    WCHAR name[MAX_PATH];
    DWORD attributes;
    DWORD size;
    FILETIME written;
    unsigned hash;  // of the content, in the folders read whole
};
struct Tree {
    int count;
    Entry entries[2048];
};

static unsigned HashFile(const WCHAR* path)
{
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    static unsigned char bytes[65536];
    DWORD read = 0;
    ReadFile(h, bytes, sizeof bytes, &read, NULL);
    CloseHandle(h);
    unsigned hash = 2166136261u;
    for (DWORD i = 0; i < read; ++i)
        hash = (hash ^ bytes[i]) * 16777619u;
    return hash;
}

static void SnapshotFolder(const WCHAR* folder, bool contents, Tree* tree)
{
    tree->count = 0;
    WCHAR pattern[MAX_PATH + 32];
    wsprintfW(pattern, L"%s\\*", folder);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (lstrcmpW(found.cFileName, L".") == 0 || lstrcmpW(found.cFileName, L"..") == 0)
            continue;
        if (tree->count == (int)ARRAYSIZE(tree->entries)) {
            ok(false, "more than %d entries in %s", tree->count, AnsiName(folder));
            break;
        }
        Entry& e = tree->entries[tree->count++];
        lstrcpyW(e.name, found.cFileName);
        e.attributes = found.dwFileAttributes;
        e.size = found.nFileSizeLow;
        e.written = found.ftLastWriteTime;
        WCHAR path[2 * MAX_PATH];
        wsprintfW(path, L"%s\\%s", folder, found.cFileName);
        e.hash = contents && !(e.attributes & FILE_ATTRIBUTE_DIRECTORY) ? HashFile(path) : 0;
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// The entry of that exact name; the search order of a folder rarely changes,
// so the entry at the same place is tried first.
static const Entry* Find(const Tree& tree, const WCHAR* name, int place)
{
    if (place < tree.count && wcscmp(tree.entries[place].name, name) == 0)
        return &tree.entries[place];
    for (int i = 0; i < tree.count; ++i) {
        if (wcscmp(tree.entries[i].name, name) == 0)
            return &tree.entries[i];
    }
    return NULL;
}

static bool SameContent(const Entry& a, const Entry& b)
{
    return a.size == b.size && a.hash == b.hash && CompareFileTime(&a.written, &b.written) == 0;
}

enum Change { Gone, MadeWritable, Changed, Added };
typedef bool (*Allowance)(Change change, const WCHAR* name);

// Every entry of was is in now as it was, unless allowed accepts the change;
// nothing new is there unless allowed accepts it.
static void CompareTrees(const char* folder, const Tree& was, const Tree& now, Allowance allowed)
{
    static const char* const changes[] = {"deleted", "made writable", "changed", "added"};
    for (int i = 0; i < was.count; ++i) {
        const Entry& e = was.entries[i];
        const Entry* after = Find(now, e.name, i);
        Change change = Changed;
        if (!after)
            change = Gone;
        else if (SameContent(e, *after) && e.attributes == after->attributes)
            continue;
        else if (SameContent(e, *after) && (e.attributes & ~FILE_ATTRIBUTE_READONLY) == after->attributes)
            change = MadeWritable;
        ok(allowed(change, e.name), "%s\\%s %s", folder, AnsiName(e.name), changes[change]);
    }
    for (int i = 0; i < now.count; ++i) {
        if (!Find(was, now.entries[i].name, i))
            ok(allowed(Added, now.entries[i].name), "%s\\%s %s", folder, AnsiName(now.entries[i].name),
               changes[Added]);
    }
}

static void PrepareTeldax()
{
    CleanDrive();
    MakeDirectory("C:\\TELDAX");
    MakeDirectory("C:\\start");
    SetCwd("C:\\start");
}

// RC.DAT of every length from 0 to 64 bytes: the stored code is used as it
// is, nothing is written, no dialog.
static Tree DriveWas, DriveNow, FolderWas, FolderNow;

// Nothing on the drive may change but the platform's own times on the
// prefix's folders.
static bool OnlyPrefixFolderTimes(Change change, const WCHAR* name)
{
    static const WCHAR* const prefixFolders[] = {L"windows", L"users", L"Program Files", L"ProgramData"};
    for (const WCHAR* folder : prefixFolders) {
        if (change == Changed && lstrcmpiW(name, folder) == 0)
            return true;
    }
    return false;
}

static bool NothingChanges(Change, const WCHAR*)
{
    return false;
}

static void test_code_files()
{
    unsigned char bytes[64], after[128];
    for (int i = 0; i < Cases; ++i) {
        int size = i % 65;
        Fill fill = (Fill)(Random() % 3);
        Generate(bytes, size, fill);
        BeginCase("RC.DAT case %d: %s", i, Show(bytes, size));
        LoadLibraryUnderTest();
        PrepareTeldax();
        WriteBytes("C:\\TELDAX\\RC.DAT", bytes, size);
        SnapshotFolder(L"C:", false, &DriveWas);
        SnapshotFolder(L"C:\\TELDAX", true, &FolderWas);
        int status = CallExport("BeforeInstall", SetupWindow);
        ok(status == 1, "status %d", status);
        ok(Dialog.shown == 0 && MessageCount == 0, "dialog %d, messages %d", Dialog.shown, MessageCount);
        int length = ReadBytes("C:\\TELDAX\\RC.DAT", after, sizeof after);
        ok(length == size && memcmp(after, bytes, size) == 0, "RC.DAT changed to %s", Show(after, length));
        SnapshotFolder(L"C:", false, &DriveNow);
        SnapshotFolder(L"C:\\TELDAX", true, &FolderNow);
        CompareTrees("C:", DriveWas, DriveNow, OnlyPrefixFolderTimes);
        CompareTrees("C:\\TELDAX", FolderWas, FolderNow, NothingChanges);
    }
    ClearContext();
}

// TRAN.PIF of random contents with lengths around 165 (the end of the
// start-up directory) and 900 (what is read): imported when it gives a code,
// else the missing-file message and RC.DAT kept.
static void test_legacy_files()
{
    static unsigned char pif[1024];
    static const char kept[24] = "KEPT";
    unsigned char after[64];
    for (int i = 0; i < Cases; ++i) {
        int size = (i % 2 ? 895 : 160) + (int)(Random() % 11);
        Generate(pif, size, (Fill)(Random() % 3));
        if (size > 165 && Random() % 2) {
            // A plausible start-up directory of random length, zero-ended or not.
            int dirLength = (int)(Random() % 66);
            memcpy(pif + 101, "C:\\", 3);
            if (dirLength < 64)
                pif[101 + dirLength] = 0;
        }
        BeginCase("TRAN.PIF case %d: %d bytes, start-up directory %s", i, size, Show(pif + 101, 64));
        LoadLibraryUnderTest();
        PrepareTeldax();
        WriteBytes("C:\\TELDAX\\RC.DAT", kept, sizeof kept);
        WriteBytes("C:\\TELDAX\\TRAN.PIF", pif, size);
        FailCall("CreateFileA", 2, "RC.DAT", ERROR_SHARING_VIOLATION);
        int status = CallExport("BeforeInstall", SetupWindow);
        ClearFaults();

        // What the file should give: the start-up directory's text from its
        // fourth character, upper-cased, when it has at least four.
        char dir[65] = {};
        if (size >= 900)
            memcpy(dir, pif + 101, 64);
        bool imports = strlen(dir) >= 4;
        int length = ReadBytes("C:\\TELDAX\\RC.DAT", after, sizeof after);
        if (imports) {
            unsigned char expected[24] = {};
            const char* code = dir + 3;
            for (int k = 0; k < 24 && code[k]; ++k)
                expected[k] = (unsigned char)(code[k] >= 'a' && code[k] <= 'z' ? code[k] - 32 : code[k]);
            ok(status == 1 && MessageCount == 0, "status %d, %d messages", status, MessageCount);
            ok(length == 24 && memcmp(after, expected, 24) == 0, "RC.DAT %s, expected %s", Show(after, length),
               Show(expected, 24));
        } else {
            ok(status == 0 && MessageCount == 1, "status %d, %d messages", status, MessageCount);
            ok(length == 24 && memcmp(after, kept, 24) == 0, "RC.DAT changed to %s", Show(after, length));
        }
        ok(Dialog.shown == 0, "the dialog was shown");
    }
    ClearContext();
}

// --- Shortcuts in the install folder ------------------------------------------------------

// Names of 260 characters and more with their folder need the wide API.
static const WCHAR InstallFolder[] = L"\\\\?\\C:\\TELDAX";
static const int InstallDirLength = 10;  // "C:\TELDAX\"
// The shortcuts that are left as the setup program made them.
static const char* const SkipNames[] = {"win9x.lnk",         "winnt.lnk",
                                        "msdosnt.lnk",       "ms-dos prompt.lnk",
                                        "shortcut to velloran.lnk", "user's manual.lnk",
                                        "install update.lnk"};

static const Link NormalLink = {"C:\\TELDAX\\vell.exe", "-x", "Velloran", MAKEWORD('V', HOTKEYF_CONTROL | HOTKEYF_ALT),
                                "C:\\TELDAX\\velloran.ico", 2, "C:\\OLD", SW_SHOWMINNOACTIVE};

// Real shortcut files, as bytes to copy: a plain one, one whose texts fill
// 259 characters, one whose texts (all but the target) are longer than the
// 260-byte buffers they are read into.
enum { PlainTemplate, Full259Template, LongerTemplate, Templates };
static struct {
    unsigned char bytes[16384];
    int length;
} Template[Templates];

static unsigned Below(unsigned n)
{
    return Random() % n;
}

static void MakeTemplates()
{
    static char texts[2][4][320];
    const int lengths[] = {259, 300};
    Link links[Templates] = {NormalLink, NormalLink, NormalLink};
    for (int t = 0; t < 2; ++t) {
        int n = lengths[t];
        for (int k = 0; k < 4; ++k) {
            char* text = texts[t][k];
            memset(text, 'a' + k, n);
            text[n] = '\0';
            if (k == 0 || k == 3)
                memcpy(text, "C:\\TELDAX\\", 10);  // a path
        }
        Link& link = links[t + 1];
        if (t == 0)
            link.target = texts[t][0];  // a target missing from the disk
        link.arguments = texts[t][1];
        link.description = texts[t][2];
        link.iconPath = texts[t][3];
        link.iconIndex = -1;
        link.workingDirectory = texts[t][3];
    }
    MakeDirectory("C:\\TELDAX");
    for (int t = 0; t < Templates; ++t) {
        MakeLink("C:\\TELDAX\\template.lnk", links[t]);
        Template[t].length = ReadBytes("C:\\TELDAX\\template.lnk", Template[t].bytes, sizeof Template[t].bytes);
        ok(Template[t].length > 0 && Template[t].length < (int)sizeof Template[t].bytes, "template %d: %d bytes", t,
           Template[t].length);
    }
}

static const WCHAR* InInstallFolder(const WCHAR* name)
{
    static WCHAR paths[2][MAX_PATH + 32];
    static int next;
    WCHAR* path = paths[next++ % 2];
    wsprintfW(path, L"%s\\%s", InstallFolder, name);
    return path;
}

static const char* InstallPath(const WCHAR* name)
{
    static char path[3 * MAX_PATH];
    snprintf(path, sizeof path, "C:\\TELDAX\\%s", AnsiName(name));
    return path;
}

static bool EndsWithNoCase(const WCHAR* name, const WCHAR* end)
{
    int n = lstrlenW(name), m = lstrlenW(end);
    return n >= m && lstrcmpiW(name + n - m, end) == 0;
}

static bool IsSkipped(const WCHAR* name)
{
    char lower[2 * MAX_PATH];
    lstrcpynA(lower, AnsiName(name), sizeof lower);
    for (char* p = lower; *p; ++p)
        *p = *p >= 'A' && *p <= 'Z' ? *p + 32 : *p;
    for (const char* skipped : SkipNames) {
        if (strcmp(lower, skipped) == 0)
            return true;
    }
    return false;
}

static bool FitsPath(const WCHAR* name)
{
    return InstallDirLength + (int)strlen(AnsiName(name)) <= MAX_PATH - 1;
}

// The obsolete twin of a shortcut: its name up to the first '.', then ".PIF".
static void TwinOf(const WCHAR* name, WCHAR* twin)
{
    int i = 0;
    for (; name[i] && name[i] != L'.'; ++i)
        twin[i] = name[i];
    lstrcpyW(twin + i, L".PIF");
}

// --- What may change -----------------------------------------------------------------------------

enum { InstallTree, DesktopTree, SystemTree, OtherSystemTree, Trees };
static Tree Before[Trees], After[Trees];
static const char* CaseDir;
static const char* CaseSystemFolder;

// The shortcuts that the library may rewrite, as the platform read them before.
static struct {
    const WCHAR* name;
    LinkRead link;
} Readable[16];
static int ReadableCount;

static void ReadShortcutsBefore()
{
    ReadableCount = 0;
    const Tree& tree = Before[InstallTree];
    for (int i = 0; i < tree.count && ReadableCount < (int)ARRAYSIZE(Readable); ++i) {
        const Entry& e = tree.entries[i];
        if (EndsWithNoCase(e.name, L".lnk") && !IsSkipped(e.name) && FitsPath(e.name) &&
            !(e.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            Readable[ReadableCount].name = e.name;
            ReadLink(InstallPath(e.name), &Readable[ReadableCount++].link);
        }
    }
}

// A text as the library reads it into its 260-byte buffers: cut to 259.
static bool SameCut(const char* now, const char* was)
{
    size_t length = strlen(was) < MAX_PATH - 1 ? strlen(was) : MAX_PATH - 1;
    return strlen(now) == length && strncmp(now, was, length) == 0;
}

// A rewritten shortcut keeps the target, description and icon it had, starts
// in the reporter's directory, and has nothing else. One whose target could
// not be read is never rewritten.
static bool RewrittenFrom(const WCHAR* name, const LinkRead& was)
{
    LinkRead now;
    ReadLink(InstallPath(name), &now);
    if (now.status != S_OK || was.status != S_OK || !was.target[0])
        return false;
    // The shell takes the target as the icon of a shortcut that names none.
    bool icon = was.iconPath[0] ? SameCut(now.iconPath, was.iconPath) && now.iconIndex == (WORD)was.iconIndex
                                : (!now.iconPath[0] || SameCut(now.iconPath, was.target)) && now.iconIndex == 0;
    return icon && SameCut(now.target, was.target) && SameCut(now.description, was.description) &&
           strcmp(now.workingDirectory, CaseDir) == 0 && !now.arguments[0] && now.hotkey == 0 &&
           now.showCommand == SW_SHOWNORMAL;
}

// Twins of the found shortcuts go (made writable first); the shortcuts
// themselves may be rewritten; nothing is added.
static bool InstallFolderAllows(Change change, const WCHAR* name)
{
    if (change == Gone || change == MadeWritable) {
        const Tree& tree = Before[InstallTree];
        for (int i = 0; i < tree.count; ++i) {
            WCHAR twin[MAX_PATH + 8];
            TwinOf(tree.entries[i].name, twin);
            if (EndsWithNoCase(tree.entries[i].name, L".lnk") && !IsSkipped(tree.entries[i].name) &&
                lstrcmpiW(twin, name) == 0)
                return true;
        }
        return false;
    }
    for (int i = 0; change == Changed && i < ReadableCount; ++i) {
        if (lstrcmpW(Readable[i].name, name) == 0)
            return RewrittenFrom(name, Readable[i].link);
    }
    return false;
}

static bool DesktopAllows(Change change, const WCHAR* name)
{
    if (change == Gone)
        return lstrcmpiW(name, L"Shortcut to Pellitor.pif") == 0 || lstrcmpiW(name, L"Shortcut to Velloran.lnk") == 0;
    return (change == Changed || change == Added) && lstrcmpiW(name, L"Velloran.lnk") == 0 &&
           check_link(InFolder(CommonDesktop, "Velloran.lnk"), DesktopLink(CaseDir));
}

static const char* ComparedSystemFolder;

// The two obsolete files go from the system folder of the platform that
// BeforeInstall saw, and nothing else from either.
static bool SystemFolderAllows(Change change, const WCHAR* name)
{
    return change == Gone && ComparedSystemFolder == CaseSystemFolder &&
           (lstrcmpiW(name, L"win32xac.dll") == 0 || lstrcmpiW(name, L"tdx32inf.txt") == 0);
}

// --- Generated folders ------------------------------------------------------------------------

// Damaged shortcuts are real ones cut short and random bytes. One with a whole
// header and a damaged item ID list is not made: Wine 8's link object reads
// past such a list while it loads the file and faults inside shell32, before
// the caller can do anything about it.
enum LinkKind { EmptyFile, Truncated, RandomFile, PlainLink, Full259Link, LongerLink, FolderNamedLink, LinkKinds };
static const char* const LinkKindNames[] = {"empty", "truncated", "random bytes", "plain",
                                            "texts of 259", "texts beyond 259", "folder"};
enum NameKind { PlainName, NonAscii, SeveralDots, LeadingDot, Path259, Path260, PathBeyond, SkippedName, NameKinds };
// Flags, but for Absent.
enum State { Plain = 0, ReadOnly = 1, Held = 2, Absent = 4 };
static const char* const StateNames[] = {"", " read-only", " in use", " read-only and in use", " absent"};

// Files held open by another handle while AfterInstall runs: exclusively, or
// for reading with only reading shared.
static struct {
    WCHAR path[2 * MAX_PATH];
    bool exclusive;
    HANDLE handle;
} Holds[32];
static int HoldCount;

static char Description[4096];
static int Described;

static void Describe(const char* format, ...) __attribute__((format(printf, 1, 2)));
static void Describe(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vsnprintf(Description + Described, sizeof Description - Described, format, args);
    va_end(args);
    if (n > 0)
        Described = Described + n < (int)sizeof Description ? Described + n : (int)sizeof Description - 1;
}

// Read-only, in use, both or left plain, at random; the state it was given.
static int Afflict(const WCHAR* path, unsigned oneIn)
{
    if (Below(oneIn) != 0)
        return Plain;
    int state = 1 + (int)Below(3);
    if (state & ReadOnly)
        SetFileAttributesW(path, FILE_ATTRIBUTE_READONLY);
    if ((state & Held) && HoldCount < (int)ARRAYSIZE(Holds)) {
        lstrcpyW(Holds[HoldCount].path, path);
        Holds[HoldCount++].exclusive = Below(2) == 0;
    }
    return state;
}

static void HoldFiles()
{
    for (int i = 0; i < HoldCount; ++i) {
        Holds[i].handle = CreateFileW(Holds[i].path, GENERIC_READ, Holds[i].exclusive ? 0 : FILE_SHARE_READ, NULL,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
        ok(Holds[i].handle != INVALID_HANDLE_VALUE, "cannot hold %s open", AnsiName(Holds[i].path));
    }
}

static void ReleaseFiles()
{
    for (int i = 0; i < HoldCount; ++i) {
        if (Holds[i].handle != INVALID_HANDLE_VALUE)
            CloseHandle(Holds[i].handle);
    }
    HoldCount = 0;
}

static bool WriteWide(const WCHAR* path, const void* data, int size)
{
    HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written;
    WriteFile(h, data, size, &written, NULL);
    CloseHandle(h);
    return true;
}

static const WCHAR* Wide(const char* ansi)
{
    static WCHAR names[2][MAX_PATH + 32];
    static int next;
    WCHAR* out = names[next++ % 2];
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, out, MAX_PATH + 32);
    return out;
}

static void RandomText(char* out, int length, const char* alphabet)
{
    int size = (int)strlen(alphabet);
    for (int i = 0; i < length; ++i)
        out[i] = alphabet[Below(size)];
    out[length] = '\0';
}

// A shortcut's name of the given kind, in the ANSI code page; long ones are
// ASCII so that they stay within what the Linux file system takes.
static void MakeName(NameKind kind, char* out)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static const char plain[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 -_'!&()~";
    int length = 0;
    switch (kind) {
    case PlainName:
        RandomText(out, 1 + (int)Below(12), plain);
        break;
    case NonAscii:
        length = 1 + (int)Below(12);
        for (int i = 0; i < length; ++i)
            out[i] = Below(2) ? (char)(0x80 + Below(128)) : letters[Below(52)];
        out[length] = '\0';
        break;
    case SeveralDots:
        for (int part = 2 + (int)Below(3); part > 0; --part) {
            RandomText(out + length, 1 + (int)Below(5), letters);
            length += (int)strlen(out + length);
            out[length++] = '.';
        }
        out[--length] = '\0';
        break;
    case LeadingDot:
        out[0] = '.';
        RandomText(out + 1, (int)Below(6), letters);
        if (out[1])
            strcat(out, ".x");
        break;
    case Path259:
    case Path260:
    case PathBeyond:
        length = (kind == Path259 ? 259 : kind == Path260 ? 260 : 261 + (int)Below(5)) - InstallDirLength - 4;
        RandomText(out, length, letters);
        break;
    case SkippedName:
        strcpy(out, SkipNames[Below(ARRAYSIZE(SkipNames))]);
        out[strlen(out) - 4] = '\0';
        for (char* p = out; *p; ++p)
            *p = Below(2) && *p >= 'a' && *p <= 'z' ? *p - 32 : *p;
        break;
    default:
        break;
    }
    static const char* const types[] = {".lnk", ".LNK", ".Lnk"};
    strcat(out, types[Below(3)]);
}

// False when the folder already holds a file that the file system takes for
// this name, whatever its case: two such names are one file, so a second
// "SHORTCUT.lnk" would only rewrite (or fail to hold) the first "shortcut.lnk".
static bool NameIsFree(const WCHAR* path)
{
    return GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES;
}

static void AddShortcut()
{
    char name[320];
    NameKind nameKind = (NameKind)Below(NameKinds);
    MakeName(nameKind, name);
    WCHAR file[2 * MAX_PATH];
    lstrcpyW(file, InInstallFolder(Wide(name)));

    LinkKind kind = (LinkKind)Below(LinkKinds);
    static unsigned char bytes[16384];
    int size = 0;
    if (kind == Truncated || kind == PlainLink || kind == Full259Link || kind == LongerLink) {
        int t = kind == Full259Link ? Full259Template : kind == LongerLink ? LongerTemplate
                : kind == PlainLink ? PlainTemplate : (int)Below(Templates);
        size = kind == Truncated ? 1 + (int)Below(Template[t].length - 1) : Template[t].length;
        memcpy(bytes, Template[t].bytes, size);
    } else if (kind == RandomFile) {
        size = 1 + (int)Below(1024);
        Generate(bytes, size, RandomBytes);
        if (Below(2))
            memcpy(bytes, "L\0\0\0", size < 4 ? size : 4);  // the first word of a real one
    }
    if (!NameIsFree(file))
        return;
    bool made = kind == FolderNamedLink ? CreateDirectoryW(file, NULL) : WriteWide(file, bytes, size);
    if (!made)
        return;  // a name this file system does not take
    int state = kind == FolderNamedLink ? Plain : Afflict(file, 3);
    int length = (int)strlen(name);
    Describe(" [%s %s%s, path of %d%s]", LinkKindNames[kind], Show(name, length > 40 ? 24 : length),
             length > 40 ? "..." : "", InstallDirLength + length, StateNames[state]);

    // Its twin, and a file of its name without a type.
    WCHAR twin[MAX_PATH + 8];
    TwinOf(Wide(name), twin);
    if (Below(2) && NameIsFree(InInstallFolder(twin)) && WriteWide(InInstallFolder(twin), "PIF", 3))
        Describe(" twin%s", StateNames[Afflict(InInstallFolder(twin), 3)]);
    if (Below(4) == 0) {
        twin[lstrlenW(twin) - 4] = L'\0';
        if (NameIsFree(InInstallFolder(twin)) && WriteWide(InInstallFolder(twin), "no type", 7))
            Describe(" and a file of its name without a type");
    }
    // What a path cut to 259 characters would name.
    if (nameKind == Path260 || nameKind == PathBeyond) {
        name[MAX_PATH - 1 - InstallDirLength] = '\0';
        if (NameIsFree(InInstallFolder(Wide(name))))
            WriteWide(InInstallFolder(Wide(name)), Template[PlainTemplate].bytes, Template[PlainTemplate].length);
    }
}

static void ClearInstallFolder()
{
    static Tree folder;
    SnapshotFolder(InstallFolder, false, &folder);
    for (int i = 0; i < folder.count; ++i) {
        const WCHAR* path = InInstallFolder(folder.entries[i].name);
        SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
        if (folder.entries[i].attributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveDirectoryW(path);
        else
            DeleteFileW(path);
    }
}

static void Clean()
{
    ClearInstallFolder();
    CleanPlaces();
    RemoveTree(InFolder(CommonDesktop, "Other.lnk"));
}

static void SnapshotAll(Tree* trees)
{
    SnapshotFolder(InstallFolder, true, &trees[InstallTree]);
    SnapshotFolder(Wide(CommonDesktop), true, &trees[DesktopTree]);
    SnapshotFolder(Wide(InFolder(WindowsDir, SystemFolders[0])), false, &trees[SystemTree]);
    SnapshotFolder(Wide(InFolder(WindowsDir, SystemFolders[1])), false, &trees[OtherSystemTree]);
}

// A file of a desktop or system folder, present or not, read-only or in use.
static int AddFile(const char* path, bool link)
{
    if (Below(4) == 0)
        return Absent;
    if (link)
        MakeLink(path, NormalLink);
    else
        Touch(path);
    return Afflict(Wide(path), 3);
}

// An install folder of the product's own shortcut and one to four hostile
// ones, with twins, bystanders, read-only and in-use files; desktop and system
// files in every state. AfterInstall returns 1, shows nothing, rewrites the
// product's shortcut, and changes nothing that it may not change.
static void RunShortcutCase(int number)
{
    LoadLibraryUnderTest();
    Clean();
    MakeDirectory("C:\\TELDAX");
    static const char code[24] = "MARY";
    WriteBytes("C:\\TELDAX\\RC.DAT", code, sizeof code);
    WriteBytes("C:\\TELDAX\\vell.exe", "MZ", 2);
    WriteWide(InInstallFolder(L"Velloran.lnk"), Template[PlainTemplate].bytes, Template[PlainTemplate].length);
    WriteWide(InInstallFolder(L"Velloran.PIF"), "PIF", 3);
    SetFileAttributesW(InInstallFolder(L"Velloran.PIF"), FILE_ATTRIBUTE_READONLY);

    Described = 0;
    Describe("shortcut folder %d:", number);
    for (int count = 1 + (int)Below(4); count > 0; --count)
        AddShortcut();

    int desktopLink = AddFile(InFolder(CommonDesktop, "Velloran.lnk"), true);
    int oldDesktopFiles[2], systemFiles[2][2];
    for (int i = 0; i < 2; ++i)
        oldDesktopFiles[i] = AddFile(InFolder(CommonDesktop, DesktopFiles[i + 1]), false);
    Touch(InFolder(CommonDesktop, "Other.lnk"));
    for (int folder = 0; folder < 2; ++folder) {
        for (int i = 0; i < 2; ++i)
            systemFiles[folder][i] = AddFile(SystemFile(SystemFolders[folder], SystemFiles[i]), false);
    }
    bool codeHeld = Below(8) == 0;
    if (codeHeld && HoldCount < (int)ARRAYSIZE(Holds)) {
        lstrcpyW(Holds[HoldCount].path, L"C:\\TELDAX\\RC.DAT");
        Holds[HoldCount++].exclusive = true;
    }
    bool beforeInstall = Below(2) == 0;
    Describe("; desktop shortcut%s; RC.DAT%s; %s", StateNames[desktopLink], codeHeld ? " in use" : "",
             beforeInstall ? "after BeforeInstall" : "alone");
    BeginCase("%s", Description);

    if (beforeInstall) {
        int status = CallExport("BeforeInstall", SetupWindow);
        ok(status == 1, "BeforeInstall: status %d", status);
    }
    SnapshotAll(Before);
    ReadShortcutsBefore();
    HoldFiles();
    int status = CallExport("AfterInstall", SetupWindow);
    ReleaseFiles();
    ok(status == 1, "status %d", status);
    ok(MessageCount == 0 && Dialog.shown == 0, "%d messages, dialog shown %d times", MessageCount, Dialog.shown);

    CaseDir = codeHeld && !beforeInstall ? "C:\\" : "C:\\MARY";
    CaseSystemFolder = SystemFolders[beforeInstall ? 0 : 1];
    SnapshotAll(After);
    CompareTrees("C:\\TELDAX", Before[InstallTree], After[InstallTree], InstallFolderAllows);
    CompareTrees(CommonDesktop, Before[DesktopTree], After[DesktopTree], DesktopAllows);
    for (int folder = 0; folder < 2; ++folder) {
        ComparedSystemFolder = SystemFolders[folder];
        CompareTrees(InFolder(WindowsDir, SystemFolders[folder]), Before[SystemTree + folder],
                     After[SystemTree + folder], SystemFolderAllows);
    }

    // What must have been done whatever else the folders held.
    check_link("C:\\TELDAX\\Velloran.lnk", Rewritten(NormalLink, CaseDir));
    ok(!FileExists("C:\\TELDAX\\Velloran.PIF"), "the product's twin kept");
    if (desktopLink == Plain || desktopLink == Absent)
        check_link(InFolder(CommonDesktop, "Velloran.lnk"), DesktopLink(CaseDir));
    for (int i = 0; i < 2; ++i) {
        if (oldDesktopFiles[i] != Absent)
            ok(FileExists(InFolder(CommonDesktop, DesktopFiles[i + 1])) == (oldDesktopFiles[i] != Plain), "%s %s",
               DesktopFiles[i + 1], oldDesktopFiles[i] == Plain ? "kept" : "deleted");
    }
    int folder = beforeInstall ? 0 : 1;
    for (int i = 0; i < 2; ++i) {
        if (systemFiles[folder][i] != Absent)
            ok(FileExists(SystemFile(SystemFolders[folder], SystemFiles[i])) == (systemFiles[folder][i] != Plain),
               "%s %s", SystemFiles[i], systemFiles[folder][i] == Plain ? "kept" : "deleted");
    }
}

static void test_shortcut_folders()
{
    Clean();
    MakeTemplates();
    for (int i = 0; i < ShortcutCases; ++i)
        RunShortcutCase(i);
    ClearContext();
    Clean();
}

int main(int argc, char** argv)
{
    InitHarness(argc, argv);
    if (const char* cases = getenv("VINSTALL_CASES"))
        Cases = atoi(cases);
    if (const char* seed = getenv("VINSTALL_SEED"))
        Seed = (unsigned)strtoul(seed, NULL, 10) | 1;
    ShortcutCases = Cases / 4;
    printf("robustness: %d cases per input, %d shortcut folders, seed %u\n", Cases, ShortcutCases, Seed);
    ok(FindPlaces(), "desktops \"%s\" and \"%s\"", CommonDesktop, UserDesktop);
    SetUnhandledExceptionFilter(ReportCrash);
    CloseHandle(CreateThread(NULL, 0, Watchdog, NULL, 0, NULL));
    SetupWindow = MakeOwnerWindow();
    test_code_files();
    test_legacy_files();
    test_shortcut_folders();
    CaseStarted = 0;
    return FinishTests("robustness");
}
