#include "shortcut_files.h"

#include "harness.h"

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

// Not taken from the platform's GUID library, which not every test links.
static const CLSID ShellLinkClass = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// --- Shortcut files through the platform's own link object ---------------------

static void ToWide(const char* path, WCHAR* wide)
{
    MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH);
}

// The platform's link object with both of its interfaces, on a COM session
// of its own; ClosePlatformLink ends both.
static HRESULT OpenPlatformLink(IShellLinkA** shell, IPersistFile** file)
{
    *shell = NULL;
    *file = NULL;
    CoInitialize(NULL);
    HRESULT hr = CoCreateInstance(ShellLinkClass, NULL, CLSCTX_INPROC_SERVER, __uuidof(IShellLinkA), (void**)shell);
    if (SUCCEEDED(hr))
        hr = (*shell)->QueryInterface(__uuidof(IPersistFile), (void**)file);
    return hr;
}

static void ClosePlatformLink(IShellLinkA* shell, IPersistFile* file)
{
    if (file)
        file->Release();
    if (shell)
        shell->Release();
    CoUninitialize();
}

void MakeLink(const char* path, const Link& link)
{
    IShellLinkA* shell;
    IPersistFile* file;
    HRESULT hr = OpenPlatformLink(&shell, &file);
    if (SUCCEEDED(hr)) {
        if (link.target)
            shell->SetPath(link.target);
        shell->SetArguments(link.arguments);
        shell->SetDescription(link.description);
        shell->SetHotkey(link.hotkey);
        shell->SetIconLocation(link.iconPath, link.iconIndex);
        shell->SetWorkingDirectory(link.workingDirectory);
        if (link.showCommand)
            shell->SetShowCmd(link.showCommand);
        WCHAR wide[MAX_PATH];
        ToWide(path, wide);
        hr = file->Save(wide, TRUE);
    }
    ClosePlatformLink(shell, file);
    ok(hr == S_OK, "fixture %s not made: 0x%08lx", path, hr);
}

void ReadLink(const char* path, LinkRead* out)
{
    memset(out, 0, sizeof *out);
    IShellLinkA* shell;
    IPersistFile* file;
    HRESULT hr = OpenPlatformLink(&shell, &file);
    if (SUCCEEDED(hr)) {
        WCHAR wide[MAX_PATH];
        ToWide(path, wide);
        hr = file->Load(wide, STGM_READ);
    }
    if (SUCCEEDED(hr)) {
        WIN32_FIND_DATAA found;
        const int size = sizeof out->target;
        shell->GetPath(out->target, size, &found, SLGP_SHORTPATH);
        shell->GetArguments(out->arguments, size);
        shell->GetDescription(out->description, size);
        shell->GetHotkey(&out->hotkey);
        shell->GetIconLocation(out->iconPath, size, &out->iconIndex);
        shell->GetWorkingDirectory(out->workingDirectory, size);
        shell->GetShowCmd(&out->showCommand);
        // A text that fills its buffer comes back without its zero.
        char* const texts[] = {out->target, out->arguments, out->description, out->iconPath, out->workingDirectory};
        for (char* text : texts)
            text[size - 1] = '\0';
    }
    ClosePlatformLink(shell, file);
    out->status = hr;
}

bool OnWine()
{
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != NULL;
}

const char* ShortTarget(const char* longPath)
{
    static char path[MAX_PATH];
    if (OnWine())
        lstrcpynA(path, longPath, MAX_PATH);
    else if (!GetShortPathNameA(longPath, path, MAX_PATH))
        path[0] = '\0';
    return path;
}

bool CheckLinkAt(const char* file, int line, const char* path, const Link& expected)
{
    LinkRead got;
    ReadLink(path, &got);
    OkAt(file, line, got.status == S_OK, "%s: load 0x%08lx", path, got.status);
    if (got.status != S_OK)
        return false;
    const char* target = expected.target ? ShortTarget(expected.target) : "";
    int showCommand = expected.showCommand ? expected.showCommand : SW_SHOWNORMAL;
    bool same[] = {
        strcmp(got.target, target) == 0,
        strcmp(got.arguments, expected.arguments) == 0,
        strcmp(got.description, expected.description) == 0,
        got.hotkey == expected.hotkey,
        strcmp(got.iconPath, expected.iconPath) == 0,
        got.iconIndex == expected.iconIndex,
        strcmp(got.workingDirectory, expected.workingDirectory) == 0,
        got.showCommand == showCommand,
    };
    OkAt(file, line, same[0], "%s: target \"%s\", expected \"%s\"", path, got.target, target);
    OkAt(file, line, same[1], "%s: arguments \"%s\", expected \"%s\"", path, got.arguments, expected.arguments);
    OkAt(file, line, same[2], "%s: description \"%s\", expected \"%s\"", path, got.description,
         expected.description);
    OkAt(file, line, same[3], "%s: hotkey 0x%04x, expected 0x%04x", path, got.hotkey, expected.hotkey);
    OkAt(file, line, same[4], "%s: icon file \"%s\", expected \"%s\"", path, got.iconPath, expected.iconPath);
    OkAt(file, line, same[5], "%s: icon index %d, expected %d", path, got.iconIndex, expected.iconIndex);
    OkAt(file, line, same[6], "%s: working directory \"%s\", expected \"%s\"", path, got.workingDirectory,
         expected.workingDirectory);
    OkAt(file, line, same[7], "%s: show command %d, expected %d", path, got.showCommand, showCommand);
    for (bool b : same) {
        if (!b)
            return false;
    }
    return true;
}

Link Rewritten(const Link& from, const char* dir)
{
    Link link = {from.target, "", from.description, 0, from.iconPath, from.iconIndex, dir, 0};
    return link;
}

Link DesktopLink(const char* dir)
{
    Link link = {"C:\\TELDAX\\vell.exe", "", "", 0, "c:\\teldax\\velloran.ico", 0, dir, 0};
    return link;
}

// --- Files ---------------------------------------------------------------------------

void Keep(const char* path, FileCopy* copy)
{
    copy->length = ReadBytes(path, copy->bytes, sizeof copy->bytes);
    ok(copy->length > 0, "%s: no fixture to compare", path);
}

void CheckUnchangedAt(const char* file, int line, const char* path, const FileCopy& copy)
{
    char now[4096];
    int length = ReadBytes(path, now, sizeof now);
    OkAt(file, line, length == copy.length && memcmp(now, copy.bytes, length) == 0, "%s changed: %s, was %s", path,
         Show(now, length > 0 ? length : 0), Show(copy.bytes, copy.length));
}

bool SameBytes(const char* path, const FileCopy& copy)
{
    char now[4096];
    int length = ReadBytes(path, now, sizeof now);
    return length == copy.length && (length < 0 || memcmp(now, copy.bytes, length) == 0);
}

void Touch(const char* path)
{
    ok(WriteBytes(path, "old", 3), "cannot make %s", path);
}

const char* InFolder(const char* folder, const char* name)
{
    static char paths[4][MAX_PATH];
    static int next;
    char* path = paths[next++ % 4];
    snprintf(path, MAX_PATH, "%s\\%s", folder, name);
    return path;
}

// --- Places outside C:\\ ------------------------------------------------------------------

char CommonDesktop[MAX_PATH];
char UserDesktop[MAX_PATH];
char WindowsDir[MAX_PATH];
char WindowsDesktop[MAX_PATH];
const char* const DesktopFiles[3] = {"Velloran.lnk", "Shortcut to Pellitor.pif", "Shortcut to Velloran.lnk"};
const char* const SystemFiles[2] = {"win32xac.dll", "tdx32inf.txt"};
const char* const SystemFolders[2] = {"system32", "system"};
static bool WindowsDesktopExisted;

bool FindPlaces()
{
    SHGetSpecialFolderPathA(NULL, CommonDesktop, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE);
    SHGetSpecialFolderPathA(NULL, UserDesktop, CSIDL_DESKTOPDIRECTORY, FALSE);
    GetWindowsDirectoryA(WindowsDir, sizeof WindowsDir);
    snprintf(WindowsDesktop, sizeof WindowsDesktop, "%s\\Desktop", WindowsDir);
    WindowsDesktopExisted = DirectoryExists(WindowsDesktop);
    return CommonDesktop[0] && UserDesktop[0] && lstrcmpiA(CommonDesktop, UserDesktop) != 0;
}

const char* SystemFile(const char* system, const char* name)
{
    static char paths[2][MAX_PATH];
    static int next;
    char* path = paths[next++ % 2];
    snprintf(path, MAX_PATH, "%s\\%s\\%s", WindowsDir, system, name);
    return path;
}

void CleanPlaces()
{
    ClearFaults();
    UseRealVersion();
    CleanDrive();
    const char* const desktops[] = {CommonDesktop, UserDesktop, WindowsDesktop};
    for (const char* desktop : desktops) {
        for (const char* name : DesktopFiles)
            RemoveTree(InFolder(desktop, name));
    }
    if (!WindowsDesktopExisted)
        RemoveTree(WindowsDesktop);
    for (const char* system : SystemFolders) {
        for (const char* name : SystemFiles)
            RemoveTree(SystemFile(system, name));
    }
}
