#include "../guard/hold.h"
#include "../guard/install_folder.h"
#include "../interface/exports.h"
#include "../interface/state.h"
#include "../interface/trace.h"
#include "reporter.h"

#include <stdarg.h>
#include <strsafe.h>
#include <string.h>

// The legacy program information file: only its first 900 bytes are read, and
// of those only the start-up directory field, a zero-terminated path.
enum {
    PifImportSize = 900,
    PifStartupDirOffset = 101,
    PifStartupDirSize = 64,
};

// "C:\" in front of the old code.
static const size_t PifCodeOffset = 3;

// Puts InstallDir followed by fileName ("\RC.DAT") into WorkPath.
static void BuildInstallPath(LPCSTR fileName)
{
    StringCchCopyA(WorkPath, ARRAYSIZE(WorkPath), InstallDir);
    StringCchCatA(WorkPath, ARRAYSIZE(WorkPath), fileName);
}

// One line for the setup program's log that tells how the call ended, for
// BeforeInstallWithCode: two of its texts for status 0 are fixed, so that a
// setup program can tell them apart (NoCodeOutcome, CancelledOutcome).
static char Outcome[TraceLineSize];
static const char NoCodeOutcome[] = "no reporter code";
static const char CancelledOutcome[] = "cancelled at the reporter code dialog";

static void SetOutcome(LPCSTR format, ...) __attribute__((format(printf, 1, 2)));
static void SetOutcome(LPCSTR format, ...)
{
    va_list args;
    va_start(args, format);
    StringCchVPrintfA(Outcome, ARRAYSIZE(Outcome), format, args);
    va_end(args);
    LineFeedsToBlanks(Outcome);
}

// A message box of this sequence; its title and text are also the outcome.
static void ShowStopMessage(LPCSTR text, LPCSTR title, UINT style, HWND owner)
{
    SetOutcome("%s: %s", title, text);
    ShowMessage(owner, text, title, style);
}

// RC.DAT as written: the code's characters, zero bytes up to the 24th byte.
// A longer code keeps its first 24 characters; one of exactly 24 has no
// terminating zero. path is in folder (".": the current directory): the
// folder is held while the file is checked and written through the one
// handle that was checked.
static void WriteCodeFile(LPCSTR folder, LPCSTR path)
{
    char record[CodeRecordSize] = {};
    size_t length = strnlen(ReporterCode, sizeof ReporterCode);
    memcpy(record, ReporterCode, length < sizeof record ? length : sizeof record);

    HeldFolder heldFolder;
    bool created;
    if (!HoldFolder(folder, &heldFolder))
        return;
    // Written through the handle that was checked: emptied, then written.
    if (HoldFile(heldFolder, path, ForWriting, true, &CodeFileHandle, &created)) {
        if (!EmptyHeld(CodeFileHandle)) {
            Trace("%s not created (error %lu)", path, GetLastError());
            ReleaseUnwritten(CodeFileHandle, path, created);
        } else {
            if (WriteFile(CodeFileHandle, record, sizeof record, &BytesWritten, NULL))
                Trace("%s written: %lu bytes", path, BytesWritten);
            else
                Trace("%s not written (error %lu)", path, GetLastError());
            ReleaseHold(CodeFileHandle);
        }
        CodeFileHandle = INVALID_HANDLE_VALUE;
    }
    ReleaseHold(heldFolder.handle);
}

// CodeFileHandle is process-wide: a closed handle's value is not kept in it.
static void CloseCodeFile()
{
    CloseHandle(CodeFileHandle);
    CodeFileHandle = INVALID_HANDLE_VALUE;
}

static void ShowMissingFileMessage()
{
    ShowStopMessage("A required file is missing.", "Velloran - Missing File", MB_OK, OwnerWindow);
}

// Imports the old code from TRAN.PIF and stores it in RC.DAT. A file of
// fewer than 900 bytes gives nothing, and RC.DAT is written from the code
// already held: a stored code read earlier in this load of the library.
// When that leaves no code, or the start-up directory has fewer than 4
// characters, the file counts as missing: an empty code is never written
// over RC.DAT.
static int ImportLegacyCode()
{
    BuildInstallPath("\\TRAN.PIF");
    CodeFileHandle = OpenForReading(WorkPath);
    if (CodeFileHandle == INVALID_HANDLE_VALUE) {
        Trace("required file missing: %s cannot be opened (error %lu)", WorkPath, GetLastError());
        ShowMissingFileMessage();
        return 0;
    }
    char pif[PifImportSize];
    BytesRead = 0;
    ReadFile(CodeFileHandle, pif, sizeof pif, &BytesRead, NULL);
    CloseCodeFile();

    if (BytesRead == PifImportSize) {
        char startupDir[PifStartupDirSize + 1] = {};
        memcpy(startupDir, pif + PifStartupDirOffset, PifStartupDirSize);
        if ((size_t)lstrlenA(startupDir) <= PifCodeOffset) {
            Trace("required file missing: %s gives no code (start-up directory \"%s\")", WorkPath, startupDir);
            ShowMissingFileMessage();
            return 0;
        }
        StringCchCopyA(ReporterDir, ARRAYSIZE(ReporterDir), startupDir);
        StringCchCopyA(ReporterCode, ARRAYSIZE(ReporterCode), startupDir + PifCodeOffset);
        AsciiUpperCase(ReporterCode);
        Trace("code imported from %s: \"%s\"", WorkPath, ReporterCode);
        SetOutcome("reporter code %s imported from %s", ReporterCode, WorkPath);
    } else if (ReporterCode[0]) {
        Trace("%s gives no code (%lu of %d bytes read): the code held from earlier in this load is stored: \"%s\"",
              WorkPath, BytesRead, PifImportSize, ReporterCode);
        SetOutcome("reporter code %s stored again: %s gives none", ReporterCode, WorkPath);
    } else {
        Trace("required file missing: %s gives no code (%lu of %d bytes read) and no code is held", WorkPath,
              BytesRead, PifImportSize);
        ShowMissingFileMessage();
        return 0;
    }

    BuildInstallPath("\\RC.DAT");
    WriteCodeFile(InstallDir, WorkPath);
    return 1;
}

// An existing directory is fine; any other failure is only told.
static void MakeDirectory(LPCSTR path)
{
    if (CreateDirectoryA(path, NULL))
        Trace("%s created", path);
    else if (GetLastError() != ERROR_ALREADY_EXISTS)
        Trace("%s not created (error %lu)", path, GetLastError());
}

// A new code from the dialog: its directory and the install folder are made
// (an existing one is fine), and RC.DAT is written in the current directory,
// which is the install folder whenever it could be entered.
static int StoreNewCode()
{
    StringCchCopyA(ReporterDir, ARRAYSIZE(ReporterDir), "C:\\");
    StringCchCatA(ReporterDir, ARRAYSIZE(ReporterDir), ReporterCode);
    MakeDirectory(ReporterDir);
    MakeInstallFolder(InstallDir);
    if (!SetCurrentDirectoryA(InstallDir))
        Trace("%s cannot be entered (error %lu): RC.DAT goes into the current directory", InstallDir,
              GetLastError());
    WriteCodeFile(".", "RC.DAT");
    return 2;
}

// A new code from the setup program's command line: upper-cased and held
// against the same name rules as a typed one. A refusal shows no box: the
// rule's text goes to the trace and the outcome. A code too long for the
// buffer is cut, which leaves it too long for the rules all the same.
static bool AcceptGivenCode(LPCSTR code)
{
    StringCchCopyA(ReporterCode, ARRAYSIZE(ReporterCode), code);
    AsciiUpperCase(ReporterCode);
    char text[TextBufferSize];
    LPCSTR title = BrokenNameRule(ReporterCode, text, ARRAYSIZE(text));
    if (title) {
        LineFeedsToBlanks(text);
        Trace("code given: \"%s\" refused: %s: %s", ReporterCode, title, text);
        SetOutcome("reporter code %s refused: %s", ReporterCode, text);
        return false;
    }
    Trace("code given: \"%s\"", ReporterCode);
    return true;
}

// Asks for a new code: the given one, else the dialog where someone can
// answer it. False, with the outcome set, when there is no code.
static bool ObtainNewCode(LPCSTR givenCode)
{
    if (givenCode && givenCode[0])
        return AcceptGivenCode(givenCode);
    LPCSTR why = WhyNoWindows();
    if (why) {
        Trace("no reporter code: none was given and the dialog is not shown (%s): pass one to "
              "BeforeInstallWithCode",
              why);
        SetOutcome("%s", NoCodeOutcome);
        return false;
    }
    INT_PTR answer = ShowDialog("ReptrCode", ReporterCodeDlgProc, 0);
    if (answer == 1) {
        Trace("code typed: \"%s\"", ReporterCode);
        return true;
    }
    if (answer == -1) {
        Trace("the reporter code dialog could not be shown (error %lu)", GetLastError());
        SetOutcome("the reporter code dialog could not be shown (error %lu)", GetLastError());
    } else {
        Trace("the reporter code dialog was cancelled");
        SetOutcome("%s", CancelledOutcome);
    }
    return false;
}

// Status 0: stop the installation; 1: the stored (or imported) code is used;
// 2: a new code was entered and stored. givenCode: a code from the setup
// program's command line, or NULL.
static int RunBeforeInstall(HWND window, LPCSTR givenCode)
{
    Outcome[0] = '\0';
    OwnerWindow = window;
    CheckWindowsVersion();
    Trace("Windows %lu.%lu, platform %lu: %s", WindowsVersion.dwMajorVersion, WindowsVersion.dwMinorVersion,
          WindowsVersion.dwPlatformId, UnsupportedWindows == 1 ? "refused (above 6.2)" : "supported");
    if (UnsupportedWindows == 1) {
        ShowStopMessage("Your version of the Velloran\nsoftware does not work with\nthis version of Windows.",
                        "Velloran - Windows Version", MB_OK | MB_ICONERROR, window);
        return 0;
    }

    // A current directory too long for the buffer is recorded as empty.
    DWORD length = GetCurrentDirectoryA(sizeof ReporterDir, ReporterDir);
    if (length == 0 || length >= sizeof ReporterDir)
        ReporterDir[0] = '\0';

    // Once a call has asked for a new code, every later call in this process
    // asks again.
    if (NeedNewCode == 1)
        Trace("a new code was asked for earlier in this process: asking again");
    if (!SetCurrentDirectoryA(InstallDir)) {
        Trace("%s cannot be entered (error %lu): a new code is needed", InstallDir, GetLastError());
        NeedNewCode = 1;
    } else {
        BuildInstallPath("\\RC.DAT");
        CodeFileHandle = OpenForReading(WorkPath);
        if (CodeFileHandle == INVALID_HANDLE_VALUE) {
            Trace("%s cannot be opened (error %lu): a new code is needed", WorkPath, GetLastError());
            NeedNewCode = 1;
        } else {
            CloseCodeFile();
        }
    }

    if (NeedNewCode == 1) {
        if (!ObtainNewCode(givenCode))
            return 0;
        int status = StoreNewCode();
        SetOutcome(givenCode && givenCode[0] ? "reporter code %s stored" : "reporter code %s typed and stored",
                   ReporterCode);
        return status;
    }

    BuildInstallPath("\\RC.DAT");
    CodeFileHandle = OpenForReading(WorkPath);
    if (CodeFileHandle == INVALID_HANDLE_VALUE) {
        Trace("%s found but cannot be opened again (error %lu): importing the code from TRAN.PIF", WorkPath,
              GetLastError());
        return ImportLegacyCode();
    }
    // The path form (':' in the second byte) has its code from the fourth byte.
    ReadCodeFile(CodeFileHandle);
    bool pathForm = ReporterDir[1] == ':';
    StringCchCopyA(ReporterCode, ARRAYSIZE(ReporterCode), pathForm ? ReporterDir + 3 : ReporterDir);
    CloseCodeFile();
    Trace("stored code read from %s (%lu bytes, %s form): \"%s\"", WorkPath, BytesRead, pathForm ? "path" : "short",
          ReporterCode);
    // The reporter's data folder is named after the stored code: it stays.
    if (givenCode && givenCode[0]) {
        SetOutcome("stored reporter code %s kept: the given code %s was not used", ReporterCode, givenCode);
    } else {
        SetOutcome("stored reporter code %s kept", ReporterCode);
    }
    return 1;
}

VINSTALL_EXPORT BeforeInstall(HWND window, LPARAM, LPARAM, LPARAM, LPARAM)
{
    TraceCall("BeforeInstall", window);
    return TraceReturn("BeforeInstall", RunBeforeInstall(window, NULL));
}

VINSTALL_EXPORT BeforeInstallWithCode(HWND window, LPCSTR code, DWORD options, LPSTR message, DWORD messageSize)
{
    TraceCall("BeforeInstallWithCode", window);
    Trace("BeforeInstallWithCode: %s code, options %lu", code && code[0] ? "a" : "no", (unsigned long)options);
    SetupIsSilent = (options & VINSTALL_SILENT) ? 1 : 0;
    int status = RunBeforeInstall(window, code);
    SetupIsSilent = 0;
    // The log line is said in the trace too, where it says what no other
    // line does (a given code that was not used).
    Trace("log line: %s", Outcome);
    if (message && messageSize > 0)
        StringCchCopyA(message, messageSize, Outcome);
    return TraceReturn("BeforeInstallWithCode", status);
}
