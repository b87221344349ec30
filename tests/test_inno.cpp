// The setup program built with Inno Setup (installer/VelloranSetup.iss), run
// under Wine as its user runs it: started as a program of its own (its
// wizard runs in a second process), its Install and Finish buttons pressed,
// the reporter code dialog answered from outside, the library's message
// boxes answered with OK; silently; and as a deployment agent runs it,
// silently on a desktop that nobody sees (tools/unseen.h), with the code on
// its command line. What is checked is what the run leaves behind: the
// statuses in the setup program's status log, its exit code, the windows
// it showed, RC.DAT, the product's files and shortcuts, the release records,
// what the PDF converter's installer was started with, the registration in
// Programs and Features and what its uninstaller leaves.
//
//   test_inno.exe <VINSTALLDLL.dll> <folder of VelloranInnoSetup.exe> <folder of the build's product/>
#include "harness.h"

#include "installation_checks.h"
#include "release_settings.h"

#include <stdio.h>
#include <string.h>

// A run takes a few seconds; a run still going after this has hung.
static const DWORD TimeLimitMs = 60000;
static const char LogPath[] = "C:\\setup.log";
static const char SilentRun[] = "/VERYSILENT";
// Inno Setup's wizard window, which the setup script hands to the library.
static const char WizardCaption[] = "Setup - Velloran";
// The setup program's exit codes: Inno Setup's for a stop in
// PrepareToInstall (a failure) and for a Cancel before installing, and the
// one it gives while another installation runs.
static const DWORD StoppedBeforeInstalling = 7, Cancelled = 2, Busy = 1618;
// A person going through the wizard: the Ready page's button, then the
// Finished page's.
static const char* const WizardButtons[] = {"&Install", "&Finish", NULL};
// Inno Setup's registration of the uninstaller: "<AppId>_is1".
static const char UninstallKey[] = "{90765B43-76C3-492E-89D2-21EEDD795AED}_is1";
static const char VersionRefusalLine[] =
    "Velloran - Windows Version: Your version of the Velloran software does not work with this version of Windows.";

static char SetupFolder[MAX_PATH];
static char BuildFolder[MAX_PATH];

// Runs program (in the setup folder) with arguments and its status log in
// LogPath, silently unless buttons (the wizard's, for the hand to press)
// are given; the log's text lands in log.
static void RunSetupProgram(const char* program, const char* arguments, DialogAnswer answer, const char* code,
                            SetupRun* run, char* log, int logSize, const char* const* buttons = NULL)
{
    char line[3 * MAX_PATH];
    snprintf(line, sizeof line, "\"%s\\%s\" %s %s /STATUSLOG=%s", SetupFolder, program, buttons ? "" : SilentRun,
             arguments, LogPath);
    DeleteFileA(LogPath);
    bool started = RunSetup(line, answer, code, TimeLimitMs, run, buttons);
    ok(started, "cannot start %s: error %lu", line, GetLastError());
    ok(!run->timedOut, "%s still running after %lu ms", line, TimeLimitMs);
    ReadText(LogPath, log, logSize);
}

// A first installation through the wizard: after Install the dialog opens,
// owned by the wizard; the code is typed into it (clicked into first),
// stored, the product copied and its shortcuts moved, a Master Load's
// records written and the PDF converter's installer started.
static void test_first_installation()
{
    PrepareMachine();
    SetupRun run;
    char log[512];
    RunSetupProgram("VelloranInnoSetup.exe", "/PDF", AnswerWithCode, "john", &run, log, sizeof log, WizardButtons);

    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    CheckLog(log,
             "C:\\TELDAX made, writable by administrators only\r\n"
             "BeforeInstallWithCode 2\r\nreporter code JOHN typed and stored\r\n"
             "AfterInstall 1\r\nMLDInfo 1\r\nInstallPDF 1\r\ncompleted\r\n");
    ok(run.dialogsShown == 1 && strcmp(run.dialogCaption, "Reporter Code") == 0,
       "%d dialogs shown, the last \"%s\"; expected one \"Reporter Code\"", run.dialogsShown, run.dialogCaption);
    ok(StartsWith(run.dialogOwner, WizardCaption), "dialog owned by \"%s\", not the wizard's window",
       run.dialogOwner);
    ok(strcmp(run.typed, "john") == 0, "the field held \"%s\" after typing, expected \"john\"", run.typed);
    ok(run.messageCount == 0, "%d message boxes shown, the first \"%s\"", run.messageCount, run.messages[0].title);
    CheckCodeFile("JOHN");
    ok(DirectoryExists("C:\\JOHN"), "C:\\JOHN not created");

    char product[MAX_PATH];
    PathIn(product, sizeof product, BuildFolder, "product");
    CheckProductFiles(product);

    // Outside the skip list the shortcuts start in the reporter's directory
    // and lose their arguments; WinNT.lnk and User's Manual.lnk stay.
    char cmd[MAX_PATH];
    PathIn(cmd, sizeof cmd, SystemFolder, "cmd.exe");
    const ShortcutCase shortcuts[] = {
        {"C:\\TELDAX", "Velloran.lnk", "C:\\TELDAX\\vell.exe", "", "C:\\JOHN"},
        {"C:\\TELDAX", "Velloran Dictionary.lnk", "C:\\TELDAX\\vell.exe", "", "C:\\JOHN"},
        {"C:\\TELDAX", "User's Manual.lnk", "C:\\TELDAX\\vell.exe", "/manual", "C:\\TELDAX"},
        {NULL, "Velloran.lnk", "C:\\TELDAX\\vell.exe", "", "C:\\JOHN"},
        {"C:\\TELDAX", "WinNT.lnk", cmd, "", "C:\\TELDAX"},
    };
    CheckShortcuts(shortcuts, ARRAYSIZE(shortcuts));

    ExpectFile("c:\\teldax\\UpdName.txt", VINSTALL_DOWNLOAD_BASE VINSTALL_MASTER_LOAD_INSTALLER);
    CheckConverterParameters();
}

// An Update release installed silently over an earlier installation: the
// stored code is used without a dialog, and AfterInstall still knows what
// BeforeInstall found (the library stayed loaded between the calls).
static void test_stored_code()
{
    const char* oldSystemFile = PrepareStoredCodeMachine();

    SetupRun run;
    char log[512];
    RunSetupProgram("VelloranInnoUpdate.exe", "", AnswerCancel, NULL, &run, log, sizeof log);

    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    CheckLog(log,
             "C:\\TELDAX existed: DACL set (1)\r\n"
             "BeforeInstallWithCode 1\r\nstored reporter code MARY kept\r\n"
             "AfterInstall 1\r\nUpdateInfo 1\r\ncompleted\r\n");
    ok(run.dialogsShown == 0, "the reporter code dialog was shown");
    ok(run.messageCount == 0, "%d message boxes shown, the first \"%s\"", run.messageCount, run.messages[0].title);
    CheckCodeFile("MARY");
    ok(!FileExists(oldSystemFile), "%s is still there", oldSystemFile);
    const ShortcutCase moved[] = {
        {"C:\\TELDAX", "Velloran.lnk", "C:\\TELDAX\\vell.exe", "", "C:\\MARY"},
        {NULL, "Velloran.lnk", "C:\\TELDAX\\vell.exe", "", "C:\\MARY"},
    };
    CheckShortcuts(moved, ARRAYSIZE(moved));
    ExpectFile("c:\\teldax\\UpdName.txt", VINSTALL_DOWNLOAD_BASE VINSTALL_UPDATE_INSTALLER);
    ok(!FileExists(ReceivedFile), "the PDF converter's installer was started without /PDF");
}

// The Windows version Wine reports to the setup program: to the program
// started and to the copy of itself that runs the wizard.
static void ReportWindowsVersion(const char* version)
{
    ReportWindowsVersionTo("VelloranInnoSetup.exe", version);
    ReportWindowsVersionTo("VelloranInnoSetup.tmp", version);
}

// Inno Setup's setup programs list Windows 10 as supported, so the library
// sees 10.0 and refuses it: status 0 stops the setup before it copies
// anything, and the folder made for it goes again. The run is silent: the
// refusal goes to the log, not into a box, and no box of Inno Setup's
// either waits for an answer (no /SUPPRESSMSGBOXES).
static void test_refusal_on_windows10()
{
    PrepareMachine();
    ReportWindowsVersion("win10");
    SetupRun run;
    char log[512];
    RunSetupProgram("VelloranInnoSetup.exe", "/PDF", AnswerWithCode, "john", &run, log, sizeof log);
    ReportWindowsVersion(NULL);

    ok(run.exitCode == StoppedBeforeInstalling, "exit code %lu, expected %lu", run.exitCode,
       StoppedBeforeInstalling);
    char expected[512];
    snprintf(expected, sizeof expected,
             "C:\\TELDAX made, writable by administrators only\r\nBeforeInstallWithCode 0\r\n%s\r\nstopped\r\n",
             VersionRefusalLine);
    CheckLog(log, expected);
    ok(run.dialogsShown == 0 && run.messageCount == 0, "%d dialogs and %d message boxes shown", run.dialogsShown,
       run.messageCount);
    ok(!DirectoryExists("C:\\TELDAX") && !DirectoryExists("C:\\JOHN"), "something was installed");
}

// An existing C:\TELDAX that someone other than an administrator owns stops
// the setup before BeforeInstall and before anything is written; a silent
// run shows no message. Wine shows a folder of another Unix user as owned by
// Anonymous Logon (S-1-5-7).
static void test_foreign_install_folder()
{
    PrepareMachine();
    MakeDirectory("C:\\TELDAX");
    WriteBytes("C:\\TELDAX\\vell.exe", "planted", 7);
    if (!GiveToAnotherUser("C:\\TELDAX")) {
        Skip("C:\\TELDAX cannot be given to another Unix user here (not root)");
        return;
    }
    SetupRun run;
    char log[512];
    RunSetupProgram("VelloranInnoSetup.exe", "/PDF", AnswerWithCode, "john", &run, log, sizeof log);
    ok(run.exitCode == StoppedBeforeInstalling, "exit code %lu, expected %lu", run.exitCode,
       StoppedBeforeInstalling);
    CheckLog(log,
             "C:\\TELDAX is owned by S-1-5-7, not by an administrator: nothing installed\r\nstopped\r\n");
    ok(run.dialogsShown == 0 && run.messageCount == 0, "%d dialogs and %d message boxes shown", run.dialogsShown,
       run.messageCount);
    char planted[16] = {};
    ok(ReadBytes("C:\\TELDAX\\vell.exe", planted, sizeof planted) == 7 && strcmp(planted, "planted") == 0,
       "vell.exe is %s", Show(planted, (int)strlen(planted)));
    ok(!FileExists(CodeFile) && !DirectoryExists("C:\\JOHN") && !FileExists(ReceivedFile),
       "something was installed or started");
}

// /CHECK only shows the no-update notice, before the wizard exists.
static void test_update_check()
{
    PrepareMachine();
    SetupRun run;
    char log[512];
    RunSetupProgram("VelloranInnoSetup.exe", "/CHECK", AnswerCancel, NULL, &run, log, sizeof log);
    ok(run.exitCode != 0, "exit code 0: reported as installed");
    CheckLog(log, "Chk4TELDAX 0\r\n");
    ok(run.messageCount == 1, "%d message boxes shown, expected 1", run.messageCount);
    CheckMessage(run, 0, "Velloran - No Update", VINSTALL_NO_UPDATE_NOTICE, NULL);
    ok(!DirectoryExists("C:\\TELDAX"), "something was installed");
}

// Setup's temporary folders ("is-*.tmp") that earlier runs in this prefix
// left behind, removed before the first run, so that the check below sees
// only what this program's runs leave.
static void RemoveSetupTemporaryFolders()
{
    char folder[MAX_PATH];
    DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder - 10)
        return;
    char pattern[MAX_PATH];
    snprintf(pattern, sizeof pattern, "%sis-*.tmp", folder);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        char path[MAX_PATH];
        snprintf(path, sizeof path, "%s%s", folder, found.cFileName);
        RemoveTree(path);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// Setup's own temporary folder ("is-*.tmp", with the library in it) is gone:
// where the script ends the process itself (a cancel, 1618, a silent stop)
// it removes the folder as Setup would on its own way out.
static void CheckSetupTemporaryFolderRemoved(int line)
{
    char pattern[MAX_PATH];
    DWORD length = GetTempPathA(sizeof pattern, pattern);
    if (length == 0 || length >= sizeof pattern - 10)
        return;
    lstrcatA(pattern, "is-*.tmp");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    OkAt(__FILE__, line, search == INVALID_HANDLE_VALUE, "Setup's temporary folder %s left behind",
         search == INVALID_HANDLE_VALUE ? "" : found.cFileName);
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
}

// The dialog cancelled in a run through the wizard: Setup ends at once with
// its code for a Cancel before installing, and installs nothing.
static void test_cancelled()
{
    PrepareMachine();
    SetupRun run;
    char log[512];
    RunSetupProgram("VelloranInnoSetup.exe", "/PDF", AnswerCancel, NULL, &run, log, sizeof log, WizardButtons);
    ok(run.exitCode == Cancelled, "exit code %lu, expected %lu", run.exitCode, Cancelled);
    CheckLog(log,
             "C:\\TELDAX made, writable by administrators only\r\nBeforeInstallWithCode 0\r\n"
             "cancelled at the reporter code dialog\r\nstopped\r\n");
    ok(run.dialogsShown == 1, "%d dialogs shown, expected 1", run.dialogsShown);
    CheckNothingInstalled();
    CheckSetupTemporaryFolderRemoved(__LINE__);
}

// Setup started as a deployment agent starts it: on a desktop that nobody
// sees, with its status log in LogPath; the log's text lands in log.
static void RunUnseenSetup(const char* program, const char* arguments, UnseenRun* run, char* log, int logSize)
{
    char line[3 * MAX_PATH];
    snprintf(line, sizeof line, "\"%s\\%s\" %s /STATUSLOG=%s", SetupFolder, program, arguments, LogPath);
    DeleteFileA(LogPath);
    RunUnseenChecked(line, UnseenLimitMs, true, run);
    ReadText(LogPath, log, logSize);
}

// Where nobody sees the screen a silent run ends by itself within seconds,
// with no dialog or message box, /SUPPRESSMSGBOXES or not: with a code it
// installs; without one, or with one that the name rules refuse, it fails
// and installs nothing.
struct UnseenCase {
    const char* arguments;
    DWORD exitCode;
    const char* line;  // the library's line in the log
};

static const UnseenCase UnseenCases[] = {
    {"/VERYSILENT /CODE=john", 0, "reporter code JOHN stored"},
    {"/VERYSILENT", StoppedBeforeInstalling, "no reporter code: run with /CODE=<code>"},
    {"/SILENT", StoppedBeforeInstalling, "no reporter code: run with /CODE=<code>"},
    {"/VERYSILENT /CODE=A/B", StoppedBeforeInstalling, RefusedSlashLine},
};

static void test_unseen_first_installations()
{
    char product[MAX_PATH];
    PathIn(product, sizeof product, BuildFolder, "product");
    for (const UnseenCase& c : UnseenCases) {
        SetContext("nobody sees the screen: VelloranInnoSetup.exe %s", c.arguments);
        PrepareMachine();
        UnseenRun run;
        char log[1024];
        RunUnseenSetup("VelloranInnoSetup.exe", c.arguments, &run, log, sizeof log);
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
        CheckSetupTemporaryFolderRemoved(__LINE__);
    }
    ClearContext();
}

// A second installation over an earlier one, unseen: the stored code stays
// whatever the command line gives. Then Inno Setup's registration, whose
// quiet command removes the product and keeps the reporter's data; while
// another setup program runs it removes nothing and fails.
static void test_unseen_update_and_removal()
{
    PrepareMachine();
    UnseenRun run;
    char log[1024];
    RunUnseenSetup("VelloranInnoSetup.exe", "/VERYSILENT /CODE=john", &run, log, sizeof log);
    ok(run.exitCode == 0, "first installation: exit code %lu", run.exitCode);

    SetContext("second installation");
    RunUnseenSetup("VelloranInnoUpdate.exe", "/VERYSILENT /CODE=mary", &run, log, sizeof log);
    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    CheckLogHasLine(log, "stored reporter code JOHN kept: the given code mary was not used");
    char product[MAX_PATH];
    PathIn(product, sizeof product, BuildFolder, "product");
    CheckInstalledFor("JOHN", product);
    ok(!DirectoryExists("C:\\MARY"), "C:\\MARY was made");
    ClearContext();

    static const char* const Registered[][2] = {
        {"DisplayName", "Velloran"},
        {"DisplayVersion", "1.0.0"},
        {"Publisher", "Velloran"},
        {"UninstallString", "\"C:\\TELDAX\\unins000.exe\""},
        {"QuietUninstallString", "\"C:\\TELDAX\\unins000.exe\" /SILENT"},
        {"NoModify", "1"},
        {"NoRepair", "1"},
    };
    char value[MAX_PATH];
    for (const auto& entry : Registered) {
        ReadUninstallValue(UninstallKey, entry[0], value, sizeof value);
        ok(strcmp(value, entry[1]) == 0, "%s is \"%s\", expected \"%s\"", entry[0], value, entry[1]);
    }

    char quiet[MAX_PATH];
    ReadUninstallValue(UninstallKey, "QuietUninstallString", quiet, sizeof quiet);
    HANDLE other = HoldMutex("Global\\VelloranSetup");
    RunUnseenChecked(quiet, UnseenLimitMs, true, &run);
    CloseHandle(other);
    // Inno Setup's uninstaller gives only 0 or 1.
    ok(run.exitCode == 1, "removal while another setup program runs: exit code %lu, expected 1", run.exitCode);
    ok(FileExists("C:\\TELDAX\\vell.exe"), "removed while another setup program runs");

    RunUnseenChecked(quiet, UnseenLimitMs, true, &run);
    ok(run.exitCode == 0, "removal: exit code %lu, expected 0", run.exitCode);
    CheckRemovedKeeping("JOHN");
    ok(!FileExists("C:\\TELDAX\\unins000.exe"), "the uninstaller is still there");
    ReadUninstallValue(UninstallKey, "DisplayName", value, sizeof value);
    ok(value[0] == '\0', "still registered in Programs and Features");
}

// While another setup program or uninstaller of Velloran runs, or Windows
// Installer runs an installation, Setup installs nothing and ends with
// 1618, which deployment tools retry.
static void test_another_installation_running()
{
    static const char* const Mutexes[] = {"Global\\VelloranSetup", "Global\\_MSIExecute"};
    for (const char* name : Mutexes) {
        SetContext("%s held", name);
        PrepareMachine();
        HANDLE other = HoldMutex(name);
        UnseenRun run;
        char log[512];
        RunUnseenSetup("VelloranInnoSetup.exe", "/VERYSILENT /CODE=john", &run, log, sizeof log);
        CloseHandle(other);
        ok(run.exitCode == Busy, "exit code %lu, expected %lu", run.exitCode, Busy);
        CheckLog(log, strstr(name, "MSI") ? "a Windows Installer installation is running: try again later\r\n"
                                          : "another Velloran setup program or uninstaller is running: try again "
                                            "later\r\n");
        CheckNothingInstalled();
        CheckSetupTemporaryFolderRemoved(__LINE__);
    }
    ClearContext();
}

int main(int argc, char** argv)
{
    InitHarness(argc, argv);
    if (argc < 4) {
        printf("usage: %s <VINSTALLDLL.dll> <folder of VelloranInnoSetup.exe> <folder of the build's product/>\n",
               argv[0]);
        return 2;
    }
    WindowsPathOf(argv[2], SetupFolder, sizeof SetupFolder);
    WindowsPathOf(argv[3], BuildFolder, sizeof BuildFolder);
    char setup[MAX_PATH];
    PathIn(setup, sizeof setup, SetupFolder, "VelloranInnoSetup.exe");
    if (!FileExists(setup)) {
        printf("skipped: %s was not built (see the test inno_build)\n", setup);
        return 77;
    }
    FindInstallationPlaces();
    RemoveSetupTemporaryFolders();

    test_first_installation();
    test_stored_code();
    test_refusal_on_windows10();
    test_update_check();
    test_foreign_install_folder();
    test_cancelled();
    test_unseen_first_installations();
    test_unseen_update_and_removal();
    test_another_installation_running();
    CleanDrive();
    return FinishTests("inno");
}
