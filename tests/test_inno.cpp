// The setup program built with Inno Setup (installer/VelloranSetup.iss), run
// under Wine as its user runs it, silently: started as a program of its own
// (its wizard runs in a second process), the reporter code dialog answered
// from outside, the library's message boxes answered with OK. What is
// checked is what the run leaves behind: the statuses in the setup
// program's status log, its exit code, the windows it showed, RC.DAT, the
// product's files and shortcuts, the release records and what the PDF
// converter's installer was started with.
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
static const char SilentRun[] = "/VERYSILENT /SUPPRESSMSGBOXES";
// Inno Setup's wizard window, which the setup script hands to the library.
static const char WizardCaption[] = "Setup - Velloran";
static const char VersionRefusal[] =
    "Your version of the Velloran\nsoftware does not work with\nthis version of Windows.";
// Inno Setup's exit code for a stop in PrepareToInstall.
static const DWORD StoppedBeforeInstalling = 7;

static char SetupFolder[MAX_PATH];
static char BuildFolder[MAX_PATH];

// Runs program (in the setup folder) silently with arguments and its status
// log in LogPath; the log's text lands in log.
static void RunSetupProgram(const char* program, const char* arguments, DialogAnswer answer, const char* code,
                            SetupRun* run, char* log, int logSize)
{
    char line[3 * MAX_PATH];
    snprintf(line, sizeof line, "\"%s\\%s\" %s %s /STATUSLOG=%s", SetupFolder, program, SilentRun, arguments,
             LogPath);
    DeleteFileA(LogPath);
    bool started = RunSetup(line, answer, code, TimeLimitMs, run);
    ok(started, "cannot start %s: error %lu", line, GetLastError());
    ok(!run->timedOut, "%s still running after %lu ms", line, TimeLimitMs);
    int length = ReadBytes(LogPath, log, logSize - 1);
    log[length < 0 ? 0 : length] = '\0';
}

// A first installation, silent: the dialog opens with no window of the setup
// program on screen; the code is typed into it (clicked into first), stored,
// the product copied and its shortcuts moved, a Master Load's records
// written and the PDF converter's installer started.
static void test_first_installation()
{
    PrepareMachine();
    SetupRun run;
    char log[512];
    RunSetupProgram("VelloranInnoSetup.exe", "/PDF", AnswerWithCode, "john", &run, log, sizeof log);

    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    CheckLog(log,
             "C:\\TELDAX made, writable by administrators only\r\n"
             "BeforeInstall 2\r\nAfterInstall 1\r\nMLDInfo 1\r\nInstallPDF 1\r\ncompleted\r\n");
    ok(run.dialogsShown == 1 && strcmp(run.dialogCaption, "Reporter Code") == 0,
       "%d dialogs shown, the last \"%s\"; expected one \"Reporter Code\"", run.dialogsShown, run.dialogCaption);
    ok(StartsWith(run.dialogOwner, WizardCaption), "dialog owned by \"%s\", not the wizard's window",
       run.dialogOwner);
    ok(strcmp(run.typed, "john") == 0, "the field held \"%s\" after typing, expected \"john\"", run.typed);
    // In a silent run the setup shows no window of its own: the dialog comes
    // to the front by itself.
    ok(run.dialogInFront, "the reporter code dialog was not the foreground window when it opened");
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
             "BeforeInstall 1\r\nAfterInstall 1\r\nUpdateInfo 1\r\ncompleted\r\n");
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
// anything, and the folder made for it goes again.
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
    CheckLog(log, "C:\\TELDAX made, writable by administrators only\r\nBeforeInstall 0\r\nstopped\r\n");
    ok(run.dialogsShown == 0, "%d dialogs shown", run.dialogsShown);
    ok(run.messageCount == 1, "%d message boxes shown, expected 1", run.messageCount);
    CheckMessage(run, 0, "Velloran - Windows Version", VersionRefusal, WizardCaption);
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

    test_first_installation();
    test_stored_code();
    test_refusal_on_windows10();
    test_update_check();
    test_foreign_install_folder();
    CleanDrive();
    return FinishTests("inno");
}
