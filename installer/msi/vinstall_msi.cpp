// Custom actions that let a Windows Installer package call VINSTALLDLL.dll.
//
// A DLL custom action gets one argument, the install session, while the
// library's exports take five and a window. Each action here takes the
// library out of the package's Binary table (row "VINSTALLDLL") into a file
// it has just made itself, loads it, calls one or more exports with the
// installer's window, writes each status into the installation's log and
// turns the statuses into the action's result. The library is unloaded and
// its file removed before the action returns. The reporter code comes from
// the property REPORTERCODE, and a user interface level of none or basic
// (UILevel 2 or 3: msiexec /qn, /qb) tells the library that nobody is asked.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>
#include <strsafe.h>

namespace {

typedef int(__stdcall* VinstallExport)(HWND window, LPARAM, LPARAM, LPARAM, LPARAM);
typedef int(__stdcall* BeforeInstallWithCodeExport)(HWND window, LPCSTR code, DWORD options, LPSTR message,
                                                    DWORD messageSize);
const char BeforeInstallWithCodeName[] = "BeforeInstallWithCode";
// The library shows no window in the call (its VINSTALL_SILENT).
const DWORD VinstallSilent = 0x1;
// BeforeInstallWithCode's fixed lines for status 0.
const char NoCodeLine[] = "no reporter code";
const char CancelledLine[] = "cancelled at the reporter code dialog";

// The key of the library's row in the Binary table.
const char LibraryQuery[] = "SELECT `Data` FROM `Binary` WHERE `Name`='VINSTALLDLL'";
const char LibraryName[] = "VINSTALLDLL.dll";

// The library as one action holds it.
struct LoadedLibrary {
    char folder[MAX_PATH];  // made by this action, removed again
    char path[MAX_PATH];
    HANDLE pin;             // open for reading, sharing reading only: no one replaces the file
    HMODULE module;
};

// One line in the installation's log (shown with msiexec /l*v), prefixed so
// that it can be found among the installer's own lines. The text goes in as
// a field, not as the template, so brackets in a path are not formatted.
__attribute__((format(printf, 2, 3))) void LogLine(MSIHANDLE install, const char* format, ...)
{
    char text[512];
    StringCchCopyA(text, ARRAYSIZE(text), "VINSTALLDLL: ");
    size_t used = 0;
    StringCchLengthA(text, ARRAYSIZE(text), &used);
    va_list arguments;
    va_start(arguments, format);
    // A text that does not fit is cut; the cut text is still logged.
    StringCchVPrintfA(text + used, ARRAYSIZE(text) - used, format, arguments);
    va_end(arguments);
    MSIHANDLE record = MsiCreateRecord(1);
    if (!record)
        return;
    MsiRecordSetStringA(record, 0, "[1]");
    MsiRecordSetStringA(record, 1, text);
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

// A property's value into value, cut to fit; "" when it is not set.
void ReadProperty(MSIHANDLE install, const char* name, char* value, DWORD size)
{
    DWORD length = size;
    UINT result = MsiGetPropertyA(install, name, value, &length);
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA)
        value[0] = '\0';
    value[size - 1] = '\0';
}

// VinstallSilent when the installation shows no user interface or a basic
// one (UILevel 2 or 3: msiexec /qn or /qb), where nobody is asked anything;
// 0 for a reduced or full one (4, 5). The level's flags (/qn+, /qb-) are
// above its low three bits.
DWORD SilentOption(MSIHANDLE install)
{
    char text[16];
    ReadProperty(install, "UILevel", text, sizeof text);
    DWORD level = 0;
    for (const char* p = text; *p >= '0' && *p <= '9'; ++p)
        level = level * 10 + (DWORD)(*p - '0');
    level &= 7;
    return level == INSTALLUILEVEL_NONE || level == INSTALLUILEVEL_BASIC ? VinstallSilent : 0;
}

// Windows Installer gives a custom action no window. When its own dialogs
// are on screen (a full or basic user interface), the library's dialog is
// made modal to them; in a silent installation there is none, and the
// library's windows have no owner. Only one installation runs at a time, so
// the installer window on screen is this installation's.
HWND InstallerWindow()
{
    HWND window = FindWindowA("MsiDialogCloseClass", NULL);
    if (!window)
        window = FindWindowA("MsiDialogNoCloseClass", NULL);
    return window && IsWindowVisible(window) ? window : NULL;
}

// A folder that did not exist before: made here, so nothing in it was put
// there by anyone else. The temporary folder is the installing account's.
bool MakeOwnFolder(MSIHANDLE install, char (&folder)[MAX_PATH])
{
    char base[MAX_PATH];
    DWORD length = GetTempPathA(ARRAYSIZE(base), base);
    if (length == 0 || length >= ARRAYSIZE(base)) {
        LogLine(install, "no temporary folder (GetTempPathA returned %lu, error %lu)", length, GetLastError());
        return false;
    }
    DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 12);
    for (DWORD attempt = 0; attempt < 32; ++attempt) {
        if (FAILED(StringCchPrintfA(folder, ARRAYSIZE(folder), "%sVINSTALL.%08lX", base,
                                    (unsigned long)(seed + attempt * 0x9E3779B9u)))) {
            LogLine(install, "the temporary folder's path is too long: %s", base);
            return false;
        }
        if (CreateDirectoryA(folder, NULL))
            return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    LogLine(install, "no folder of its own can be made in %s (error %lu)", base, GetLastError());
    return false;
}

// Writes the Binary row's stream into a new file; false on any failure.
bool WriteLibraryFile(MSIHANDLE install, MSIHANDLE row, const char* path, BY_HANDLE_FILE_INFORMATION* written)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        LogLine(install, "%s cannot be created (error %lu)", path, GetLastError());
        return false;
    }
    char buffer[4096];
    DWORD total = 0;
    bool ok = true;
    for (;;) {
        DWORD size = sizeof buffer;
        UINT result = MsiRecordReadStream(row, 1, buffer, &size);
        if (result != ERROR_SUCCESS) {
            LogLine(install, "the Binary row VINSTALLDLL cannot be read (error %u)", result);
            ok = false;
            break;
        }
        if (size == 0)
            break;
        DWORD done = 0;
        if (!WriteFile(file, buffer, size, &done, NULL) || done != size) {
            LogLine(install, "%s cannot be written (error %lu)", path, GetLastError());
            ok = false;
            break;
        }
        total += size;
    }
    if (ok && total == 0) {
        LogLine(install, "the Binary row VINSTALLDLL is empty");
        ok = false;
    }
    if (ok && !GetFileInformationByHandle(file, written)) {
        LogLine(install, "%s cannot be examined (error %lu)", path, GetLastError());
        ok = false;
    }
    CloseHandle(file);
    return ok;
}

void UnloadLibrary(LoadedLibrary* library)
{
    if (library->module)
        FreeLibrary(library->module);
    if (library->pin != INVALID_HANDLE_VALUE)
        CloseHandle(library->pin);
    if (library->path[0])
        DeleteFileA(library->path);
    if (library->folder[0])
        RemoveDirectoryA(library->folder);
    library->module = NULL;
    library->pin = INVALID_HANDLE_VALUE;
    library->path[0] = library->folder[0] = '\0';
}

// Takes the library from the package into a new file in a new folder, and
// loads it from there. The file is opened again for reading only, sharing
// only reading, and must be the very file written (same volume and index,
// one name, same size) before it is loaded; that handle stays open until
// the library is unloaded, so the file cannot be replaced in between.
bool LoadLibraryFromPackage(MSIHANDLE install, LoadedLibrary* library)
{
    library->folder[0] = library->path[0] = '\0';
    library->pin = INVALID_HANDLE_VALUE;
    library->module = NULL;

    MSIHANDLE database = MsiGetActiveDatabase(install);
    if (!database) {
        LogLine(install, "the package's database is not open to this action (is it deferred?)");
        return false;
    }
    MSIHANDLE view = 0, row = 0;
    UINT result = MsiDatabaseOpenViewA(database, LibraryQuery, &view);
    if (result == ERROR_SUCCESS)
        result = MsiViewExecute(view, 0);
    if (result == ERROR_SUCCESS)
        result = MsiViewFetch(view, &row);
    bool loaded = false;
    BY_HANDLE_FILE_INFORMATION written, opened;
    if (result != ERROR_SUCCESS) {
        LogLine(install, "the package has no Binary row VINSTALLDLL (error %u)", result);
    } else if (MakeOwnFolder(install, library->folder)) {
        if (FAILED(StringCchPrintfA(library->path, ARRAYSIZE(library->path), "%s\\%s", library->folder,
                                    LibraryName))) {
            LogLine(install, "the library's path is too long in %s", library->folder);
            library->path[0] = '\0';
        } else if (WriteLibraryFile(install, row, library->path, &written)) {
            library->pin = CreateFileA(library->path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, NULL);
            if (library->pin == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(library->pin, &opened)) {
                LogLine(install, "%s cannot be opened again (error %lu)", library->path, GetLastError());
            } else if (opened.dwVolumeSerialNumber != written.dwVolumeSerialNumber ||
                       opened.nFileIndexHigh != written.nFileIndexHigh ||
                       opened.nFileIndexLow != written.nFileIndexLow || opened.nNumberOfLinks != 1 ||
                       opened.nFileSizeLow != written.nFileSizeLow ||
                       opened.nFileSizeHigh != written.nFileSizeHigh) {
                LogLine(install, "%s is no longer the file written: not loaded", library->path);
            } else {
                library->module = LoadLibraryA(library->path);
                if (library->module)
                    loaded = true;
                else
                    LogLine(install, "%s cannot be loaded (error %lu)", library->path, GetLastError());
            }
        }
    }
    if (row)
        MsiCloseHandle(row);
    if (view) {
        MsiViewClose(view);
        MsiCloseHandle(view);
    }
    MsiCloseHandle(database);
    if (!loaded)
        UnloadLibrary(library);
    return loaded;
}

// BeforeInstallWithCode with the code given (NULL for none) and the
// installation's silence; its status and its line go into the log, and
// the result that the action is to give lands in result.
int CallBeforeInstallWithCode(MSIHANDLE install, HMODULE library, HWND window, const char* code, UINT* result)
{
    // Through void*: a FARPROC is cast to the export's real type.
    BeforeInstallWithCodeExport call = reinterpret_cast<BeforeInstallWithCodeExport>(
        reinterpret_cast<void*>(GetProcAddress(library, BeforeInstallWithCodeName)));
    if (!call) {
        LogLine(install, "%s not called: the library has no such export", BeforeInstallWithCodeName);
        *result = ERROR_INSTALL_FAILURE;
        return 0;
    }
    // 512 bytes always hold the line; the library terminates it.
    char line[512];
    line[0] = '\0';
    int status = call(window, code, SilentOption(install), line, sizeof line);
    LogLine(install, "%s returned %d", BeforeInstallWithCodeName, status);
    if (lstrcmpA(line, NoCodeLine) == 0)
        // Nobody could be asked: what to pass, for whoever reads the log.
        LogLine(install, "%s: run with REPORTERCODE=<code>", NoCodeLine);
    else
        LogLine(install, "%s", line);
    // Status 0 ends the installation: as the user's exit when the person
    // cancelled the dialog, as a failure otherwise.
    *result = status != 0 ? ERROR_SUCCESS
                          : lstrcmpA(line, CancelledLine) == 0 ? ERROR_INSTALL_USEREXIT : ERROR_INSTALL_FAILURE;
    return status;
}

// Calls, in one load of the library, BeforeInstallWithCode first when
// withCode is given (its own code, or "" for none), then the exports named,
// in order, and logs each status. BeforeInstallWithCode's 0 ends the action
// and the installation (see above); a library that cannot be loaded or
// lacks an export fails the installation. Every other status lets it go on.
UINT CallExports(MSIHANDLE install, const char* withCode, const char* const* names, int count)
{
    LoadedLibrary library;
    if (!LoadLibraryFromPackage(install, &library)) {
        LogLine(install, "%s not called: the library is not loaded", withCode ? BeforeInstallWithCodeName : names[0]);
        return ERROR_INSTALL_FAILURE;
    }
    // The exports move the current directory (to C:\TELDAX, then to the
    // desktop); the process is the installer's and runs other actions, and
    // a current directory keeps its folder from being removed. It is put
    // back afterwards, if it was known.
    char directory[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(ARRAYSIZE(directory), directory);
    bool restore = length > 0 && length < ARRAYSIZE(directory);
    HWND window = InstallerWindow();
    UINT result = ERROR_SUCCESS;
    if (withCode && CallBeforeInstallWithCode(install, library.module, window, withCode[0] ? withCode : NULL,
                                              &result) == 0) {
        if (count > 0)
            LogLine(install, "%s not called: %s stopped the installation", names[0], BeforeInstallWithCodeName);
        count = 0;
    }
    for (int i = 0; i < count; ++i) {
        VinstallExport call = reinterpret_cast<VinstallExport>(
            reinterpret_cast<void*>(GetProcAddress(library.module, names[i])));
        if (!call) {
            LogLine(install, "%s not called: the library has no such export", names[i]);
            result = ERROR_INSTALL_FAILURE;
            break;
        }
        LogLine(install, "%s returned %d", names[i], call(window, 0, 0, 0, 0));
    }
    UnloadLibrary(&library);
    if (restore)
        SetCurrentDirectoryA(directory);
    return result;
}

// Deletes folder's file name (folder: a directory property's value, ending
// in a backslash) if it is there, and says so. The folders are the
// installation's and the desktop common to all users, which only
// administrators may change, and deleting a name removes that name only:
// a link there would go, not what it leads to.
void DeleteLeftFile(MSIHANDLE install, const char* folder, const char* name)
{
    char path[MAX_PATH];
    if (!folder[0] || FAILED(StringCchPrintfA(path, ARRAYSIZE(path), "%s%s", folder, name)))
        return;
    if (DeleteFileA(path))
        LogLine(install, "%s deleted", path);
    else if (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND)
        LogLine(install, "%s not deleted (error %lu)", path, GetLastError());
}

}  // namespace

// Before the product's files: the Windows version gate and the reporter
// code, given (REPORTERCODE), stored, typed or imported. Status 0 ends the
// installation.
extern "C" UINT __stdcall VinstallBeforeInstall(MSIHANDLE install)
{
    char code[MAX_PATH];
    ReadProperty(install, "REPORTERCODE", code, sizeof code);
    return CallExports(install, code, NULL, 0);
}

// Once the product's files are on disk. AfterInstall takes the platform
// from BeforeInstallWithCode in the same load of the library, and a custom
// action's DLL lives only for its call, so that is called again first: the
// code stored by the earlier action is read back (status 1, no dialog).
extern "C" UINT __stdcall VinstallAfterInstall(MSIHANDLE install)
{
    static const char* const Names[] = {"AfterInstall"};
    return CallExports(install, "", Names, ARRAYSIZE(Names));
}

// The release records, one action per kind of release.
extern "C" UINT __stdcall VinstallMLDInfo(MSIHANDLE install)
{
    static const char* const Names[] = {"MLDInfo"};
    return CallExports(install, NULL, Names, ARRAYSIZE(Names));
}

extern "C" UINT __stdcall VinstallUpdateInfo(MSIHANDLE install)
{
    static const char* const Names[] = {"UpdateInfo"};
    return CallExports(install, NULL, Names, ARRAYSIZE(Names));
}

// Starts the PDF converter's installer from the install folder.
extern "C" UINT __stdcall VinstallInstallPDF(MSIHANDLE install)
{
    static const char* const Names[] = {"InstallPDF"};
    return CallExports(install, NULL, Names, ARRAYSIZE(Names));
}

// On removal: what the library wrote and Windows Installer does not know,
// the desktop shortcut and the release records. The reporter's own data,
// RC.DAT and C:\<code>, stay. The library is not needed for that.
extern "C" UINT __stdcall VinstallRemove(MSIHANDLE install)
{
    char installFolder[MAX_PATH], desktop[MAX_PATH];
    ReadProperty(install, "TELDAX", installFolder, sizeof installFolder);
    // Where AfterInstall writes it: the desktop common to all users, asked
    // of the shell as the library asks (Windows Installer's DesktopFolder
    // is not that under every implementation); where there is none (Windows
    // 95, 98, Me), the one desktop, which DesktopFolder names.
    if (SHGetSpecialFolderPathA(NULL, desktop, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE))
        StringCchCatA(desktop, ARRAYSIZE(desktop), "\\");
    else
        ReadProperty(install, "DesktopFolder", desktop, sizeof desktop);
    DeleteLeftFile(install, desktop, "Velloran.lnk");
    static const char* const Records[] = {"Update.txt", "UpdName.txt", "UpdDetails.txt"};
    for (const char* name : Records)
        DeleteLeftFile(install, installFolder, name);
    return ERROR_SUCCESS;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
