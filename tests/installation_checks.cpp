#include "installation_checks.h"

#include "release_settings.h"

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

const char CodeFile[] = "C:\\TELDAX\\RC.DAT";
const char ReceivedFile[] = "C:\\TELDAX\\install-received.txt";
char CommonDesktop[MAX_PATH];
char SystemFolder[MAX_PATH];

void FindInstallationPlaces()
{
    SHGetSpecialFolderPathA(NULL, CommonDesktop, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE);
    GetSystemDirectoryA(SystemFolder, sizeof SystemFolder);
}

void PathIn(char* out, int size, const char* folder, const char* name)
{
    snprintf(out, size, "%s\\%s", folder, name);
}

bool StartsWith(const char* text, const char* prefix)
{
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

void RemoveMatching(const char* folder, const char* pattern)
{
    char search[MAX_PATH], path[MAX_PATH];
    PathIn(search, sizeof search, folder, pattern);
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(search, &found);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        if (found.cFileName[0] != '.') {
            PathIn(path, sizeof path, folder, found.cFileName);
            RemoveTree(path);
        }
    } while (FindNextFileA(h, &found));
    FindClose(h);
}

void PrepareMachine()
{
    CleanDrive();
    RemoveMatching(CommonDesktop, "*");
    static const char* const SystemFiles[] = {"win32xac.dll", "tdx32inf.txt"};
    for (const char* name : SystemFiles) {
        char path[MAX_PATH];
        PathIn(path, sizeof path, SystemFolder, name);
        RemoveTree(path);
    }
}

const char* PrepareStoredCodeMachine()
{
    PrepareMachine();
    MakeDirectory("C:\\TELDAX");
    const char stored[24] = "MARY";
    WriteBytes(CodeFile, stored, sizeof stored);
    static char oldSystemFile[MAX_PATH];
    PathIn(oldSystemFile, sizeof oldSystemFile, SystemFolder, "win32xac.dll");
    WriteBytes(oldSystemFile, "old", 3);
    return oldSystemFile;
}

static bool SameBytes(const char* installed, const char* built)
{
    static char a[64 * 1024], b[64 * 1024];
    int na = ReadBytes(installed, a, sizeof a), nb = ReadBytes(built, b, sizeof b);
    return na > 0 && na == nb && memcmp(a, b, na) == 0;
}

void CheckProductFilesAt(const char* file, int line, const char* productFolder)
{
    static const char* const ProductFiles[] = {"vell.exe", "velloran.ico", "install.exe"};
    for (const char* name : ProductFiles) {
        char installed[MAX_PATH], built[MAX_PATH];
        PathIn(installed, sizeof installed, "C:\\TELDAX", name);
        PathIn(built, sizeof built, productFolder, name);
        OkAt(file, line, SameBytes(installed, built), "%s is not the build's %s", installed, name);
    }
}

void ReportWindowsVersionTo(const char* program, const char* version)
{
    char keyName[128];
    snprintf(keyName, sizeof keyName, "Software\\Wine\\AppDefaults\\%s", program);
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, keyName, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS) {
        ok(false, "cannot set the Windows version for %s", program);
        return;
    }
    if (version)
        RegSetValueExA(key, "Version", 0, REG_SZ, (const BYTE*)version, (DWORD)strlen(version) + 1);
    else
        RegDeleteValueA(key, "Version");
    RegCloseKey(key);
}

void CheckCodeFileAt(const char* file, int line, const char* code)
{
    unsigned char expected[24] = {};
    memcpy(expected, code, strlen(code));
    unsigned char actual[64];
    int length = ReadBytes(CodeFile, actual, sizeof actual);
    OkAt(file, line, length == 24 && memcmp(actual, expected, 24) == 0, "RC.DAT is %s, expected %s",
         length < 0 ? "missing" : Show(actual, length), Show(expected, 24));
}

void CheckLogAt(const char* file, int line, const char* log, const char* expected)
{
    OkAt(file, line, strcmp(log, expected) == 0, "log %s, expected %s", Show(log, strlen(log)),
         Show(expected, strlen(expected)));
}

void CheckMessageAt(const char* file, int line, const SetupRun& run, int index, const char* title, const char* text,
                    const char* ownerPrefix)
{
    OkAt(file, line, run.messageCount > index, "message %d not shown (%d shown)", index, run.messageCount);
    if (run.messageCount <= index)
        return;
    const SeenMessage& m = run.messages[index];
    OkAt(file, line, strcmp(m.title, title) == 0, "title \"%s\", expected \"%s\"", m.title, title);
    OkAt(file, line, strcmp(m.text, text) == 0, "text %s, expected %s", Show(m.text, strlen(m.text)),
         Show(text, strlen(text)));
    if (ownerPrefix && ownerPrefix[0])
        OkAt(file, line, StartsWith(m.owner, ownerPrefix), "owner \"%s\", expected \"%s...\"", m.owner, ownerPrefix);
    else
        OkAt(file, line, m.owner[0] == '\0', "owner \"%s\", expected none", m.owner);
}

const char* CheckConverterParametersAt(const char* file, int line)
{
    static char received[512];
    int length = ReadText(ReceivedFile, received, sizeof received);
    OkAt(file, line, StartsWith(received, "parameters: " VINSTALL_PDF_PARAMETERS "\r\n"),
         "the PDF converter's installer received %s, expected the parameters %s",
         length < 0 ? "nothing" : Show(received, length), VINSTALL_PDF_PARAMETERS);
    return received;
}

void CheckShortcuts(const ShortcutCase* cases, int count)
{
    for (int i = 0; i < count; ++i) {
        const ShortcutCase& c = cases[i];
        char path[MAX_PATH];
        PathIn(path, sizeof path, c.folder ? c.folder : CommonDesktop, c.name);
        SetContext("%s", path);
        ShortcutProperties link;
        HRESULT hr = ReadShortcutFile(path, &link);
        if (!c.target) {
            ok(!FileExists(path), "still there");
            continue;
        }
        ok(hr == S_OK, "cannot be read: 0x%08lx", (unsigned long)hr);
        if (hr != S_OK)
            continue;
        ok(_stricmp(link.target, c.target) == 0, "target \"%s\", expected \"%s\"", link.target, c.target);
        ok(strcmp(link.arguments, c.arguments) == 0, "arguments \"%s\", expected \"%s\"", link.arguments,
           c.arguments);
        ok(_stricmp(link.directory, c.directory) == 0, "starts in \"%s\", expected \"%s\"", link.directory,
           c.directory);
        if (!c.iconPath)
            continue;
        ok(strcmp(link.iconPath, c.iconPath) == 0 && link.iconIndex == 0, "icon \"%s\",%d, expected \"%s\",0",
           link.iconPath, link.iconIndex, c.iconPath);
        ok(link.hotkey == c.hotkey, "hotkey 0x%x, expected 0x%x", link.hotkey, c.hotkey);
    }
    ClearContext();
}

const char RefusedSlashLine[] =
    "reporter code A/B refused: The file name contains invalid characters. The file name may not include any of "
    "the following characters:  \\/:*?\"<>|";

void CheckInstalledForAt(const char* file, int line, const char* code, const char* productFolder)
{
    CheckCodeFileAt(file, line, code);
    char reporterFolder[MAX_PATH];
    PathIn(reporterFolder, sizeof reporterFolder, "C:", code);
    OkAt(file, line, DirectoryExists(reporterFolder), "%s not created", reporterFolder);
    CheckProductFilesAt(file, line, productFolder);
    char desktopLink[MAX_PATH];
    PathIn(desktopLink, sizeof desktopLink, CommonDesktop, "Velloran.lnk");
    const char* const Moved[] = {"C:\\TELDAX\\Velloran.lnk", "C:\\TELDAX\\Velloran Dictionary.lnk", desktopLink};
    for (const char* path : Moved) {
        ShortcutProperties link;
        HRESULT hr = ReadShortcutFile(path, &link);
        OkAt(file, line, hr == S_OK && _stricmp(link.target, "C:\\TELDAX\\vell.exe") == 0 &&
                             _stricmp(link.directory, reporterFolder) == 0,
             "%s: 0x%08lx, target \"%s\", starts in \"%s\", expected C:\\TELDAX\\vell.exe in %s", path,
             (unsigned long)hr, link.target, link.directory, reporterFolder);
    }
}

void CheckNothingInstalledAt(const char* file, int line)
{
    char desktopLink[MAX_PATH];
    PathIn(desktopLink, sizeof desktopLink, CommonDesktop, "Velloran.lnk");
    OkAt(file, line, !DirectoryExists("C:\\TELDAX") && !FileExists(desktopLink),
         "something was installed: C:\\TELDAX %s, the desktop shortcut %s",
         DirectoryExists("C:\\TELDAX") ? "exists" : "missing", FileExists(desktopLink) ? "exists" : "missing");
}

void CheckRemovedKeepingAt(const char* file, int line, const char* code)
{
    char desktopLink[MAX_PATH];
    PathIn(desktopLink, sizeof desktopLink, CommonDesktop, "Velloran.lnk");
    const char* const Gone[] = {
        "C:\\TELDAX\\vell.exe",     "C:\\TELDAX\\velloran.ico",  "C:\\TELDAX\\install.exe",
        "C:\\TELDAX\\Velloran.lnk", "C:\\TELDAX\\Velloran Dictionary.lnk",
        "C:\\TELDAX\\WinNT.lnk",    "C:\\TELDAX\\User's Manual.lnk",
        "C:\\TELDAX\\Update.txt",   "C:\\TELDAX\\UpdName.txt",   "C:\\TELDAX\\UpdDetails.txt",
        desktopLink,
    };
    for (const char* path : Gone)
        OkAt(file, line, !FileExists(path), "%s is still there after the removal", path);
    CheckCodeFileAt(file, line, code);
    char reporterFolder[MAX_PATH];
    PathIn(reporterFolder, sizeof reporterFolder, "C:", code);
    OkAt(file, line, DirectoryExists(reporterFolder), "%s went with the removal", reporterFolder);
}

void CheckLogHasLineAt(const char* file, int line, const char* log, const char* expected)
{
    size_t length = strlen(expected);
    bool found = false;
    for (const char* p = log; *p && !found; p += strcspn(p, "\r\n"), p += strspn(p, "\r\n"))
        found = strncmp(p, expected, length) == 0 && (p[length] == '\r' || p[length] == '\n' || !p[length]);
    OkAt(file, line, found, "no line %s in the log %s", Show(expected, (int)length), Show(log, (int)strlen(log)));
}

HANDLE HoldMutex(const char* name)
{
    HANDLE mutex = CreateMutexA(NULL, FALSE, name);
    ok(mutex != NULL, "cannot make the mutex %s: error %lu", name, GetLastError());
    return mutex;
}

void ReadUninstallValue(const char* key, const char* name, char* value, DWORD size)
{
    char path[256];
    snprintf(path, sizeof path, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s", key);
    value[0] = '\0';
    HKEY opened;
    // The setup program's view of the registry: a 32-bit one writes where
    // 32-bit programs read.
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return;
    DWORD type = 0, length = size;
    if (RegQueryValueExA(opened, name, NULL, &type, (BYTE*)value, &length) != ERROR_SUCCESS)
        value[0] = '\0';
    else if (type == REG_DWORD && size >= 12) {
        DWORD number;
        memcpy(&number, value, sizeof number);
        snprintf(value, size, "%lu", number);
    }
    value[size - 1] = '\0';
    RegCloseKey(opened);
}
