#include "../guard/hold.h"
#include "../interface/exports.h"
#include "../interface/state.h"
#include "../interface/trace.h"
#include "shortcuts.h"

#include <shlobj.h>
#include <strsafe.h>
#include <string.h>

// Shortcuts of the install folder that are left as the setup program made
// them, compared with the found name in lower case. An empty entry ends it.
static const char SkipList[8][51] = {
    "win9x.lnk",
    "winnt.lnk",
    "msdosnt.lnk",
    "ms-dos prompt.lnk",
    "shortcut to velloran.lnk",
    "user's manual.lnk",
    "install update.lnk",
    "",
};

// The parts one after the other in out; false (out unusable) when they do not
// fit MAX_PATH with the zero.
static bool JoinPath(char (&out)[MAX_PATH], LPCSTR first, LPCSTR second, LPCSTR third = "")
{
    return SUCCEEDED(StringCchPrintfA(out, MAX_PATH, "%s%s%s", first, second, third));
}

static bool GetWindowsFolder(char (&folder)[MAX_PATH])
{
    UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH;
}

// Trailing blanks (' ' only) go. A text with ':' as its second character is
// already a path, on whatever drive; a bare code goes under "C:\". A
// completion that would not fit leaves the text as it is.
static void CompleteReporterDir(char* text)
{
    int length = lstrlenA(text);
    while (length > 0 && text[length - 1] == ' ')
        text[--length] = '\0';
    if (length >= 2 && text[1] == ':')
        return;
    char completed[MAX_PATH];
    if (JoinPath(completed, "C:\\", text))
        StringCchCopyA(text, MAX_PATH, completed);
    else
        Trace("\"C:\\\" and the reporter text do not fit a path: the text is used as it is");
}

static bool IsSkipped(LPCSTR lowerCaseName)
{
    for (int i = 0; SkipList[i][0]; ++i) {
        if (lstrcmpA(lowerCaseName, SkipList[i]) == 0)
            return true;
    }
    return false;
}

// The obsolete program information file of a shortcut in folder: its path
// cut before the first '.', with ".PIF". Made writable first so that a
// read-only one goes too, and deleted, both through a handle on which it was
// checked to lie in folder: the attributes of a file elsewhere are not the
// library's to change.
static void DeleteTwin(const HeldFolder& folder, LPCSTR shortcutPath)
{
    char twin[MAX_PATH];
    StringCchCopyA(twin, ARRAYSIZE(twin), shortcutPath);
    char* dot = FindCharacter(twin, '.');
    if (dot)
        *dot = '\0';
    if (FAILED(StringCchCatA(twin, ARRAYSIZE(twin), ".PIF")))
        return;
    DeleteFromFolder(folder, twin);
}

// Rewrites one found shortcut of folder so that it starts in reporterDir,
// keeping its target, description and icon and dropping everything else. A
// shortcut that cannot be read, or that names no target file, is left as it
// is rather than written with empty values; a name too long for a path is
// passed over.
static void RewriteShortcut(const HeldFolder& folder, LPCSTR name, char* reporterDir, DWORD resolveFlags)
{
    char lowerCaseName[MAX_PATH];
    StringCchCopyA(lowerCaseName, ARRAYSIZE(lowerCaseName), name);
    AsciiLowerCase(lowerCaseName);
    if (IsSkipped(lowerCaseName)) {
        Trace("%s passed over: on the skip list", name);
        return;
    }

    char path[MAX_PATH];
    if (!JoinPath(path, InstallDir, "\\", name)) {
        Trace("%s passed over: its path is longer than %d characters", name, MAX_PATH - 1);
        return;
    }
    DeleteTwin(folder, path);

    // Read and written through the one handle on which it was checked.
    HANDLE held;
    if (!HoldFile(folder, path, ForShortcut, false, &held)) {
        Trace("%s passed over: it may not be rewritten", name);
        return;
    }
    // Fresh for every shortcut: nothing read from an earlier one can remain.
    char target[MAX_PATH] = "";
    char description[MAX_PATH] = "";
    char iconPath[MAX_PATH] = "";
    char workingDirectory[MAX_PATH] = "";
    ShortcutInfo read = {target, description, 0, iconPath, 0, workingDirectory};
    HRESULT hr = ReadShortcut(held, &read, resolveFlags);
    if (FAILED(hr)) {
        Trace("%s passed over: cannot be read (0x%08lX)", name, (unsigned long)hr);
    } else if (!target[0]) {
        Trace("%s passed over: names no target file", name);
    } else {
        ShortcutInfo rewritten = {target, description, 0, iconPath, read.IconIndex, reporterDir};
        hr = WriteShortcut(held, path, &rewritten, false);
        if (FAILED(hr))
            Trace("%s not rewritten: the write failed (0x%08lX)", name, (unsigned long)hr);
        else
            Trace("%s rewritten: starts in the reporter directory", name);
    }
    ReleaseHold(held);
}

// How a shortcut's target is looked for when it has moved. Where someone
// may answer, the shell may ask where it went (no window, SLR_ANY_MATCH).
// Where nobody can (WhyNoWindows), it shows nothing and gives up after a
// second (SLR_NO_UI, the time-out in the high word), and neither searches
// nor asks the link-tracking service or a network host where a target
// went (SLR_NOSEARCH, SLR_NOTRACK, SLR_NOLINKINFO): a deployment agent's
// SYSTEM account would otherwise wait there, or reach out to a host a
// shortcut names. (IShellLink::Resolve in Microsoft's documentation.)
static DWORD ResolveFlags()
{
    enum { ResolveTimeoutMs = 1000 };
    LPCSTR why = WhyNoWindows();
    DWORD flags = why ? SLR_ANY_MATCH | SLR_NO_UI | SLR_NOSEARCH | SLR_NOTRACK | SLR_NOLINKINFO |
                            (ResolveTimeoutMs << 16)
                      : SLR_ANY_MATCH;
    Trace("shortcuts resolved with flags 0x%08lX: %s", flags, why ? why : "the shell may ask where a target went");
    return flags;
}

// An install folder that leads elsewhere is left alone, twins included: its
// shortcuts are not the product's.
static void RewriteInstallFolderShortcuts(char* reporterDir)
{
    HeldFolder folder;
    if (!HoldFolder(InstallDir, &folder)) {
        Trace("%s may not be written in: its shortcuts are left alone", InstallDir);
        return;
    }
    DWORD resolveFlags = ResolveFlags();
    char pattern[MAX_PATH];
    JoinPath(pattern, InstallDir, "\\*.lnk");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        Trace("no shortcut found as %s (error %lu)", pattern, GetLastError());
    } else {
        do {
            RewriteShortcut(folder, found.cFileName, reporterDir, resolveFlags);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    ReleaseHold(folder.handle);
}

// Removes the old desktop files and writes "Velloran.lnk" into the current
// directory, which is the desktop folder once it could be entered. The
// current directory is left there.
static void ReplaceDesktopShortcut(LPCSTR desktop, char* reporterDir)
{
    char path[MAX_PATH];
    if (JoinPath(path, desktop, "\\Shortcut to Pellitor.pif"))
        DeleteByName(path);
    if (!SetCurrentDirectoryA(desktop))
        Trace("%s cannot be entered (error %lu): Velloran.lnk goes into the current directory", desktop,
              GetLastError());
    if (JoinPath(path, desktop, "\\Shortcut to Velloran.lnk"))
        DeleteByName(path);

    HeldFolder folder;
    HANDLE held;
    bool created = false;
    if (!HoldFolder(".", &folder))
        return;
    if (HoldFile(folder, "Velloran.lnk", ForShortcut, true, &held, &created)) {
        char target[MAX_PATH];
        char description[] = "";
        char iconPath[] = "c:\\teldax\\velloran.ico";
        JoinPath(target, InstallDir, "\\vell.exe");
        ShortcutInfo info = {target, description, 0, iconPath, 0, reporterDir};
        HRESULT hr = WriteShortcut(held, "Velloran.lnk", &info, created);
        if (SUCCEEDED(hr)) {
            ReleaseHold(held);
            Trace("desktop shortcut Velloran.lnk written");
        } else {
            Trace("desktop shortcut Velloran.lnk not written (0x%08lX)", (unsigned long)hr);
            ReleaseUnwritten(held, "Velloran.lnk", created);
        }
    }
    ReleaseHold(folder.handle);
}

// Nothing is touched on a desktop that could not be determined.
void MigrateShortcuts(HWND owner, char* reporterDir)
{
    char desktop[MAX_PATH];
    bool desktopKnown = FindDesktopFolder(owner, desktop);
    CompleteReporterDir(reporterDir);
    Trace("reporter directory: %s", reporterDir);
    RewriteInstallFolderShortcuts(reporterDir);
    if (desktopKnown) {
        Trace("desktop folder: %s", desktop);
        ReplaceDesktopShortcut(desktop, reporterDir);
    } else {
        Trace("the desktop is left alone");
    }
}

// The folder follows the platform that BeforeInstall recorded: without it
// the id is 0 and the non-NT folder is used. Attributes are left alone, so a
// read-only file stays.
static void DeleteObsoleteSystemFile(LPCSTR name)
{
    LPCSTR folder = WindowsVersion.dwPlatformId == VER_PLATFORM_WIN32_NT ? "\\system32\\" : "\\system\\";
    char windows[MAX_PATH];
    char path[MAX_PATH];
    if (GetWindowsFolder(windows) && JoinPath(path, windows, folder, name))
        DeleteByName(path);
    else
        Trace("%s not looked for: the Windows folder is unknown", name);
}

// Status 1 always: nothing here stops or fails the installation.
VINSTALL_EXPORT AfterInstall(HWND window, LPARAM, LPARAM, LPARAM, LPARAM)
{
    TraceCall("AfterInstall", window);
    char codePath[MAX_PATH];
    JoinPath(codePath, InstallDir, "\\RC.DAT");
    // Read through the handle on which it was checked: a link put at its
    // name is refused as a file that cannot be opened. Unreadable,
    // ReporterDir keeps what BeforeInstall left in it.
    HANDLE file = OpenToRead(InstallDir, codePath);
    if (file != INVALID_HANDLE_VALUE) {
        ReadCodeFile(file);
        ReleaseHold(file);
        Trace("reporter code read from %s (%lu bytes)", codePath, BytesRead);
    } else {
        Trace("%s cannot be opened (error %lu): the reporter text stays as BeforeInstall left it", codePath,
              GetLastError());
    }

    MigrateShortcuts(window, ReporterDir);
    DeleteObsoleteSystemFile("win32xac.dll");
    DeleteObsoleteSystemFile("tdx32inf.txt");
    return TraceReturn("AfterInstall", 1);
}
