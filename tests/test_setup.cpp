// The reference setup program, run under Wine as its user runs it: started
// as a program of its own, its reporter code dialog answered from outside,
// its message boxes answered with OK; and as a deployment agent runs it,
// silently, on a desktop that nobody sees (tools/unseen.h), with the code on
// its command line. What is checked is what the run leaves behind: the
// statuses in the setup program's log, its exit code, the windows it showed,
// RC.DAT, the product's files, the shortcuts read back, the release records,
// what the PDF converter's installer was started with, the registration in
// Programs and Features and what its uninstaller leaves.
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

static char SetupFolder[MAX_PATH];

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

// A first installation on a fresh machine, with the setup program's window
// on screen: the code typed into the dialog is stored, the product copied,
// its shortcuts moved to the reporter's directory, a Master Load's records
// written and the PDF converter's installer started.
static void test_first_installation()
{
    PrepareMachine();
    SYSTEMTIME before, after;
    GetSystemTime(&before);
    SetupRun run;
    char log[512];
    RunSetupProgram("VelloranSetup.exe", "/PDF", AnswerWithCode, "john", &run, log, sizeof log);
    GetSystemTime(&after);

    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    CheckLog(log,
             "C:\\TELDAX made, writable by administrators only\r\n"
             "BeforeInstallWithCode 2\r\nreporter code JOHN typed and stored\r\n"
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

    const char* received = CheckConverterParameters();
    ok(strstr(received, "\r\nshow: 1\r\n") != NULL, "not started with SW_SHOWNORMAL: %s",
       Show(received, strlen(received)));
}

// A silent first installation with no code on its command line asks nobody,
// even where someone could see the dialog: it ends at once with the failure
// code, says in its log what to pass, and installs nothing. With /CODE= it
// installs with that code, without a window.
static void test_silent_first_installation()
{
    PrepareMachine();
    SetupRun run;
    char log[512];
    RunSetupProgram("VelloranSetup.exe", "/S", AnswerWithCode, "john", &run, log, sizeof log);
    ok(run.exitCode == Failed, "exit code %lu, expected %lu", run.exitCode, Failed);
    CheckLog(log,
             "C:\\TELDAX made, writable by administrators only\r\nBeforeInstallWithCode 0\r\n"
             "no reporter code: run with /CODE=<code>\r\nstopped\r\n");
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

// An Update release installed silently over an earlier installation: the
// stored code is used without a dialog, the old desktop shortcut, the .PIF
// twin and the obsolete system file go, and an Update's records are written.
static void test_silent_update()
{
    const char* oldSystemFile = PrepareStoredCodeMachine();
    WriteBytes("C:\\TELDAX\\Velloran.PIF", "old", 3);
    SetFileAttributesA("C:\\TELDAX\\Velloran.PIF", FILE_ATTRIBUTE_READONLY);
    char oldDesktop[MAX_PATH];
    PathIn(oldDesktop, sizeof oldDesktop, CommonDesktop, "Shortcut to Velloran.lnk");
    WriteBytes(oldDesktop, "old", 3);

    SYSTEMTIME before, after;
    GetSystemTime(&before);
    SetupRun run;
    char log[512];
    RunSetupProgram("VelloranUpdate.exe", "/S", AnswerCancel, NULL, &run, log, sizeof log);
    GetSystemTime(&after);

    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    CheckLog(log,
             "C:\\TELDAX existed: DACL set (1)\r\n"
             "BeforeInstallWithCode 1\r\nstored reporter code MARY kept\r\n"
             "AfterInstall 1\r\nUpdateInfo 1\r\ncompleted\r\n");
    ok(run.dialogsShown == 0, "the reporter code dialog was shown");
    ok(run.messageCount == 0, "%d message boxes shown, the first \"%s\"", run.messageCount, run.messages[0].title);
    CheckCodeFile("MARY");
    ok(!DirectoryExists("C:\\MARY"), "C:\\MARY was created");
    ok(!FileExists("C:\\TELDAX\\Velloran.PIF"), "the .PIF twin is still there");
    ok(!FileExists(oldSystemFile), "%s is still there", oldSystemFile);
    const ShortcutCase shortcuts[] = {
        {"C:\\TELDAX", "Velloran.lnk", "C:\\TELDAX\\vell.exe", "", "C:\\MARY", "C:\\TELDAX\\velloran.ico", 0},
        {NULL, "Velloran.lnk", "C:\\TELDAX\\vell.exe", "", "C:\\MARY", "c:\\teldax\\velloran.ico", 0},
        {NULL, "Shortcut to Velloran.lnk", NULL, NULL, NULL, NULL, 0},
    };
    CheckShortcuts(shortcuts, ARRAYSIZE(shortcuts));
    CheckNotice(__LINE__, VINSTALL_UPDATE_NOTICE, before, after);
    ExpectFile("c:\\teldax\\UpdName.txt", VINSTALL_DOWNLOAD_BASE VINSTALL_UPDATE_INSTALLER);
    ExpectFile("c:\\teldax\\UpdDetails.txt", VINSTALL_DOWNLOAD_BASE VINSTALL_UPDATE_DETAILS);
    ok(!FileExists(ReceivedFile), "the PDF converter's installer was started without /PDF");
}

// Status 0 stops the setup program before it copies anything: with the
// failure code, or the cancel code when the person cancelled the dialog.
struct StopCase {
    const char* windows;  // the version Wine reports to the setup program
    DialogAnswer answer;
    const char* message;  // the message box shown, or NULL
    const char* line;     // the library's line in the log
    DWORD exitCode;
};

static const char VersionRefusalLine[] =
    "Velloran - Windows Version: Your version of the Velloran software does not work with this version of Windows.";

static const StopCase StopCases[] = {
    // The setup program's manifest lists Windows 8.1 and 10, so the library
    // sees 6.3 and 10.0 and refuses them.
    {"win81", AnswerWithCode, VersionRefusal, VersionRefusalLine, Failed},
    {"win10", AnswerWithCode, VersionRefusal, VersionRefusalLine, Failed},
    {"win7", AnswerCancel, NULL, "cancelled at the reporter code dialog", Cancelled},
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
        // The folder made for the installation goes again.
        char expected[512];
        snprintf(expected, sizeof expected,
                 "C:\\TELDAX made, writable by administrators only\r\nBeforeInstallWithCode 0\r\n%s\r\n"
                 "stopped\r\n",
                 c.line);
        CheckLog(log, expected);
        ok(run.dialogsShown == (c.message ? 0 : 1), "%d dialogs shown", run.dialogsShown);
        ok(run.messageCount == (c.message ? 1 : 0), "%d message boxes shown", run.messageCount);
        if (c.message)
            CheckMessage(run, 0, "Velloran - Windows Version", c.message, "Velloran Setup");
        ok(!DirectoryExists("C:\\TELDAX") && !DirectoryExists("C:\\JOHN"), "something was installed");
    }
    ClearContext();
}

// An existing C:\TELDAX that someone other than an administrator owns stops
// the setup program before it writes anything, with a message (none in a
// silent run). Wine shows a folder of another Unix user as owned by
// Anonymous Logon (S-1-5-7).
static void test_foreign_install_folder()
{
    static const char Stopped[] =
        "C:\\TELDAX is owned by S-1-5-7, not by an administrator: nothing installed\r\nstopped\r\n";
    static const char Message[] =
        "The folder C:\\TELDAX already exists, and its owner (S-1-5-7) is not an administrator.\n\n"
        "Whoever owns it could change the programs that Setup puts there, which run with administrator rights. "
        "Setup has stopped and changed nothing.\n\n"
        "An administrator should look at what the folder holds, then delete it or make Administrators its owner, "
        "and run Setup again.";
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
        ok(run.exitCode == 2, "exit code %lu, expected 2", run.exitCode);
        CheckLog(log, Stopped);
        ok(run.dialogsShown == 0, "%d dialogs shown", run.dialogsShown);
        bool silent = strstr(arguments, "/S") != NULL;
        ok(run.messageCount == (silent ? 0 : 1), "%d message boxes shown", run.messageCount);
        if (!silent)
            CheckMessage(run, 0, "Velloran - Install Folder", Message, "Velloran Setup");
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

// A second installation over an earlier one, silent and unseen as a fleet
// updates: the stored code stays, whatever code the command line gives,
// with no dialog; the log says that the given one was not used. Then the
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
    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    CheckLogHasLine(log, "stored reporter code JOHN kept: the given code mary was not used");
    char product[MAX_PATH];
    PathIn(product, sizeof product, SetupFolder, "product");
    CheckInstalledFor("JOHN", product);
    ok(!DirectoryExists("C:\\MARY"), "C:\\MARY was made");
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
    char quiet[MAX_PATH];
    ReadUninstallValue(UninstallKey, "QuietUninstallString", quiet, sizeof quiet);
    HANDLE other = HoldMutex("Global\\VelloranSetup");
    RunUnseenChecked(quiet, UnseenLimitMs, true, &run);
    CloseHandle(other);
    ok(run.exitCode == Busy, "removal while another setup program runs: exit code %lu, expected %lu", run.exitCode,
       Busy);
    ok(FileExists("C:\\TELDAX\\vell.exe"), "removed while another setup program runs");

    RunUnseenChecked(quiet, UnseenLimitMs, true, &run);
    ok(run.exitCode == 0, "removal: exit code %lu, expected 0", run.exitCode);
    CheckRemovedKeeping("JOHN");
    ReadUninstallValue(UninstallKey, "DisplayName", value, sizeof value);
    ok(value[0] == '\0', "still registered in Programs and Features");
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
    test_silent_update();
    test_stops();
    test_update_check();
    test_foreign_install_folder();
    test_unseen_first_installations();
    test_unseen_update_and_removal();
    test_another_installation_running();
    CleanDrive();
    return FinishTests("setup");
}
