// Measures what the exports cost against the floor of the same platform: the
// bare calls that no implementation can avoid. Prints its figures; it is not
// a test and asserts nothing.
//
//   benchmark.exe <VINSTALLDLL.dll> [largest shortcut count] [<earlier VINSTALLDLL.dll>]
//
// With an earlier build of the library, both are timed in the same run, one
// after the other for each row, against the same floor.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "src/interface/trace.h"

typedef int(__stdcall* ExportProc)(HWND, LPARAM, LPARAM, LPARAM, LPARAM);

// The library measured, and an earlier build to compare it with.
static HMODULE Libraries[2];
static int LibraryCount;
static HMODULE Library;
static LARGE_INTEGER Frequency;

static double Now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)Frequency.QuadPart;
}

static ExportProc Export(const char* name)
{
    return (ExportProc)(void*)GetProcAddress(Library, name);
}

static void RemoveFiles(const char* folder, const char* pattern)
{
    char search[MAX_PATH];
    snprintf(search, sizeof search, "%s\\%s", folder, pattern);
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(search, &found);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        char path[MAX_PATH];
        snprintf(path, sizeof path, "%s\\%s", folder, found.cFileName);
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path);
    } while (FindNextFileA(h, &found));
    FindClose(h);
}

static void WriteFileBytes(const char* path, const void* data, DWORD size)
{
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written;
    WriteFile(h, data, size, &written, NULL);
    CloseHandle(h);
}

// One row: the library's time per call, the earlier build's when there is
// one, the floor and the ratios to it.
static void Report(const char* what, const double* perCall, double floorPerCall)
{
    printf("%-38s %10.3f ms", what, perCall[0] * 1000);
    if (LibraryCount > 1)
        printf(" %10.3f ms", perCall[1] * 1000);
    printf(" %10.3f ms %8.2f", floorPerCall * 1000, perCall[0] / floorPerCall);
    if (LibraryCount > 1)
        printf(" %8.2f", perCall[1] / floorPerCall);
    printf("\n");
}

static void ReportOne(const char* what, double perCall, double floorPerCall)
{
    double times[2] = {perCall, perCall};
    int count = LibraryCount;
    LibraryCount = 1;
    Report(what, times, floorPerCall);
    LibraryCount = count;
}

// --- One trace line -----------------------------------------------------------------------

// The library's own trace helper, compiled in here: a typical line with no
// debugger or DebugView listening, against the bare OutputDebugStringA call
// of the same text. An export says 3 to 10 such lines, plus about 2 per
// shortcut.
static void TimeTraceLine()
{
    const int rounds = 20000;
    double start = Now();
    for (int i = 0; i < rounds; ++i)
        Trace("%s rewritten: starts in the reporter directory", "Velloran Dictionary.lnk");
    double traced = (Now() - start) / rounds;
    start = Now();
    for (int i = 0; i < rounds; ++i)
        OutputDebugStringA("VINSTALLDLL: Velloran Dictionary.lnk rewritten: starts in the reporter directory\n");
    double bare = (Now() - start) / rounds;
    ReportOne("one trace line, no listener", traced, bare);
}

// --- BeforeInstall with a stored code ---------------------------------------------------

static void BeforeInstallFloor()
{
    char dir[MAX_PATH], code[28];
    DWORD read;
    GetCurrentDirectoryA(sizeof dir, dir);
    SetCurrentDirectoryA("C:\\TELDAX");
    HANDLE h = CreateFileA("C:\\TELDAX\\RC.DAT", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    CloseHandle(h);
    h = CreateFileA("C:\\TELDAX\\RC.DAT", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                    NULL);
    ReadFile(h, code, sizeof code, &read, NULL);
    CloseHandle(h);
}

static void TimeBeforeInstall()
{
    CreateDirectoryA("C:\\TELDAX", NULL);
    WriteFileBytes("C:\\TELDAX\\RC.DAT", "MARY\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 24);
    const int rounds = 2000;
    double library[2];
    for (int l = 0; l < LibraryCount; ++l) {
        Library = Libraries[l];
        ExportProc beforeInstall = Export("BeforeInstall");
        double start = Now();
        for (int i = 0; i < rounds; ++i)
            beforeInstall(NULL, 0, 0, 0, 0);
        library[l] = (Now() - start) / rounds;
    }
    double start = Now();
    for (int i = 0; i < rounds; ++i)
        BeforeInstallFloor();
    double floor = (Now() - start) / rounds;
    Report("BeforeInstall, stored code", library, floor);
}

// --- The release records ------------------------------------------------------------------

static void RecordsFloor()
{
    static const char* const files[] = {"c:\\teldax\\Update.txt", "c:\\teldax\\UpdName.txt",
                                        "c:\\teldax\\UpdDetails.txt"};
    SYSTEMTIME now;
    GetSystemTime(&now);
    for (const char* file : files) {
        HANDLE h = CreateFileA(file, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        DWORD written;
        WriteFile(h, "June 2018 Update installed on 03-05-2019", 40, &written, NULL);
        CloseHandle(h);
    }
}

static void TimeRecords()
{
    const char* names[] = {"UpdateInfo", "MLDInfo"};
    const int rounds = 2000;
    double start = Now();
    for (int i = 0; i < rounds; ++i)
        RecordsFloor();
    double floor = (Now() - start) / rounds;
    for (const char* name : names) {
        double library[2];
        for (int l = 0; l < LibraryCount; ++l) {
            Library = Libraries[l];
            ExportProc proc = Export(name);
            start = Now();
            for (int i = 0; i < rounds; ++i)
                proc(NULL, 0, 0, 0, 0);
            library[l] = (Now() - start) / rounds;
        }
        Report(name, library, floor);
    }
}

// --- AfterInstall -----------------------------------------------------------------------------

static const CLSID ClsidShellLink = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const IID IidShellLinkA = {0x000214EE, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const IID IidPersistFile = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

static void MakeShortcuts(int count)
{
    RemoveFiles("C:\\TELDAX", "*.lnk");
    CoInitialize(NULL);
    IShellLinkA* link = NULL;
    IPersistFile* file = NULL;
    CoCreateInstance(ClsidShellLink, NULL, CLSCTX_INPROC_SERVER, IidShellLinkA, (void**)&link);
    link->QueryInterface(IidPersistFile, (void**)&file);
    link->SetPath("C:\\TELDAX\\vell.exe");
    link->SetDescription("Velloran");
    link->SetIconLocation("C:\\TELDAX\\velloran.ico", 0);
    for (int i = 0; i < count; ++i) {
        WCHAR path[MAX_PATH];
        swprintf(path, MAX_PATH, L"C:\\TELDAX\\Shortcut %05d.lnk", i);
        file->Save(path, TRUE);
    }
    file->Release();
    link->Release();
    CoUninitialize();
}

// What cannot be avoided per shortcut: load it and save it with the new
// working directory, under one COM initialisation.
static void AfterInstallFloor()
{
    CoInitialize(NULL);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("C:\\TELDAX\\*.lnk", &found);
    do {
        IShellLinkA* link = NULL;
        IPersistFile* file = NULL;
        CoCreateInstance(ClsidShellLink, NULL, CLSCTX_INPROC_SERVER, IidShellLinkA, (void**)&link);
        link->QueryInterface(IidPersistFile, (void**)&file);
        char ansi[MAX_PATH];
        WCHAR path[MAX_PATH];
        snprintf(ansi, sizeof ansi, "C:\\TELDAX\\%s", found.cFileName);
        MultiByteToWideChar(CP_ACP, 0, ansi, -1, path, MAX_PATH);
        file->Load(path, STGM_READ);
        link->SetWorkingDirectory("C:\\MARY");
        file->Save(path, TRUE);
        file->Release();
        link->Release();
    } while (FindNextFileA(search, &found));
    FindClose(search);
    CoUninitialize();
}

// One step AfterInstall must take per shortcut that the floor leaves out:
// making writable and deleting the shortcut's ".PIF" twin, which is usually
// not there. How long the platform takes to find that a name is missing
// shows here.
static double MissingTwinCost(int count)
{
    double start = Now();
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("C:\\TELDAX\\*.lnk", &found);
    do {
        char twin[MAX_PATH];
        snprintf(twin, sizeof twin, "C:\\TELDAX\\%s", found.cFileName);
        *strchr(twin + 3, '.') = '\0';
        strcat(twin, ".PIF");
        SetFileAttributesA(twin, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(twin);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return (Now() - start) / count;
}

// Another step the floor leaves out: each rewritten shortcut starts from a
// new link object, so its target is set anew.
static double SetPathCost(int count)
{
    CoInitialize(NULL);
    double start = Now();
    for (int i = 0; i < count; ++i) {
        IShellLinkA* link = NULL;
        CoCreateInstance(ClsidShellLink, NULL, CLSCTX_INPROC_SERVER, IidShellLinkA, (void**)&link);
        link->SetPath("C:\\TELDAX\\vell.exe");
        link->Release();
    }
    double cost = (Now() - start) / count;
    CoUninitialize();
    return cost;
}

static void TimeAfterInstall(int largest)
{
    CreateDirectoryA("C:\\TELDAX", NULL);
    WriteFileBytes("C:\\TELDAX\\RC.DAT", "MARY\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 24);
    // The product's files are in place when AfterInstall runs: a missing
    // target or icon would add the platform's search for it to every shortcut.
    WriteFileBytes("C:\\TELDAX\\vell.exe", "MZ", 2);
    WriteFileBytes("C:\\TELDAX\\velloran.ico", "\0\0\1\0", 4);
    const int counts[] = {10, 100, 1000, 5000};
    for (int count : counts) {
        if (count > largest)
            break;
        double library[2];
        for (int l = 0; l < LibraryCount; ++l) {
            Library = Libraries[l];
            ExportProc afterInstall = Export("AfterInstall");
            MakeShortcuts(count);
            double start = Now();
            afterInstall(NULL, 0, 0, 0, 0);
            library[l] = (Now() - start) / count;
        }
        MakeShortcuts(count);
        double start = Now();
        AfterInstallFloor();
        double floor = (Now() - start) / count;
        char what[64];
        snprintf(what, sizeof what, "AfterInstall, %d shortcuts", count);
        Report(what, library, floor);
        printf("%-38s %10.3f ms\n", "  a missing twin's delete, alone", MissingTwinCost(count) * 1000);
        printf("%-38s %10.3f ms\n", "  a new link object's SetPath, alone", SetPathCost(count) * 1000);
    }
    RemoveFiles("C:\\TELDAX", "*.lnk");
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        printf("usage: %s <VINSTALLDLL.dll> [largest shortcut count] [<earlier VINSTALLDLL.dll>]\n", argv[0]);
        return 2;
    }
    for (int a = 1; a < argc && LibraryCount < 2; a += a == 1 ? 2 : 1) {
        char path[MAX_PATH];
        snprintf(path, sizeof path, "%s%s", argv[a][0] == '/' ? "Z:" : "", argv[a]);
        for (char* p = path; *p; ++p)
            *p = *p == '/' ? '\\' : *p;
        // Loaded from its own folder, so that two builds of one name can be
        // loaded side by side.
        HMODULE module = LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!module || (LibraryCount == 1 && module == Libraries[0])) {
            printf("cannot load %s\n", path);
            return 3;
        }
        Libraries[LibraryCount++] = module;
    }
    Library = Libraries[0];
    int largest = argc > 2 ? atoi(argv[2]) : 5000;
    QueryPerformanceFrequency(&Frequency);
    SetCurrentDirectoryA("C:\\");

    // Which build was measured: the shipped 32-bit one, or the x86_64 one on
    // a machine that cannot run 32-bit code.
    printf("architecture: %s\n", sizeof(void*) == 8 ? "x86_64 (the same sources built for 64-bit Windows)"
                                                     : "i686 (the shipped 32-bit DLL)");
    if (LibraryCount > 1)
        printf("%-38s %13s %13s %13s %8s %8s\n", "per call (per shortcut)", "library", "earlier", "floor", "ratio",
               "earlier");
    else
        printf("%-38s %13s %13s %8s\n", "per call (per shortcut)", "library", "floor", "ratio");
    TimeBeforeInstall();
    TimeRecords();
    TimeAfterInstall(largest);
    TimeTraceLine();
    for (int l = 0; l < LibraryCount; ++l)
        FreeLibrary(Libraries[l]);
    return 0;
}
