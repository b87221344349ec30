// Custom actions that let a Windows Installer package call VINSTALLDLL.dll.
//
// A DLL custom action gets one argument, the install session, while the
// library's exports take five. Each action here writes the library, which
// this DLL carries as its RCDATA resource "VINSTALLDLL", into a file in a
// folder it has just made itself, loads it, calls one or more exports,
// writes each status and line into the installation's log and turns the
// statuses into the action's result. The library is unloaded and its file
// and folder removed before the action returns.
//
// The actions split the work the way Windows Installer's contexts require:
// - VinstallBeforeInstall is immediate: it runs with the installing user's
//   token, before the installation's script and before an earlier release
//   is removed. It decides and changes nothing (the library's
//   VINSTALL_CHECK_ONLY): the reporter code kept, given or typed into the
//   dialog, and whether C:\TELDAX may be used. Its decision goes to the
//   deferred actions as their CustomActionData (a property named after
//   each, set here), the only property a deferred action can read.
// - VinstallStore, VinstallStoreRollback, VinstallAfterInstall and
//   VinstallRemove are in the script and do not impersonate: they run as
//   LocalSystem, inside the installation's transaction, and make, write and
//   delete. The rollback takes back what VinstallStore made; AfterInstall is
//   a commit action, run once the script has succeeded, since what it
//   deletes no rollback puts back.
// - VinstallStartPdf is immediate and after InstallFinalize: install.exe
//   starts with the installing user's token once nothing can roll back.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <strsafe.h>

namespace {

typedef int(__stdcall* VinstallExport)(HWND window, LPARAM, LPARAM, LPARAM, LPARAM);
// BeforeInstallWithCode and RemoveLibraryFiles: a text, options and the log line.
typedef int(__stdcall* TextOptionsExport)(HWND window, LPCSTR text, DWORD options, LPSTR message,
                                          DWORD messageSize);
// ProtectInstallFolder: a reserved argument (0), options and the log line.
typedef int(__stdcall* ReservedOptionsExport)(HWND window, LPARAM reserved, DWORD options, LPSTR message,
                                              DWORD messageSize);
const char BeforeInstallWithCodeName[] = "BeforeInstallWithCode";
const char ProtectInstallFolderName[] = "ProtectInstallFolder";
const char RemoveLibraryFilesName[] = "RemoveLibraryFiles";

// The library's options (src/interface/exports.h).
const DWORD VinstallSilent = 0x1;
const DWORD VinstallCheckOnly = 0x2;
const DWORD VinstallReplaceCode = 0x4;
const DWORD VinstallSameCode = 0x8;
const DWORD VinstallTakeBack = 0x10;
const DWORD VinstallTypedCode = 0x20;
// BeforeInstallWithCode's fixed lines for status 0.
const char NoCodeLine[] = "no reporter code";
const char CancelledLine[] = "cancelled at the reporter code dialog";
const char AnotherCodeLine[] = "another reporter code is stored";

// The deferred actions, whose names are also the properties that hand each
// its CustomActionData.
const char StoreAction[] = "VinstallStore";
const char StoreRollbackAction[] = "VinstallStoreRollback";
const char AfterInstallAction[] = "VinstallAfterInstall";

// The library's resource in this DLL, and its file's name once written.
const char LibraryResource[] = "VINSTALLDLL";
const char LibraryName[] = "VINSTALLDLL.dll";

// This DLL, for its resource.
HINSTANCE WrapperModule;

// Who an action runs as, which decides where the library's folder is made.
enum Context {
    // Immediate: the installing user's token. The library goes into that
    // user's own temporary folder, which only that user (and the system and
    // administrators) may write in; nothing else is written.
    UserContext,
    // Deferred without impersonation: LocalSystem. Its temporary folder
    // (C:\Windows\Temp) is one that ordinary users may write in, so the
    // library's folder is made administrators-only at its creation.
    SystemContext,
};

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
    char text[600];
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

// A property set to anything but "" or "0", as a condition reads it.
bool PropertyIsSet(MSIHANDLE install, const char* name)
{
    char value[16];
    ReadProperty(install, name, value, sizeof value);
    return value[0] && lstrcmpA(value, "0") != 0;
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

// S-1-5-18 (LocalSystem) and S-1-5-32-544 (Administrators) as SID bytes.
const BYTE SystemSid[12] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const BYTE AdministratorsSid[16] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};

// A self-relative security descriptor of owner and a protected DACL that
// gives SYSTEM and Administrators full control, inherited by files and
// folders made inside, and nobody else anything: built as bytes, so that no
// advapi32 function is needed (Windows 95's has none of them).
struct DescriptorStorage {
    DWORD words[24];  // DWORD-aligned, and room for the 88 bytes it takes
};

void AdministratorsOnlyDescriptor(DescriptorStorage* storage, const BYTE* owner, DWORD ownerLength)
{
    *storage = DescriptorStorage();
    BYTE* bytes = reinterpret_cast<BYTE*>(storage->words);
    SECURITY_DESCRIPTOR_RELATIVE* descriptor = reinterpret_cast<SECURITY_DESCRIPTOR_RELATIVE*>(bytes);
    descriptor->Revision = SECURITY_DESCRIPTOR_REVISION;
    descriptor->Control = SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_DACL_PROTECTED;
    DWORD at = sizeof *descriptor;
    descriptor->Owner = at;
    CopyMemory(bytes + at, owner, ownerLength);
    at += ownerLength;
    descriptor->Dacl = at;
    ACL* dacl = reinterpret_cast<ACL*>(bytes + at);
    dacl->AclRevision = ACL_REVISION;
    dacl->AceCount = 2;
    at += sizeof *dacl;
    const BYTE* const grantees[] = {SystemSid, AdministratorsSid};
    const DWORD lengths[] = {sizeof SystemSid, sizeof AdministratorsSid};
    for (int i = 0; i < 2; ++i) {
        ACCESS_ALLOWED_ACE* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(bytes + at);
        ace->Header.AceType = ACCESS_ALLOWED_ACE_TYPE;
        ace->Header.AceFlags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
        ace->Header.AceSize = (WORD)(sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + lengths[i]);
        ace->Mask = FILE_ALL_ACCESS;
        CopyMemory(&ace->SidStart, grantees[i], lengths[i]);
        at += ace->Header.AceSize;
    }
    dacl->AclSize = (WORD)(at - descriptor->Dacl);
}

// Makes folder as a new folder: CreateDirectoryA fails on a name that
// exists, so nothing in it was put there by anyone else. In the system's
// context it is made with owner Administrators and the DACL above, so that
// nobody else can put a file beside the library. An owner must be the
// token's user or one of its groups that may own objects (Microsoft's
// TOKEN_OWNER); where Administrators may not be, the owner is LocalSystem,
// the deferred action's own user.
bool CreateOwnFolder(const char* folder, Context context)
{
    if (context == UserContext)
        return CreateDirectoryA(folder, NULL) != FALSE;
    DescriptorStorage storage;
    SECURITY_ATTRIBUTES security = {sizeof security, storage.words, FALSE};
    AdministratorsOnlyDescriptor(&storage, AdministratorsSid, sizeof AdministratorsSid);
    if (CreateDirectoryA(folder, &security))
        return true;
    if (GetLastError() != ERROR_INVALID_OWNER)
        return false;
    AdministratorsOnlyDescriptor(&storage, SystemSid, sizeof SystemSid);
    return CreateDirectoryA(folder, &security) != FALSE;
}

// A folder that did not exist before, in the account's temporary folder.
bool MakeOwnFolder(MSIHANDLE install, Context context, char (&folder)[MAX_PATH])
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
        if (CreateOwnFolder(folder, context))
            return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    LogLine(install, "no folder of its own can be made in %s (error %lu)", base, GetLastError());
    return false;
}

// The library's bytes in this DLL; false, said in the log, when it has none.
bool FindLibraryBytes(MSIHANDLE install, const BYTE** bytes, DWORD* size)
{
    HRSRC resource = FindResourceA(WrapperModule, LibraryResource, MAKEINTRESOURCEA(10));  // RT_RCDATA
    HGLOBAL loaded = resource ? LoadResource(WrapperModule, resource) : NULL;
    *bytes = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : NULL;
    *size = resource ? SizeofResource(WrapperModule, resource) : 0;
    if (!*bytes || *size == 0) {
        LogLine(install, "this VinstallMsi.dll carries no library (no resource %s)", LibraryResource);
        return false;
    }
    return true;
}

// Writes the library's bytes into a new file; false on any failure.
bool WriteLibraryFile(MSIHANDLE install, const BYTE* bytes, DWORD size, const char* path,
                      BY_HANDLE_FILE_INFORMATION* written)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        LogLine(install, "%s cannot be created (error %lu)", path, GetLastError());
        return false;
    }
    DWORD done = 0;
    bool ok = WriteFile(file, bytes, size, &done, NULL) && done == size;
    if (!ok)
        LogLine(install, "%s cannot be written (error %lu)", path, GetLastError());
    if (ok && !GetFileInformationByHandle(file, written)) {
        LogLine(install, "%s cannot be examined (error %lu)", path, GetLastError());
        ok = false;
    }
    CloseHandle(file);
    return ok;
}

// The file and the folder are this action's own, in a folder nobody else
// may write in (the user's own, or made administrators-only): deleting by
// name removes what was written.
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

// Writes the library into a new file in a new folder, and loads it from
// there. The file is opened again for reading only, sharing only reading,
// and must be the very file written (same volume and index, one name, same
// size) before it is loaded; that handle stays open until the library is
// unloaded, so the file cannot be replaced in between.
bool LoadLibraryFromWrapper(MSIHANDLE install, Context context, LoadedLibrary* library)
{
    library->folder[0] = library->path[0] = '\0';
    library->pin = INVALID_HANDLE_VALUE;
    library->module = NULL;
    const BYTE* bytes;
    DWORD size;
    if (!FindLibraryBytes(install, &bytes, &size) || !MakeOwnFolder(install, context, library->folder))
        return false;
    bool loaded = false;
    BY_HANDLE_FILE_INFORMATION written, opened;
    if (FAILED(StringCchPrintfA(library->path, ARRAYSIZE(library->path), "%s\\%s", library->folder, LibraryName))) {
        LogLine(install, "the library's path is too long in %s", library->folder);
        library->path[0] = '\0';
    } else if (WriteLibraryFile(install, bytes, size, library->path, &written)) {
        library->pin =
            CreateFileA(library->path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (library->pin == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(library->pin, &opened)) {
            LogLine(install, "%s cannot be opened again (error %lu)", library->path, GetLastError());
        } else if (opened.dwVolumeSerialNumber != written.dwVolumeSerialNumber ||
                   opened.nFileIndexHigh != written.nFileIndexHigh || opened.nFileIndexLow != written.nFileIndexLow ||
                   opened.nNumberOfLinks != 1 || opened.nFileSizeLow != written.nFileSizeLow ||
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
    if (!loaded)
        UnloadLibrary(library);
    return loaded;
}

// An export of the loaded library, or NULL (said in the log).
void* FindExport(MSIHANDLE install, HMODULE module, const char* name)
{
    // Through void*: a FARPROC is cast to the export's real type by the caller.
    void* found = reinterpret_cast<void*>(GetProcAddress(module, name));
    if (!found)
        LogLine(install, "%s not called: the library has no such export", name);
    return found;
}

// What the log gets of a call.
enum CallLog {
    StatusAndLine,  // "<export> returned <status>" and the library's line
    StatusOnly,     // the caller words the line (a check gives a code in it)
    Nothing,        // a question of the wrapper's own
};

// One of the three exports that take options and give a line, called and
// logged as asked; -1 when it is missing. line gets the line (512 bytes
// always hold it; the library terminates it).
int CallWithOptions(MSIHANDLE install, HMODULE module, const char* name, HWND window, LPCSTR text, DWORD options,
                    char (&line)[512], CallLog log = StatusAndLine)
{
    line[0] = '\0';
    void* found = FindExport(install, module, name);
    if (!found)
        return -1;
    int status = lstrcmpA(name, ProtectInstallFolderName) == 0
                     ? reinterpret_cast<ReservedOptionsExport>(found)(window, 0, options, line, sizeof line)
                     : reinterpret_cast<TextOptionsExport>(found)(window, text, options, line, sizeof line);
    if (log != Nothing)
        LogLine(install, "%s returned %d", name, status);
    if (log != StatusAndLine || !line[0])
        return status;
    if (lstrcmpA(line, NoCodeLine) == 0)
        // Nobody could be asked: what to pass, for whoever reads the log.
        LogLine(install, "%s: run with REPORTERCODE=<code>", NoCodeLine);
    else
        LogLine(install, "%s", line);
    return status;
}

// A library loaded for one action, with the installer process's current
// directory kept: the exports move it (to C:\TELDAX, then to the desktop),
// and the process is the installer's, which runs other actions; a current
// directory keeps its folder from being removed.
struct ActionScope {
    LoadedLibrary library;
    char directory[MAX_PATH];
    bool restore;
};

bool BeginAction(MSIHANDLE install, Context context, const char* firstCall, ActionScope* scope)
{
    DWORD length = GetCurrentDirectoryA(ARRAYSIZE(scope->directory), scope->directory);
    scope->restore = length > 0 && length < ARRAYSIZE(scope->directory);
    if (LoadLibraryFromWrapper(install, context, &scope->library))
        return true;
    LogLine(install, "%s not called: the library is not loaded", firstCall);
    return false;
}

void EndAction(ActionScope* scope)
{
    UnloadLibrary(&scope->library);
    if (scope->restore)
        SetCurrentDirectoryA(scope->directory);
}

// The deferred action's CustomActionData; false, said in the log, when it
// has none: the action was not run deferred after VinstallBeforeInstall.
bool ReadActionData(MSIHANDLE install, const char* action, char* data, DWORD size)
{
    ReadProperty(install, "CustomActionData", data, size);
    if (data[0])
        return true;
    LogLine(install, "%s has no CustomActionData: it must be a deferred action, after VinstallBeforeInstall",
            action);
    return false;
}

// The decision: the code with which VinstallStore calls BeforeInstallWithCode.
struct Decision {
    char code[512];        // the code kept, given or typed (upper case, as the library stores it)
    char storedCode[512];  // the code in RC.DAT before this installation ("" for none)
    bool kept;             // the stored code stays (status 1): nothing to take back
    DWORD storeOptions;    // BeforeInstallWithCode's options for VinstallStore
};

// The gate's calls, in one load of the library. UINT result as the action's.
UINT Decide(MSIHANDLE install, HMODULE module, Decision* decision)
{
    char given[MAX_PATH];
    ReadProperty(install, "REPORTERCODE", given, sizeof given);
    // A code that would change the stored one is taken only from an
    // administrator. AdminUser is set only for one, with
    // MSIUSEREALADMINDETECTION=1 in the package (Microsoft's "AdminUser
    // Property"); Privileged would be set for a standard user's repair of
    // this per-machine product too. Otherwise REPLACECODE is not honoured,
    // and a code that differs from the stored one stops the installation.
    bool administrator = PropertyIsSet(install, "AdminUser");
    bool replace = administrator && PropertyIsSet(install, "REPLACECODE");
    DWORD silent = SilentOption(install);
    HWND window = InstallerWindow();
    char line[512];

    // The code in RC.DAT, if there is one, for the rollback of a
    // replacement: asked for silently and without a code, status 1 says it
    // is stored and gives it.
    int status = CallWithOptions(install, module, BeforeInstallWithCodeName, NULL, NULL,
                                 VinstallCheckOnly | VinstallSilent, line, Nothing);
    if (status < 0)
        return ERROR_INSTALL_FAILURE;
    StringCchCopyA(decision->storedCode, ARRAYSIZE(decision->storedCode), status == 1 ? line : "");

    // The decision itself: the dialog may ask for a code here.
    DWORD codeOption = given[0] ? (replace ? VinstallReplaceCode : VinstallSameCode) : 0;
    status = CallWithOptions(install, module, BeforeInstallWithCodeName, window, given[0] ? given : NULL,
                             VinstallCheckOnly | silent | codeOption, line, StatusOnly);
    if (status < 0)
        return ERROR_INSTALL_FAILURE;
    if (status == 0) {
        if (lstrcmpA(line, NoCodeLine) == 0) {
            LogLine(install, "%s: run with REPORTERCODE=<code>", NoCodeLine);
        } else {
            LogLine(install, "%s", line);
            // The line's start, cut to the fixed text's length.
            char lead[sizeof AnotherCodeLine];
            StringCchCopyA(lead, ARRAYSIZE(lead), line);
            if (lstrcmpA(lead, AnotherCodeLine) == 0 && administrator)
                LogLine(install, "to replace the stored code, run with REPLACECODE=1 as well");
            else if (lstrcmpA(lead, AnotherCodeLine) == 0)
                LogLine(install, "only an administrator may replace the stored code: an administrator must run this "
                                 "with REPORTERCODE and REPLACECODE=1");
        }
        // As the user's exit when the person cancelled the dialog.
        return lstrcmpA(line, CancelledLine) == 0 ? ERROR_INSTALL_USEREXIT : ERROR_INSTALL_FAILURE;
    }
    StringCchCopyA(decision->code, ARRAYSIZE(decision->code), line);
    decision->kept = status == 1;
    if (status == 1)
        LogLine(install, "stored reporter code %s kept", decision->code);
    else if (decision->storedCode[0])
        LogLine(install, "reporter code %s to be stored in place of %s", decision->code, decision->storedCode);
    else
        LogLine(install, "reporter code %s to be stored", decision->code);
    // A code that the dialog gave (no REPORTERCODE, none stored) is held
    // against the dialog's rules when it is stored, as it was when typed.
    decision->storeOptions = VinstallSilent | (given[0] && replace ? VinstallReplaceCode : VinstallSameCode) |
                             (!given[0] && status == 2 ? VinstallTypedCode : 0);

    // C:\TELDAX: made by this installation (2), or one that only
    // administrators own (1); any other stops here.
    status = CallWithOptions(install, module, ProtectInstallFolderName, window, NULL, VinstallCheckOnly | silent, line);
    return status > 0 ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

// Sets a deferred action's CustomActionData; false, said in the log, when
// the installer refuses.
bool HandOver(MSIHANDLE install, const char* action, const char* data)
{
    UINT result = MsiSetPropertyA(install, action, data);
    if (result == ERROR_SUCCESS)
        return true;
    LogLine(install, "the decision cannot be handed to %s (error %u)", action, result);
    return false;
}

// Parses "<options>;<code>" (VinstallStore's CustomActionData).
bool ParseStoreData(const char* data, DWORD* options, const char** code)
{
    DWORD value = 0;
    const char* p = data;
    for (; *p >= '0' && *p <= '9'; ++p)
        value = value * 10 + (DWORD)(*p - '0');
    if (p == data || *p != ';' || !p[1])
        return false;
    *options = value;
    *code = p + 1;
    return true;
}

}  // namespace

// Before anything changes, as the installing user: the Windows version, the
// reporter code (stored, given as REPORTERCODE, typed into the dialog or
// imported) and C:\TELDAX, all decided without writing anything. A refusal
// ends the installation (1603; 1602 for a cancel at the dialog) with the
// machine as it was. Otherwise the decision goes to the deferred actions:
//   VinstallStore          "<BeforeInstallWithCode's options>;<code>"
//   VinstallStoreRollback  "T" (no RC.DAT was found: take back what is made),
//                          "R;<code>" (put the replaced code back) or
//                          "K" (the stored code is kept: nothing to take back)
//   VinstallAfterInstall   M (MLDInfo), U (UpdateInfo), or "-" for none (a
//                          repair or a maintenance run writes no records)
extern "C" UINT __stdcall VinstallBeforeInstall(MSIHANDLE install)
{
    ActionScope scope;
    if (!BeginAction(install, UserContext, BeforeInstallWithCodeName, &scope))
        return ERROR_INSTALL_FAILURE;
    Decision decision;
    UINT result = Decide(install, scope.library.module, &decision);
    EndAction(&scope);
    if (result != ERROR_SUCCESS)
        return result;

    char data[600];
    StringCchPrintfA(data, ARRAYSIZE(data), "%lu;%s", (unsigned long)decision.storeOptions, decision.code);
    if (!HandOver(install, StoreAction, data))
        return ERROR_INSTALL_FAILURE;
    if (!decision.storedCode[0])
        StringCchCopyA(data, ARRAYSIZE(data), "T");
    else if (decision.kept)
        StringCchCopyA(data, ARRAYSIZE(data), "K");
    else
        StringCchPrintfA(data, ARRAYSIZE(data), "R;%s", decision.storedCode);
    if (!HandOver(install, StoreRollbackAction, data))
        return ERROR_INSTALL_FAILURE;

    char installed[64];
    ReadProperty(install, "Installed", installed, sizeof installed);
    data[0] = '\0';
    StringCchCopyA(data, ARRAYSIZE(data), installed[0] ? "-" : PropertyIsSet(install, "UPDATE") ? "U" : "M");
    return HandOver(install, AfterInstallAction, data) ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

// Deferred, as LocalSystem, before the product's files: C:\TELDAX made or
// made administrators-only (ProtectInstallFolder), then the code stored or
// kept as the gate decided (BeforeInstallWithCode, silent).
extern "C" UINT __stdcall VinstallStore(MSIHANDLE install)
{
    char data[600];
    DWORD options;
    const char* code;
    if (!ReadActionData(install, StoreAction, data, sizeof data))
        return ERROR_INSTALL_FAILURE;
    if (!ParseStoreData(data, &options, &code)) {
        LogLine(install, "%s: its CustomActionData \"%s\" is not the gate's", StoreAction, data);
        return ERROR_INSTALL_FAILURE;
    }
    // Only what the gate may ask for; never a check alone.
    options = VinstallSilent | (options & (VinstallReplaceCode | VinstallSameCode | VinstallTypedCode));
    ActionScope scope;
    if (!BeginAction(install, SystemContext, ProtectInstallFolderName, &scope))
        return ERROR_INSTALL_FAILURE;
    char line[512];
    HMODULE module = scope.library.module;
    UINT result = ERROR_INSTALL_FAILURE;
    if (CallWithOptions(install, module, ProtectInstallFolderName, NULL, NULL, VinstallSilent, line) > 0 &&
        CallWithOptions(install, module, BeforeInstallWithCodeName, NULL, code, options, line) > 0)
        result = ERROR_SUCCESS;
    EndAction(&scope);
    return result;
}

// Rollback of VinstallStore, as LocalSystem: takes back what this
// installation made, and never a stored RC.DAT that the gate found.
extern "C" UINT __stdcall VinstallStoreRollback(MSIHANDLE install)
{
    char data[600];
    if (!ReadActionData(install, StoreRollbackAction, data, sizeof data))
        return ERROR_INSTALL_FAILURE;
    bool takeBack = lstrcmpA(data, "T") == 0;
    bool putBack = data[0] == 'R' && data[1] == ';' && data[2];
    if (!takeBack && !putBack) {
        if (lstrcmpA(data, "K") != 0) {
            LogLine(install, "%s: its CustomActionData \"%s\" is not the gate's", StoreRollbackAction, data);
            return ERROR_INSTALL_FAILURE;
        }
        LogLine(install, "the stored reporter code was kept: nothing to take back");
        return ERROR_SUCCESS;
    }
    ActionScope scope;
    if (!BeginAction(install, SystemContext, takeBack ? RemoveLibraryFilesName : BeforeInstallWithCodeName, &scope))
        return ERROR_INSTALL_FAILURE;
    char line[512];
    int status = takeBack ? CallWithOptions(install, scope.library.module, RemoveLibraryFilesName, NULL, NULL,
                                            VinstallSilent | VinstallTakeBack, line)
                          : CallWithOptions(install, scope.library.module, BeforeInstallWithCodeName, NULL, data + 2,
                                            VinstallSilent | VinstallReplaceCode, line);
    EndAction(&scope);
    return status > 0 ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

// Commit, as LocalSystem, once the installation's script has succeeded:
// AfterInstall takes the platform from BeforeInstallWithCode in the same
// load of the library, so that is called first (it reads the code just
// stored: status 1, silent); then the release record as the gate said.
extern "C" UINT __stdcall VinstallAfterInstall(MSIHANDLE install)
{
    char data[16];
    if (!ReadActionData(install, AfterInstallAction, data, sizeof data))
        return ERROR_INSTALL_FAILURE;
    const char* names[3] = {"AfterInstall"};
    int count = 1;
    for (const char* p = data; *p; ++p) {
        if (*p == 'M' && count < 3)
            names[count++] = "MLDInfo";
        else if (*p == 'U' && count < 3)
            names[count++] = "UpdateInfo";
        else if (*p != '-') {
            LogLine(install, "%s: its CustomActionData \"%s\" is not the gate's", AfterInstallAction, data);
            return ERROR_INSTALL_FAILURE;
        }
    }
    ActionScope scope;
    if (!BeginAction(install, SystemContext, BeforeInstallWithCodeName, &scope))
        return ERROR_INSTALL_FAILURE;
    char line[512];
    HMODULE module = scope.library.module;
    UINT result = ERROR_SUCCESS;
    int status = CallWithOptions(install, module, BeforeInstallWithCodeName, NULL, NULL, VinstallSilent, line);
    if (status <= 0) {
        LogLine(install, "%s not called: %s stopped the installation", names[0], BeforeInstallWithCodeName);
        result = ERROR_INSTALL_FAILURE;
        count = 0;
    }
    for (int i = 0; i < count; ++i) {
        VinstallExport call = reinterpret_cast<VinstallExport>(FindExport(install, module, names[i]));
        if (!call) {
            result = ERROR_INSTALL_FAILURE;
            break;
        }
        LogLine(install, "%s returned %d", names[i], call(NULL, 0, 0, 0, 0));
    }
    EndAction(&scope);
    return result;
}

// Immediate, with the installing user's token, after InstallFinalize on a
// first installation with PDF=1: InstallPDF, which starts
// c:\teldax\install.exe only when nothing in C:\TELDAX can be changed by
// anyone but an administrator, and does not wait for it. The product is
// installed whatever happens here: a library that cannot be loaded is said
// in the log, and the installation still succeeds.
extern "C" UINT __stdcall VinstallStartPdf(MSIHANDLE install)
{
    if (!PropertyIsSet(install, "PDF"))
        return ERROR_SUCCESS;
    ActionScope scope;
    if (!BeginAction(install, UserContext, "InstallPDF", &scope))
        return ERROR_SUCCESS;
    VinstallExport call = reinterpret_cast<VinstallExport>(FindExport(install, scope.library.module, "InstallPDF"));
    if (call)
        LogLine(install, "%s returned %d", "InstallPDF", call(NULL, 0, 0, 0, 0));
    EndAction(&scope);
    return ERROR_SUCCESS;
}

// Deferred, as LocalSystem, on removal once Windows Installer has removed
// its own files: what the library wrote that Windows Installer does not
// know (the desktop shortcut, the release records), through the library's
// checked handles, and C:\TELDAX when empty. The reporter's own data,
// RC.DAT and C:\<code>, stay. A refusal (C:\TELDAX not a plain folder) is
// logged; the product is still removed.
extern "C" UINT __stdcall VinstallRemove(MSIHANDLE install)
{
    ActionScope scope;
    if (!BeginAction(install, SystemContext, RemoveLibraryFilesName, &scope))
        return ERROR_INSTALL_FAILURE;
    char line[512];
    int status =
        CallWithOptions(install, scope.library.module, RemoveLibraryFilesName, NULL, NULL, VinstallSilent, line);
    EndAction(&scope);
    return status >= 0 ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        WrapperModule = instance;
    return TRUE;
}
