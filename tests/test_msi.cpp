// The reference Windows Installer package, run by Wine's msiexec as an
// administrator runs it: a process of its own, started with /i and a
// verbose log, with a reduced user interface (/qr) the reporter code dialog
// (shown by the library from the installer's custom action server) answered
// from outside; and as a deployment agent runs it, with /qn and REPORTERCODE
// on a desktop that nobody sees (tools/unseen.h). What is checked is what
// the run leaves behind: msiexec's exit code, the statuses that the custom
// actions wrote into the log, the dialog shown, RC.DAT, the product's files,
// the shortcuts read back, the records, whether the product is registered,
// what an upgrade and a removal leave, and that the wrapper took its
// temporary folder away.
//
//   test_msi.exe <VINSTALLDLL.dll> <folder of Velloran.msi>
#include "harness.h"

#include "installation_checks.h"
#include "release_settings.h"

#include <msi.h>
#include <stdio.h>
#include <string.h>

// The packages' ProductCodes (installer/msi/CMakeLists.txt): the reference
// package and the next release, which upgrades it.
static const char ProductCode[] = "{6F1C3E52-8B0D-4C7A-9E61-2A5D7B40C1E3}";
static const char NextProductCode[] = "{C6A3E0F4-2D7B-4E19-9B85-3F1A6D2C8E57}";
// An installation takes a few seconds; one still going after this has hung.
// Every msiexec run has it: under Wine, msiexec /x of a package that is not
// installed waits for ever.
static const DWORD TimeLimitMs = 60000;
static const char LogPath[] = "C:\\msi.log";
// ERROR_INSTALL_USEREXIT, msiexec's exit code when an action ends the
// installation as the user's choice.
static const DWORD UserExit = 1602;
static const char NoCodeLine[] = "VINSTALLDLL: no reporter code: run with REPORTERCODE=<code>\n";

static char PackageFolder[MAX_PATH];
static char Msiexec[MAX_PATH];
static char TempFolder[MAX_PATH];

static bool ProductInstalled(const char* productCode = ProductCode)
{
    return MsiQueryProductStateA(productCode) == INSTALLSTATE_DEFAULT;
}

// Runs msiexec with arguments; the reporter code dialog is answered as asked.
static void RunMsiexec(const char* arguments, DialogAnswer answer, const char* code, SetupRun* run)
{
    char line[3 * MAX_PATH];
    snprintf(line, sizeof line, "\"%s\" %s", Msiexec, arguments);
    bool started = RunSetup(line, answer, code, TimeLimitMs, run);
    ok(started, "cannot start %s: error %lu", line, GetLastError());
    ok(!run->timedOut, "%s still running after %lu ms", line, TimeLimitMs);
}

// The lines of the log at LogPath from the wrapper ("VINSTALLDLL: ..."),
// one per line, into statuses.
static void ReadStatuses(char* statuses, int size)
{
    static char log[512 * 1024];
    ok(ReadText(LogPath, log, sizeof log) > 0, "no log in %s", LogPath);
    int used = 0;
    statuses[0] = '\0';
    for (const char* line = log; *line;) {
        const char* end = line + strcspn(line, "\r\n");
        if (StartsWith(line, "VINSTALLDLL: ") && used + (end - line) + 2 < size) {
            memcpy(statuses + used, line, end - line);
            used += (int)(end - line);
            statuses[used++] = '\n';
            statuses[used] = '\0';
        }
        line = end + strspn(end, "\r\n");
    }
}

// Installs package (in the build's folder) with a verbose log, the user
// interface level given (/qn: none, /qr: reduced) and the properties given;
// the log's lines from the wrapper land in statuses.
static void Install(const char* package, const char* level, const char* properties, DialogAnswer answer,
                    const char* code, SetupRun* run, char* statuses, int size)
{
    char arguments[3 * MAX_PATH];
    snprintf(arguments, sizeof arguments, "/i \"%s\\%s\" %s /l*v %s %s", PackageFolder, package, level, LogPath,
             properties);
    DeleteFileA(LogPath);
    RunMsiexec(arguments, answer, code, run);
    ReadStatuses(statuses, size);
}

// msiexec with arguments and a verbose log where nobody sees the screen; the
// log's lines from the wrapper land in statuses.
static void RunUnseenMsiexec(const char* arguments, UnseenRun* run, char* statuses, int size)
{
    char line[3 * MAX_PATH];
    snprintf(line, sizeof line, "\"%s\" %s /l*v %s", Msiexec, arguments, LogPath);
    DeleteFileA(LogPath);
    RunUnseenChecked(line, UnseenLimitMs, true, run);
    ReadStatuses(statuses, size);
}

static void CheckStatuses(int line, const char* statuses, const char* expected)
{
    OkAt(__FILE__, line, strcmp(statuses, expected) == 0, "the log's lines from the wrapper are %s, expected %s",
         Show(statuses, strlen(statuses)), Show(expected, strlen(expected)));
}

// The wrapper's own folder for the library ("VINSTALL.*" in the temporary
// folder, which Wine gives the custom action server too) is gone.
static void CheckTemporaryFolderRemoved(int line)
{
    char pattern[MAX_PATH];
    PathIn(pattern, sizeof pattern, TempFolder, "VINSTALL.*");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    OkAt(__FILE__, line, search == INVALID_HANDLE_VALUE, "%s\\%s left behind", TempFolder,
         search == INVALID_HANDLE_VALUE ? "" : found.cFileName);
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
}

// A machine without Velloran: the package not installed (removed by msiexec
// /x if it is), and as for every setup program, with no folder left in the
// temporary folder either.
static void PrepareMachineWithoutPackage()
{
    static const char* const Products[] = {ProductCode, NextProductCode};
    for (const char* product : Products) {
        if (!ProductInstalled(product))
            continue;
        char arguments[128];
        snprintf(arguments, sizeof arguments, "/x %s /qn", product);
        SetupRun run;
        RunMsiexec(arguments, AnswerCancel, NULL, &run);
        ok(!ProductInstalled(product), "msiexec %s left the package installed (exit code %lu)", arguments,
           run.exitCode);
    }
    PrepareMachine();
    RemoveMatching(TempFolder, "VINSTALL.*");
}

// A first installation on a fresh machine, with a user interface (reduced,
// /qr): the code typed into the library's real dialog is stored, the
// package's files installed, its shortcuts moved to the reporter's
// directory by the later action, the Master Load's records written and,
// with PDF=1, the PDF converter's installer started.
static void test_first_installation()
{
    PrepareMachineWithoutPackage();
    SetupRun run;
    char statuses[1024];
    Install("Velloran.msi", "/qr", "PDF=1", AnswerWithCode, "john", &run, statuses, sizeof statuses);

    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    // The later action loads the library afresh and calls
    // BeforeInstallWithCode again: it reads the code just stored (1), and
    // AfterInstall then knows the platform.
    CheckStatuses(__LINE__, statuses,
                  "VINSTALLDLL: BeforeInstallWithCode returned 2\n"
                  "VINSTALLDLL: reporter code JOHN typed and stored\n"
                  "VINSTALLDLL: BeforeInstallWithCode returned 1\n"
                  "VINSTALLDLL: stored reporter code JOHN kept\n"
                  "VINSTALLDLL: AfterInstall returned 1\n"
                  "VINSTALLDLL: MLDInfo returned 1\n"
                  "VINSTALLDLL: InstallPDF returned 1\n");
    ok(run.dialogsShown == 1 && strcmp(run.dialogCaption, "Reporter Code") == 0,
       "%d dialogs shown, the last \"%s\"; expected one \"Reporter Code\"", run.dialogsShown, run.dialogCaption);
    ok(strcmp(run.typed, "john") == 0, "typed \"%s\"", run.typed);
    ok(run.messageCount == 0, "%d message boxes shown, the first \"%s\"", run.messageCount, run.messages[0].title);
    ok(ProductInstalled(), "the package is not registered as installed");
    CheckCodeFile("JOHN");
    ok(DirectoryExists("C:\\JOHN"), "C:\\JOHN not created");

    char product[MAX_PATH];
    PathIn(product, sizeof product, PackageFolder, "..\\product");
    CheckProductFiles(product);

    char cmd[MAX_PATH];
    PathIn(cmd, sizeof cmd, SystemFolder, "cmd.exe");
    const ShortcutCase shortcuts[] = {
        {"C:\\TELDAX", "Velloran.lnk", "C:\\TELDAX\\vell.exe", "", "C:\\JOHN"},
        {"C:\\TELDAX", "Velloran Dictionary.lnk", "C:\\TELDAX\\vell.exe", "", "C:\\JOHN"},
        // As the package made them: a directory of the package ends in "\\".
        {"C:\\TELDAX", "WinNT.lnk", cmd, "", "C:\\TELDAX\\"},
        {"C:\\TELDAX", "User's Manual.lnk", "C:\\TELDAX\\vell.exe", "/manual", "C:\\TELDAX\\"},
        {NULL, "Velloran.lnk", "C:\\TELDAX\\vell.exe", "", "C:\\JOHN"},
    };
    CheckShortcuts(shortcuts, ARRAYSIZE(shortcuts));

    ExpectFile("c:\\teldax\\UpdName.txt", VINSTALL_DOWNLOAD_BASE VINSTALL_MASTER_LOAD_INSTALLER);
    CheckConverterParameters();
    CheckTemporaryFolderRemoved(__LINE__);
}

// A machine with a stored code, installed without a user: no dialog, the
// stored code's directory, an Update's records. The obsolete system file
// goes only if AfterInstall knew the NT platform, that is if the later
// action's own BeforeInstall ran in the same load of the library.
static void test_stored_code_silent()
{
    PrepareMachineWithoutPackage();
    const char* oldSystemFile = PrepareStoredCodeMachine();

    SetupRun run;
    char statuses[1024];
    Install("Velloran.msi", "/qn", "UPDATE=1", AnswerCancel, NULL, &run, statuses, sizeof statuses);

    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    CheckStatuses(__LINE__, statuses,
                  "VINSTALLDLL: BeforeInstallWithCode returned 1\n"
                  "VINSTALLDLL: stored reporter code MARY kept\n"
                  "VINSTALLDLL: BeforeInstallWithCode returned 1\n"
                  "VINSTALLDLL: stored reporter code MARY kept\n"
                  "VINSTALLDLL: AfterInstall returned 1\n"
                  "VINSTALLDLL: UpdateInfo returned 1\n");
    ok(run.dialogsShown == 0, "the reporter code dialog was shown");
    ok(ProductInstalled(), "the package is not registered as installed");
    CheckCodeFile("MARY");
    ok(!FileExists(oldSystemFile), "%s is still there", oldSystemFile);
    const ShortcutCase shortcuts[] = {
        {"C:\\TELDAX", "Velloran.lnk", "C:\\TELDAX\\vell.exe", "", "C:\\MARY"},
        {NULL, "Velloran.lnk", "C:\\TELDAX\\vell.exe", "", "C:\\MARY"},
    };
    CheckShortcuts(shortcuts, ARRAYSIZE(shortcuts));
    ExpectFile("c:\\teldax\\UpdName.txt", VINSTALL_DOWNLOAD_BASE VINSTALL_UPDATE_INSTALLER);
    ok(!FileExists(ReceivedFile), "the PDF converter's installer was started without PDF=1");
    CheckTemporaryFolderRemoved(__LINE__);
}

// The dialog cancelled: BeforeInstall's 0 ends the installation as the
// user's exit, before the script runs, and nothing of the package is left.
static void test_cancelled()
{
    PrepareMachineWithoutPackage();
    SetupRun run;
    char statuses[1024];
    Install("Velloran.msi", "/qr", "PDF=1", AnswerCancel, NULL, &run, statuses, sizeof statuses);

    ok(run.exitCode == UserExit, "exit code %lu, expected %lu", run.exitCode, UserExit);
    CheckStatuses(__LINE__, statuses,
                  "VINSTALLDLL: BeforeInstallWithCode returned 0\n"
                  "VINSTALLDLL: cancelled at the reporter code dialog\n");
    ok(run.dialogsShown == 1, "%d dialogs shown, expected 1", run.dialogsShown);
    ok(!ProductInstalled(), "the package is registered as installed");
    ok(!DirectoryExists("C:\\TELDAX") && !DirectoryExists("C:\\JOHN"), "something was installed");
    char desktopLink[MAX_PATH];
    PathIn(desktopLink, sizeof desktopLink, CommonDesktop, "Velloran.lnk");
    ok(!FileExists(desktopLink), "%s was made", desktopLink);
    CheckTemporaryFolderRemoved(__LINE__);
}

// A package without the library's Binary row: the wrapper says so in the
// log and fails the installation before anything is installed.
static void test_library_missing()
{
    PrepareMachineWithoutPackage();
    SetupRun run;
    char statuses[1024];
    Install("VelloranNoLibrary.msi", "/qn", "REPORTERCODE=john", AnswerCancel, NULL, &run, statuses,
            sizeof statuses);

    ok(run.exitCode == ERROR_INSTALL_FAILURE, "exit code %lu, expected %lu", run.exitCode,
       (unsigned long)ERROR_INSTALL_FAILURE);
    CheckStatuses(__LINE__, statuses,
                  "VINSTALLDLL: the package has no Binary row VINSTALLDLL (error 259)\n"
                  "VINSTALLDLL: BeforeInstallWithCode not called: the library is not loaded\n");
    ok(run.dialogsShown == 0, "the reporter code dialog was shown");
    ok(!ProductInstalled(), "the package is registered as installed");
    ok(!DirectoryExists("C:\\TELDAX"), "something was installed");
    CheckTemporaryFolderRemoved(__LINE__);
}

// The wrapper as a loader sees it: the five custom actions under their
// plain names (the package's DllEntry values), no TLS directory (Windows 95
// refuses to load a DLL with one), and imports from this list only, each a
// function that Windows 95 and NT 4.0 have (msi.dll from Windows Installer
// 1.0 on): a new import is added here on purpose, after that check.
static const char* const WrapperExports[] = {"VinstallBeforeInstall", "VinstallAfterInstall", "VinstallMLDInfo",
                                             "VinstallUpdateInfo",    "VinstallInstallPDF",   "VinstallRemove"};
static const char* const WrapperImports[][2] = {
    {"kernel32.dll", "CloseHandle"},      {"kernel32.dll", "CreateDirectoryA"},
    {"kernel32.dll", "CreateFileA"},      {"kernel32.dll", "DeleteFileA"},
    {"kernel32.dll", "FreeLibrary"},      {"kernel32.dll", "GetCurrentProcessId"},
    {"kernel32.dll", "GetCurrentDirectoryA"}, {"kernel32.dll", "SetCurrentDirectoryA"},
    {"kernel32.dll", "GetFileInformationByHandle"},
    {"kernel32.dll", "GetLastError"},     {"kernel32.dll", "GetProcAddress"},
    {"kernel32.dll", "GetTempPathA"},     {"kernel32.dll", "GetTickCount"},
    {"kernel32.dll", "LoadLibraryA"},     {"kernel32.dll", "RemoveDirectoryA"},
    {"kernel32.dll", "WriteFile"},        {"kernel32.dll", "lstrcmpA"},
    {"user32.dll", "FindWindowA"},        {"user32.dll", "IsWindowVisible"},
    {"msvcrt.dll", "_vsnprintf"},         {"msi.dll", "MsiCloseHandle"},
    {"msi.dll", "MsiCreateRecord"},       {"msi.dll", "MsiDatabaseOpenViewA"},
    {"msi.dll", "MsiGetActiveDatabase"},  {"msi.dll", "MsiProcessMessage"},
    {"msi.dll", "MsiRecordReadStream"},   {"msi.dll", "MsiRecordSetStringA"},
    {"msi.dll", "MsiViewClose"},          {"msi.dll", "MsiViewExecute"},
    {"msi.dll", "MsiViewFetch"},          {"msi.dll", "MsiGetPropertyA"},
    // Shell32 4.71 (Internet Explorer 4's desktop update on 95 and NT 4.0),
    // which the library needs as well.
    {"shell32.dll", "SHGetSpecialFolderPathA"},
};

static void test_wrapper_file()
{
    char path[MAX_PATH];
    PathIn(path, sizeof path, PackageFolder, "VinstallMsi.dll");
    // Mapped as the loader maps it, without running or resolving anything.
    HMODULE module = LoadLibraryExA(path, NULL, DONT_RESOLVE_DLL_REFERENCES);
    ok(module != NULL, "%s cannot be mapped: error %lu", path, GetLastError());
    if (!module)
        return;
    BYTE* base = (BYTE*)module;
    IMAGE_NT_HEADERS* nt = (IMAGE_NT_HEADERS*)(base + ((IMAGE_DOS_HEADER*)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY* directories = nt->OptionalHeader.DataDirectory;
    ok(directories[IMAGE_DIRECTORY_ENTRY_TLS].VirtualAddress == 0, "the wrapper has a TLS directory");

    IMAGE_EXPORT_DIRECTORY* exports =
        (IMAGE_EXPORT_DIRECTORY*)(base + directories[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
    ok(exports->NumberOfNames == ARRAYSIZE(WrapperExports), "%lu exported names, expected %u",
       exports->NumberOfNames, (unsigned)ARRAYSIZE(WrapperExports));
    for (const char* name : WrapperExports)
        ok(GetProcAddress(module, name) != NULL, "no export \"%s\"", name);

    int imports = 0;
    IMAGE_IMPORT_DESCRIPTOR* d =
        (IMAGE_IMPORT_DESCRIPTOR*)(base + directories[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
    for (; d->Name; ++d) {
        const char* dll = (const char*)(base + d->Name);
        IMAGE_THUNK_DATA* thunk = (IMAGE_THUNK_DATA*)(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk
                                                                                     : d->FirstThunk));
        for (; thunk->u1.AddressOfData; ++thunk, ++imports) {
            if (IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal)) {
                ok(false, "imports ordinal %u of %s", (unsigned)IMAGE_ORDINAL(thunk->u1.Ordinal), dll);
                continue;
            }
            const char* function = (const char*)((IMAGE_IMPORT_BY_NAME*)(base + thunk->u1.AddressOfData))->Name;
            bool listed = false;
            for (const auto& allowed : WrapperImports)
                listed = listed || (_stricmp(allowed[0], dll) == 0 && strcmp(allowed[1], function) == 0);
            ok(listed, "imports %s from %s, which is not on the list", function, dll);
        }
    }
    ok(imports > 0, "no imports read");
    FreeLibrary(module);
}

// A silent installation (/qn) on a machine with no stored code and no
// REPORTERCODE asks nobody, even where someone could see the dialog: it
// fails with 1603, says in the log what to pass, and installs nothing.
static void test_silent_without_code()
{
    PrepareMachineWithoutPackage();
    SetupRun run;
    char statuses[1024];
    Install("Velloran.msi", "/qn", "", AnswerWithCode, "john", &run, statuses, sizeof statuses);
    ok(run.exitCode == ERROR_INSTALL_FAILURE, "exit code %lu, expected %lu", run.exitCode,
       (unsigned long)ERROR_INSTALL_FAILURE);
    char expected[256];
    snprintf(expected, sizeof expected, "VINSTALLDLL: BeforeInstallWithCode returned 0\n%s", NoCodeLine);
    CheckStatuses(__LINE__, statuses, expected);
    ok(run.dialogsShown == 0 && run.messageCount == 0, "%d dialogs and %d message boxes shown", run.dialogsShown,
       run.messageCount);
    ok(!ProductInstalled(), "the package is registered as installed");
    CheckNothingInstalled();
}

// Where nobody sees the screen, msiexec /qn ends by itself within seconds,
// with no window of the library: REPORTERCODE installs with that code;
// none, or one that the name rules refuse, fails with 1603 and installs
// nothing.
struct UnseenCase {
    const char* properties;
    DWORD exitCode;
    const char* statuses;
};

static const UnseenCase UnseenCases[] = {
    {"REPORTERCODE=john", 0,
     "VINSTALLDLL: BeforeInstallWithCode returned 2\n"
     "VINSTALLDLL: reporter code JOHN stored\n"
     "VINSTALLDLL: BeforeInstallWithCode returned 1\n"
     "VINSTALLDLL: stored reporter code JOHN kept\n"
     "VINSTALLDLL: AfterInstall returned 1\n"
     "VINSTALLDLL: MLDInfo returned 1\n"},
    {"", ERROR_INSTALL_FAILURE,
     "VINSTALLDLL: BeforeInstallWithCode returned 0\n"
     "VINSTALLDLL: no reporter code: run with REPORTERCODE=<code>\n"},
    {"REPORTERCODE=A/B", ERROR_INSTALL_FAILURE, NULL},
};

static void test_unseen_installations()
{
    char product[MAX_PATH];
    PathIn(product, sizeof product, PackageFolder, "..\\product");
    for (const UnseenCase& c : UnseenCases) {
        SetContext("nobody sees the screen: msiexec /i /qn %s", c.properties);
        PrepareMachineWithoutPackage();
        char arguments[3 * MAX_PATH];
        snprintf(arguments, sizeof arguments, "/i \"%s\\Velloran.msi\" /qn %s", PackageFolder, c.properties);
        UnseenRun run;
        char statuses[2048];
        RunUnseenMsiexec(arguments, &run, statuses, sizeof statuses);
        ok(run.exitCode == c.exitCode, "exit code %lu, expected %lu", run.exitCode, c.exitCode);
        if (c.statuses) {
            CheckStatuses(__LINE__, statuses, c.statuses);
        } else {
            char expected[512];
            snprintf(expected, sizeof expected, "VINSTALLDLL: BeforeInstallWithCode returned 0\nVINSTALLDLL: %s\n",
                     RefusedSlashLine);
            CheckStatuses(__LINE__, statuses, expected);
        }
        ok(ProductInstalled() == (c.exitCode == 0), "the package is%s registered as installed",
           ProductInstalled() ? "" : " not");
        if (c.exitCode == 0) {
            CheckInstalledFor("JOHN", product);
        } else {
            CheckNothingInstalled();
            CheckStoppedQuickly(run);
        }
        CheckTemporaryFolderRemoved(__LINE__);
    }
    ClearContext();
}

// A fleet upgrades with the next release over the installed one, unseen:
// the earlier release is removed, the stored code stays whatever
// REPORTERCODE says, and the log says that the given one was not used.
// Then msiexec /x removes the product and keeps the reporter's data.
static void test_unseen_upgrade_and_removal()
{
    PrepareMachineWithoutPackage();
    char arguments[3 * MAX_PATH];
    snprintf(arguments, sizeof arguments, "/i \"%s\\Velloran.msi\" /qn REPORTERCODE=john", PackageFolder);
    UnseenRun run;
    char statuses[2048];
    RunUnseenMsiexec(arguments, &run, statuses, sizeof statuses);
    ok(run.exitCode == 0, "first installation: exit code %lu", run.exitCode);

    SetContext("the next release over it");
    snprintf(arguments, sizeof arguments, "/i \"%s\\VelloranNext.msi\" /qn REPORTERCODE=mary", PackageFolder);
    RunUnseenMsiexec(arguments, &run, statuses, sizeof statuses);
    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    CheckStatuses(__LINE__, statuses,
                  "VINSTALLDLL: BeforeInstallWithCode returned 1\n"
                  "VINSTALLDLL: stored reporter code JOHN kept: the given code mary was not used\n"
                  "VINSTALLDLL: BeforeInstallWithCode returned 1\n"
                  "VINSTALLDLL: stored reporter code JOHN kept\n"
                  "VINSTALLDLL: AfterInstall returned 1\n"
                  "VINSTALLDLL: MLDInfo returned 1\n");
    ok(!ProductInstalled(ProductCode), "the earlier release is still installed");
    ok(ProductInstalled(NextProductCode), "the next release is not registered as installed");
    char product[MAX_PATH];
    PathIn(product, sizeof product, PackageFolder, "..\\product");
    CheckInstalledFor("JOHN", product);
    ok(!DirectoryExists("C:\\MARY"), "C:\\MARY was made");

    SetContext("removal");
    snprintf(arguments, sizeof arguments, "/x %s /qn", NextProductCode);
    RunUnseenMsiexec(arguments, &run, statuses, sizeof statuses);
    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    char expected[1024];
    snprintf(expected, sizeof expected,
             "VINSTALLDLL: %s\\Velloran.lnk deleted\n"
             "VINSTALLDLL: C:\\TELDAX\\Update.txt deleted\n"
             "VINSTALLDLL: C:\\TELDAX\\UpdName.txt deleted\n"
             "VINSTALLDLL: C:\\TELDAX\\UpdDetails.txt deleted\n",
             CommonDesktop);
    CheckStatuses(__LINE__, statuses, expected);
    ok(!ProductInstalled(NextProductCode), "still registered as installed");
    CheckRemovedKeeping("JOHN");
    ClearContext();
}

int main(int argc, char** argv)
{
    InitHarness(argc, argv);
    if (argc < 3) {
        printf("usage: %s <VINSTALLDLL.dll> <folder of Velloran.msi>\n", argv[0]);
        return 2;
    }
    WindowsPathOf(argv[2], PackageFolder, sizeof PackageFolder);
    FindInstallationPlaces();
    PathIn(Msiexec, sizeof Msiexec, SystemFolder, "msiexec.exe");
    DWORD length = GetTempPathA(sizeof TempFolder, TempFolder);
    if (length > 0 && length < sizeof TempFolder && TempFolder[length - 1] == '\\')
        TempFolder[length - 1] = '\0';

    test_wrapper_file();
    test_first_installation();
    test_stored_code_silent();
    test_cancelled();
    test_library_missing();
    test_silent_without_code();
    test_unseen_installations();
    test_unseen_upgrade_and_removal();
    PrepareMachineWithoutPackage();
    return FinishTests("msi");
}
