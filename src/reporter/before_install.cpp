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
// BeforeInstallWithCode: three of its texts for status 0 are fixed, so that
// a setup program can tell them apart (NoCodeOutcome, CancelledOutcome, and
// OtherCodeOutcome at the start of its line).
static char Outcome[TraceLineSize];
static const char NoCodeOutcome[] = "no reporter code";
static const char CancelledOutcome[] = "cancelled at the reporter code dialog";
static const char OtherCodeOutcome[] = "another reporter code is stored";

// The line is one line, whatever RC.DAT held: a message's line breaks become
// blanks, every other control character '?', as in the trace, so that no log
// shows a line nobody wrote.
static void SetOutcome(LPCSTR format, ...) __attribute__((format(printf, 1, 2)));
static void SetOutcome(LPCSTR format, ...)
{
    va_list args;
    va_start(args, format);
    StringCchVPrintfA(Outcome, ARRAYSIZE(Outcome), format, args);
    va_end(args);
    LineFeedsToBlanks(Outcome);
    ControlsToQuestionMarks(Outcome);
}

// A new code whose RC.DAT was not written: BeforeInstall keeps its status,
// BeforeInstallWithCode stops the setup program (status 0), which would
// otherwise copy the product for a code that no later step finds.
static bool CodeNotStored;

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
// handle that was checked. False, with why (size bytes) saying what failed,
// when the record was not written whole.
static bool WriteCodeFile(LPCSTR folder, LPCSTR path, char* why, size_t size)
{
    char record[CodeRecordSize] = {};
    // ReporterCode always ends within its buffer.
    size_t length = (size_t)lstrlenA(ReporterCode);
    memcpy(record, ReporterCode, length < sizeof record ? length : sizeof record);

    HeldFolder heldFolder;
    bool created;
    bool written = false;
    if (!HoldFolder(folder, &heldFolder)) {
        StringCchCopyA(why, size, GuardReason);
        return false;
    }
    // Written through the handle that was checked: emptied, then written.
    if (!HoldFile(heldFolder, path, ForWriting, true, &CodeFileHandle, &created)) {
        StringCchCopyA(why, size, GuardReason);
    } else if (!EmptyHeld(CodeFileHandle)) {
        StringCchPrintfA(why, size, "%s cannot be emptied (error %lu)", path, GetLastError());
        Trace("%s not created (error %lu)", path, GetLastError());
        ReleaseUnwritten(CodeFileHandle, path, created);
    } else {
        BytesWritten = 0;
        if (!WriteFile(CodeFileHandle, record, sizeof record, &BytesWritten, NULL))
            StringCchPrintfA(why, size, "%s not written (error %lu)", path, GetLastError());
        else if (BytesWritten != sizeof record)
            StringCchPrintfA(why, size, "%s not written whole: %lu of %d bytes", path, BytesWritten,
                             (int)sizeof record);
        else
            written = true;
        if (written)
            Trace("%s written: %lu bytes", path, BytesWritten);
        else
            Trace("%s", why);
        ReleaseHold(CodeFileHandle);
    }
    CodeFileHandle = INVALID_HANDLE_VALUE;
    ReleaseHold(heldFolder.handle);
    return written;
}

// Writes ReporterCode into RC.DAT at path in folder. When it was not
// written, the trace and the outcome say "not stored" with why, and
// BeforeInstallWithCode stops the setup program.
static bool StoreCodeFile(LPCSTR folder, LPCSTR path)
{
    char why[TraceLineSize] = "";
    if (WriteCodeFile(folder, path, why, ARRAYSIZE(why)))
        return true;
    CodeNotStored = true;
    Trace("reporter code %s not stored: %s", ReporterCode, why);
    SetOutcome("reporter code %s not stored: %s", ReporterCode, why);
    return false;
}

// CodeFileHandle is process-wide: a closed handle's value is not kept in it.
static void CloseCodeFile()
{
    ReleaseHold(CodeFileHandle);
    CodeFileHandle = INVALID_HANDLE_VALUE;
}

// Opens fileName of the install folder ("\RC.DAT") to be read, into
// CodeFileHandle: checked on its handle as a written file is (no reparse
// point, one name, lying in the folder), so that a link put at its name is
// never read. A file refused counts as one that cannot be opened.
static bool OpenCodeFile(LPCSTR fileName)
{
    BuildInstallPath(fileName);
    CodeFileHandle = OpenToRead(InstallDir, WorkPath);
    return CodeFileHandle != INVALID_HANDLE_VALUE;
}

static void ShowMissingFileMessage()
{
    ShowStopMessage("A required file is missing.", "Velloran - Missing File", MB_OK, OwnerWindow);
}

// How the code held in ReporterCode came from TRAN.PIF.
enum LegacyCode {
    LegacyMissing,   // no code: the missing-file message was shown
    LegacyImported,  // read from its start-up directory
    LegacyHeld,      // too short a file: the code held earlier in this load
};

// Imports the old code from TRAN.PIF into ReporterCode. A file of fewer than
// 900 bytes gives nothing, and the code already held is used: a stored code
// read earlier in this load of the library. When that leaves no code, or
// the start-up directory has fewer than 4 characters, the file counts as
// missing: an empty code is never written over RC.DAT.
static LegacyCode ImportLegacyCode()
{
    if (!OpenCodeFile("\\TRAN.PIF")) {
        Trace("required file missing: %s cannot be opened (error %lu)", WorkPath, GetLastError());
        ShowMissingFileMessage();
        return LegacyMissing;
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
            return LegacyMissing;
        }
        StringCchCopyA(ReporterDir, ARRAYSIZE(ReporterDir), startupDir);
        StringCchCopyA(ReporterCode, ARRAYSIZE(ReporterCode), startupDir + PifCodeOffset);
        AsciiUpperCase(ReporterCode);
        Trace("code imported from %s: \"%s\"", WorkPath, ReporterCode);
        return LegacyImported;
    }
    if (ReporterCode[0]) {
        Trace("%s gives no code (%lu of %d bytes read): the code held from earlier in this load is stored: \"%s\"",
              WorkPath, BytesRead, PifImportSize, ReporterCode);
        return LegacyHeld;
    }
    Trace("required file missing: %s gives no code (%lu of %d bytes read) and no code is held", WorkPath, BytesRead,
          PifImportSize);
    ShowMissingFileMessage();
    return LegacyMissing;
}

// Stores the imported code in RC.DAT, at its full path in the install
// folder; a check only says what it would store.
static int StoreLegacyCode(LegacyCode how, DWORD options)
{
    char source[MAX_PATH];
    BuildInstallPath("\\TRAN.PIF");
    StringCchCopyA(source, ARRAYSIZE(source), WorkPath);
    if (options & VINSTALL_CHECK_ONLY) {
        Trace("reporter code %s to be stored again from %s: nothing written in a check", ReporterCode, source);
        SetOutcome("%s", ReporterCode);
        return 1;
    }
    BuildInstallPath("\\RC.DAT");
    if (!StoreCodeFile(InstallDir, WorkPath))
        return 1;
    if (how == LegacyImported)
        SetOutcome("reporter code %s imported from %s", ReporterCode, source);
    else
        SetOutcome("reporter code %s stored again: %s gives none", ReporterCode, source);
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

// A new code: its directory and the install folder are made (an existing
// one is fine), and RC.DAT is written in the current directory, which is
// the install folder whenever it could be entered. The outcome is done
// (format: one %s, the code) or, when RC.DAT was not written, says so. A
// check makes and writes nothing: its outcome is the code. previous, when
// not NULL, is the stored code that the new one replaces.
static int StoreNewCode(LPCSTR done, LPCSTR previous, DWORD options)
{
    if (options & VINSTALL_CHECK_ONLY) {
        Trace("reporter code %s to be stored: nothing made or written in a check", ReporterCode);
        SetOutcome("%s", ReporterCode);
        return 2;
    }
    StringCchCopyA(ReporterDir, ARRAYSIZE(ReporterDir), "C:\\");
    StringCchCatA(ReporterDir, ARRAYSIZE(ReporterDir), ReporterCode);
    MakeDirectory(ReporterDir);
    MakeInstallFolder(InstallDir);
    if (!SetCurrentDirectoryA(InstallDir))
        Trace("%s cannot be entered (error %lu): RC.DAT goes into the current directory", InstallDir,
              GetLastError());
    if (!StoreCodeFile(".", "RC.DAT"))
        return 2;
    if (previous)
        SetOutcome("reporter code %s stored in place of %s", ReporterCode, previous);
    else
        SetOutcome(done, ReporterCode);
    return 2;
}

// A new code from the setup program's command line: upper-cased and held
// against the same name rules as a typed one, and, unless it was typed into
// the dialog of an earlier call, against the rules of a folder of its own.
// A refusal shows no box: the rule's text goes to the trace and the outcome.
// A code too long for the buffer is cut, which leaves it too long for the
// rules all the same; the name rules bound what a refusal's line shows.
static bool AcceptGivenCode(LPCSTR code, DWORD options)
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
    // RC.DAT holds 24 bytes, and the name rules let a base of 24 and a type
    // through: a longer code would make its folder under a name RC.DAT
    // cannot give back. Refused from every command line, typed or not.
    LPCSTR folderRule = lstrlenA(ReporterCode) > CodeRecordSize
                            ? "it is longer than 24 characters, all that RC.DAT holds"
                        : options & VINSTALL_TYPED_CODE ? NULL
                                                        : BrokenFolderRule(ReporterCode);
    if (folderRule) {
        Trace("code given: \"%s\" refused: %s", ReporterCode, folderRule);
        SetOutcome("reporter code %s refused: %s", ReporterCode, folderRule);
        return false;
    }
    Trace("code given: \"%s\"%s", ReporterCode, options & VINSTALL_TYPED_CODE ? " (typed into the dialog before)" : "");
    return true;
}

// Asks for a new code: the given one, else the dialog where someone can
// answer it. False, with the outcome set, when there is no code.
static bool ObtainNewCode(LPCSTR givenCode, DWORD options)
{
    if (givenCode && givenCode[0])
        return AcceptGivenCode(givenCode, options);
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

// Whether the stored code (trailing blanks aside: AfterInstall drops them
// from the folder's name) is the given one; ASCII letters in either case,
// as Windows names the folder.
static bool SameCode(LPCSTR stored, LPCSTR given)
{
    int length = lstrlenA(stored);
    while (length > 0 && stored[length - 1] == ' ')
        --length;
    if (length != lstrlenA(given))
        return false;
    for (int i = 0; i < length; ++i) {
        char a = stored[i] >= 'a' && stored[i] <= 'z' ? (char)(stored[i] - 'a' + 'A') : stored[i];
        char b = given[i] >= 'a' && given[i] <= 'z' ? (char)(given[i] - 'a' + 'A') : given[i];
        if (a != b)
            return false;
    }
    return true;
}

// Status 0: stop the installation; 1: the stored (or imported) code is used;
// 2: a new code was entered and stored. givenCode: a code from the setup
// program's command line, or NULL; options: BeforeInstallWithCode's.
static int RunBeforeInstall(HWND window, LPCSTR givenCode, DWORD options)
{
    Outcome[0] = '\0';
    CodeNotStored = false;
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
    } else if (!OpenCodeFile("\\RC.DAT")) {
        Trace("%s cannot be opened (error %lu): a new code is needed", WorkPath, GetLastError());
        NeedNewCode = 1;
    } else {
        CloseCodeFile();
    }

    bool given = givenCode && givenCode[0];
    if (NeedNewCode == 1) {
        if (!ObtainNewCode(givenCode, options))
            return 0;
        return StoreNewCode(given ? "reporter code %s stored" : "reporter code %s typed and stored", NULL, options);
    }

    LegacyCode legacy = LegacyMissing;
    if (OpenCodeFile("\\RC.DAT")) {
        // The path form (':' in the second byte) has its code from the fourth byte.
        ReadCodeFile(CodeFileHandle);
        bool pathForm = ReporterDir[1] == ':';
        StringCchCopyA(ReporterCode, ARRAYSIZE(ReporterCode), pathForm ? ReporterDir + 3 : ReporterDir);
        CloseCodeFile();
        Trace("stored code read from %s (%lu bytes, %s form): \"%s\"", WorkPath, BytesRead,
              pathForm ? "path" : "short", ReporterCode);
    } else {
        Trace("%s found but cannot be opened again (error %lu): importing the code from TRAN.PIF", WorkPath,
              GetLastError());
        legacy = ImportLegacyCode();
        if (legacy == LegacyMissing)
            return 0;
    }

    // The machine has a code; a given one that differs replaces it, stops
    // the setup program, or is passed over, as the options say.
    if (given && !SameCode(ReporterCode, givenCode)) {
        char stored[TextBufferSize];
        StringCchCopyA(stored, ARRAYSIZE(stored), ReporterCode);
        ControlsToQuestionMarks(stored);
        if (options & VINSTALL_REPLACE_CODE) {
            if (!AcceptGivenCode(givenCode, options))
                return 0;
            return StoreNewCode(NULL, stored, options);
        }
        if (options & VINSTALL_SAME_CODE) {
            SetOutcome("%s: %s is kept and the given code %s was not used", OtherCodeOutcome, stored, givenCode);
            return 0;
        }
    }
    if (legacy != LegacyMissing)
        return StoreLegacyCode(legacy, options);
    // The reporter's data folder is named after the stored code: it stays.
    if (options & VINSTALL_CHECK_ONLY)
        SetOutcome("%s", ReporterCode);
    else if (given && !SameCode(ReporterCode, givenCode))
        SetOutcome("stored reporter code %s kept: the given code %s was not used", ReporterCode, givenCode);
    else
        SetOutcome("stored reporter code %s kept", ReporterCode);
    return 1;
}

VINSTALL_EXPORT BeforeInstall(HWND window, LPARAM, LPARAM, LPARAM, LPARAM)
{
    TraceCall("BeforeInstall", window);
    return TraceReturn("BeforeInstall", RunBeforeInstall(window, NULL, 0));
}

VINSTALL_EXPORT BeforeInstallWithCode(HWND window, LPCSTR code, DWORD options, LPSTR message, DWORD messageSize)
{
    TraceCall("BeforeInstallWithCode", window);
    Trace("BeforeInstallWithCode: %s code, options %lu", code && code[0] ? "a" : "no", (unsigned long)options);
    SetupIsSilent = (options & VINSTALL_SILENT) ? 1 : 0;
    int status = RunBeforeInstall(window, code, options);
    SetupIsSilent = 0;
    // The setup program would copy the product for a code no later step
    // finds: it stops.
    if (CodeNotStored)
        status = 0;
    // The log line is said in the trace too, where it says what no other
    // line does (a given code that was not used).
    return TraceReturnWithLine("BeforeInstallWithCode", status, Outcome, message, messageSize);
}
