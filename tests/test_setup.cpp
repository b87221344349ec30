// The reference setup program, run under Wine as its user runs it: started
// as a program of its own, its reporter code dialog answered from outside,
// its message boxes answered with OK; and as a deployment agent runs it,
// silently, on a desktop that nobody sees (tools/unseen.h), with the code on
// its command line. What is checked is what the run leaves behind: the
// statuses in the setup program's log, its exit code, the windows it showed,
// RC.DAT, the product's files, the shortcuts read back, the release records,
// what the PDF converter's installer was started with, the library's trace,
// the registration in Programs and Features and what its uninstaller leaves,
// the restart's list of files to delete included.
//
// What Wine 8 lets a run show. Wine names its user (S-1-5-21-0-0-0-1000) as
// the owner of every file, keeps no owner that a program sets, and answers
// TokenElevationTypeFull, under which the library does not count the
// installing user's own SID as an administrator. So here:
//   - a C:\TELDAX that exists before the run is refused by
//     ProtectInstallFolder: every run over an earlier installation ends with
//     exit code 2 and the library's owner line, having changed nothing;
//   - InstallPDF never starts C:\TELDAX\install.exe, as no entry there is
//     one that only administrators may change;
//   - only a machine without C:\TELDAX installs; the one exception is a
//     setup program told that it runs on Windows 98, where the library
//     protects nothing, which is how a code given over a stored one is
//     reached here (test_stored_code_on_9x).
// The acceptance of a folder that administrators own (test_install_folder),
// an update over an earlier installation on the NT family (test_reporter,
// test_shortcuts) and the start of the PDF converter's installer
// (test_releases) belong to the library's own tests, which load it in their
// process and play, through its imports, the owners and tokens that Windows
// would show.
//
//   test_setup.exe <VINSTALLDLL.dll> <folder of VelloranSetup.exe>
#include "harness.h"

#include "installation_checks.h"
#include "release_settings.h"

#include <stdio.h>
#include <string.h>

// A run takes about half a second; a run still going after this has hung.
static const DWORD TimeLimitMs = 20000;
static const char LogPath[] = "C:\\setup.log";
// The uninstaller's key under Uninstall.
static const char UninstallKey[] = "Velloran";
// The setup program's exit codes.
static const DWORD Cancelled = 1, Failed = 2, Busy = 1618;
static const char VersionRefusal[] =
    "Your version of the Velloran\nsoftware does not work with\nthis version of Windows.";

// ProtectInstallFolder's lines for the log, as the library words them.
// A C:\TELDAX that it made now (status 2):
#define MADE_NOW "ProtectInstallFolder 2\r\nC:\\TELDAX made, writable by administrators only\r\n"
// Its refusal of an existing C:\TELDAX whose owner (a SID) is not an
// administrator (status 0): the reason, then what to do.
#define OWNER_REASON "C:\\TELDAX: %s may change it as its owner (rights 0x00060000)"
#define ADVICE                                                                                                     \
    "an administrator should look at what the folder holds, then delete it or make Administrators its owner, and " \
    "run the installation again"
// The user Wine runs programs as, the owner of every file it shows.
static const char WineUser[] = "S-1-5-21-0-0-0-1000";

// The log and the box's text of a refusal of C:\TELDAX owned by owner.
static void OwnerRefusal(const char* owner, char* log, int logSize, char* box, int boxSize)
{
    char reason[256];
    snprintf(reason, sizeof reason, OWNER_REASON, owner);
    snprintf(log, logSize, "ProtectInstallFolder 0\r\n%s: nothing installed; " ADVICE "\r\nstopped\r\n", reason);
    snprintf(box, boxSize, "Setup cannot make the folder C:\\TELDAX safe:\n%s.\n\nSetup has stopped: " ADVICE ".",
             reason);
}

static char SetupFolder[MAX_PATH];

// The uninstaller's log, in the temporary folder.
static void UninstallLogPath(char* path, int size)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    snprintf(path, size, "%sVelloranUninstall.log", temp);
}

// Runs the quiet command registered in Programs and Features, as a
// deployment tool runs it, where nobody sees the screen; a run that did not
// start or end is reported at the caller's line.
#define RunQuietRemoval(run) RunQuietRemovalAt(__LINE__, run)
static void RunQuietRemovalAt(int line, UnseenRun* run)
{
    char quiet[MAX_PATH];
    ReadUninstallValue(UninstallKey, "QuietUninstallString", quiet, sizeof quiet);
    RunUnseenCheckedAt(__FILE__, line, quiet, UnseenLimitMs, true, run);
}

// Runs program (in the build's setup folder) with arguments and its log in
// LogPath; the log's text lands in log.
static void RunSetupProgram(const char* program, const char* arguments, DialogAnswer answer, const char* code,
                            SetupRun* run, char* log, int logSize)
{
    char line[3 * MAX_PATH];
    snprintf(line, sizeof line, "\"%s\\%s\" %s /LOG=%s", SetupFolder, program, arguments, LogPath);
    DeleteFileA(LogPath);
    bool started = RunSetup(line, answer, code, TimeLimitMs, run);
    ok(started, "cannot start %s: error %lu", line, GetLastError());
    ok(!run->timedOut, "%s still running after %lu ms", line, TimeLimitMs);
    ReadText(LogPath, log, logSize);
}

// Update.txt holds the notice format filled with the UTC date of the run,
// month-day-year; the date is taken before and after, in case midnight falls
// in between.
static void CheckNotice(int line, const char* format, const SYSTEMTIME& before, const SYSTEMTIME& after)
{
    char actual[256];
    int length = ReadText("c:\\teldax\\Update.txt", actual, sizeof actual);
    char expected[2][256];
    const SYSTEMTIME* dates[2] = {&before, &after};
    for (int i = 0; i < 2; ++i)
        snprintf(expected[i], sizeof expected[i], format, dates[i]->wMonth, dates[i]->wDay, dates[i]->wYear);
    OkAt(__FILE__, line, strcmp(actual, expected[0]) == 0 || strcmp(actual, expected[1]) == 0,
         "Update.txt is %s, expected %s", length < 0 ? "missing" : Show(actual, length),
         Show(expected[1], strlen(expected[1])));
}

// InstallPDF left C:\TELDAX\install.exe unstarted, and the library's trace
// says why, just before: under Wine no entry of C:\TELDAX is one that only
// administrators may change (see the top of this file), and the first it
// checks, the folder itself, is Wine's user's.
#define CheckConverterNotStarted(trace) CheckConverterNotStartedAt(__LINE__, trace)
static void CheckConverterNotStartedAt(int line, const CapturedTrace& trace)
{
    OkAt(__FILE__, line, !FileExists(ReceivedFile), "the PDF converter's installer was started");
    int notStarted = -1;
    for (int i = 0; i < trace.count && notStarted < 0; ++i) {
        if (strcmp(trace.lines[i], "VINSTALLDLL: c:\\teldax\\install.exe not started") == 0)
            notStarted = i;
    }
    OkAt(__FILE__, line, notStarted > 0, "the trace does not say that install.exe was not started (%d lines)",
         trace.count);
    if (notStarted <= 0)
        return;
    char reason[256];
    snprintf(reason, sizeof reason, "VINSTALLDLL: c:\\teldax: %s may change it as its owner (rights 0x00060000)",
             WineUser);
    OkAt(__FILE__, line, strcmp(trace.lines[notStarted - 1], reason) == 0, "the reason is \"%s\", expected \"%s\"",
         trace.lines[notStarted - 1], reason);
}

// A first installation on a machine without C:\TELDAX, with the setup
// program's window on screen: the library makes the folder, the code typed
// into the dialog is stored, the product copied, its shortcuts moved to the
// reporter's directory and a Master Load's records written.
static void test_first_installation()
{
    PrepareMachine();
    SYSTEMTIME before, after;
    GetSystemTime(&before);
    SetupRun run;
    char log[512];
    ok(StartTraceCapture(), "cannot catch the library's trace");
    RunSetupProgram("VelloranSetup.exe", "/PDF", AnswerWithCode, "john", &run, log, sizeof log);
    CapturedTrace trace;
    StopTraceCapture(&trace);
    GetSystemTime(&after);

    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    CheckLog(log, MADE_NOW "BeforeInstallWithCode 2\r\nreporter code JOHN typed and stored\r\n"
                           "AfterInstall 1\r\nMLDInfo 1\r\nInstallPDF 1\r\ncompleted\r\n");
    ok(run.dialogsShown == 1 && strcmp(run.dialogCaption, "Reporter Code") == 0,
       "%d dialogs shown, the last \"%s\"; expected one \"Reporter Code\"", run.dialogsShown, run.dialogCaption);
    ok(StartsWith(run.dialogOwner, "Velloran Setup"), "dialog owned by \"%s\", not the setup program's window",
       run.dialogOwner);
    ok(run.messageCount == 0, "%d message boxes shown, the first \"%s\"", run.messageCount, run.messages[0].title);
    CheckCodeFile("JOHN");
    ok(DirectoryExists("C:\\JOHN"), "C:\\JOHN not created");

    char product[MAX_PATH];
    PathIn(product, sizeof product, SetupFolder, "product");
    CheckProductFiles(product);

    // Shortcuts outside the skip list start in the reporter's directory and
    // lose their arguments and hotkey; WinNT.lnk and User's Manual.lnk stay
    // as the setup program made them.
    const ShortcutCase shortcuts[] = {
        {"C:\\TELDAX", "Velloran.lnk", "C:\\TELDAX\\vell.exe", "", "C:\\JOHN", "C:\\TELDAX\\velloran.ico", 0},
        {"C:\\TELDAX", "Velloran Dictionary.lnk", "C:\\TELDAX\\vell.exe", "", "C:\\JOHN",
         "C:\\TELDAX\\velloran.ico", 0},
        {"C:\\TELDAX", "WinNT.lnk", "C:\\windows\\system32\\cmd.exe", "", "C:\\TELDAX",
         "C:\\windows\\system32\\cmd.exe", 0},
        {"C:\\TELDAX", "User's Manual.lnk", "C:\\TELDAX\\vell.exe", "/manual", "C:\\TELDAX",
         "C:\\TELDAX\\velloran.ico", 0},
        {NULL, "Velloran.lnk", "C:\\TELDAX\\vell.exe", "", "C:\\JOHN", "c:\\teldax\\velloran.ico", 0},
    };
    CheckShortcuts(shortcuts, ARRAYSIZE(shortcuts));

    CheckNotice(__LINE__, VINSTALL_MASTER_LOAD_NOTICE, before, after);
    ExpectFile("c:\\teldax\\UpdName.txt", VINSTALL_DOWNLOAD_BASE VINSTALL_MASTER_LOAD_INSTALLER);
    ExpectFile("c:\\teldax\\UpdDetails.txt", VINSTALL_DOWNLOAD_BASE VINSTALL_MASTER_LOAD_DETAILS);
    CheckConverterNotStarted(trace);
}

// A silent first installation with no code on its command line asks nobody,
// even where someone could see the dialog: it ends at once with the failure
// code, says in its log what to pass, and installs nothing (the folder made
// for it goes again). With /CODE= it installs with that code, without a
// window.
static void test_silent_first_installation()
{
    PrepareMachine();
    SetupRun run;
    char log[512];
    RunSetupProgram("VelloranSetup.exe", "/S", AnswerWithCode, "john", &run, log, sizeof log);
    ok(run.exitCode == Failed, "exit code %lu, expected %lu", run.exitCode, Failed);
    CheckLog(log, MADE_NOW "BeforeInstallWithCode 0\r\nno reporter code: run with /CODE=<code>\r\nstopped\r\n");
    ok(run.dialogsShown == 0 && run.messageCount == 0, "%d dialogs and %d message boxes shown", run.dialogsShown,
       run.messageCount);
    CheckNothingInstalled();

    PrepareMachine();
    RunSetupProgram("VelloranSetup.exe", "/S /CODE=john", AnswerCancel, NULL, &run, log, sizeof log);
    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    ok(run.dialogsShown == 0 && run.messageCount == 0, "%d dialogs and %d message boxes shown", run.dialogsShown,
       run.messageCount);
    CheckLogHasLine(log, "reporter code JOHN stored");
    CheckCodeFile("JOHN");
}

// An Update release over an earlier installation, silent, and the same run
// on screen. Under Wine the existing C:\TELDAX is refused (see the top of
// this file): the run ends with the failure code and the library's owner
// line, before BeforeInstallWithCode, and leaves the earlier installation as
// it was: RC.DAT, the obsolete system file, the .PIF twin, the old desktop
// shortcut, no release records. The library shows its refusal in a box
// where a window may be shown; the setup program adds none of its own.
static void test_update_over_earlier_installation()
{
    static const char* const Arguments[] = {"/S", ""};
    for (const char* arguments : Arguments) {
        SetContext("VelloranUpdate.exe %s", arguments);
        const char* oldSystemFile = PrepareStoredCodeMachine();
        WriteBytes("C:\\TELDAX\\Velloran.PIF", "old", 3);
        char oldDesktop[MAX_PATH];
        PathIn(oldDesktop, sizeof oldDesktop, CommonDesktop, "Shortcut to Velloran.lnk");
        WriteBytes(oldDesktop, "old", 3);

        SetupRun run;
        char log[512];
        RunSetupProgram("VelloranUpdate.exe", arguments, AnswerCancel, NULL, &run, log, sizeof log);

        ok(run.exitCode == Failed, "exit code %lu, expected %lu", run.exitCode, Failed);
        char expected[512], box[512];
        OwnerRefusal(WineUser, expected, sizeof expected, box, sizeof box);
        CheckLog(log, expected);
        ok(run.dialogsShown == 0, "the reporter code dialog was shown");
        bool silent = arguments[0] != '\0';
        ok(run.messageCount == (silent ? 0 : 1), "%d message boxes shown, the first \"%s\"", run.messageCount,
           run.messages[0].title);
        if (!silent)
            CheckMessage(run, 0, "Velloran - Install Folder", box, "Velloran Setup");
        CheckCodeFile("MARY");
        ok(FileExists("C:\\TELDAX\\Velloran.PIF") && FileExists(oldSystemFile) && FileExists(oldDesktop),
           "the earlier installation was changed");
        ok(!FileExists("C:\\TELDAX\\Update.txt") && !FileExists("C:\\TELDAX\\vell.exe") &&
               !DirectoryExists("C:\\MARY"),
           "something was installed");
    }
    ClearContext();
}

// Status 0 stops the setup program before it copies anything: with the
// failure code, or the cancel code when the person cancelled the dialog.
struct StopCase {
    const char* windows;  // the version Wine reports to the setup program
    DialogAnswer answer;
    const char* message;  // the message box shown, or NULL
    const char* line;     // the library's line in the log
    DWORD exitCode;
    const char* folder;   // ProtectInstallFolder's lines in the log
};

static const char VersionRefusalLine[] =
    "Velloran - Windows Version: Your version of the Velloran software does not work with this version of Windows.";

static const StopCase StopCases[] = {
    // The setup program's manifest lists Windows 8.1 and 10, so the library
    // sees 6.3 and 10.0 and refuses them.
    // ProtectInstallFolder, called first, makes and changes nothing there.
    {"win81", AnswerWithCode, VersionRefusal, VersionRefusalLine, Failed,
     "ProtectInstallFolder 1\r\nWindows 6.3, which BeforeInstallWithCode refuses: C:\\TELDAX left as it is\r\n"},
    {"win10", AnswerWithCode, VersionRefusal, VersionRefusalLine, Failed,
     "ProtectInstallFolder 1\r\nWindows 10.0, which BeforeInstallWithCode refuses: C:\\TELDAX left as it is\r\n"},
    {"win7", AnswerCancel, NULL, "cancelled at the reporter code dialog", Cancelled, MADE_NOW},
};

static void ReportWindowsVersion(const char* version)
{
    ReportWindowsVersionTo("VelloranSetup.exe", version);
}

static void test_stops()
{
    for (const StopCase& c : StopCases) {
        SetContext("%s, %s", c.windows, c.answer == AnswerCancel ? "dialog cancelled" : "code typed");
        PrepareMachine();
        ReportWindowsVersion(c.windows);
        SetupRun run;
        char log[512];
        RunSetupProgram("VelloranSetup.exe", "/PDF", c.answer, "john", &run, log, sizeof log);
        ReportWindowsVersion(NULL);

        ok(run.exitCode == c.exitCode, "exit code %lu, expected %lu", run.exitCode, c.exitCode);
        char expected[512];
        snprintf(expected, sizeof expected, "%sBeforeInstallWithCode 0\r\n%s\r\nstopped\r\n", c.folder, c.line);
        CheckLog(log, expected);
        ok(run.dialogsShown == (c.message ? 0 : 1), "%d dialogs shown", run.dialogsShown);
        ok(run.messageCount == (c.message ? 1 : 0), "%d message boxes shown", run.messageCount);
        if (c.message)
            CheckMessage(run, 0, "Velloran - Windows Version", c.message, "Velloran Setup");
        // The folder made for the installation goes again.
        ok(!DirectoryExists("C:\\TELDAX") && !DirectoryExists("C:\\JOHN"), "something was installed");
    }
    ClearContext();
}

// An existing C:\TELDAX that another user owns stops the setup program
// before it writes anything: the library refuses it with its line and, where
// a window may be shown, its box; the setup program shows none of its own.
// Wine shows a folder of another Unix user as owned by Anonymous Logon
// (S-1-5-7).
static void test_foreign_install_folder()
{
    static const char* const Arguments[] = {"/PDF", "/S /PDF"};
    for (const char* arguments : Arguments) {
        SetContext("C:\\TELDAX of another user, %s", arguments);
        PrepareMachine();
        MakeDirectory("C:\\TELDAX");
        WriteBytes("C:\\TELDAX\\vell.exe", "planted", 7);
        if (!GiveToAnotherUser("C:\\TELDAX")) {
            Skip("C:\\TELDAX cannot be given to another Unix user here (not root)");
            break;
        }
        SetupRun run;
        char log[512];
        RunSetupProgram("VelloranSetup.exe", arguments, AnswerWithCode, "john", &run, log, sizeof log);
        ok(run.exitCode == Failed, "exit code %lu, expected %lu", run.exitCode, Failed);
        char expected[512], box[512];
        OwnerRefusal("S-1-5-7", expected, sizeof expected, box, sizeof box);
        CheckLog(log, expected);
        ok(run.dialogsShown == 0, "%d dialogs shown", run.dialogsShown);
        bool silent = strstr(arguments, "/S") != NULL;
        ok(run.messageCount == (silent ? 0 : 1), "%d message boxes shown", run.messageCount);
        if (!silent)
            CheckMessage(run, 0, "Velloran - Install Folder", box, "Velloran Setup");
        char planted[16] = {};
        ok(ReadBytes("C:\\TELDAX\\vell.exe", planted, sizeof planted) == 7 && strcmp(planted, "planted") == 0,
           "vell.exe is %s", Show(planted, (int)strlen(planted)));
        ok(!FileExists(CodeFile) && !DirectoryExists("C:\\JOHN") && !FileExists(ReceivedFile),
           "something was installed or started");
    }
    ClearContext();
}

// /CHECK only shows the no-update notice; nothing is installed.
static void test_update_check()
{
    PrepareMachine();
    SetupRun run;
    char log[512];
    RunSetupProgram("VelloranSetup.exe", "/S /CHECK", AnswerCancel, NULL, &run, log, sizeof log);
    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    CheckLog(log, "Chk4TELDAX 0\r\n");
    ok(run.messageCount == 1, "%d message boxes shown, expected 1", run.messageCount);
    CheckMessage(run, 0, "Velloran - No Update", VINSTALL_NO_UPDATE_NOTICE, "");
    ok(!DirectoryExists("C:\\TELDAX"), "something was installed");
}

// The setup program started as a deployment agent starts it: on a desktop
// that nobody sees, with the log in LogPath; the log's text lands in log.
static void RunUnseenSetup(const char* program, const char* arguments, bool silent, UnseenRun* run, char* log,
                           int logSize)
{
    char line[3 * MAX_PATH];
    snprintf(line, sizeof line, "\"%s\\%s\" %s /LOG=%s", SetupFolder, program, arguments, LogPath);
    DeleteFileA(LogPath);
    RunUnseenChecked(line, UnseenLimitMs, silent, run);
    ReadText(LogPath, log, logSize);
}

// The command line as Windows splits it into arguments: a value in double
// quotes keeps its blanks, a tab ends an argument as a blank does, and a
// switch is taken only from a whole argument. Run where nobody sees the
// screen, so that a run that is not silent shows its own window there.
struct CommandLineCase {
    const char* arguments;
    const char* logPath;  // given in arguments
    DWORD exitCode;
    const char* code;     // stored, upper case; or the library's line for a refusal
};

// The folder "x " and a file in it, named so that Windows keeps the blank.
static const char EvilFolder[] = "\\\\?\\C:\\x ";
static const char EvilLog[] = "\\\\?\\C:\\x \\CODE=EVIL.log";

static const CommandLineCase CommandLineCases[] = {
    // A code with a blank, the whole argument quoted: C:\JOHN SMITH.
    {"/S \"/CODE=john smith\" /LOG=C:\\setup.log", LogPath, 0, "JOHN SMITH"},
    // "/S" and a tab: two arguments for Windows. NSIS's own reading takes
    // /S only when a blank or the end follows it, so alone it would run this
    // with its window (and find no code in "/S<tab>/CODE=JOHN"); the script
    // makes the run silent from the whole argument "/S".
    {"/S\t/CODE=john /LOG=C:\\setup.log", LogPath, 0, "JOHN"},
    // The code is the argument /CODE=GOOD, not the text inside the log's
    // quoted path, whose "/" Windows reads as a folder's end: the log is
    // CODE=EVIL.log in the folder "x " (made by the test).
    {"/S /LOG=\"C:\\x /CODE=EVIL.log\" /CODE=good", EvilLog, 0, "GOOD"},
    // A/B reaches the library whole, and its name rules refuse it.
    {"/S /CODE=A/B /LOG=C:\\setup.log", LogPath, Failed, RefusedSlashLine},
};

static void test_command_lines()
{
    char product[MAX_PATH];
    PathIn(product, sizeof product, SetupFolder, "product");
    for (const CommandLineCase& c : CommandLineCases) {
        SetContext("VelloranSetup.exe %s", c.arguments);
        PrepareMachine();
        CreateDirectoryA(EvilFolder, NULL);
        char line[3 * MAX_PATH];
        snprintf(line, sizeof line, "\"%s\\VelloranSetup.exe\" %s", SetupFolder, c.arguments);
        UnseenRun run;
        RunUnseenChecked(line, UnseenLimitMs, true, &run);
        char log[1024];
        int length = ReadText(c.logPath, log, sizeof log);
        ok(length > 0, "no log at %s", c.logPath);
        ok(run.exitCode == c.exitCode, "exit code %lu, expected %lu; log %s", run.exitCode, c.exitCode,
           Show(log, strlen(log)));
        if (c.exitCode == 0) {
            CheckInstalledFor(c.code, product);
            char logLine[64];
            snprintf(logLine, sizeof logLine, "reporter code %s stored", c.code);
            CheckLogHasLine(log, logLine);
        } else {
            CheckLogHasLine(log, c.code);
            CheckNothingInstalled();
        }
        ok(!DirectoryExists("C:\\EVIL.LOG"), "C:\\EVIL.LOG was made");
        DeleteFileA(EvilLog);
        RemoveDirectoryA(EvilFolder);
    }
    ClearContext();
}

// The options that BeforeInstallWithCode gets, as its trace gives them: a
// silent run 1 (VINSTALL_SILENT); a given code 8 (VINSTALL_SAME_CODE), so
// that a different stored code stops the run rather than be passed over;
// with /REPLACECODE 4 (VINSTALL_REPLACE_CODE) in its place. What the
// library then does with a stored code is not reached under Wine, where an
// existing C:\TELDAX is refused first (see the top of this file).
struct OptionsCase {
    const char* arguments;
    unsigned options;
};

static const OptionsCase OptionsCases[] = {
    {"/S /CODE=john", 9},
    {"/CODE=john", 8},
    {"/S /CODE=john /REPLACECODE", 5},
    // Switch names without case.
    {"/S /replacecode /code=john", 5},
};

static void test_code_options()
{
    for (const OptionsCase& c : OptionsCases) {
        SetContext("VelloranSetup.exe %s", c.arguments);
        PrepareMachine();
        UnseenRun run;
        char log[1024];
        ok(StartTraceCapture(), "cannot catch the library's trace");
        RunUnseenSetup("VelloranSetup.exe", c.arguments, StartsWith(c.arguments, "/S"), &run, log, sizeof log);
        CapturedTrace trace;
        StopTraceCapture(&trace);
        ok(run.exitCode == 0, "exit code %lu, expected 0; log %s", run.exitCode, Show(log, strlen(log)));
        char expected[128];
        snprintf(expected, sizeof expected, "BeforeInstallWithCode: a code, options %u", c.options);
        const char* traced = FindTraceLine(trace, " code, options ");
        ok(traced && strcmp(traced + 13, expected) == 0, "the trace says \"%s\", expected \"%s\"",
           traced ? traced + 13 : "nothing", expected);
        CheckCodeFile("JOHN");
    }
    ClearContext();
}

// A code given for a machine whose RC.DAT holds another one (MARY). Under
// Wine only a setup program told that it runs on Windows 98 gets that far:
// the library protects nothing on the 9x family (status 1), while it
// refuses an existing C:\TELDAX everywhere else (see the top of this file).
// Without /REPLACECODE the run stops with the failure code, and the log says
// what to pass; with it the given code is stored in place of MARY; the same
// code goes on.
struct StoredCodeCase {
    const char* arguments;
    DWORD exitCode;
    int status;          // BeforeInstallWithCode's status in the log
    const char* line;    // and its line after it
    const char* stored;  // RC.DAT afterwards
};

static const StoredCodeCase StoredCodeCases[] = {
    {"/S /CODE=john", Failed, 0,
     "another reporter code is stored: MARY is kept and the given code john was not used: run with /REPLACECODE "
     "to replace it",
     "MARY"},
    {"/S /CODE=john /REPLACECODE", 0, 2, "reporter code JOHN stored in place of MARY", "JOHN"},
    {"/S /CODE=mary", 0, 1, "stored reporter code MARY kept", "MARY"},
};

static void test_stored_code_on_9x()
{
    for (const StoredCodeCase& c : StoredCodeCases) {
        SetContext("Windows 98, RC.DAT holding MARY: VelloranSetup.exe %s", c.arguments);
        PrepareStoredCodeMachine();
        ReportWindowsVersion("win98");
        UnseenRun run;
        char log[1024];
        RunUnseenSetup("VelloranSetup.exe", c.arguments, true, &run, log, sizeof log);
        ReportWindowsVersion(NULL);
        ok(run.exitCode == c.exitCode, "exit code %lu, expected %lu", run.exitCode, c.exitCode);
        char expected[512];
        snprintf(expected, sizeof expected,
                 "ProtectInstallFolder 1\r\nC:\\TELDAX: Windows 9x keeps no permissions: nothing to protect\r\n"
                 "BeforeInstallWithCode %d\r\n%s\r\n", c.status, c.line);
        ok(StartsWith(log, expected), "log %s, expected it to start with %s", Show(log, strlen(log)),
           Show(expected, strlen(expected)));
        CheckLogHasLine(log, c.exitCode == 0 ? "completed" : "stopped");
        CheckCodeFile(c.stored);
        ok(FileExists("C:\\TELDAX\\vell.exe") == (c.exitCode == 0), "the product is %s",
           FileExists("C:\\TELDAX\\vell.exe") ? "installed" : "missing");
    }
    ClearContext();
}

// A second name of a victim file (a hard link) planted at name; the victim
// holds "victim".
static void PlantHardLink(const char* name, const char* victim)
{
    DeleteFileA(name);
    WriteBytes(victim, "victim", 6);
    MakeHardLink(name, victim);
}

// The number of names the file at path has (0: none there).
static DWORD NamesOf(const char* path)
{
    HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION information = {};
    GetFileInformationByHandle(file, &information);
    CloseHandle(file);
    return information.nNumberOfLinks;
}

// The log at path is a file of its own, holding line, and the victim still
// holds "victim".
#define CheckLogOfItsOwn(path, line, victim) CheckLogOfItsOwnAt(__LINE__, path, line, victim)
static void CheckLogOfItsOwnAt(int line, const char* path, const char* expectedLine, const char* victim)
{
    char bytes[64] = {};
    int length = ReadBytes(victim, bytes, sizeof bytes - 1);
    OkAt(__FILE__, line, length == 6 && memcmp(bytes, "victim", 6) == 0, "the victim %s now holds %s", victim,
         length < 0 ? "nothing" : Show(bytes, length));
    OkAt(__FILE__, line, NamesOf(path) == 1, "%s has %lu names", path, NamesOf(path));
    char log[1024];
    ReadText(path, log, sizeof log);
    CheckLogHasLineAt(__FILE__, line, log, expectedLine);
}

// The logs are written by an administrator or SYSTEM, and the uninstaller's
// lies in the temporary folder (C:\Windows\Temp as SYSTEM, where users may
// write). A second name of another file planted at the default name of each
// log (the setup program's beside it, the uninstaller's in the temporary
// folder) is deleted, and the log is a new file of its own: the file it
// led to keeps its bytes. A name that cannot be made new (held open without
// FILE_SHARE_DELETE, as another program may hold it) leaves the log beside
// it, under a name of its own, which its first line gives.
static void test_logs_made_new()
{
    PrepareMachine();
    MakeDirectory("C:\\setup");
    char source[MAX_PATH];
    PathIn(source, sizeof source, SetupFolder, "VelloranSetup.exe");
    ok(CopyFileA(source, "C:\\setup\\VelloranSetup.exe", FALSE), "cannot copy the setup program: error %lu",
       GetLastError());
    PlantHardLink("C:\\setup\\VelloranSetup.log", "C:\\victim.txt");
    UnseenRun run;
    RunUnseenChecked("\"C:\\setup\\VelloranSetup.exe\" /S /CODE=john", UnseenLimitMs, true, &run);
    ok(run.exitCode == 0, "installation: exit code %lu, expected 0", run.exitCode);
    CheckLogOfItsOwn("C:\\setup\\VelloranSetup.log", "completed", "C:\\victim.txt");

    char uninstallLog[MAX_PATH];
    UninstallLogPath(uninstallLog, sizeof uninstallLog);
    PlantHardLink(uninstallLog, "C:\\victim2.txt");
    RunQuietRemoval(&run);
    ok(run.exitCode == 0, "removal: exit code %lu, expected 0", run.exitCode);
    CheckLogOfItsOwn(uninstallLog, "removed", "C:\\victim2.txt");
    DeleteFileA(uninstallLog);

    // The name held open: it cannot be deleted, nor made again.
    PrepareMachine();
    MakeDirectory("C:\\setup");
    CopyFileA(source, "C:\\setup\\VelloranSetup.exe", FALSE);
    WriteBytes("C:\\setup\\VelloranSetup.log", "held", 4);
    HANDLE held = CreateFileA("C:\\setup\\VelloranSetup.log", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              NULL, OPEN_EXISTING, 0, NULL);
    ok(held != INVALID_HANDLE_VALUE, "cannot hold the log's name: error %lu", GetLastError());
    RunUnseenChecked("\"C:\\setup\\VelloranSetup.exe\" /S /CODE=john", UnseenLimitMs, true, &run);
    CloseHandle(held);
    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    char heldBytes[8] = {};
    ok(ReadBytes("C:\\setup\\VelloranSetup.log", heldBytes, sizeof heldBytes) == 4, "the held file was written");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("C:\\setup\\VelloranSetup.log.*.log", &found);
    ok(search != INVALID_HANDLE_VALUE, "no log beside the held name");
    if (search == INVALID_HANDLE_VALUE)
        return;
    FindClose(search);
    char path[MAX_PATH], log[1024], first[2 * MAX_PATH];
    PathIn(path, sizeof path, "C:\\setup", found.cFileName);
    ReadText(path, log, sizeof log);
    snprintf(first, sizeof first, "this log is %s: C:\\setup\\VelloranSetup.log could not be made anew", path);
    ok(StartsWith(log, first), "log %s, expected it to start with \"%s\"", Show(log, strlen(log)), first);
    CheckLogHasLine(log, "completed");
}

// Where nobody sees the screen, a run ends by itself within seconds and
// shows no window of the library, whatever its command line: with a code it
// installs; without one, or with one that the name rules refuse, it fails
// and installs nothing. A run that is not silent (no /S) is stopped by the
// library's own rule: its window station is not visible.
struct UnseenCase {
    const char* arguments;
    DWORD exitCode;
    const char* line;  // the library's line in the log
};

static const UnseenCase UnseenCases[] = {
    {"/S /CODE=john", 0, "reporter code JOHN stored"},
    {"/S", Failed, "no reporter code: run with /CODE=<code>"},
    {"", Failed, "no reporter code: run with /CODE=<code>"},
    {"/S /CODE=A/B", Failed, RefusedSlashLine},
};

static void test_unseen_first_installations()
{
    char product[MAX_PATH];
    PathIn(product, sizeof product, SetupFolder, "product");
    for (const UnseenCase& c : UnseenCases) {
        SetContext("nobody sees the screen: VelloranSetup.exe %s", c.arguments);
        PrepareMachine();
        UnseenRun run;
        char log[1024];
        RunUnseenSetup("VelloranSetup.exe", c.arguments, StartsWith(c.arguments, "/S"), &run, log, sizeof log);
        ok(run.exitCode == c.exitCode, "exit code %lu, expected %lu", run.exitCode, c.exitCode);
        CheckLogHasLine(log, c.line);
        if (c.exitCode == 0) {
            CheckLogHasLine(log, "completed");
            CheckInstalledFor("JOHN", product);
        } else {
            CheckLogHasLine(log, "stopped");
            CheckNothingInstalled();
            CheckStoppedQuickly(run);
        }
    }
    ClearContext();
}

// The paths that the restart is to delete or rename
// (PendingFileRenameOperations, which MoveFileEx with
// MOVEFILE_DELAY_UNTIL_REBOOT writes): the first one in folder, or (with
// fileName) the first whose last part is fileName, its text after "\??\";
// "" when none is.
static const char PendingKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

static void PendingRename(const char* folder, const char* fileName, char* found, int size)
{
    found[0] = '\0';
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PendingKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    static char names[64 * 1024];
    DWORD length = sizeof names - 2, type = 0;
    LONG read = RegQueryValueExA(key, "PendingFileRenameOperations", NULL, &type, (BYTE*)names, &length);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || type != REG_MULTI_SZ)
        return;
    names[length] = names[length + 1] = '\0';
    size_t folderLength = strlen(folder);
    for (const char* name = names; *name || name < names + length; name += strlen(name) + 1) {
        const char* path = strncmp(name, "\\??\\", 4) == 0 ? name + 4 : name;
        const char* last = strrchr(path, '\\');
        bool named = fileName && _stricmp(last ? last + 1 : path, fileName) == 0;
        if (named || (_strnicmp(path, folder, folderLength) == 0 && path[folderLength] == '\\')) {
            lstrcpynA(found, path, size);
            return;
        }
    }
}

static void ForgetPendingRenames()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PendingKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, "PendingFileRenameOperations");
    RegCloseKey(key);
}

// A second installation over an earlier one, silent and unseen as a fleet
// updates: under Wine the existing C:\TELDAX is refused (see the top of this
// file), and the earlier installation stays as it was. Then the
// registration in Programs and Features, whose quiet command removes the
// product and keeps the reporter's data.
static void test_unseen_update_and_removal()
{
    PrepareMachine();
    UnseenRun run;
    char log[1024];
    RunUnseenSetup("VelloranSetup.exe", "/S /CODE=john", true, &run, log, sizeof log);
    ok(run.exitCode == 0, "first installation: exit code %lu", run.exitCode);

    SetContext("second installation");
    RunUnseenSetup("VelloranUpdate.exe", "/S /CODE=mary", true, &run, log, sizeof log);
    ok(run.exitCode == Failed, "exit code %lu, expected %lu", run.exitCode, Failed);
    char expected[512], box[512];
    OwnerRefusal(WineUser, expected, sizeof expected, box, sizeof box);
    CheckLog(log, expected);
    char product[MAX_PATH];
    PathIn(product, sizeof product, SetupFolder, "product");
    CheckInstalledFor("JOHN", product);
    ok(!DirectoryExists("C:\\MARY"), "C:\\MARY was made");
    ExpectFile("c:\\teldax\\UpdName.txt", VINSTALL_DOWNLOAD_BASE VINSTALL_MASTER_LOAD_INSTALLER);
    ClearContext();

    // What Programs and Features and a deployment tool read.
    static const char* const Registered[][2] = {
        {"DisplayName", "Velloran"},
        {"DisplayVersion", "1.0.0"},
        {"Publisher", "Velloran"},
        {"UninstallString", "\"C:\\TELDAX\\Uninstall.exe\""},
        {"QuietUninstallString", "\"C:\\TELDAX\\Uninstall.exe\" /S _?=C:\\TELDAX"},
        {"NoModify", "1"},
        {"NoRepair", "1"},
    };
    char value[MAX_PATH];
    for (const auto& entry : Registered) {
        ReadUninstallValue(UninstallKey, entry[0], value, sizeof value);
        ok(strcmp(value, entry[1]) == 0, "%s is \"%s\", expected \"%s\"", entry[0], value, entry[1]);
    }

    // Removal with the quiet command, as registered, while another setup
    // program runs: it waits for nothing and asks to be tried again.
    HANDLE other = HoldMutex("Global\\VelloranSetup");
    RunQuietRemoval(&run);
    CloseHandle(other);
    ok(run.exitCode == Busy, "removal while another setup program runs: exit code %lu, expected %lu", run.exitCode,
       Busy);
    ok(FileExists("C:\\TELDAX\\vell.exe"), "removed while another setup program runs");

    RunQuietRemoval(&run);
    ok(run.exitCode == 0, "removal: exit code %lu, expected 0", run.exitCode);
    CheckRemovedKeeping("JOHN");
    ReadUninstallValue(UninstallKey, "DisplayName", value, sizeof value);
    ok(value[0] == '\0', "still registered in Programs and Features");
}

// The uninstaller run in place (the registered quiet command, _?=) removes
// its own Uninstall.exe too, and asks the restart to delete nothing in
// C:\TELDAX: a reinstallation before the restart writes a new Uninstall.exe
// there, which a deletion queued by name would take. Under Wine the
// reinstallation needs a machine without C:\TELDAX (see the top of this
// file), so the reporter's data is taken away first, as an administrator
// does to remove everything (docs/deploying.md).
static void test_removal_then_reinstallation()
{
    PrepareMachine();
    ForgetPendingRenames();
    UnseenRun run;
    char log[1024];
    RunUnseenSetup("VelloranSetup.exe", "/S /CODE=john", true, &run, log, sizeof log);
    ok(run.exitCode == 0, "installation: exit code %lu, expected 0", run.exitCode);
    RunQuietRemoval(&run);
    ok(run.exitCode == 0, "removal: exit code %lu, expected 0", run.exitCode);
    CheckRemovedKeeping("JOHN");
    ok(!FileExists("C:\\TELDAX\\Uninstall.exe"), "C:\\TELDAX\\Uninstall.exe is still there after the removal");
    char pending[MAX_PATH];
    PendingRename("C:\\TELDAX", NULL, pending, sizeof pending);
    ok(pending[0] == '\0', "the restart is to delete %s", pending);

    RemoveTree("C:\\JOHN");
    DeleteFileA(CodeFile);
    RemoveDirectoryA("C:\\TELDAX");
    RunUnseenSetup("VelloranSetup.exe", "/S /CODE=john", true, &run, log, sizeof log);
    ok(run.exitCode == 0, "reinstallation: exit code %lu, expected 0", run.exitCode);
    ok(FileExists("C:\\TELDAX\\Uninstall.exe"), "no C:\\TELDAX\\Uninstall.exe after the reinstallation");
    PendingRename("C:\\TELDAX", NULL, pending, sizeof pending);
    ok(pending[0] == '\0', "the restart is to delete %s", pending);
}

// No run of the setup program or its uninstaller leaves anything for the
// next restart to delete: deployment tools read a pending deletion as
// "restart required". NSIS deletes its temporary folder of plug-ins
// ($PLUGINSDIR, where the library is put) when the program ends, and has
// the restart delete what it cannot: the library, were it still loaded.
// Each run here is one after which a deployment tool looks: an installation
// on screen and a silent one, an update (refused under Wine, see the top of
// this file), stops after each of the library's first two calls, /CHECK,
// and the removal, whose copy of the uninstaller loads the library too.
#define CheckNothingForRestart(after) CheckNothingForRestartAt(__LINE__, after)
static void CheckNothingForRestartAt(int line, const char* after)
{
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(sizeof temp, temp);
    if (length > 0 && length < sizeof temp && temp[length - 1] == '\\')
        temp[length - 1] = '\0';
    char pending[MAX_PATH];
    PendingRename(temp, "VINSTALLDLL.dll", pending, sizeof pending);
    OkAt(__FILE__, line, pending[0] == '\0', "after %s the restart is to delete %s", after, pending);
    ForgetPendingRenames();
}

static void test_nothing_for_the_restart()
{
    PrepareMachine();
    ForgetPendingRenames();
    SetupRun shown;
    char log[1024];
    RunSetupProgram("VelloranSetup.exe", "/PDF", AnswerWithCode, "john", &shown, log, sizeof log);
    ok(shown.exitCode == 0, "installation on screen: exit code %lu, expected 0", shown.exitCode);
    CheckNothingForRestart("an installation on screen");

    UnseenRun run;
    RunUnseenSetup("VelloranUpdate.exe", "/S /CODE=john", true, &run, log, sizeof log);
    ok(run.exitCode == Failed, "update: exit code %lu, expected %lu", run.exitCode, Failed);
    CheckNothingForRestart("an update");

    RunQuietRemoval(&run);
    ok(run.exitCode == 0, "removal: exit code %lu, expected 0", run.exitCode);
    CheckNothingForRestart("a removal");

    PrepareMachine();
    RunUnseenSetup("VelloranSetup.exe", "/S /CODE=john /PDF", true, &run, log, sizeof log);
    ok(run.exitCode == 0, "silent installation: exit code %lu, expected 0", run.exitCode);
    CheckNothingForRestart("a silent installation");

    PrepareMachine();
    RunUnseenSetup("VelloranSetup.exe", "/S", true, &run, log, sizeof log);
    ok(run.exitCode == Failed, "silent run without a code: exit code %lu, expected %lu", run.exitCode, Failed);
    CheckNothingForRestart("a stop at BeforeInstallWithCode");

    PrepareMachine();
    MakeDirectory("C:\\TELDAX");
    RunUnseenSetup("VelloranSetup.exe", "/S /CODE=john", true, &run, log, sizeof log);
    ok(run.exitCode == Failed, "existing C:\\TELDAX: exit code %lu, expected %lu", run.exitCode, Failed);
    CheckNothingForRestart("a stop at ProtectInstallFolder");

    PrepareMachine();
    RunUnseenSetup("VelloranSetup.exe", "/S /CHECK", true, &run, log, sizeof log);
    CheckNothingForRestart("/CHECK");
}

// The product goes into C:\TELDAX only, the folder the library protects and
// writes: /D= naming another folder refuses the run (the failure code, a
// line in the log that says why, nothing made in either folder), wherever
// it stands (NSIS takes everything after it as the folder, the code
// included); /D= naming C:\TELDAX itself, in any case, installs.
struct FolderCase {
    const char* arguments;
    const char* line;  // the log's line for a refusal, or NULL: installed
};

// The log's path comes first: the script reads no argument after /D=. The
// folder is what NSIS made of the rest of the line, without the characters
// a path may not hold.
static const FolderCase FolderCases[] = {
    {"/LOG=C:\\setup.log /S /D=C:\\Apps\\Velloran \"/CODE=john\"",
     "/D=C:\\Apps\\Velloran CODE=john refused: Velloran installs into C:\\TELDAX only: run without /D="},
    {"/LOG=C:\\setup.log /S \"/CODE=john\" /D=C:\\Apps\\Velloran",
     "/D=C:\\Apps\\Velloran refused: Velloran installs into C:\\TELDAX only: run without /D="},
    {"/LOG=C:\\setup.log /S \"/CODE=john\" /D=c:\\teldax", NULL},
};

static void test_install_folder_fixed()
{
    char product[MAX_PATH];
    PathIn(product, sizeof product, SetupFolder, "product");
    for (const FolderCase& c : FolderCases) {
        SetContext("VelloranSetup.exe %s", c.arguments);
        PrepareMachine();
        char line[3 * MAX_PATH];
        snprintf(line, sizeof line, "\"%s\\VelloranSetup.exe\" %s", SetupFolder, c.arguments);
        DeleteFileA(LogPath);
        UnseenRun run;
        RunUnseenChecked(line, UnseenLimitMs, true, &run);
        char log[1024];
        ReadText(LogPath, log, sizeof log);
        ok(!DirectoryExists("C:\\Apps\\Velloran"), "C:\\Apps\\Velloran was made");
        if (c.line) {
            ok(run.exitCode == Failed, "exit code %lu, expected %lu; log %s", run.exitCode, Failed,
               Show(log, strlen(log)));
            CheckLogHasLine(log, c.line);
            CheckLogHasLine(log, "stopped");
            CheckNothingInstalled();
        } else {
            ok(run.exitCode == 0, "exit code %lu, expected 0; log %s", run.exitCode, Show(log, strlen(log)));
            CheckInstalledFor("JOHN", product);
        }
    }
    ClearContext();
}

// A C:\TELDAX that leads to another folder (a link put in its place after
// the installation) may not be deleted in: the uninstaller deletes nothing
// there, keeps the registration and ends with the failure code.
static void test_removal_refused()
{
    PrepareMachine();
    UnseenRun run;
    char log[1024];
    RunUnseenSetup("VelloranSetup.exe", "/S /CODE=john", true, &run, log, sizeof log);
    ok(run.exitCode == 0, "installation: exit code %lu, expected 0", run.exitCode);
    ok(MoveFileA("C:\\TELDAX", "C:\\elsewhere"), "cannot move C:\\TELDAX away: error %lu", GetLastError());
    if (!MakeFolderLink("C:\\TELDAX", "C:\\elsewhere"))
        return;
    char uninstallLog[MAX_PATH];
    UninstallLogPath(uninstallLog, sizeof uninstallLog);
    RunQuietRemoval(&run);
    RemoveFolderLink("C:\\TELDAX");
    ok(run.exitCode == Failed, "removal: exit code %lu, expected %lu", run.exitCode, Failed);
    ReadText(uninstallLog, log, sizeof log);
    CheckLogHasLine(log, "RemoveLibraryFiles 0");
    CheckLogHasLine(log, "stopped");
    static const char* const Kept[] = {"vell.exe", "install.exe", "Velloran.lnk", "Uninstall.exe", "RC.DAT"};
    for (const char* name : Kept) {
        char path[MAX_PATH];
        PathIn(path, sizeof path, "C:\\elsewhere", name);
        ok(FileExists(path), "%s was deleted through the link", path);
    }
    char value[MAX_PATH];
    ReadUninstallValue(UninstallKey, "DisplayName", value, sizeof value);
    ok(strcmp(value, "Velloran") == 0, "no longer registered in Programs and Features");
}

// While another setup program or uninstaller of Velloran runs, or Windows
// Installer runs an installation, the setup program installs nothing and
// ends with 1618, which deployment tools retry.
static void test_another_installation_running()
{
    static const char* const Mutexes[] = {"Global\\VelloranSetup", "Global\\_MSIExecute"};
    for (const char* name : Mutexes) {
        SetContext("%s held", name);
        PrepareMachine();
        HANDLE other = HoldMutex(name);
        UnseenRun run;
        char log[512];
        RunUnseenSetup("VelloranSetup.exe", "/S /CODE=john", true, &run, log, sizeof log);
        CloseHandle(other);
        ok(run.exitCode == Busy, "exit code %lu, expected %lu", run.exitCode, Busy);
        CheckLog(log, strstr(name, "MSI") ? "a Windows Installer installation is running: try again later\r\n"
                                          : "another Velloran setup program or uninstaller is running: try again "
                                            "later\r\n");
        CheckNothingInstalled();
    }
    ClearContext();
}

int main(int argc, char** argv)
{
    InitHarness(argc, argv);
    if (argc < 3) {
        printf("usage: %s <VINSTALLDLL.dll> <folder of VelloranSetup.exe>\n", argv[0]);
        return 2;
    }
    WindowsPathOf(argv[2], SetupFolder, sizeof SetupFolder);
    FindInstallationPlaces();

    test_first_installation();
    test_silent_first_installation();
    test_update_over_earlier_installation();
    test_stops();
    test_update_check();
    test_foreign_install_folder();
    test_command_lines();
    test_code_options();
    test_stored_code_on_9x();
    test_logs_made_new();
    test_unseen_first_installations();
    test_unseen_update_and_removal();
    test_removal_then_reinstallation();
    test_removal_refused();
    test_nothing_for_the_restart();
    test_install_folder_fixed();
    test_another_installation_running();
    CleanDrive();
    return FinishTests("setup");
}
