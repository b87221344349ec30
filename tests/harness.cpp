#include "harness.h"

#include <sddl.h>
#include <shlobj.h>
#include <shellapi.h>
#include <stdarg.h>
#include <winternl.h>
#include <stdio.h>
#include <string.h>

// --- Reporting ----------------------------------------------------------------

static int Passed, Failed, Skipped;
static char Context[256];

// One line of the report: its lead, the case's context, the text.
static void SayLine(const char* lead, const char* format, va_list args)
{
    printf("%s", lead);
    if (Context[0])
        printf("[%s] ", Context);
    vprintf(format, args);
    printf("\n");
    fflush(stdout);
}

void OkAt(const char* file, int line, bool condition, const char* format, ...)
{
    if (condition) {
        ++Passed;
        return;
    }
    ++Failed;
    const char* base = strrchr(file, '/');
    char lead[MAX_PATH + 32];
    snprintf(lead, sizeof lead, "%s:%d: Test failed: ", base ? base + 1 : file, line);
    va_list args;
    va_start(args, format);
    SayLine(lead, format, args);
    va_end(args);
}

void Skip(const char* format, ...)
{
    ++Skipped;
    va_list args;
    va_start(args, format);
    SayLine("skipped: ", format, args);
    va_end(args);
}

void SetContext(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(Context, sizeof Context, format, args);
    va_end(args);
}

void ClearContext()
{
    Context[0] = '\0';
}

static int MalformedTraceLines;
static char FirstMalformedTraceLine[600];

int FinishTests(const char* name)
{
    ok(MalformedTraceLines == 0, "%d trace lines without the form \"VINSTALLDLL: ...\\n\", the first: %s",
       MalformedTraceLines, Show(FirstMalformedTraceLine, (int)strlen(FirstMalformedTraceLine)));
    UnloadLibraryUnderTest();
    printf("%s: %d passed, %d failed, %d skipped\n", name, Passed, Failed, Skipped);
    fflush(stdout);
    return Failed ? 1 : 0;
}

const char* Show(const void* data, int size)
{
    static char text[4][1024];
    static int next;
    char* out = text[next++ % 4];
    int used = 0;
    const unsigned char* bytes = (const unsigned char*)data;
    out[used++] = '"';
    for (int i = 0; i < size && used < 1000; ++i) {
        if (bytes[i] >= 0x20 && bytes[i] < 0x7f && bytes[i] != '\\')
            out[used++] = (char)bytes[i];
        else
            used += snprintf(out + used, 1024 - used, "\\x%02x", bytes[i]);
    }
    snprintf(out + used, 1024 - used, "\" (%d bytes)", size);
    return out;
}

// --- Import patching ----------------------------------------------------------

void* PatchImport(HMODULE module, const char* function, void* replacement)
{
    BYTE* base = (BYTE*)module;
    IMAGE_NT_HEADERS* nt = (IMAGE_NT_HEADERS*)(base + ((IMAGE_DOS_HEADER*)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress)
        return NULL;
    for (IMAGE_IMPORT_DESCRIPTOR* d = (IMAGE_IMPORT_DESCRIPTOR*)(base + dir.VirtualAddress); d->Name; ++d) {
        IMAGE_THUNK_DATA* names = (IMAGE_THUNK_DATA*)(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
        IMAGE_THUNK_DATA* slots = (IMAGE_THUNK_DATA*)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            IMAGE_IMPORT_BY_NAME* byName = (IMAGE_IMPORT_BY_NAME*)(base + names->u1.AddressOfData);
            if (strcmp((const char*)byName->Name, function) != 0)
                continue;
            DWORD oldProtect;
            void* old = (void*)slots->u1.Function;
            VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &oldProtect);
            slots->u1.Function = (DWORD_PTR)replacement;
            VirtualProtect(&slots->u1.Function, sizeof(void*), oldProtect, &oldProtect);
            return old;
        }
    }
    return NULL;
}

// --- Faults and call counts -----------------------------------------------------

struct Fault {
    const char* function;
    int occurrence;
    char pathPart[MAX_PATH];
    DWORD error;
    int seen;
};
static Fault Faults[4];
static int FaultCount;

struct Counter {
    const char* function;
    int calls;
};
static Counter Counters[32];

void FailCall(const char* function, int occurrence, const char* pathPart, DWORD error)
{
    if (FaultCount == ARRAYSIZE(Faults))
        return;
    Fault& f = Faults[FaultCount++];
    f.function = function;
    f.occurrence = occurrence;
    f.pathPart[0] = '\0';
    if (pathPart)
        lstrcpynA(f.pathPart, pathPart, sizeof f.pathPart);
    f.error = error;
    f.seen = 0;
}

void ClearFaults()
{
    FaultCount = 0;
}

static void CountCall(const char* function)
{
    for (Counter& c : Counters) {
        if (!c.function)
            c.function = function;
        if (strcmp(c.function, function) == 0) {
            ++c.calls;
            return;
        }
    }
}

int CallCount(const char* function)
{
    for (Counter& c : Counters) {
        if (c.function && strcmp(c.function, function) == 0)
            return c.calls;
    }
    return 0;
}

static bool EndsWithNoCase(const char* text, const char* part)
{
    size_t length = strlen(text), n = strlen(part);
    return length >= n && _stricmp(text + length - n, part) == 0;
}

static bool ContainsNoCase(const char* text, const char* part)
{
    if (!part[0])
        return true;
    if (!text)
        return false;
    size_t n = strlen(part);
    for (; *text; ++text) {
        if (_strnicmp(text, part, n) == 0)
            return true;
    }
    return false;
}

// Counts the call; true when a fault says this one fails (last error set).
static bool Fails(const char* function, const char* path)
{
    CountCall(function);
    for (int i = 0; i < FaultCount; ++i) {
        Fault& f = Faults[i];
        if (strcmp(f.function, function) != 0 || !ContainsNoCase(path, f.pathPart))
            continue;
        ++f.seen;
        if (f.occurrence == 0 || f.occurrence == f.seen) {
            SetLastError(f.error);
            return true;
        }
    }
    return false;
}

static DWORD FaultError(const char* function)
{
    for (int i = 0; i < FaultCount; ++i) {
        if (strcmp(Faults[i].function, function) == 0)
            return Faults[i].error;
    }
    return ERROR_ACCESS_DENIED;
}

// The files the library has open, so that reads and writes can be matched by path.
struct LibraryFile {
    HANDLE handle;
    char path[MAX_PATH];
};
static LibraryFile OpenFiles[16];

static const char* PathOf(HANDLE handle)
{
    for (LibraryFile& f : OpenFiles) {
        if (f.handle == handle)
            return f.path;
    }
    return "";
}

// --- Races -----------------------------------------------------------------------

struct Race {
    const char* function;
    char pathPart[MAX_PATH];
    void (*action)();
    int occurrence;
    int seen;
};
static Race PendingRace;

void RaceBefore(const char* function, const char* pathPart, void (*action)(), int occurrence)
{
    PendingRace.function = function;
    lstrcpynA(PendingRace.pathPart, pathPart ? pathPart : "", sizeof PendingRace.pathPart);
    PendingRace.action = action;
    PendingRace.occurrence = occurrence;
    PendingRace.seen = 0;
}

static void RunRace(const char* function, const char* path)
{
    Race& r = PendingRace;
    if (!r.action || strcmp(r.function, function) != 0 || !ContainsNoCase(path ? path : "", r.pathPart))
        return;
    if (++r.seen != r.occurrence)
        return;
    void (*action)() = r.action;
    r.action = NULL;
    action();
}

// --- Hooks ----------------------------------------------------------------------

MessageRecord Messages[16];
int MessageCount;
ShellExecuteRecord ShellExecutes[8];
int ShellExecuteCount;
bool ShellExecuteRecordOnly;
DialogObservation Dialog;

static bool VersionChosen;
static OSVERSIONINFOA ChosenVersion;
// The kernel's own version as KUSER_SHARED_DATA holds it (NtMajorVersion,
// NtMinorVersion), while KernelVersionChosen.
static bool KernelVersionChosen;
static ULONG ChosenKernelVersion[2];
static const ULONG_PTR KernelVersionAddress = 0x7FFE026C;
static bool TimeChosen;
static SYSTEMTIME ChosenTime;

static decltype(&CreateFileA) RealCreateFileA;
static decltype(&ReadFile) RealReadFile;
static decltype(&WriteFile) RealWriteFile;
static decltype(&CloseHandle) RealCloseHandle;
static decltype(&SetCurrentDirectoryA) RealSetCurrentDirectoryA;
static decltype(&CreateDirectoryA) RealCreateDirectoryA;
static decltype(&DeleteFileA) RealDeleteFileA;
static decltype(&SetFileAttributesA) RealSetFileAttributesA;
static decltype(&GetFileInformationByHandle) RealGetFileInformationByHandle;
static decltype(&FindFirstFileA) RealFindFirstFileA;
static decltype(&SHGetSpecialFolderPathA) RealSHGetSpecialFolderPathA;
static decltype(&GetVersionExA) RealGetVersionExA;
static decltype(&ReadProcessMemory) RealReadProcessMemory;
static decltype(&GetSystemTime) RealGetSystemTime;
static decltype(&DialogBoxParamA) RealDialogBoxParamA;
static decltype(&ShellExecuteA) RealShellExecuteA;
static decltype(&CoCreateInstance) RealCoCreateInstance;

OpenRecord Opens[64];
int OpenCount;

int CheckCreateFlagsAt(const char* file, int line, bool flagExpected)
{
    int creates = 0;
    for (int i = 0; i < OpenCount && i < (int)ARRAYSIZE(Opens); ++i) {
        const OpenRecord& r = Opens[i];
        bool flagged = (r.flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
        bool creating = r.disposition == CREATE_NEW || r.disposition == CREATE_ALWAYS || r.disposition == OPEN_ALWAYS;
        if (creating)
            ++creates;
        if (flagExpected && creating)
            OkAt(file, line, flagged, "%s made (disposition %lu) with flags 0x%08lx", r.path, r.disposition, r.flags);
        else if (!flagExpected)
            OkAt(file, line, !flagged, "%s opened with flags 0x%08lx on NT 4.0", r.path, r.flags);
    }
    return creates;
}

static HANDLE WINAPI HookCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                     DWORD disposition, DWORD attributes, HANDLE templateFile)
{
    if (OpenCount < (int)ARRAYSIZE(Opens)) {
        OpenRecord& r = Opens[OpenCount];
        lstrcpynA(r.path, path ? path : "(null)", sizeof r.path);
        r.access = access;
        r.share = share;
        r.disposition = disposition;
        r.flags = attributes;
    }
    ++OpenCount;
    if (Fails("CreateFileA", path))
        return INVALID_HANDLE_VALUE;
    if ((access & GENERIC_WRITE) && disposition == CREATE_ALWAYS)
        RunRace("CreateFileA", path);
    HANDLE h = RealCreateFileA(path, access, share, security, disposition, attributes, templateFile);
    if (h != INVALID_HANDLE_VALUE) {
        for (LibraryFile& f : OpenFiles) {
            if (!f.handle) {
                f.handle = h;
                lstrcpynA(f.path, path, sizeof f.path);
                break;
            }
        }
    }
    return h;
}

static BOOL WINAPI HookReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped)
{
    if (Fails("ReadFile", PathOf(file))) {
        if (read)
            *read = 0;
        return FALSE;
    }
    RunRace("ReadFile", PathOf(file));
    return RealReadFile(file, buffer, size, read, overlapped);
}

static BOOL WINAPI HookWriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    if (Fails("WriteFile", PathOf(file))) {
        if (written)
            *written = 0;
        return FALSE;
    }
    RunRace("WriteFile", PathOf(file));
    return RealWriteFile(file, buffer, size, written, overlapped);
}

static decltype(&SetFilePointer) RealSetFilePointer;
static decltype(&SetEndOfFile) RealSetEndOfFile;

static DWORD WINAPI HookSetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method)
{
    if (Fails("SetFilePointer", PathOf(file)))
        return INVALID_SET_FILE_POINTER;
    return RealSetFilePointer(file, distance, distanceHigh, method);
}

static BOOL WINAPI HookSetEndOfFile(HANDLE file)
{
    if (Fails("SetEndOfFile", PathOf(file)))
        return FALSE;
    return RealSetEndOfFile(file);
}

static BOOL WINAPI HookCloseHandle(HANDLE handle)
{
    CountCall("CloseHandle");
    for (LibraryFile& f : OpenFiles) {
        if (f.handle == handle)
            f.handle = NULL;
    }
    return RealCloseHandle(handle);
}

static BOOL WINAPI HookSetCurrentDirectoryA(LPCSTR path)
{
    if (Fails("SetCurrentDirectoryA", path))
        return FALSE;
    return RealSetCurrentDirectoryA(path);
}

static void RecordCreatedDirectory(const char* path, const SECURITY_ATTRIBUTES* security);

static BOOL WINAPI HookCreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security)
{
    RecordCreatedDirectory(path, security);
    if (Fails("CreateDirectoryA", path))
        return FALSE;
    return RealCreateDirectoryA(path, security);
}

static BOOL WINAPI HookDeleteFileA(LPCSTR path)
{
    if (Fails("DeleteFileA", path))
        return FALSE;
    return RealDeleteFileA(path);
}

static BOOL WINAPI HookSetFileAttributesA(LPCSTR path, DWORD attributes)
{
    if (Fails("SetFileAttributesA", path))
        return FALSE;
    RunRace("SetFileAttributesA", path);
    return RealSetFileAttributesA(path, attributes);
}

static decltype(&GetFileAttributesA) RealGetFileAttributesA;

static DWORD WINAPI HookGetFileAttributesA(LPCSTR path)
{
    if (Fails("GetFileAttributesA", path))
        return INVALID_FILE_ATTRIBUTES;
    return RealGetFileAttributesA(path);
}

// The last window the library asked to bring to the front.
static HWND ForegroundRequest;
static decltype(&SetForegroundWindow) RealSetForegroundWindow;

static BOOL WINAPI HookSetForegroundWindow(HWND window)
{
    ForegroundRequest = window;
    return RealSetForegroundWindow(window);
}

// Names and volumes that a case reports for what the library opened.
static struct {
    char pathPart[MAX_PATH];
    WCHAR name[MAX_PATH];    // empty: the real one
    WCHAR device[MAX_PATH];  // empty: the real one
} ReportedFiles[4];

static void ReportFile(const char* pathPart, const WCHAR* name, const WCHAR* device)
{
    for (auto& r : ReportedFiles) {
        if (!r.pathPart[0]) {
            lstrcpynA(r.pathPart, pathPart, sizeof r.pathPart);
            lstrcpynW(r.name, name ? name : L"", MAX_PATH);
            lstrcpynW(r.device, device ? device : L"", MAX_PATH);
            return;
        }
    }
    ok(false, "more than %d reported files", (int)ARRAYSIZE(ReportedFiles));
}

void ReportFileName(const char* pathPart, const WCHAR* name)
{
    ReportFile(pathPart, name, NULL);
}

void ReportVolumeDevice(const char* pathPart, const WCHAR* device)
{
    ReportFile(pathPart, NULL, device);
}

void UseRealFileNames()
{
    memset(ReportedFiles, 0, sizeof ReportedFiles);
}

static BOOL WINAPI HookGetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info)
{
    if (Fails("GetFileInformationByHandle", PathOf(file)))
        return FALSE;
    return RealGetFileInformationByHandle(file, info);
}

static HANDLE WINAPI HookFindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data)
{
    if (Fails("FindFirstFileA", pattern))
        return INVALID_HANDLE_VALUE;
    return RealFindFirstFileA(pattern, data);
}

static BOOL WINAPI HookSHGetSpecialFolderPathA(HWND owner, LPSTR path, int folder, BOOL create)
{
    if (Fails("SHGetSpecialFolderPathA", NULL))
        return FALSE;
    return RealSHGetSpecialFolderPathA(owner, path, folder, create);
}

// The library reads the kernel's version from KUSER_SHARED_DATA through
// ReadProcessMemory on its own process; a read that lies within the two
// fields gets the chosen version, any other reaches the platform.
static BOOL WINAPI HookReadProcessMemory(HANDLE process, LPCVOID address, LPVOID buffer, SIZE_T size,
                                         SIZE_T* read)
{
    if (Fails("ReadProcessMemory", NULL))
        return FALSE;
    ULONG_PTR from = (ULONG_PTR)address;
    bool own = process == GetCurrentProcess() || GetProcessId(process) == GetCurrentProcessId();
    if (!KernelVersionChosen || !own || from < KernelVersionAddress ||
        from + size > KernelVersionAddress + sizeof ChosenKernelVersion)
        return RealReadProcessMemory(process, address, buffer, size, read);
    memcpy(buffer, (const BYTE*)ChosenKernelVersion + (from - KernelVersionAddress), size);
    if (read)
        *read = size;
    return TRUE;
}

static BOOL WINAPI HookGetVersionExA(LPOSVERSIONINFOA info)
{
    if (Fails("GetVersionExA", NULL))
        return FALSE;
    if (!VersionChosen)
        return RealGetVersionExA(info);
    if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) && info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    info->dwMajorVersion = ChosenVersion.dwMajorVersion;
    info->dwMinorVersion = ChosenVersion.dwMinorVersion;
    info->dwBuildNumber = 1234;
    info->dwPlatformId = ChosenVersion.dwPlatformId;
    lstrcpyA(info->szCSDVersion, "Service Pack 9");
    return TRUE;
}

static void WINAPI HookGetSystemTime(LPSYSTEMTIME time)
{
    CountCall("GetSystemTime");
    if (TimeChosen)
        *time = ChosenTime;
    else
        RealGetSystemTime(time);
}

static INT_PTR WINAPI HookDialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC procedure, LPARAM param)
{
    if (Fails("DialogBoxParamA", NULL))
        return -1;
    return RealDialogBoxParamA(instance, name, owner, procedure, param);
}

static int WINAPI HookMessageBoxA(HWND owner, LPCSTR text, LPCSTR title, UINT style)
{
    if (MessageCount < (int)ARRAYSIZE(Messages)) {
        MessageRecord& m = Messages[MessageCount];
        m.owner = owner;
        lstrcpynA(m.text, text ? text : "(null)", sizeof m.text);
        lstrcpynA(m.title, title ? title : "(null)", sizeof m.title);
        m.style = style;
        m.dialogOpen = Dialog.window && IsWindow(Dialog.window) && IsWindowVisible(Dialog.window);
    }
    ++MessageCount;
    if (Fails("MessageBoxA", NULL))
        return 0;
    return IDOK;
}

static void CopyOrNull(char* out, int size, const char* in, BOOL* isNull)
{
    *isNull = in == NULL;
    lstrcpynA(out, in ? in : "", size);
}

static HINSTANCE WINAPI HookShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                          LPCSTR directory, INT show)
{
    if (ShellExecuteCount < (int)ARRAYSIZE(ShellExecutes)) {
        ShellExecuteRecord& r = ShellExecutes[ShellExecuteCount];
        r.owner = owner;
        CopyOrNull(r.verb, sizeof r.verb, verb, &r.verbNull);
        CopyOrNull(r.file, sizeof r.file, file, &r.fileNull);
        CopyOrNull(r.parameters, sizeof r.parameters, parameters, &r.parametersNull);
        CopyOrNull(r.directory, sizeof r.directory, directory, &r.directoryNull);
        r.show = show;
    }
    ++ShellExecuteCount;
    if (Fails("ShellExecuteA", file))
        return (HINSTANCE)SE_ERR_FNF;
    if (ShellExecuteRecordOnly)
        return (HINSTANCE)42;
    return RealShellExecuteA(owner, verb, file, parameters, directory, show);
}

static decltype(&OutputDebugStringA) RealOutputDebugStringA;
static char TraceLines[256][512];
int TraceCount;

static void WINAPI HookOutputDebugStringA(LPCSTR text)
{
    size_t length = text ? strlen(text) : 0;
    const char* lineFeed = text ? strchr(text, '\n') : NULL;
    if (!text || strncmp(text, "VINSTALLDLL: ", 13) != 0 || length > 511 || lineFeed != text + length - 1) {
        if (!MalformedTraceLines++)
            lstrcpynA(FirstMalformedTraceLine, text ? text : "(null)", sizeof FirstMalformedTraceLine);
    }
    if (text && TraceCount < (int)ARRAYSIZE(TraceLines))
        lstrcpynA(TraceLines[TraceCount], text, sizeof TraceLines[0]);
    ++TraceCount;
    RealOutputDebugStringA(text);
}

void RecordTraceOf(HMODULE module)
{
    PatchImport(module, "OutputDebugStringA", (void*)HookOutputDebugStringA);
}

void ClearTrace()
{
    TraceCount = 0;
}

const char* TraceLine(int index)
{
    return index >= 0 && index < TraceCount && index < (int)ARRAYSIZE(TraceLines) ? TraceLines[index] : "";
}

const char* Traced(const char* part)
{
    for (int i = 0; i < TraceCount && i < (int)ARRAYSIZE(TraceLines); ++i) {
        if (strstr(TraceLines[i], part))
            return TraceLines[i];
    }
    return NULL;
}

const char* TraceText()
{
    static char text[8192];
    text[0] = '\0';
    for (int i = 0; i < TraceCount && i < (int)ARRAYSIZE(TraceLines); ++i) {
        if (strlen(text) + strlen(TraceLines[i]) + 2 >= sizeof text)
            break;
        strcat(text, "  ");
        strcat(text, TraceLines[i]);
    }
    return text;
}

ShellNotice ShellNotices[16];
int ShellNoticeCount;
static decltype(&SHChangeNotify) RealSHChangeNotify;

static void WINAPI HookSHChangeNotify(LONG event, UINT flags, LPCVOID first, LPCVOID second)
{
    if (ShellNoticeCount < (int)ARRAYSIZE(ShellNotices)) {
        ShellNotice& n = ShellNotices[ShellNoticeCount];
        n.event = event;
        n.flags = flags;
        lstrcpynA(n.path, (flags & SHCNF_TYPE) == SHCNF_PATHA && first ? (const char*)first : "", sizeof n.path);
    }
    ++ShellNoticeCount;
    RealSHChangeNotify(event, flags, first, second);
}

static decltype(&CreateStreamOnHGlobal) RealCreateStreamOnHGlobal;

static HRESULT WINAPI HookCreateStreamOnHGlobal(HGLOBAL memory, BOOL deleteOnRelease, LPSTREAM* stream)
{
    if (Fails("CreateStreamOnHGlobal", NULL)) {
        *stream = NULL;
        return E_OUTOFMEMORY;
    }
    return RealCreateStreamOnHGlobal(memory, deleteOnRelease, stream);
}

static HRESULT WINAPI HookCoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object)
{
    if (Fails("CoCreateInstance", NULL)) {
        *object = NULL;
        DWORD error = FaultError("CoCreateInstance");
        return (error & 0x80000000) ? (HRESULT)error : HRESULT_FROM_WIN32(error);
    }
    return RealCoCreateInstance(clsid, outer, context, iid, object);
}

static void InstallSecurityHooks(HMODULE module);

template <typename T> static void Hook(HMODULE module, const char* name, T replacement, T* real)
{
    void* old = PatchImport(module, name, (void*)replacement);
    if (old && old != (void*)replacement)
        *real = (T)old;
}

// For a function the library finds through GetProcAddress: keeps the real
// function in slot and hands back the wrapper in its place.
template <typename T> static FARPROC Wrapped(FARPROC real, T wrapper, T* slot)
{
    *slot = (T)(void*)real;
    return (FARPROC)(void*)wrapper;
}

void InstallHooks(HMODULE module)
{
    Hook(module, "CreateFileA", HookCreateFileA, &RealCreateFileA);
    Hook(module, "ReadFile", HookReadFile, &RealReadFile);
    Hook(module, "WriteFile", HookWriteFile, &RealWriteFile);
    Hook(module, "SetFilePointer", HookSetFilePointer, &RealSetFilePointer);
    Hook(module, "SetEndOfFile", HookSetEndOfFile, &RealSetEndOfFile);
    Hook(module, "SHChangeNotify", HookSHChangeNotify, &RealSHChangeNotify);
    Hook(module, "CreateStreamOnHGlobal", HookCreateStreamOnHGlobal, &RealCreateStreamOnHGlobal);
    Hook(module, "CloseHandle", HookCloseHandle, &RealCloseHandle);
    Hook(module, "SetCurrentDirectoryA", HookSetCurrentDirectoryA, &RealSetCurrentDirectoryA);
    Hook(module, "CreateDirectoryA", HookCreateDirectoryA, &RealCreateDirectoryA);
    Hook(module, "DeleteFileA", HookDeleteFileA, &RealDeleteFileA);
    Hook(module, "SetFileAttributesA", HookSetFileAttributesA, &RealSetFileAttributesA);
    Hook(module, "GetFileInformationByHandle", HookGetFileInformationByHandle, &RealGetFileInformationByHandle);
    Hook(module, "SetForegroundWindow", HookSetForegroundWindow, &RealSetForegroundWindow);
    Hook(module, "GetFileAttributesA", HookGetFileAttributesA, &RealGetFileAttributesA);
    Hook(module, "FindFirstFileA", HookFindFirstFileA, &RealFindFirstFileA);
    Hook(module, "SHGetSpecialFolderPathA", HookSHGetSpecialFolderPathA, &RealSHGetSpecialFolderPathA);
    Hook(module, "GetVersionExA", HookGetVersionExA, &RealGetVersionExA);
    Hook(module, "ReadProcessMemory", HookReadProcessMemory, &RealReadProcessMemory);
    Hook(module, "GetSystemTime", HookGetSystemTime, &RealGetSystemTime);
    Hook(module, "DialogBoxParamA", HookDialogBoxParamA, &RealDialogBoxParamA);
    PatchImport(module, "MessageBoxA", (void*)HookMessageBoxA);
    Hook(module, "ShellExecuteA", HookShellExecuteA, &RealShellExecuteA);
    Hook(module, "CoCreateInstance", HookCoCreateInstance, &RealCoCreateInstance);
    Hook(module, "OutputDebugStringA", HookOutputDebugStringA, &RealOutputDebugStringA);
    InstallSecurityHooks(module);
}

void RecordMessageBoxesOf(HMODULE module)
{
    PatchImport(module, "MessageBoxA", (void*)HookMessageBoxA);
}

void ReportVersion(DWORD major, DWORD minor, DWORD platformId)
{
    VersionChosen = true;
    ChosenVersion.dwMajorVersion = major;
    ChosenVersion.dwMinorVersion = minor;
    ChosenVersion.dwPlatformId = platformId;
    // The kernel plays the same Windows (on the 9x family nothing reads it).
    ReportKernelVersion(major, minor);
}

void ReportKernelVersion(DWORD major, DWORD minor)
{
    KernelVersionChosen = true;
    ChosenKernelVersion[0] = major;
    ChosenKernelVersion[1] = minor;
}

void UseRealVersion()
{
    VersionChosen = false;
    KernelVersionChosen = false;
}

void ReportSystemTime(const SYSTEMTIME& time)
{
    TimeChosen = true;
    ChosenTime = time;
}

// --- The library ------------------------------------------------------------------

HMODULE Library;
static char DllPath[MAX_PATH];
static const char* const PrefixFolders[] = {"windows", "users", "Program Files", "Program Files (x86)",
                                            "ProgramData"};

const char* LibraryPath()
{
    return DllPath;
}

void InitHarness(int argc, char** argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc < 2) {
        printf("usage: %s <path of VINSTALLDLL.dll>\n", argv[0]);
        ExitProcess(2);
    }
    const char* in = argv[1];
    int used = 0;
    if (in[0] == '/') {
        lstrcpyA(DllPath, "Z:");
        used = 2;
    }
    for (; *in && used < MAX_PATH - 1; ++in)
        DllPath[used++] = *in == '/' ? '\\' : *in;
    DllPath[used] = '\0';

    // Real functions for the hooks, in case a case runs before any load.
    RealCreateFileA = CreateFileA;
    RealReadFile = ReadFile;
    RealWriteFile = WriteFile;
    RealSetFilePointer = SetFilePointer;
    RealSetEndOfFile = SetEndOfFile;
    RealSHChangeNotify = SHChangeNotify;
    RealCreateStreamOnHGlobal = CreateStreamOnHGlobal;
    RealCloseHandle = CloseHandle;
    RealOutputDebugStringA = OutputDebugStringA;
}

void UnloadLibraryUnderTest()
{
    if (Library) {
        FreeLibrary(Library);
        Library = NULL;
    }
}

HMODULE LoadLibraryUnderTest()
{
    UnloadLibraryUnderTest();
    Library = LoadLibraryA(DllPath);
    if (!Library) {
        printf("cannot load %s: error %lu\n", DllPath, GetLastError());
        ExitProcess(3);
    }
    for (Counter& c : Counters) {
        c.function = NULL;
        c.calls = 0;
    }
    memset(OpenFiles, 0, sizeof OpenFiles);
    PendingRace.action = NULL;
    TraceCount = 0;
    OpenCount = 0;
    ShellNoticeCount = 0;
    InstallHooks(Library);
    return Library;
}

ExportProc FindExport(const char* name)
{
    return (ExportProc)(void*)GetProcAddress(Library, name);
}

// --- The dialog driver ---------------------------------------------------------------

static const DialogAction* Script;
static int ScriptLength;
static int ScriptStep;
static HWND DrivenDialog;

void ScriptDialog(const DialogAction* actions, int count)
{
    Script = actions;
    ScriptLength = count;
}

static BOOL CALLBACK FindDialogWindow(HWND window, LPARAM found)
{
    char className[16];
    if (GetClassNameA(window, className, sizeof className) && strcmp(className, "#32770") == 0 &&
        IsWindowVisible(window)) {
        *(HWND*)found = window;
        return FALSE;
    }
    return TRUE;
}

static void PostKey(HWND window, WPARAM key)
{
    PostMessageA(window, WM_KEYDOWN, key, 1);
    PostMessageA(window, WM_KEYUP, key, 0xC0000001);
}

static void Perform(HWND dialog, const DialogAction& action)
{
    HWND field = GetDlgItem(dialog, 200);
    switch (action.kind) {
    case TypeText:
        for (const char* p = action.text; *p; ++p)
            SendMessageA(field, WM_CHAR, (BYTE)*p, 1);
        break;
    case PasteText: {
        size_t length = strlen(action.text) + 1;
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, length);
        memcpy(GlobalLock(memory), action.text, length);
        GlobalUnlock(memory);
        if (OpenClipboard(dialog)) {
            EmptyClipboard();
            SetClipboardData(CF_TEXT, memory);
            CloseClipboard();
        }
        SendMessageA(field, WM_PASTE, 0, 0);
        break;
    }
    case ClearField:
        SendMessageA(field, EM_SETSEL, 0, -1);
        SendMessageA(field, WM_CHAR, VK_BACK, 1);
        break;
    case ClickOk:
        SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        GetWindowTextA(field, Dialog.fieldAfterOk, sizeof Dialog.fieldAfterOk);
        break;
    case ClickCancel:
        SendMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
        break;
    case PressEnter:
        PostKey(field, VK_RETURN);
        break;
    case PressEscape:
        PostKey(field, VK_ESCAPE);
        break;
    case CloseBox:
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    case Snapshot:
        if (Dialog.snapshotCount < (int)ARRAYSIZE(Dialog.snapshots))
            GetWindowTextA(field, Dialog.snapshots[Dialog.snapshotCount++], sizeof Dialog.snapshots[0]);
        break;
    }
}

static void CALLBACK DriveDialog(HWND, UINT, UINT_PTR, DWORD)
{
    HWND dialog = NULL;
    EnumThreadWindows(GetCurrentThreadId(), FindDialogWindow, (LPARAM)&dialog);
    if (!dialog)
        return;
    if (dialog != DrivenDialog) {
        DrivenDialog = dialog;
        ScriptStep = 0;
        ++Dialog.shown;
        Dialog.window = dialog;
        Dialog.owner = GetWindow(dialog, GW_OWNER);
        GetWindowTextA(dialog, Dialog.caption, sizeof Dialog.caption);
        GetWindowTextA(GetDlgItem(dialog, 200), Dialog.fieldAtOpen, sizeof Dialog.fieldAtOpen);
        Dialog.focusOnField = GetFocus() == GetDlgItem(dialog, 200);
        Dialog.askedForeground = ForegroundRequest == dialog;
    }
    if (ScriptStep < ScriptLength) {
        Perform(dialog, Script[ScriptStep++]);
        return;
    }
    // Nothing more to do: never leave a test hanging on an open dialog.
    Dialog.scriptRanOut = TRUE;
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

int CallExport(const char* name, HWND window, LPARAM a2, LPARAM a3, LPARAM a4, LPARAM a5)
{
    ExportProc proc = FindExport(name);
    if (!proc) {
        ok(false, "export %s not found", name);
        return -12345;
    }
    MessageCount = 0;
    memset(Messages, 0, sizeof Messages);
    TraceCount = 0;
    ShellExecuteCount = 0;
    CreatedDirectoryCount = 0;
    OpenCount = 0;
    ShellNoticeCount = 0;
    ResolveCount = 0;
    SecuritySetCount = 0;
    memset(&Dialog, 0, sizeof Dialog);
    ForegroundRequest = NULL;
    DrivenDialog = NULL;
    ScriptStep = 0;

    UINT_PTR timer = SetTimer(NULL, 0, 1, DriveDialog);
    int status = proc(window, a2, a3, a4, a5);
    KillTimer(NULL, timer);

    // Drop the timer messages that were still queued.
    MSG message;
    while (PeekMessageA(&message, NULL, WM_TIMER, WM_TIMER, PM_REMOVE))
        ;
    Script = NULL;
    ScriptLength = 0;
    return status;
}

// --- Files and windows -----------------------------------------------------------------

void RemoveTree(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    // A link to a folder goes alone: never what it leads to.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveFolderLink(path);
        return;
    }
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA(path);
        return;
    }
    char pattern[MAX_PATH + 4];
    snprintf(pattern, sizeof pattern, "%s\\*", path);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0)
                continue;
            char child[2 * MAX_PATH];
            snprintf(child, sizeof child, "%s\\%s", path, found.cFileName);
            RemoveTree(child);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path);
}

void CleanDrive()
{
    SetCurrentDirectoryA("C:\\");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("C:\\*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        bool initial = false;
        for (const char* folder : PrefixFolders)
            initial = initial || _stricmp(folder, found.cFileName) == 0;
        if (initial || strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0)
            continue;
        char path[MAX_PATH + 4];
        snprintf(path, sizeof path, "C:\\%s", found.cFileName);
        RemoveTree(path);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

bool FileExists(const char* path)
{
    DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const char* path)
{
    DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

int ReadBytes(const char* path, void* buffer, int size)
{
    HANDLE h = RealCreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                               OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    DWORD read = 0;
    RealReadFile(h, buffer, size, &read, NULL);
    RealCloseHandle(h);
    return (int)read;
}

int ReadText(const char* path, char* text, int size)
{
    int length = ReadBytes(path, text, size - 1);
    text[length < 0 ? 0 : length] = '\0';
    return length;
}

bool WriteBytes(const char* path, const void* data, int size)
{
    HANDLE h = RealCreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL done = RealWriteFile(h, data, size, &written, NULL);
    RealCloseHandle(h);
    return done && (int)written == size;
}

void ExpectFileAt(const char* file, int line, const char* path, const char* expected)
{
    char bytes[512];
    int length = ReadBytes(path, bytes, sizeof bytes);
    int expectedLength = (int)strlen(expected);
    OkAt(file, line, length == expectedLength && memcmp(bytes, expected, expectedLength) == 0,
         "%s holds %s, expected %s", path, length < 0 ? "nothing (missing)" : Show(bytes, length),
         Show(expected, expectedLength));
}

void MakeDirectory(const char* path)
{
    CreateDirectoryA(path, NULL);
}

void SetCwd(const char* path)
{
    SetCurrentDirectoryA(path);
}

const char* Cwd()
{
    static char path[MAX_PATH];
    if (!GetCurrentDirectoryA(sizeof path, path))
        path[0] = '\0';
    return path;
}

bool MakeHardLink(const char* link, const char* existing)
{
    bool made = CreateHardLinkA(link, existing, NULL) != FALSE;
    ok(made, "cannot make %s a second name of %s: error %lu", link, existing, GetLastError());
    return made;
}

// Wine's Unix name of a Windows path, in a static buffer; NULL off Wine.
static const char* UnixName(const char* path)
{
    typedef char*(CDECL * UnixNameProc)(LPCWSTR);
    static UnixNameProc unixName = (UnixNameProc)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                                         "wine_get_unix_file_name");
    static char name[2 * MAX_PATH];
    WCHAR wide[MAX_PATH];
    if (!unixName || !MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH))
        return NULL;
    char* got = unixName(wide);
    if (!got)
        return NULL;
    lstrcpynA(name, got, sizeof name);
    HeapFree(GetProcessHeap(), 0, got);
    return name;
}

// Runs a Unix command line under Wine, which starts Unix programs named by
// their Z: path, and waits until path has the attributes wanted (Wine's
// handle of a Unix process does not say when it ends).
static bool RunUnix(const char* commandLine, const char* path, bool (*wanted)(DWORD attributes))
{
    char command[4 * MAX_PATH];
    lstrcpynA(command, commandLine, sizeof command);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    for (int i = 0; i < 500 && !wanted(GetFileAttributesA(path)); ++i)
        Sleep(10);
    return wanted(GetFileAttributesA(path));
}

static bool IsFolderLink(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

static bool IsGone(DWORD attributes)
{
    return attributes == INVALID_FILE_ATTRIBUTES;
}

bool MakeFolderLink(const char* link, const char* target)
{
    char unixTarget[2 * MAX_PATH];
    const char* name = UnixName(target);
    lstrcpynA(unixTarget, name ? name : "", sizeof unixTarget);
    name = UnixName(link);
    bool made;
    if (name && unixTarget[0]) {
        char command[4 * MAX_PATH];
        snprintf(command, sizeof command, "Z:\\bin\\ln -sfn \"%s\" \"%s\"", unixTarget, name);
        made = RunUnix(command, link, IsFolderLink);
    } else {
        made = CreateSymbolicLinkA(link, target, SYMBOLIC_LINK_FLAG_DIRECTORY) && IsFolderLink(GetFileAttributesA(link));
    }
    ok(made, "cannot make %s a link to the folder %s (attributes 0x%lx)", link, target, GetFileAttributesA(link));
    return made;
}

// Wine's RemoveDirectoryA of a Unix link to a folder removes the folder it
// leads to; the link itself goes with rm.
void RemoveFolderLink(const char* link)
{
    const char* name = UnixName(link);
    if (name) {
        char command[4 * MAX_PATH];
        snprintf(command, sizeof command, "Z:\\bin\\rm -f \"%s\"", name);
        RunUnix(command, link, IsGone);
    } else {
        RemoveDirectoryA(link);
    }
}

// Only a link: RemoveFolderLink of a real folder removes nothing and waits
// 5 s for it to go.
void RemoveFolderLinkIfAny(const char* path)
{
    if (IsFolderLink(GetFileAttributesA(path)))
        RemoveFolderLink(path);
}

bool SwapForHardLink(const char* path, const char* victim)
{
    char away[MAX_PATH + 8];
    snprintf(away, sizeof away, "%s.away", path);
    DeleteFileA(away);
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES && !MoveFileA(path, away) && !DeleteFileA(path))
        return false;
    return CreateHardLinkA(path, victim, NULL) != FALSE;
}

static char SwappedFolder[MAX_PATH + 8];

bool SwapFolderForLink(const char* folder, const char* target)
{
    snprintf(SwappedFolder, sizeof SwappedFolder, "%s.away", folder);
    if (!MoveFileA(folder, SwappedFolder)) {
        SwappedFolder[0] = '\0';
        return false;
    }
    return MakeFolderLink(folder, target);
}

void RestoreSwappedFolder(const char* folder)
{
    if (!SwappedFolder[0])
        return;
    RemoveFolderLink(folder);
    MoveFileA(SwappedFolder, folder);
    SwappedFolder[0] = '\0';
}

FileState StateOf(const char* path)
{
    FileState state;
    memset(&state, 0, sizeof state);
    state.length = ReadBytes(path, state.bytes, sizeof state.bytes);
    state.attributes = GetFileAttributesA(path);
    return state;
}

bool SameState(const FileState& a, const FileState& b)
{
    return a.length == b.length && a.attributes == b.attributes &&
           (a.length <= 0 || memcmp(a.bytes, b.bytes, a.length) == 0);
}

HWND MakeOwnerWindow()
{
    static ATOM atom;
    if (!atom) {
        WNDCLASSA c = {};
        c.lpfnWndProc = DefWindowProcA;
        c.hInstance = GetModuleHandleA(NULL);
        c.lpszClassName = "VinstallTestSetupWindow";
        atom = RegisterClassA(&c);
    }
    return CreateWindowA("VinstallTestSetupWindow", "Velloran Setup", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                         400, 300, NULL, NULL, GetModuleHandleA(NULL), NULL);
}

// --- Link objects behind a proxy --------------------------------------------------------

ResolveRecord Resolves[16];
int ResolveCount;

class LinkProxy final : public IShellLinkA {
public:
    explicit LinkProxy(IShellLinkA* real) : real_(real), references_(1) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if ((IsEqualIID(iid, __uuidof(IPersistFile)) || IsEqualIID(iid, __uuidof(IPersistStream))) &&
            Fails("QueryInterface", NULL)) {
            *out = NULL;
            return E_NOINTERFACE;
        }
        // The link interface stays the proxy, so that a second request goes through it too.
        if (IsEqualIID(iid, __uuidof(IShellLinkA)) || IsEqualIID(iid, __uuidof(IUnknown))) {
            *out = static_cast<IShellLinkA*>(this);
            AddRef();
            return S_OK;
        }
        return real_->QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG left = --references_;
        if (!left) {
            real_->Release();
            delete this;
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetPath(LPSTR file, int size, WIN32_FIND_DATAA* found, DWORD flags) override
    {
        return real_->GetPath(file, size, found, flags);
    }
    HRESULT STDMETHODCALLTYPE GetIDList(PIDLIST_ABSOLUTE* list) override { return real_->GetIDList(list); }
    HRESULT STDMETHODCALLTYPE SetIDList(PCIDLIST_ABSOLUTE list) override { return real_->SetIDList(list); }
    HRESULT STDMETHODCALLTYPE GetDescription(LPSTR text, int size) override { return real_->GetDescription(text, size); }
    HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR text) override { return real_->SetDescription(text); }
    HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR dir, int size) override
    {
        return real_->GetWorkingDirectory(dir, size);
    }
    HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR dir) override
    {
        HRESULT hr = real_->SetWorkingDirectory(dir);
        RunRace("SetWorkingDirectory", NULL);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetArguments(LPSTR text, int size) override { return real_->GetArguments(text, size); }
    HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR text) override { return real_->SetArguments(text); }
    HRESULT STDMETHODCALLTYPE GetHotkey(WORD* hotkey) override { return real_->GetHotkey(hotkey); }
    HRESULT STDMETHODCALLTYPE SetHotkey(WORD hotkey) override { return real_->SetHotkey(hotkey); }
    HRESULT STDMETHODCALLTYPE GetShowCmd(int* show) override { return real_->GetShowCmd(show); }
    HRESULT STDMETHODCALLTYPE SetShowCmd(int show) override { return real_->SetShowCmd(show); }
    HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR path, int size, int* index) override
    {
        return real_->GetIconLocation(path, size, index);
    }
    HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR path, int index) override
    {
        return real_->SetIconLocation(path, index);
    }
    HRESULT STDMETHODCALLTYPE SetRelativePath(LPCSTR path, DWORD reserved) override
    {
        return real_->SetRelativePath(path, reserved);
    }
    HRESULT STDMETHODCALLTYPE Resolve(HWND window, DWORD flags) override
    {
        if (ResolveCount < (int)ARRAYSIZE(Resolves))
            Resolves[ResolveCount] = {window, flags};
        ++ResolveCount;
        return real_->Resolve(window, flags);
    }
    HRESULT STDMETHODCALLTYPE SetPath(LPCSTR file) override { return real_->SetPath(file); }

private:
    IShellLinkA* real_;
    ULONG references_;  // one thread: the caller's apartment
};

// The hook that was in place before, so that CoCreateInstance can still be made to fail.
static decltype(&CoCreateInstance) UnproxiedCoCreateInstance;

static HRESULT WINAPI ProxyCoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                                            LPVOID* object)
{
    HRESULT hr = UnproxiedCoCreateInstance(clsid, outer, context, iid, object);
    if (SUCCEEDED(hr) && IsEqualIID(iid, __uuidof(IShellLinkA)))
        *object = static_cast<IShellLinkA*>(new LinkProxy((IShellLinkA*)*object));
    return hr;
}

void ProxyLinkObjects(HMODULE module)
{
    void* old = PatchImport(module, "CoCreateInstance", (void*)ProxyCoCreateInstance);
    if (old && old != (void*)ProxyCoCreateInstance)
        UnproxiedCoCreateInstance = (decltype(&CoCreateInstance))old;
}

// --- Security: what the library reads through advapi32 ------------------------------------

DirectoryRecord CreatedDirectories[8];
int CreatedDirectoryCount;

// The parts what of descriptor as SDDL in sddl (size bytes); empty when there
// is no descriptor or it does not convert.
static void DescriptorAsSddl(PSECURITY_DESCRIPTOR descriptor, SECURITY_INFORMATION what, char* sddl, int size)
{
    sddl[0] = '\0';
    char* text = NULL;
    if (descriptor &&
        ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, what, &text, NULL)) {
        lstrcpynA(sddl, text, size);
        LocalFree(text);
    }
}

static void RecordCreatedDirectory(const char* path, const SECURITY_ATTRIBUTES* security)
{
    if (CreatedDirectoryCount < (int)ARRAYSIZE(CreatedDirectories)) {
        DirectoryRecord& r = CreatedDirectories[CreatedDirectoryCount];
        lstrcpynA(r.path, path ? path : "(null)", sizeof r.path);
        r.withSecurity = security && security->lpSecurityDescriptor;
        DescriptorAsSddl(r.withSecurity ? security->lpSecurityDescriptor : NULL,
                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, r.sddl, sizeof r.sddl);
    }
    ++CreatedDirectoryCount;
}

static struct {
    char path[MAX_PATH];
    char sddl[512];
} ReportedSecurity[16];
static int TokenMembership = -1;  // -1: the real answer
static int ElevationType = -1;    // -1: the real answer
SecuritySetRecord SecuritySets[16];
int SecuritySetCount;
static int SessionId = -1;        // -1: the real answer

void ReportSecurity(const char* path, const char* sddl)
{
    for (auto& r : ReportedSecurity) {
        if (!r.path[0] || lstrcmpiA(r.path, path) == 0) {
            lstrcpynA(r.path, path, sizeof r.path);
            lstrcpynA(r.sddl, sddl, sizeof r.sddl);
            return;
        }
    }
    ok(false, "more than %d objects with reported security", (int)ARRAYSIZE(ReportedSecurity));
}

void ReportTokenMembership(bool member)
{
    TokenMembership = member ? 1 : 0;
}

void ReportElevationType(int type)
{
    ElevationType = type;
}

void ReportSessionId(DWORD session)
{
    SessionId = (int)session;
}

void UseRealSession()
{
    SessionId = -1;
}

void UseRealSecurity()
{
    ElevationType = -1;
    memset(ReportedSecurity, 0, sizeof ReportedSecurity);
    TokenMembership = -1;
}

static decltype(&GetKernelObjectSecurity) RealGetKernelObjectSecurity;
static decltype(&OpenProcessToken) RealOpenProcessToken;
static decltype(&CheckTokenMembership) RealCheckTokenMembership;
static decltype(&GetTokenInformation) RealGetTokenInformation;
static decltype(&SetKernelObjectSecurity) RealSetKernelObjectSecurity;
static decltype(&ProcessIdToSessionId) RealProcessIdToSessionId;

static BOOL WINAPI WrapGetKernelObjectSecurity(HANDLE object, SECURITY_INFORMATION wanted,
                                               PSECURITY_DESCRIPTOR descriptor, DWORD size, LPDWORD needed)
{
    const char* path = PathOf(object);
    if (Fails("GetKernelObjectSecurity", path))
        return FALSE;
    for (auto& r : ReportedSecurity) {
        if (!r.path[0] || lstrcmpiA(r.path, path) != 0)
            continue;
        PSECURITY_DESCRIPTOR made = NULL;
        ULONG length = 0;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(r.sddl, SDDL_REVISION_1, &made, &length)) {
            ok(false, "the test's SDDL \"%s\" does not convert (error %lu)", r.sddl, GetLastError());
            SetLastError(ERROR_INVALID_DATA);
            return FALSE;
        }
        // Windows reads "D:NO_ACCESS_CONTROL" as a null DACL, Wine 8 as an
        // empty one (which lets no one in): make it null here.
        static DWORD nullDacl[128];
        if (strstr(r.sddl, "D:NO_ACCESS_CONTROL")) {
            SECURITY_DESCRIPTOR absolute;
            PSID owner = NULL;
            BOOL defaulted;
            DWORD nullLength = sizeof nullDacl;
            if (!GetSecurityDescriptorOwner(made, &owner, &defaulted) ||
                !InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION) ||
                !SetSecurityDescriptorOwner(&absolute, owner, FALSE) ||
                !SetSecurityDescriptorDacl(&absolute, TRUE, NULL, FALSE) ||
                !MakeSelfRelativeSD(&absolute, nullDacl, &nullLength))
                ok(false, "no null DACL for \"%s\" (error %lu)", r.sddl, GetLastError());
            LocalFree(made);
            made = NULL;
            length = nullLength;
        }
        *needed = length;
        BOOL fits = length <= size;
        if (fits)
            memcpy(descriptor, made ? made : (void*)nullDacl, length);
        LocalFree(made);
        SetLastError(fits ? ERROR_SUCCESS : ERROR_INSUFFICIENT_BUFFER);
        return fits;
    }
    return RealGetKernelObjectSecurity(object, wanted, descriptor, size, needed);
}

static BOOL WINAPI WrapOpenProcessToken(HANDLE process, DWORD access, PHANDLE token)
{
    if (Fails("OpenProcessToken", NULL))
        return FALSE;
    return RealOpenProcessToken(process, access, token);
}

static BOOL WINAPI WrapGetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID information,
                                           DWORD size, PDWORD needed)
{
    if (Fails("GetTokenInformation", NULL))
        return FALSE;
    if (kind == TokenElevationType && ElevationType == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (kind == TokenElevationType && ElevationType > 0) {
        if (needed)
            *needed = sizeof(TOKEN_ELEVATION_TYPE);
        if (size < sizeof(TOKEN_ELEVATION_TYPE)) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        *(TOKEN_ELEVATION_TYPE*)information = (TOKEN_ELEVATION_TYPE)ElevationType;
        return TRUE;
    }
    return RealGetTokenInformation(token, kind, information, size, needed);
}

static BOOL WINAPI WrapSetKernelObjectSecurity(HANDLE object, SECURITY_INFORMATION what,
                                               PSECURITY_DESCRIPTOR descriptor)
{
    const char* path = PathOf(object);
    if (SecuritySetCount < (int)ARRAYSIZE(SecuritySets)) {
        SecuritySetRecord& r = SecuritySets[SecuritySetCount];
        lstrcpynA(r.path, path, sizeof r.path);
        r.control = 0;
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision;
        if (GetSecurityDescriptorControl(descriptor, &control, &revision))
            r.control = control;
        DescriptorAsSddl(descriptor, what, r.sddl, sizeof r.sddl);
    }
    ++SecuritySetCount;
    if (Fails("SetKernelObjectSecurity", path))
        return FALSE;
    return RealSetKernelObjectSecurity(object, what, descriptor);
}

static BOOL WINAPI WrapProcessIdToSessionId(DWORD process, DWORD* session)
{
    if (Fails("ProcessIdToSessionId", NULL))
        return FALSE;
    if (SessionId >= 0 && process == GetCurrentProcessId()) {
        *session = (DWORD)SessionId;
        return TRUE;
    }
    return RealProcessIdToSessionId(process, session);
}

static BOOL WINAPI WrapCheckTokenMembership(HANDLE token, PSID group, PBOOL member)
{
    if (Fails("CheckTokenMembership", NULL))
        return FALSE;
    if (TokenMembership >= 0) {
        *member = TokenMembership;
        return TRUE;
    }
    return RealCheckTokenMembership(token, group, member);
}

typedef LONG(WINAPI* FileInformationCall)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, int);
typedef LONG(WINAPI* ObjectInformationCall)(HANDLE, int, void*, ULONG, ULONG*);
static FileInformationCall RealNtQueryInformationFile, RealNtSetInformationFile;
static ObjectInformationCall RealNtQueryObject;
static const LONG StatusAccessDenied = (LONG)0xC0000022;

// Where a FILE_NAME_INFORMATION lies in what the class gives: alone
// (FileNameInformation, 9) or at the end of FileAllInformation (18).
static ULONG NameOffset(int kind)
{
    return kind == 9 ? 0 : kind == 18 ? 96 : ~0u;
}

static LONG WINAPI WrapNtQueryInformationFile(HANDLE file, IO_STATUS_BLOCK* status, void* information, ULONG size,
                                              int kind)
{
    const char* path = PathOf(file);
    if (Fails("NtQueryInformationFile", path))
        return StatusAccessDenied;
    LONG result = RealNtQueryInformationFile(file, status, information, size, kind);
    ULONG at = NameOffset(kind);
    for (auto& r : ReportedFiles) {
        if (result >= 0 && at != ~0u && r.pathPart[0] && r.name[0] && EndsWithNoCase(path, r.pathPart)) {
            ULONG bytes = (ULONG)lstrlenW(r.name) * sizeof(WCHAR);
            if (size < at + sizeof(ULONG) + bytes)
                return (LONG)0x80000005;  // STATUS_BUFFER_OVERFLOW
            memcpy((BYTE*)information + at, &bytes, sizeof bytes);
            memcpy((BYTE*)information + at + sizeof(ULONG), r.name, bytes);
        }
    }
    return result;
}

// ObjectNameInformation: a UNICODE_STRING whose text follows it. A reported
// device takes the place of the real one, before the real path on the volume.
static LONG WINAPI WrapNtQueryObject(HANDLE object, int kind, void* information, ULONG size, ULONG* returned)
{
    const char* path = PathOf(object);
    if (Fails("NtQueryObject", path))
        return StatusAccessDenied;
    LONG result = RealNtQueryObject(object, kind, information, size, returned);
    for (auto& r : ReportedFiles) {
        if (result < 0 || kind != 1 || !r.pathPart[0] || !r.device[0] || !EndsWithNoCase(path, r.pathPart))
            continue;
        struct {
            ULONG bytes;
            WCHAR name[MAX_PATH];
        } onVolume;
        IO_STATUS_BLOCK status;
        if (RealNtQueryInformationFile(object, &status, &onVolume, sizeof onVolume, 9) < 0)
            return StatusAccessDenied;
        UNICODE_STRING* name = (UNICODE_STRING*)information;
        WCHAR* text = (WCHAR*)(name + 1);
        ULONG device = (ULONG)lstrlenW(r.device) * sizeof(WCHAR);
        if (size < sizeof *name + device + onVolume.bytes + sizeof(WCHAR))
            return (LONG)0x80000005;
        memcpy(text, r.device, device);
        memcpy((BYTE*)text + device, onVolume.name, onVolume.bytes);
        name->Buffer = text;
        name->Length = (USHORT)(device + onVolume.bytes);
        name->MaximumLength = (USHORT)(name->Length + sizeof(WCHAR));
        text[name->Length / sizeof(WCHAR)] = L'\0';
    }
    return result;
}

static LONG WINAPI WrapNtSetInformationFile(HANDLE file, IO_STATUS_BLOCK* status, void* information, ULONG size,
                                            int kind)
{
    if (Fails("NtSetInformationFile", PathOf(file)))
        return StatusAccessDenied;
    RunRace("NtSetInformationFile", PathOf(file));
    return RealNtSetInformationFile(file, status, information, size, kind);
}

static decltype(&GetProcAddress) RealGetProcAddress;

static FARPROC WINAPI HookGetProcAddress(HMODULE module, LPCSTR name)
{
    if (!HIWORD((ULONG_PTR)name))
        return RealGetProcAddress(module, name);
    if (Fails("GetProcAddress", name))
        return NULL;
    FARPROC real = RealGetProcAddress(module, name);
    if (!real)
        return NULL;
    if (strcmp(name, "GetKernelObjectSecurity") == 0)
        return Wrapped(real, WrapGetKernelObjectSecurity, &RealGetKernelObjectSecurity);
    if (strcmp(name, "OpenProcessToken") == 0)
        return Wrapped(real, WrapOpenProcessToken, &RealOpenProcessToken);
    if (strcmp(name, "CheckTokenMembership") == 0)
        return Wrapped(real, WrapCheckTokenMembership, &RealCheckTokenMembership);
    if (strcmp(name, "GetTokenInformation") == 0)
        return Wrapped(real, WrapGetTokenInformation, &RealGetTokenInformation);
    if (strcmp(name, "SetKernelObjectSecurity") == 0)
        return Wrapped(real, WrapSetKernelObjectSecurity, &RealSetKernelObjectSecurity);
    if (strcmp(name, "ProcessIdToSessionId") == 0)
        return Wrapped(real, WrapProcessIdToSessionId, &RealProcessIdToSessionId);
    if (strcmp(name, "NtQueryInformationFile") == 0)
        return Wrapped(real, WrapNtQueryInformationFile, &RealNtQueryInformationFile);
    if (strcmp(name, "NtQueryObject") == 0)
        return Wrapped(real, WrapNtQueryObject, &RealNtQueryObject);
    if (strcmp(name, "NtSetInformationFile") == 0)
        return Wrapped(real, WrapNtSetInformationFile, &RealNtSetInformationFile);
    return real;
}

static decltype(&GetVolumeInformationA) RealGetVolumeInformationA;
static bool VolumeChosen;
static char ChosenFileSystem[32];
static DWORD ChosenVolumeFlags;

void ReportVolume(const char* fileSystem, DWORD flags)
{
    VolumeChosen = true;
    lstrcpynA(ChosenFileSystem, fileSystem, sizeof ChosenFileSystem);
    ChosenVolumeFlags = flags;
}

void UseRealVolume()
{
    VolumeChosen = false;
}

static BOOL WINAPI HookGetVolumeInformationA(LPCSTR root, LPSTR name, DWORD nameSize, LPDWORD serial,
                                             LPDWORD maxLength, LPDWORD flags, LPSTR fileSystem,
                                             DWORD fileSystemSize)
{
    if (Fails("GetVolumeInformationA", root))
        return FALSE;
    if (!VolumeChosen)
        return RealGetVolumeInformationA(root, name, nameSize, serial, maxLength, flags, fileSystem,
                                         fileSystemSize);
    if (name && nameSize)
        name[0] = '\0';
    if (serial)
        *serial = 0x12345678;
    if (maxLength)
        *maxLength = 255;
    if (flags)
        *flags = ChosenVolumeFlags;
    if (fileSystem && fileSystemSize)
        lstrcpynA(fileSystem, ChosenFileSystem, fileSystemSize);
    return TRUE;
}

static void InstallSecurityHooks(HMODULE module)
{
    Hook(module, "GetProcAddress", HookGetProcAddress, &RealGetProcAddress);
    Hook(module, "GetVolumeInformationA", HookGetVolumeInformationA, &RealGetVolumeInformationA);
}

static bool OwnedByAnonymousLogon(const char* path)
{
    DWORD descriptor[512], needed;
    PSID owner = NULL;
    BOOL defaulted;
    char* text = NULL;
    bool anonymous = false;
    if (GetFileSecurityA(path, OWNER_SECURITY_INFORMATION, descriptor, sizeof descriptor, &needed) &&
        GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner && ConvertSidToStringSidA(owner, &text)) {
        anonymous = strcmp(text, "S-1-5-7") == 0;
        LocalFree(text);
    }
    return anonymous;
}

bool GiveToAnotherUser(const char* path)
{
    const char* name = UnixName(path);
    if (!name)
        return false;
    char command[4 * MAX_PATH];
    snprintf(command, sizeof command, "Z:\\bin\\chown -R 12345:12345 \"%s\"", name);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return false;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    // The Unix program's end is not always seen at once: wait for its effect.
    for (int i = 0; i < 300 && !OwnedByAnonymousLogon(path); ++i)
        Sleep(10);
    return OwnedByAnonymousLogon(path);
}
