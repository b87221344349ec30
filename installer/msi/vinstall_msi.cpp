// Custom actions that let a Windows Installer package call VINSTALLDLL.dll.
//
// A DLL custom action gets one argument, the install session, while the
// library's exports take five and a window. Each action here takes the
// library out of the package's Binary table (row "VINSTALLDLL") into a file
// it has just made itself, loads it, calls one or more exports with the
// installer's window, writes each status into the installation's log and
// turns the statuses into the action's result. The library is unloaded and
// its file removed before the action returns.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <strsafe.h>

namespace {

typedef int(__stdcall* VinstallExport)(HWND window, LPARAM, LPARAM, LPARAM, LPARAM);

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

// Calls the exports named, in order, in one load of the library, and logs
// each status. BeforeInstall's 0 ends the action, and the installation, as
// the user's exit; a library that cannot be loaded or lacks an export fails
// the installation. Every other status lets it go on.
UINT CallExports(MSIHANDLE install, const char* const* names, int count)
{
    LoadedLibrary library;
    if (!LoadLibraryFromPackage(install, &library)) {
        LogLine(install, "%s not called: the library is not loaded", names[0]);
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
    for (int i = 0; i < count; ++i) {
        // Through void*: a FARPROC is cast to the export's real type.
        VinstallExport call = reinterpret_cast<VinstallExport>(
            reinterpret_cast<void*>(GetProcAddress(library.module, names[i])));
        if (!call) {
            LogLine(install, "%s not called: the library has no such export", names[i]);
            result = ERROR_INSTALL_FAILURE;
            break;
        }
        int status = call(window, 0, 0, 0, 0);
        LogLine(install, "%s returned %d", names[i], status);
        if (status == 0 && lstrcmpA(names[i], "BeforeInstall") == 0) {
            if (i + 1 < count)
                LogLine(install, "%s not called: BeforeInstall stopped the installation", names[i + 1]);
            result = ERROR_INSTALL_USEREXIT;
            break;
        }
    }
    UnloadLibrary(&library);
    if (restore)
        SetCurrentDirectoryA(directory);
    return result;
}

}  // namespace

// Before the product's files: the Windows version gate and the reporter
// code, stored, typed or imported. Status 0 ends the installation.
extern "C" UINT __stdcall VinstallBeforeInstall(MSIHANDLE install)
{
    static const char* const Names[] = {"BeforeInstall"};
    return CallExports(install, Names, ARRAYSIZE(Names));
}

// Once the product's files are on disk. AfterInstall takes the platform
// from BeforeInstall in the same load of the library, and a custom action's
// DLL lives only for its call, so BeforeInstall is called again first: the
// code stored by the earlier action is read back (status 1, no dialog).
extern "C" UINT __stdcall VinstallAfterInstall(MSIHANDLE install)
{
    static const char* const Names[] = {"BeforeInstall", "AfterInstall"};
    return CallExports(install, Names, ARRAYSIZE(Names));
}

// The release records, one action per kind of release.
extern "C" UINT __stdcall VinstallMLDInfo(MSIHANDLE install)
{
    static const char* const Names[] = {"MLDInfo"};
    return CallExports(install, Names, ARRAYSIZE(Names));
}

extern "C" UINT __stdcall VinstallUpdateInfo(MSIHANDLE install)
{
    static const char* const Names[] = {"UpdateInfo"};
    return CallExports(install, Names, ARRAYSIZE(Names));
}

// Starts the PDF converter's installer from the install folder.
extern "C" UINT __stdcall VinstallInstallPDF(MSIHANDLE install)
{
    static const char* const Names[] = {"InstallPDF"};
    return CallExports(install, Names, ARRAYSIZE(Names));
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
