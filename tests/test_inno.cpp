// The setup program built with Inno Setup (installer/VelloranSetup.iss), run
// under Wine as its user runs it: started as a program of its own (its
// wizard runs in a second process), its Install and Finish buttons pressed,
// the reporter code dialog answered from outside, the library's message
// boxes answered with OK; silently; and as a deployment agent runs it,
// silently on a desktop that nobody sees (tools/unseen.h), with the code on
// its command line. What is checked is what the run leaves behind: the
// statuses in the setup program's status log, its exit code, the windows
// it showed, RC.DAT, the product's files and shortcuts, the release records,
// whether the PDF converter's installer was started, the registration in
// Programs and Features and what its uninstaller leaves.
//
// What Wine decides here. Wine 8 reports every token as TokenElevationTypeFull
// (a split token) and names the Wine user, not Administrators, as the owner
// of every file, whatever owner a program sets. The library does not count
// that user as an administrator where the token is split, so under Wine:
// ProtectInstallFolder refuses every C:\TELDAX that already exists (status 0,
// Setup ends with 7 and changes nothing), and InstallPDF never starts
// install.exe (the folder's entries are not administrators' only). Only a
// machine without C:\TELDAX installs. The cases below assert those outcomes;
// an administrators' folder accepted, a stored code kept or replaced over an
// earlier installation, and install.exe started are the library's own tests.
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
// Inno Setup's own log (/LOG=), where the script says what the status log
// cannot hold: where the status log went, and the uninstaller's calls.
static const char InnoLogPath[] = "C:\\inno.log";
// Silent, and none of Inno Setup's own message boxes (a file that cannot be
// copied would otherwise ask Abort/Retry/Ignore even in /VERYSILENT).
static const char SilentRun[] = "/VERYSILENT /SUPPRESSMSGBOXES";
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
// The copy of the library that the uninstaller loads.
static const char UninstallersLibrary[] = "C:\\TELDAX\\VINSTALLDLL.dll";

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

// ProtectInstallFolder's lines: C:\TELDAX made, and how a refusal ends.
static const char MadeLine[] = "C:\\TELDAX made, writable by administrators only";
static const char RefusalAdvice[] = ": nothing installed; an administrator should look at what the folder holds, "
                                    "then delete it or make Administrators its owner, and run the installation again";
// The Wine user, whom Wine names as the owner of every file it makes.
static const char WineUser[] = "S-1-5-21-0-0-0-1000";

// The status log of a run that found no C:\TELDAX: "ProtectInstallFolder 2"
// and the library's line for it, then exactly rest.
#define CheckMadeLog(log, rest) CheckMadeLogAt(__LINE__, log, rest)
static void CheckMadeLogAt(int line, const char* log, const char* rest)
{
    char expected[1024];
    snprintf(expected, sizeof expected, "ProtectInstallFolder 2\r\n%s\r\n%s", MadeLine, rest);
    CheckLogAt(__FILE__, line, log, expected);
}

// The status log of a run that ProtectInstallFolder stopped because owner
// may change C:\TELDAX: its status, its line (the rights it names are
// Wine's), then "stopped".
#define CheckRefusedLog(log, owner) CheckRefusedLogAt(__LINE__, log, owner)
static void CheckRefusedLogAt(int line, const char* log, const char* owner)
{
    char start[128], end[512];
    snprintf(start, sizeof start, "ProtectInstallFolder 0\r\nC:\\TELDAX: %s may change it", owner);
    snprintf(end, sizeof end, "%s\r\nstopped\r\n", RefusalAdvice);
    size_t length = strlen(log), endLength = strlen(end);
    OkAt(__FILE__, line,
         StartsWith(log, start) && length > endLength && strcmp(log + length - endLength, end) == 0 &&
             strstr(log + strlen(start), "\r\n") == log + length - endLength + strlen(RefusalAdvice),
         "log %s, expected \"%s...%s\"", Show(log, (int)length), start, end);
}

// The file at path holds the same bytes as the file at built.
static bool SameFile(const char* path, const char* built)
{
    static char a[256 * 1024], b[256 * 1024];
    int na = ReadBytes(path, a, sizeof a), nb = ReadBytes(built, b, sizeof b);
    return na > 0 && na == nb && memcmp(a, b, na) == 0;
}

// A first installation through the wizard: after Install the dialog opens,
// owned by the wizard; the code is typed into it (clicked into first),
// stored, the product copied and its shortcuts moved, a Master Load's
// records written. Under Wine InstallPDF does not start the PDF converter's
// installer (see the top of this file): it says 1 and starts nothing.
static void test_first_installation()
{
    PrepareMachine();
    SetupRun run;
    char log[1024];
    RunSetupProgram("VelloranInnoSetup.exe", "/PDF", AnswerWithCode, "john", &run, log, sizeof log, WizardButtons);

    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    CheckMadeLog(log,
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
    ok(SameFile(UninstallersLibrary, LibraryPath()), "%s is not the library %s", UninstallersLibrary,
       LibraryPath());

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
    ok(!FileExists(ReceivedFile), "the PDF converter's installer was started under Wine");
}

// What a case of an existing C:\TELDAX puts there, and the files that must
// come out of the run unchanged (NULL-terminated); false when it cannot be
// made here.
typedef bool (*PrepareExisting)(const char** keep);

// An earlier installation's C:\TELDAX\RC.DAT (MARY), and the obsolete system
// file that AfterInstall would delete.
static bool PrepareEarlierInstallation(const char** keep)
{
    keep[0] = PrepareStoredCodeMachine();
    keep[1] = CodeFile;
    keep[2] = NULL;
    return true;
}

// A C:\TELDAX of another Unix user, which Wine shows as owned by Anonymous
// Logon (S-1-5-7), with a program planted in it.
static bool PrepareForeignFolder(const char** keep)
{
    PrepareMachine();
    MakeDirectory("C:\\TELDAX");
    WriteBytes("C:\\TELDAX\\vell.exe", "planted", 7);
    keep[0] = "C:\\TELDAX\\vell.exe";
    keep[1] = NULL;
    if (GiveToAnotherUser("C:\\TELDAX"))
        return true;
    Skip("C:\\TELDAX cannot be given to another Unix user here (not root)");
    return false;
}

struct ExistingFolderCase {
    const char* name;
    PrepareExisting prepare;
    const char* program;
    const char* arguments;
    const char* owner;  // whom the refusal names
};

static const ExistingFolderCase ExistingFolderCases[] = {
    {"an earlier installation, an Update release", PrepareEarlierInstallation, "VelloranInnoUpdate.exe", "",
     WineUser},
    {"another user's folder", PrepareForeignFolder, "VelloranInnoSetup.exe", "/PDF /CODE=john", "S-1-5-7"},
};

// A silent run over an existing C:\TELDAX: under Wine ProtectInstallFolder
// refuses it (see the top of this file), and Setup stops before the
// reporter code is looked at and before anything is written: exit code 7,
// the refusal in the log, no window, and every file as it was.
static void test_existing_install_folder()
{
    for (const ExistingFolderCase& c : ExistingFolderCases) {
        SetContext("%s: %s %s", c.name, c.program, c.arguments);
        const char* keep[4];
        if (!c.prepare(keep))
            continue;
        FileState before[3];
        for (int i = 0; keep[i]; ++i)
            before[i] = StateOf(keep[i]);

        SetupRun run;
        char log[1024];
        RunSetupProgram(c.program, c.arguments, AnswerWithCode, "john", &run, log, sizeof log);
        ok(run.exitCode == StoppedBeforeInstalling, "exit code %lu, expected %lu", run.exitCode,
           StoppedBeforeInstalling);
        CheckRefusedLog(log, c.owner);
        ok(run.dialogsShown == 0 && run.messageCount == 0, "%d dialogs and %d message boxes shown",
           run.dialogsShown, run.messageCount);
        for (int i = 0; keep[i]; ++i)
            ok(SameState(before[i], StateOf(keep[i])), "%s changed", keep[i]);
        char desktopLink[MAX_PATH];
        PathIn(desktopLink, sizeof desktopLink, CommonDesktop, "Velloran.lnk");
        const char* const Absent[] = {"C:\\TELDAX\\unins000.exe", "C:\\TELDAX\\Velloran.lnk",
                                      "c:\\teldax\\UpdName.txt", ReceivedFile, desktopLink, UninstallersLibrary};
        for (const char* path : Absent)
            ok(!FileExists(path), "%s was written", path);
        ok(!DirectoryExists("C:\\JOHN"), "C:\\JOHN was made");
    }
    ClearContext();
}

// The Windows version Wine reports to the setup program: to the program
// started and to the copy of itself that runs the wizard.
static void ReportWindowsVersion(const char* version)
{
    ReportWindowsVersionTo("VelloranInnoSetup.exe", version);
    ReportWindowsVersionTo("VelloranInnoSetup.tmp", version);
}

// Inno Setup's setup programs list Windows 10 as supported, so the library
// sees 10.0 and refuses it: ProtectInstallFolder, called first, makes and
// changes nothing there, and BeforeInstallWithCode's status 0 stops the
// setup before it copies anything. The run is silent: the refusal goes to
// the log, not into a box.
static void test_refusal_on_windows10()
{
    PrepareMachine();
    ReportWindowsVersion("win10");
    SetupRun run;
    char log[1024];
    RunSetupProgram("VelloranInnoSetup.exe", "/PDF", AnswerWithCode, "john", &run, log, sizeof log);
    ReportWindowsVersion(NULL);

    ok(run.exitCode == StoppedBeforeInstalling, "exit code %lu, expected %lu", run.exitCode,
       StoppedBeforeInstalling);
    char expected[512];
    snprintf(expected, sizeof expected,
             "ProtectInstallFolder 1\r\nWindows 10.0, which BeforeInstallWithCode refuses: C:\\TELDAX left as it "
             "is\r\nBeforeInstallWithCode 0\r\n%s\r\nstopped\r\n",
             VersionRefusalLine);
    CheckLog(log, expected);
    ok(run.dialogsShown == 0 && run.messageCount == 0, "%d dialogs and %d message boxes shown", run.dialogsShown,
       run.messageCount);
    ok(!DirectoryExists("C:\\TELDAX") && !DirectoryExists("C:\\JOHN"), "something was installed");
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
// its code for a Cancel before installing, and installs nothing; the folder
// made for it goes again.
static void test_cancelled()
{
    PrepareMachine();
    SetupRun run;
    char log[1024];
    RunSetupProgram("VelloranInnoSetup.exe", "/PDF", AnswerCancel, NULL, &run, log, sizeof log, WizardButtons);
    ok(run.exitCode == Cancelled, "exit code %lu, expected %lu", run.exitCode, Cancelled);
    CheckMadeLog(log, "BeforeInstallWithCode 0\r\ncancelled at the reporter code dialog\r\nstopped\r\n");
    ok(run.dialogsShown == 1, "%d dialogs shown, expected 1", run.dialogsShown);
    CheckNothingInstalled();
    CheckSetupTemporaryFolderRemoved(__LINE__);
}

// Setup started as a deployment agent starts it: on a desktop that nobody
// sees, with its status log in LogPath (deleted first unless keepLogName:
// what is at that name then is the case's); the log's text lands in log.
static void RunUnseenSetup(const char* program, const char* arguments, UnseenRun* run, char* log, int logSize,
                           bool keepLogName = false)
{
    char line[3 * MAX_PATH];
    snprintf(line, sizeof line, "\"%s\\%s\" %s /STATUSLOG=%s", SetupFolder, program, arguments, LogPath);
    if (!keepLogName)
        DeleteFileA(LogPath);
    RunUnseenChecked(line, UnseenLimitMs, true, run);
    ReadText(LogPath, log, logSize);
}

// Where nobody sees the screen a silent run ends by itself within seconds,
// with no dialog or message box: with a code it installs; without one, or
// with one that the name rules refuse, it fails and installs nothing, and
// the folder made for it goes again.
struct UnseenCase {
    const char* arguments;
    DWORD exitCode;
    const char* line;  // a line of the log
};

static const UnseenCase UnseenCases[] = {
    {"/VERYSILENT /SUPPRESSMSGBOXES /CODE=john", 0, "reporter code JOHN stored"},
    {"/VERYSILENT /SUPPRESSMSGBOXES /REPLACECODE /CODE=john", 0, "BeforeInstallWithCode 2"},
    {"/VERYSILENT /SUPPRESSMSGBOXES", StoppedBeforeInstalling, "no reporter code: run with /CODE=<code>"},
    {"/SILENT /SUPPRESSMSGBOXES", StoppedBeforeInstalling, "no reporter code: run with /CODE=<code>"},
    {"/VERYSILENT /SUPPRESSMSGBOXES /CODE=A/B", StoppedBeforeInstalling, RefusedSlashLine},
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
        CheckLogHasLine(log, "ProtectInstallFolder 2");
        CheckLogHasLine(log, MadeLine);
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

// The product goes into C:\TELDAX only, the folder the library protects and
// writes: /DIR= naming another folder refuses the run before anything is
// written (exit code 7, the log's line, nothing in either folder); /DIR=
// naming C:\TELDAX itself, in any case and with a last backslash, installs.
struct DirCase {
    const char* arguments;
    const char* line;  // the log's line for a refusal, or NULL: installed
};

static const DirCase DirCases[] = {
    {"/VERYSILENT /SUPPRESSMSGBOXES /CODE=john /DIR=C:\\Apps\\Velloran",
     "/DIR=C:\\Apps\\Velloran refused: Velloran installs into C:\\TELDAX only: run without /DIR="},
    {"/VERYSILENT /SUPPRESSMSGBOXES \"/DIR=C:\\Apps\\Velloran\" /CODE=john",
     "/DIR=C:\\Apps\\Velloran refused: Velloran installs into C:\\TELDAX only: run without /DIR="},
    {"/VERYSILENT /SUPPRESSMSGBOXES /CODE=john /DIR=c:\\teldax\\", NULL},
};

static void test_install_folder_fixed()
{
    char product[MAX_PATH];
    PathIn(product, sizeof product, BuildFolder, "product");
    for (const DirCase& c : DirCases) {
        SetContext("VelloranInnoSetup.exe %s", c.arguments);
        PrepareMachine();
        UnseenRun run;
        char log[1024];
        RunUnseenSetup("VelloranInnoSetup.exe", c.arguments, &run, log, sizeof log);
        ok(!DirectoryExists("C:\\Apps\\Velloran"), "C:\\Apps\\Velloran was made");
        if (c.line) {
            ok(run.exitCode == StoppedBeforeInstalling, "exit code %lu, expected %lu; log %s", run.exitCode,
               StoppedBeforeInstalling, Show(log, strlen(log)));
            CheckLogHasLine(log, c.line);
            CheckLogHasLine(log, "stopped");
            CheckNothingInstalled();
        } else {
            ok(run.exitCode == 0, "exit code %lu, expected 0; log %s", run.exitCode, Show(log, strlen(log)));
            CheckInstalledFor("JOHN", product);
        }
        CheckSetupTemporaryFolderRemoved(__LINE__);
    }
    ClearContext();
}

// Inno Setup's own log (/LOG=) holds line, after its time stamp.
#define CheckInnoLogHas(line) CheckInnoLogHasAt(__LINE__, line)
static void CheckInnoLogHasAt(int line, const char* expected)
{
    static char log[64 * 1024];
    int length = ReadText(InnoLogPath, log, sizeof log);
    OkAt(__FILE__, line, strstr(log, expected) != NULL, "Inno Setup's log (%d bytes) has no %s", length,
         Show(expected, (int)strlen(expected)));
}

// The status log is made new, never written through what is at its name:
// Setup runs as an administrator or SYSTEM, and /STATUSLOG= or the folder
// beside the program may be one that ordinary users can write. A second
// name of someone else's file there is deleted, not truncated or written
// through; a name that cannot be made new (a folder there) sends the lines
// to a name of the run's own beside it, which Inno Setup's log gives.
static void test_status_log_made_new()
{
    static const char Victim[] = "C:\\victim.txt";
    static const char VictimBytes[] = "someone else's file";
    char arguments[MAX_PATH];
    snprintf(arguments, sizeof arguments, "/VERYSILENT /SUPPRESSMSGBOXES /CODE=john /LOG=%s", InnoLogPath);

    SetContext("a hard link to another file at the status log's name");
    PrepareMachine();
    WriteBytes(Victim, VictimBytes, sizeof VictimBytes - 1);
    FileState victim = StateOf(Victim);
    DeleteFileA(LogPath);
    if (MakeHardLink(LogPath, Victim)) {
        UnseenRun run;
        char log[1024];
        RunUnseenSetup("VelloranInnoSetup.exe", arguments, &run, log, sizeof log, true);
        ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
        FileState after = StateOf(Victim);
        ok(SameState(victim, after), "the file linked at the log's name was written: %s",
           after.length < 0 ? "gone" : Show(after.bytes, after.length));
        CheckLogHasLine(log, "completed");
        char status[64];
        snprintf(status, sizeof status, "Status log: %s\r\n", LogPath);
        CheckInnoLogHas(status);
    }

    SetContext("a folder at the status log's name");
    PrepareMachine();
    MakeDirectory(LogPath);
    UnseenRun run;
    char log[1024];
    RunUnseenSetup("VelloranInnoSetup.exe", arguments, &run, log, sizeof log, true);
    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("C:\\setup-*.log", &found);
    ok(search != INVALID_HANDLE_VALUE, "no status log beside %s", LogPath);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        char path[MAX_PATH];
        PathIn(path, sizeof path, "C:", found.cFileName);
        ReadText(path, log, sizeof log);
        CheckLogHasLine(log, "ProtectInstallFolder 2");
        CheckLogHasLine(log, "completed");
        char said[2 * MAX_PATH];
        snprintf(said, sizeof said, "the status lines go to %s\r\n", path);
        CheckInnoLogHas(said);
    }
    RemoveTree(LogPath);
    ClearContext();
}

// Runs the registered quiet removal where nobody sees the screen, without
// Inno Setup's message boxes and with its log in InnoLogPath.
static void RunQuietRemoval(UnseenRun* run)
{
    char quiet[MAX_PATH];
    ReadUninstallValue(UninstallKey, "QuietUninstallString", quiet, sizeof quiet);
    char line[2 * MAX_PATH];
    snprintf(line, sizeof line, "%s /SUPPRESSMSGBOXES /LOG=%s", quiet, InnoLogPath);
    DeleteFileA(InnoLogPath);
    RunUnseenChecked(line, UnseenLimitMs, true, run);
}

// A second installation over an earlier one, unseen: under Wine the existing
// C:\TELDAX is refused (see the top of this file), whatever code the command
// line gives, and the first installation stays as it was. Then Inno Setup's
// registration, whose quiet command removes the product through the
// library's RemoveLibraryFiles and keeps the reporter's data; while another
// setup program runs, or where C:\TELDAX has become a link, it removes
// nothing and fails.
static void test_unseen_update_and_removal()
{
    PrepareMachine();
    UnseenRun run;
    char log[1024];
    RunUnseenSetup("VelloranInnoSetup.exe", "/VERYSILENT /SUPPRESSMSGBOXES /CODE=john", &run, log, sizeof log);
    ok(run.exitCode == 0, "first installation: exit code %lu", run.exitCode);

    char product[MAX_PATH];
    PathIn(product, sizeof product, BuildFolder, "product");
    static const char* const Again[] = {"/VERYSILENT /SUPPRESSMSGBOXES /CODE=mary",
                                        "/VERYSILENT /SUPPRESSMSGBOXES /REPLACECODE /CODE=mary"};
    for (const char* arguments : Again) {
        SetContext("second installation: VelloranInnoUpdate.exe %s", arguments);
        RunUnseenSetup("VelloranInnoUpdate.exe", arguments, &run, log, sizeof log);
        ok(run.exitCode == StoppedBeforeInstalling, "exit code %lu, expected %lu", run.exitCode,
           StoppedBeforeInstalling);
        CheckRefusedLog(log, WineUser);
        CheckInstalledFor("JOHN", product);
        ok(!DirectoryExists("C:\\MARY"), "C:\\MARY was made");
    }
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
        // Windows compares paths without case: an earlier run with
        // /DIR=c:\teldax\ registers the uninstaller under that spelling.
        bool path = strstr(entry[0], "UninstallString") != NULL;
        ok((path ? _stricmp(value, entry[1]) : strcmp(value, entry[1])) == 0, "%s is \"%s\", expected \"%s\"", entry[0], value, entry[1]);
    }

    HANDLE other = HoldMutex("Global\\VelloranSetup");
    RunQuietRemoval(&run);
    CloseHandle(other);
    // Inno Setup's uninstaller gives only 0 or 1.
    ok(run.exitCode == 1, "removal while another setup program runs: exit code %lu, expected 1", run.exitCode);
    ok(FileExists("C:\\TELDAX\\vell.exe") && FileExists("c:\\teldax\\UpdName.txt"),
       "removed while another setup program runs");

    // C:\TELDAX a link to the folder that holds the installation: whoever
    // could put it there could lead every deletion by name elsewhere. The
    // library refuses to delete in it (status 0), and the uninstaller then
    // removes nothing, through the link or in the folder it leads to.
    SetContext("C:\\TELDAX a link to the installation's folder");
    bool moved = MoveFileA("C:\\TELDAX", "C:\\ELSEWHERE") != FALSE;
    ok(moved, "cannot move C:\\TELDAX aside: error %lu", GetLastError());
    if (moved && MakeFolderLink("C:\\TELDAX", "C:\\ELSEWHERE")) {
        RunQuietRemoval(&run);
        ok(run.exitCode == 1, "exit code %lu, expected 1", run.exitCode);
        CheckInnoLogHas("   RemoveLibraryFiles 0\r\n");
        CheckInnoLogHas("C:\\TELDAX: it is a reparse point: nothing in it deleted\r\n");
        static const char* const Kept[] = {"C:\\ELSEWHERE\\vell.exe", "C:\\ELSEWHERE\\UpdName.txt",
                                           "C:\\ELSEWHERE\\Velloran.lnk", "C:\\ELSEWHERE\\unins000.exe",
                                           "C:\\ELSEWHERE\\VINSTALLDLL.dll"};
        for (const char* path : Kept)
            ok(FileExists(path), "%s was deleted through the link", path);
        ReadUninstallValue(UninstallKey, "DisplayName", value, sizeof value);
        ok(strcmp(value, "Velloran") == 0, "no longer registered in Programs and Features");
    }
    if (moved) {
        RemoveFolderLink("C:\\TELDAX");
        ok(MoveFileA("C:\\ELSEWHERE", "C:\\TELDAX") != FALSE, "cannot move C:\\TELDAX back: error %lu",
           GetLastError());
    }
    ClearContext();

    RunQuietRemoval(&run);
    ok(run.exitCode == 0, "removal: exit code %lu, expected 0", run.exitCode);
    CheckRemovedKeeping("JOHN");
    CheckInnoLogHas("   RemoveLibraryFiles 1\r\n");
    CheckInnoLogHas("; C:\\TELDAX kept: it is not empty\r\n");
    ok(!FileExists("C:\\TELDAX\\unins000.exe"), "the uninstaller is still there");
    ok(!FileExists(UninstallersLibrary), "the uninstaller's library is still there");
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
        RunUnseenSetup("VelloranInnoSetup.exe", "/VERYSILENT /SUPPRESSMSGBOXES /CODE=john", &run, log, sizeof log);
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
    test_existing_install_folder();
    test_refusal_on_windows10();
    test_update_check();
    test_cancelled();
    test_unseen_first_installations();
    test_install_folder_fixed();
    test_status_log_made_new();
    test_unseen_update_and_removal();
    test_another_installation_running();
    CleanDrive();
    return FinishTests("inno");
}
