// The reference Windows Installer package, read as Windows Installer reads
// it and run by Wine's msiexec as an administrator runs it: a process of its
// own, started with /i and a verbose log, with a reduced user interface (/qr)
// the reporter code dialog (shown by the library from the installer's
// custom action server) answered from outside; and as a deployment agent
// runs it, with /qn and REPORTERCODE on a desktop that nobody sees
// (tools/unseen.h). What is checked is what the run leaves behind: msiexec's
// exit code, the statuses that the custom actions wrote into the log, the
// dialog shown, RC.DAT, the product's files, the shortcuts read back, the
// records, whether the product is registered, what an upgrade, a rollback
// and a removal leave, and that the wrapper took its temporary folder away.
// The package's tables are read through msi.dll, and the custom actions
// that run with the installing user's token are run in this process against
// a session of the built package, with every file call of the wrapper and
// of the library it loads recorded.
//
// Under Wine every file is owned by the Wine user, who has a split token as
// far as the library can tell (TokenElevationTypeFull), so an existing
// C:\TELDAX is never an administrators' folder: ProtectInstallFolder refuses
// it, and InstallPDF does not start install.exe. The runs here assert that,
// as it is; a folder owned by Administrators is shown to the in-process
// runs through the harness's injected security.
//
//   test_msi.exe <VINSTALLDLL.dll> <folder of Velloran.msi> [<folder of the other architecture's packages>]
#include "harness.h"

#include "installation_checks.h"
#include "msi_releases.h"
#include "release_settings.h"

#include <msi.h>
#include <msiquery.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The packages' codes (installer/msi/CMakeLists.txt), this architecture's
// and the other's.
#ifdef _WIN64
static const char ProductCode[] = VINSTALL_MSI_PRODUCT_CODE_X64;
static const char NextProductCode[] = VINSTALL_MSI_NEXT_PRODUCT_CODE_X64;
static const char ComponentGuid[] = VINSTALL_MSI_COMPONENT_GUID_X64;
static const char OtherProductCode[] = VINSTALL_MSI_PRODUCT_CODE_X86;
static const char OtherComponentGuid[] = VINSTALL_MSI_COMPONENT_GUID_X86;
#else
static const char ProductCode[] = VINSTALL_MSI_PRODUCT_CODE_X86;
static const char NextProductCode[] = VINSTALL_MSI_NEXT_PRODUCT_CODE_X86;
static const char ComponentGuid[] = VINSTALL_MSI_COMPONENT_GUID_X86;
static const char OtherProductCode[] = VINSTALL_MSI_PRODUCT_CODE_X64;
static const char OtherComponentGuid[] = VINSTALL_MSI_COMPONENT_GUID_X64;
#endif
// An installation takes a few seconds; one still going after this has hung.
// Every msiexec run has it: under Wine, msiexec /x of a package that is not
// installed waits for ever.
static const DWORD TimeLimitMs = 60000;
static const char LogPath[] = "C:\\msi.log";
// ERROR_INSTALL_USEREXIT, msiexec's exit code when an action ends the
// installation as the user's choice.
static const DWORD UserExit = 1602;
static const DWORD Failure = ERROR_INSTALL_FAILURE;
// The gate's refusal when no code is given and none is stored.
static const char NoCodeLines[] =
    "VINSTALLDLL: BeforeInstallWithCode returned 0\n"
    "VINSTALLDLL: no reporter code: run with REPORTERCODE=<code>\n";
// VinstallStore's CustomActionData is "<options>;<code>", the library's
// options (src/interface/exports.h): VINSTALL_SILENT 1, VINSTALL_REPLACE_CODE
// 4, VINSTALL_SAME_CODE 8, VINSTALL_TYPED_CODE 0x20.

// What the library says of C:\TELDAX, as the wrapper logs it: the gate's
// check of a folder that is not there yet (this installation makes it), of
// one that administrators own, and of the Wine user's (S-1-5-21-0-0-0-1000,
// the owner of every file under Wine), which it refuses; the deferred
// action that makes it; and the removal after an installation and its
// records (the desktop shortcut and three records deleted, RC.DAT kept).
static const char GateFolderNew[] =
    "VINSTALLDLL: ProtectInstallFolder returned 2\n"
    "VINSTALLDLL: C:\\TELDAX does not exist yet: it is to be made for administrators only\n";
static const char GateFolderKept[] =
    "VINSTALLDLL: ProtectInstallFolder returned 1\n"
    "VINSTALLDLL: C:\\TELDAX is owned by an administrator\n";
static const char GateFolderRefused[] =
    "VINSTALLDLL: ProtectInstallFolder returned 0\n"
    "VINSTALLDLL: C:\\TELDAX: S-1-5-21-0-0-0-1000 may change it as its owner (rights 0x00060000): nothing installed; "
    "an administrator should look at what the folder holds, then delete it or make Administrators its owner, and run "
    "the installation again\n";
static const char StoreFolderMade[] =
    "VINSTALLDLL: ProtectInstallFolder returned 2\n"
    "VINSTALLDLL: C:\\TELDAX made, writable by administrators only\n";
static const char RemovedLines[] = "VINSTALLDLL: files deleted: 4; C:\\TELDAX kept: it is not empty\n";
static char RefusedSlashLines[512];

static char PackageFolder[MAX_PATH];
static char OtherPackageFolder[MAX_PATH];
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

// The log at LogPath.
static const char* ReadLog()
{
    static char log[512 * 1024];
    ok(ReadText(LogPath, log, sizeof log) > 0, "no log in %s", LogPath);
    return log;
}

// The lines of text from the wrapper ("VINSTALLDLL: ..."), one per line,
// into statuses.
static void WrapperLines(const char* text, char* statuses, int size)
{
    int used = 0;
    statuses[0] = '\0';
    for (const char* line = text; *line;) {
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
    WrapperLines(ReadLog(), statuses, size);
}

// msiexec with arguments and a verbose log where nobody sees the screen; the
// log's lines from the wrapper land in statuses.
static void RunUnseenMsiexec(const char* arguments, UnseenRun* run, char* statuses, int size)
{
    char line[3 * MAX_PATH];
    snprintf(line, sizeof line, "\"%s\" %s /l*v %s", Msiexec, arguments, LogPath);
    DeleteFileA(LogPath);
    RunUnseenChecked(line, UnseenLimitMs, true, run);
    WrapperLines(ReadLog(), statuses, size);
}

// Installs package (in the build's folder) with msiexec /i /qn and the
// properties given, where nobody sees the screen; the log's lines from the
// wrapper land in statuses.
static void InstallUnseen(const char* package, const char* properties, UnseenRun* run, char* statuses, int size)
{
    char arguments[3 * MAX_PATH];
    snprintf(arguments, sizeof arguments, "/i \"%s\\%s\" /qn %s", PackageFolder, package, properties);
    RunUnseenMsiexec(arguments, run, statuses, size);
}

static void CheckStatuses(int line, const char* statuses, const char* expected)
{
    OkAt(__FILE__, line, strcmp(statuses, expected) == 0, "the wrapper's lines are %s, expected %s",
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

// A machine without Velloran: the packages not installed (removed by
// msiexec /x if they are), and as for every setup program, with no folder
// left in the temporary folder either.
static void PrepareMachineWithoutPackage()
{
    // OtherProductCode: the other architecture's package, played by this
    // architecture's VelloranOtherArch.msi.
    static const char* const Products[] = {ProductCode, NextProductCode, OtherProductCode};
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

// --- The package's tables ------------------------------------------------------------

// A session of a package, with properties set (below).
static MSIHANDLE OpenSession(const char* package, const char* const* properties);

// The first column of the first row that query gives, as text ("" for none).
static void QueryValue(MSIHANDLE database, const char* query, char* value, DWORD size)
{
    value[0] = '\0';
    MSIHANDLE view = 0, row = 0;
    if (MsiDatabaseOpenViewA(database, query, &view) == ERROR_SUCCESS && MsiViewExecute(view, 0) == ERROR_SUCCESS &&
        MsiViewFetch(view, &row) == ERROR_SUCCESS) {
        DWORD length = size;
        if (MsiRecordGetStringA(row, 1, value, &length) != ERROR_SUCCESS)
            value[0] = '\0';
    }
    if (row)
        MsiCloseHandle(row);
    if (view) {
        MsiViewClose(view);
        MsiCloseHandle(view);
    }
}

static int QueryNumber(MSIHANDLE database, const char* query)
{
    char value[32];
    QueryValue(database, query, value, sizeof value);
    return value[0] ? atoi(value) : -1;
}

static MSIHANDLE OpenDatabase(const char* folder, const char* package)
{
    char path[MAX_PATH];
    PathIn(path, sizeof path, folder, package);
    MSIHANDLE database = 0;
    UINT result = MsiOpenDatabaseA(path, MSIDBOPEN_READONLY, &database);
    ok(result == ERROR_SUCCESS, "%s cannot be opened: error %u", path, result);
    return result == ERROR_SUCCESS ? database : 0;
}

static int SequenceOf(MSIHANDLE database, const char* action)
{
    char query[256];
    snprintf(query, sizeof query, "SELECT `Sequence` FROM `InstallExecuteSequence` WHERE `Action` = '%s'", action);
    return QueryNumber(database, query);
}

// The custom actions and their types: what Windows Installer runs each with.
// 1 is a DLL action; 0x400 runs it in the script (deferred), 0x100 with
// it as rollback, 0x800 without impersonation (as LocalSystem). Only the
// gate is immediate; every action that makes, writes, deletes or starts is
// deferred and does not impersonate. No other custom action is there.
// VinstallAfterInstall is a commit action (0x200): it runs once the script
// has succeeded, so that nothing it deletes is deleted by an installation
// that then rolls back. VinstallStartPdf is immediate and after
// InstallFinalize: the installing user's token, once nothing can roll back.
// VinstallPinFolder sets the property TELDAX (51: a property set from
// formatted text) to C:\TELDAX\, whatever the command line said.
struct ActionType {
    const char* action;
    int type;
    const char* source;
    const char* target;
};
static const ActionType ActionTypes[] = {
    {"VinstallBeforeInstall", 1, "VinstallMsi", "VinstallBeforeInstall"},
    {"VinstallStoreRollback", 1 | 0x100 | 0x400 | 0x800, "VinstallMsi", "VinstallStoreRollback"},
    {"VinstallStore", 1 | 0x400 | 0x800, "VinstallMsi", "VinstallStore"},
    {"VinstallAfterInstall", 1 | 0x200 | 0x400 | 0x800, "VinstallMsi", "VinstallAfterInstall"},
    {"VinstallRemove", 1 | 0x400 | 0x800, "VinstallMsi", "VinstallRemove"},
    {"VinstallStartPdf", 1, "VinstallMsi", "VinstallStartPdf"},
    {"VinstallPinFolder", 51, "TELDAX", "C:\\TELDAX\\"},
};

static void test_custom_actions()
{
    MSIHANDLE database = OpenDatabase(PackageFolder, "Velloran.msi");
    if (!database)
        return;
    for (const ActionType& a : ActionTypes) {
        char query[256];
        snprintf(query, sizeof query, "SELECT `Type` FROM `CustomAction` WHERE `Action` = '%s'", a.action);
        int type = QueryNumber(database, query);
        ok(type == a.type, "%s: type %d, expected %d", a.action, type, a.type);
        snprintf(query, sizeof query, "SELECT `Source` FROM `CustomAction` WHERE `Action` = '%s'", a.action);
        char source[64];
        QueryValue(database, query, source, sizeof source);
        ok(strcmp(source, a.source) == 0, "%s: source \"%s\", expected %s", a.action, source, a.source);
        snprintf(query, sizeof query, "SELECT `Target` FROM `CustomAction` WHERE `Action` = '%s'", a.action);
        char target[64];
        QueryValue(database, query, target, sizeof target);
        ok(strcmp(target, a.target) == 0, "%s: target \"%s\", expected %s", a.action, target, a.target);
    }
    MSIHANDLE view = 0, row = 0;
    int rows = 0;
    if (MsiDatabaseOpenViewA(database, "SELECT `Action` FROM `CustomAction`", &view) == ERROR_SUCCESS &&
        MsiViewExecute(view, 0) == ERROR_SUCCESS) {
        for (; MsiViewFetch(view, &row) == ERROR_SUCCESS; MsiCloseHandle(row))
            ++rows;
        MsiViewClose(view);
        MsiCloseHandle(view);
    }
    ok(rows == (int)ARRAYSIZE(ActionTypes), "%d custom actions, expected %u", rows, (unsigned)ARRAYSIZE(ActionTypes));

    // Where each runs: the gate before an earlier release is removed and
    // before the script starts; the rollback written into the script before
    // the action it takes back, and both before the product's files;
    // AfterInstall once the files and shortcuts are there; the removal after
    // Windows Installer's own; all of them before InstallFinalize.
    struct Order {
        const char* before;
        const char* after;
    };
    static const Order Orders[] = {
        {"CostFinalize", "VinstallBeforeInstall"},       {"VinstallBeforeInstall", "RemoveExistingProducts"},
        {"VinstallBeforeInstall", "InstallInitialize"},  {"InstallInitialize", "VinstallStoreRollback"},
        {"VinstallStoreRollback", "VinstallStore"},      {"VinstallStore", "InstallFiles"},
        {"InstallFiles", "VinstallAfterInstall"},        {"CreateShortcuts", "VinstallAfterInstall"},
        {"VinstallAfterInstall", "InstallFinalize"},     {"RemoveFiles", "VinstallRemove"},
        {"RemoveShortcuts", "VinstallRemove"},           {"VinstallRemove", "InstallFinalize"},
        // The earlier release is removed only once this one is installed:
        // a failure in the script leaves it installed.
        {"InstallFinalize", "RemoveExistingProducts"},
        // install.exe starts once nothing can roll back.
        {"InstallFinalize", "VinstallStartPdf"},
        // The install folder is set before the directories are resolved.
        {"CostInitialize", "VinstallPinFolder"},         {"VinstallPinFolder", "CostFinalize"},
    };
    for (const Order& o : Orders) {
        int first = SequenceOf(database, o.before), second = SequenceOf(database, o.after);
        ok(first > 0 && second > first, "%s at %d, %s at %d: expected the first before the second", o.before, first,
           o.after, second);
    }
    char condition[256];
    QueryValue(database, "SELECT `Condition` FROM `InstallExecuteSequence` WHERE `Action` = 'VinstallRemove'",
               condition, sizeof condition);
    ok(strcmp(condition, "REMOVE~=\"ALL\" AND NOT UPGRADINGPRODUCTCODE") == 0, "VinstallRemove runs on \"%s\"",
       condition);
    // A full user interface resolves the directories in its own sequence
    // first: the folder is pinned there too.
    int pin = QueryNumber(database,
                          "SELECT `Sequence` FROM `InstallUISequence` WHERE `Action` = 'VinstallPinFolder'");
    int costFinalize =
        QueryNumber(database, "SELECT `Sequence` FROM `InstallUISequence` WHERE `Action` = 'CostFinalize'");
    ok(pin > 0 && pin < costFinalize, "InstallUISequence: VinstallPinFolder at %d, CostFinalize at %d", pin,
       costFinalize);
    MsiCloseHandle(database);
}

// When each action runs, its condition evaluated in a session as Windows
// Installer evaluates it: the library's actions on a first installation, a
// repair, and a maintenance run that gives REPORTERCODE (the correction of
// a stored code: msiexec /i on an installed machine, Installed set and
// REINSTALL empty), not in a plain maintenance run nor a removal;
// install.exe only on a first installation with PDF=1.
struct ConditionCase {
    const char* properties[4];
    bool libraryActions;
    bool startPdf;
};
static const ConditionCase ConditionCases[] = {
    {{NULL}, true, false},
    {{"PDF=1"}, true, true},
    {{"Installed=1"}, false, false},
    {{"Installed=1", "REPORTERCODE=mary"}, true, false},
    {{"Installed=1", "REPORTERCODE=mary", "PDF=1"}, true, false},
    {{"Installed=1", "REINSTALL=ALL"}, true, false},
    {{"Installed=1", "REMOVE=ALL"}, false, false},
    {{"Installed=1", "REMOVE=ALL", "REPORTERCODE=mary"}, false, false},
};

static void test_action_conditions()
{
    MSIHANDLE database = OpenDatabase(PackageFolder, "Velloran.msi");
    if (!database)
        return;
    static const char* const Actions[] = {"VinstallBeforeInstall", "VinstallStoreRollback", "VinstallStore",
                                          "VinstallAfterInstall", "VinstallStartPdf"};
    char conditions[ARRAYSIZE(Actions)][256];
    for (size_t i = 0; i < ARRAYSIZE(Actions); ++i) {
        char query[256];
        snprintf(query, sizeof query, "SELECT `Condition` FROM `InstallExecuteSequence` WHERE `Action` = '%s'",
                 Actions[i]);
        QueryValue(database, query, conditions[i], sizeof conditions[i]);
        ok(conditions[i][0], "%s has no condition", Actions[i]);
    }
    MsiCloseHandle(database);
    for (const ConditionCase& c : ConditionCases) {
        SetContext("conditions with %s %s %s", c.properties[0] ? c.properties[0] : "nothing set",
                   c.properties[1] ? c.properties[1] : "", c.properties[2] ? c.properties[2] : "");
        MSIHANDLE session = OpenSession("Velloran.msi", c.properties);
        if (!session)
            continue;
        for (size_t i = 0; i < ARRAYSIZE(Actions); ++i) {
            if (!conditions[i][0])
                continue;
            bool expected = i == ARRAYSIZE(Actions) - 1 ? c.startPdf : c.libraryActions;
            MSICONDITION result = MsiEvaluateConditionA(session, conditions[i]);
            ok(result == (expected ? MSICONDITION_TRUE : MSICONDITION_FALSE), "%s: \"%s\" gives %d, expected %s",
               Actions[i], conditions[i], (int)result, expected ? "true" : "false");
        }
        MsiCloseHandle(session);
    }
    ClearContext();
}

// The properties an administrator sets are secure, so that they reach the
// server side in a managed or elevated installation started by a user who
// is not an administrator; MajorUpgrade's own stay.
static void test_secure_properties()
{
    MSIHANDLE database = OpenDatabase(PackageFolder, "Velloran.msi");
    if (!database)
        return;
    char value[512];
    QueryValue(database, "SELECT `Value` FROM `Property` WHERE `Property` = 'SecureCustomProperties'", value,
               sizeof value);
    static const char* const Secure[] = {"REPORTERCODE", "REPLACECODE", "PDF", "UPDATE", "WIX_UPGRADE_DETECTED"};
    for (const char* name : Secure) {
        bool found = false;
        for (const char* item = value; *item && !found; item += strcspn(item, ";"), item += *item == ';') {
            size_t length = strcspn(item, ";");
            found = length == strlen(name) && strncmp(item, name, length) == 0;
        }
        ok(found, "%s is not in SecureCustomProperties \"%s\"", name, value);
    }
    // AdminUser, which the gate reads, says whether the user is an
    // administrator only with this set (from Windows Vista on it is the same
    // as Privileged otherwise).
    QueryValue(database, "SELECT `Value` FROM `Property` WHERE `Property` = 'MSIUSEREALADMINDETECTION'", value,
               sizeof value);
    ok(strcmp(value, "1") == 0, "MSIUSEREALADMINDETECTION is \"%s\", expected 1", value);
    MsiCloseHandle(database);
}

// The 32-bit and the 64-bit package of a release are different products
// with different components, which install the same files into C:\TELDAX:
// one replacing the other after its own installation (RemoveExistingProducts
// after InstallFinalize) would delete what the other had just installed. So
// each package refuses to install, with a message, where the other
// architecture's component is installed, whatever its release: AppSearch
// finds it by its GUID (CompLocator) before the launch conditions. Read in
// this tree's package and, when that tree was built, in the other's.
static const char OtherArchitectureMessage[] =
    "Velloran for the other processor architecture is installed on this machine: remove it first (Programs and "
    "Features, or msiexec /x with its product code), then install this package.";

static void CheckOtherArchitectureRefused(const char* folder, const char* otherComponent)
{
    MSIHANDLE database = OpenDatabase(folder, "Velloran.msi");
    if (!database)
        return;
    char value[256];
    QueryValue(database, "SELECT `Signature_` FROM `AppSearch` WHERE `Property` = 'VELLORANOTHERARCH'", value,
               sizeof value);
    char query[256];
    snprintf(query, sizeof query, "SELECT `ComponentId` FROM `CompLocator` WHERE `Signature_` = '%s'", value);
    char component[64] = "";
    if (value[0])
        QueryValue(database, query, component, sizeof component);
    ok(strcmp(component, otherComponent) == 0, "%s: AppSearch looks for the component \"%s\", expected %s", folder,
       component, otherComponent);
    snprintf(query, sizeof query, "SELECT `Condition` FROM `LaunchCondition` WHERE `Description` = '%s'",
             OtherArchitectureMessage);
    QueryValue(database, query, value, sizeof value);
    ok(strcmp(value, "Installed OR NOT VELLORANOTHERARCH") == 0, "%s: the launch condition for the other "
       "architecture is \"%s\"", folder, value);
    static const char* const Sequences[] = {"InstallExecuteSequence", "InstallUISequence"};
    for (const char* table : Sequences) {
        snprintf(query, sizeof query, "SELECT `Sequence` FROM `%s` WHERE `Action` = 'AppSearch'", table);
        int search = QueryNumber(database, query);
        snprintf(query, sizeof query, "SELECT `Sequence` FROM `%s` WHERE `Action` = 'LaunchConditions'", table);
        int conditions = QueryNumber(database, query);
        ok(search > 0 && search < conditions, "%s: %s has AppSearch at %d, LaunchConditions at %d", folder, table,
           search, conditions);
    }
    MsiCloseHandle(database);
}

// AfterInstall runs as a commit action, which Windows Installer does not run
// while rollback is disabled: the package refuses to install then, but not
// to be removed.
static const char RollbackMessage[] =
    "Velloran cannot be installed while rollback is disabled (the DisableRollback policy or DISABLEROLLBACK=1): its "
    "last step is a commit action, which Windows Installer runs only with rollback.";

static void test_rollback_required()
{
    MSIHANDLE database = OpenDatabase(PackageFolder, "Velloran.msi");
    if (!database)
        return;
    char query[512];
    snprintf(query, sizeof query, "SELECT `Condition` FROM `LaunchCondition` WHERE `Description` = '%s'",
             RollbackMessage);
    char condition[256];
    QueryValue(database, query, condition, sizeof condition);
    MsiCloseHandle(database);
    ok(condition[0], "no launch condition on RollbackDisabled");
    if (!condition[0])
        return;
    struct {
        const char* properties[3];
        bool allowed;
    } const cases[] = {
        {{NULL}, true},
        {{"RollbackDisabled=1"}, false},
        {{"RollbackDisabled=1", "REMOVE=ALL"}, true},
    };
    for (const auto& c : cases) {
        MSIHANDLE session = OpenSession("Velloran.msi", c.properties);
        if (!session)
            continue;
        MSICONDITION result = MsiEvaluateConditionA(session, condition);
        ok(result == (c.allowed ? MSICONDITION_TRUE : MSICONDITION_FALSE), "%s with %s %s gives %d", condition,
           c.properties[0] ? c.properties[0] : "nothing", c.properties[1] ? c.properties[1] : "", (int)result);
        MsiCloseHandle(session);
    }
}

static void test_other_architecture_tables()
{
    CheckOtherArchitectureRefused(PackageFolder, OtherComponentGuid);
    char other[MAX_PATH];
    PathIn(other, sizeof other, OtherPackageFolder, "Velloran.msi");
    if (!OtherPackageFolder[0] || GetFileAttributesA(other) == INVALID_FILE_ATTRIBUTES)
        Skip("the other architecture's package was not built here (%s)", OtherPackageFolder[0] ? other : "no folder");
    else
        CheckOtherArchitectureRefused(OtherPackageFolder, ComponentGuid);

    // The condition as Windows Installer evaluates it: the other
    // architecture's component found refuses, but not a removal or repair.
    MSIHANDLE database = OpenDatabase(PackageFolder, "Velloran.msi");
    if (!database)
        return;
    char query[512];
    snprintf(query, sizeof query, "SELECT `Condition` FROM `LaunchCondition` WHERE `Description` = '%s'",
             OtherArchitectureMessage);
    char condition[256];
    QueryValue(database, query, condition, sizeof condition);
    MsiCloseHandle(database);
    if (!condition[0])
        return;
    struct {
        const char* properties[3];
        bool allowed;
    } const cases[] = {
        {{NULL}, true},
        {{"VELLORANOTHERARCH=C:\\TELDAX\\vell.exe"}, false},
        {{"VELLORANOTHERARCH=C:\\TELDAX\\vell.exe", "Installed=1"}, true},
    };
    for (const auto& c : cases) {
        MSIHANDLE session = OpenSession("Velloran.msi", c.properties);
        if (!session)
            continue;
        MSICONDITION result = MsiEvaluateConditionA(session, condition);
        ok(result == (c.allowed ? MSICONDITION_TRUE : MSICONDITION_FALSE), "%s with %s %s gives %d", condition,
           c.properties[0] ? c.properties[0] : "nothing", c.properties[1] ? c.properties[1] : "", (int)result);
        MsiCloseHandle(session);
    }
}

// A product code and component GUID of each architecture's own, fixed by
// the build: this build's packages carry this architecture's, and the other
// architecture's packages (when that tree was built) the other's.
static void CheckCodes(const char* folder, const char* product, const char* component)
{
    MSIHANDLE database = OpenDatabase(folder, "Velloran.msi");
    if (!database)
        return;
    char value[64];
    QueryValue(database, "SELECT `Value` FROM `Property` WHERE `Property` = 'ProductCode'", value, sizeof value);
    ok(strcmp(value, product) == 0, "%s: product code %s, expected %s", folder, value, product);
    QueryValue(database, "SELECT `ComponentId` FROM `Component` WHERE `Component` = 'Product'", value, sizeof value);
    ok(strcmp(value, component) == 0, "%s: component %s, expected %s", folder, value, component);
    MsiCloseHandle(database);
}

static void test_architecture_codes()
{
    ok(strcmp(ProductCode, OtherProductCode) != 0 && strcmp(ComponentGuid, OtherComponentGuid) != 0,
       "both architectures have product code %s and component %s", ProductCode, ComponentGuid);
    CheckCodes(PackageFolder, ProductCode, ComponentGuid);
    MSIHANDLE database = OpenDatabase(PackageFolder, "VelloranNext.msi");
    if (database) {
        char value[64];
        QueryValue(database, "SELECT `Value` FROM `Property` WHERE `Property` = 'ProductCode'", value, sizeof value);
        ok(strcmp(value, NextProductCode) == 0, "the next release: product code %s, expected %s", value,
           NextProductCode);
        MsiCloseHandle(database);
    }
    char other[MAX_PATH];
    PathIn(other, sizeof other, OtherPackageFolder, "Velloran.msi");
    if (!OtherPackageFolder[0] || GetFileAttributesA(other) == INVALID_FILE_ATTRIBUTES)
        Skip("the other architecture's package was not built here (%s)", OtherPackageFolder[0] ? other : "no folder");
    else
        CheckCodes(OtherPackageFolder, OtherProductCode, OtherComponentGuid);
}

// --- Sessions of the package in this process ---------------------------------------

// The wrapper's lines that a session's actions sent, collected by the
// external user interface handler.
static char SessionLines[4096];

static int WINAPI CollectLine(LPVOID, UINT type, LPCSTR message)
{
    if ((type & 0xFF000000) == INSTALLMESSAGE_INFO && message && StartsWith(message, "VINSTALLDLL: ")) {
        size_t used = strlen(SessionLines);
        snprintf(SessionLines + used, sizeof SessionLines - used, "%s\n", message);
    }
    return 0;
}

// A session of package with no user interface (UILevel 2, as msiexec /qn)
// and the properties given ("NAME=value", NULL-terminated).
static MSIHANDLE OpenSession(const char* package, const char* const* properties)
{
    char path[MAX_PATH];
    PathIn(path, sizeof path, PackageFolder, package);
    MsiSetInternalUI(INSTALLUILEVEL_NONE, NULL);
    MsiSetExternalUIA(CollectLine, INSTALLLOGMODE_INFO, NULL);
    MSIHANDLE session = 0;
    UINT result = MsiOpenPackageA(path, &session);
    ok(result == ERROR_SUCCESS, "%s cannot be opened as a session: error %u", path, result);
    for (; session && properties && *properties; ++properties) {
        char name[64];
        const char* value = strchr(*properties, '=');
        snprintf(name, sizeof name, "%.*s", (int)(value - *properties), *properties);
        ok(MsiSetPropertyA(session, name, value + 1) == ERROR_SUCCESS, "%s cannot be set", *properties);
    }
    SessionLines[0] = '\0';
    return session;
}

static void SessionProperty(MSIHANDLE session, const char* name, char* value, DWORD size)
{
    DWORD length = size;
    if (MsiGetPropertyA(session, name, value, &length) != ERROR_SUCCESS)
        value[0] = '\0';
}

// The wrapper, loaded here as the custom action server loads it, with the
// harness's hooks in its imports and in those of the library it loads.
typedef UINT(WINAPI* CustomAction)(MSIHANDLE);
static HMODULE Wrapper;
static decltype(&LoadLibraryA) RealLoadLibraryA;

static HMODULE WINAPI LoadAndHook(LPCSTR path)
{
    HMODULE module = RealLoadLibraryA(path);
    if (module)
        InstallHooks(module);
    return module;
}

// The properties the wrapper read, each followed by ';'.
static char PropertiesRead[512];
static decltype(&MsiGetPropertyA) RealMsiGetPropertyA;

static UINT WINAPI RecordGetProperty(MSIHANDLE session, LPCSTR name, LPSTR value, LPDWORD size)
{
    size_t used = strlen(PropertiesRead);
    snprintf(PropertiesRead + used, sizeof PropertiesRead - used, "%s;", name);
    return RealMsiGetPropertyA(session, name, value, size);
}

static CustomAction WrapperAction(const char* name)
{
    if (!Wrapper) {
        char path[MAX_PATH];
        PathIn(path, sizeof path, PackageFolder, "VinstallMsi.dll");
        Wrapper = LoadLibraryA(path);
        ok(Wrapper != NULL, "%s cannot be loaded: error %lu", path, GetLastError());
        if (!Wrapper)
            return NULL;
        InstallHooks(Wrapper);
        RealLoadLibraryA = (decltype(&LoadLibraryA))PatchImport(Wrapper, "LoadLibraryA", (void*)LoadAndHook);
        RealMsiGetPropertyA =
            (decltype(&MsiGetPropertyA))PatchImport(Wrapper, "MsiGetPropertyA", (void*)RecordGetProperty);
    }
    CustomAction action = (CustomAction)(void*)GetProcAddress(Wrapper, name);
    ok(action != NULL, "VinstallMsi.dll has no %s", name);
    return action;
}

// Runs a custom action of the wrapper in session; what it and the library
// opened and made is in Opens and CreatedDirectories.
static UINT RunAction(const char* name, MSIHANDLE session)
{
    OpenCount = 0;
    CreatedDirectoryCount = 0;
    PropertiesRead[0] = '\0';
    CustomAction action = WrapperAction(name);
    return action ? action(session) : (UINT)-1;
}

static bool InTemporaryFolder(const char* path)
{
    return _strnicmp(path, TempFolder, strlen(TempFolder)) == 0 && path[strlen(TempFolder)] == '\\';
}

// What an action that runs with the user's token changed on disk: nothing
// but the library's file, written into a new folder of the user's own
// temporary folder (with no security of its own) and deleted again.
static void CheckWroteNothing(int line, int deletesBefore)
{
    for (int i = 0; i < OpenCount && i < (int)ARRAYSIZE(Opens); ++i) {
        const OpenRecord& o = Opens[i];
        bool writes = o.disposition != OPEN_EXISTING ||
                      (o.access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE |
                                   WRITE_DAC | WRITE_OWNER | FILE_WRITE_ATTRIBUTES));
        OkAt(__FILE__, line, !writes || InTemporaryFolder(o.path),
             "opened %s for writing (access 0x%08lx, disposition %lu)", o.path, o.access, o.disposition);
    }
    for (int i = 0; i < CreatedDirectoryCount && i < (int)ARRAYSIZE(CreatedDirectories); ++i) {
        const DirectoryRecord& d = CreatedDirectories[i];
        OkAt(__FILE__, line, InTemporaryFolder(d.path) && !d.withSecurity, "made the folder %s (security \"%s\")",
             d.path, d.sddl);
    }
    OkAt(__FILE__, line, CreatedDirectoryCount == 1, "%d folders made, expected the library's own",
         CreatedDirectoryCount);
    // The library's file, by the wrapper, and nothing else.
    int deletes = CallCount("DeleteFileA") - deletesBefore;
    OkAt(__FILE__, line, deletes == 1, "%d files deleted by name, expected the library's own", deletes);
}

// What a deferred action (LocalSystem) made first: the library's own folder,
// in the temporary folder, administrators-only from its creation.
static void CheckLibraryFolderForAdministrators(int line)
{
    static const char Sddl[] = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    OkAt(__FILE__, line,
         CreatedDirectoryCount >= 1 && InTemporaryFolder(CreatedDirectories[0].path) &&
             strcmp(CreatedDirectories[0].sddl, Sddl) == 0,
         "the library's folder: %s with \"%s\", expected %s in %s",
         CreatedDirectoryCount ? CreatedDirectories[0].path : "none", CreatedDirectories[0].sddl, Sddl, TempFolder);
}

// The gate (VinstallBeforeInstall) in a session of the package, on a
// machine prepared as a case says: its result, its lines, what it handed
// to each deferred action, and that it wrote nothing. A stored code is
// "MARY"; an administrators' C:\TELDAX is shown to the library through the
// harness (under Wine the real one is the Wine user's, which it refuses).
struct GateCase {
    const char* name;
    bool stored;
    bool administratorsFolder;
    const char* properties[4];
    UINT result;
    const char* lines;
    const char* folderLines;  // ProtectInstallFolder's, when the gate came to it
    const char* store;        // CustomActionData handed to VinstallStore ("" for none)
    const char* rollback;     // to VinstallStoreRollback
    const char* after;        // to VinstallAfterInstall
    const char* storedCode = NULL;  // RC.DAT's code in place of MARY
};

static void test_gate_writes_nothing()
{
    const GateCase cases[] = {
        {"a new machine, REPORTERCODE=john", false, false, {"REPORTERCODE=john"}, ERROR_SUCCESS,
         "VINSTALLDLL: BeforeInstallWithCode returned 2\nVINSTALLDLL: reporter code JOHN to be stored\n", GateFolderNew,
         "9;JOHN", "T", "M"},
        {"a new machine, no code", false, false, {NULL}, Failure, NoCodeLines, "", "", "", ""},
        {"a new machine, A/B", false, false, {"REPORTERCODE=A/B"}, Failure, RefusedSlashLines, "", "", "", ""},
        {"MARY stored, no code, PDF=1 UPDATE=1", true, true, {"PDF=1", "UPDATE=1"}, ERROR_SUCCESS,
         "VINSTALLDLL: BeforeInstallWithCode returned 1\nVINSTALLDLL: stored reporter code MARY kept\n",
         GateFolderKept, "9;MARY", "K", "U"},
        {"MARY stored, REPORTERCODE=john REPLACECODE=1", true, true, {"REPORTERCODE=john", "REPLACECODE=1"},
         ERROR_SUCCESS,
         "VINSTALLDLL: BeforeInstallWithCode returned 2\n"
         "VINSTALLDLL: reporter code JOHN to be stored in place of MARY\n",
         GateFolderKept, "5;JOHN", "R;MARY", "M"},
        {"MARY stored, REPORTERCODE=john", true, true, {"REPORTERCODE=john"}, Failure,
         "VINSTALLDLL: BeforeInstallWithCode returned 0\n"
         "VINSTALLDLL: another reporter code is stored: MARY is kept and the given code john was not used\n"
         "VINSTALLDLL: to replace the stored code, run with REPLACECODE=1 as well\n",
         "", "", "", ""},
        // Codes that differ in a letter beyond ASCII, which the library
        // compares as it is: the rollback must put the stored one back.
        {"JOS\xC9 stored, REPORTERCODE=jos\xE9 REPLACECODE=1", true, true,
         {"REPORTERCODE=jos\xE9", "REPLACECODE=1"}, ERROR_SUCCESS,
         "VINSTALLDLL: BeforeInstallWithCode returned 2\n"
         "VINSTALLDLL: reporter code JOS\xE9 to be stored in place of JOS\xC9\n",
         GateFolderKept, "5;JOS\xE9", "R;JOS\xC9", "M", "JOS\xC9"},
        {"MARY stored, REPORTERCODE=mary", true, true, {"REPORTERCODE=mary"}, ERROR_SUCCESS,
         "VINSTALLDLL: BeforeInstallWithCode returned 1\nVINSTALLDLL: stored reporter code MARY kept\n",
         GateFolderKept, "9;MARY", "K", "M"},
        // The correction of a stored code on an installed machine: a
        // maintenance run, which writes no release records.
        {"MARY stored, installed, REPORTERCODE=john REPLACECODE=1", true, true,
         {"REPORTERCODE=john", "REPLACECODE=1", "Installed=1"}, ERROR_SUCCESS,
         "VINSTALLDLL: BeforeInstallWithCode returned 2\n"
         "VINSTALLDLL: reporter code JOHN to be stored in place of MARY\n",
         GateFolderKept, "5;JOHN", "R;MARY", "-"},
        // Played: a run by a user who is not an administrator (a repair of
        // the per-machine product that a standard user started), AdminUser
        // not set. A code that would change the stored one is refused, with
        // REPLACECODE=1 or without; the same code, or none where none is
        // stored, goes on.
        {"MARY stored, not an administrator, REPORTERCODE=john REPLACECODE=1", true, true,
         {"REPORTERCODE=john", "REPLACECODE=1", "AdminUser="}, Failure,
         "VINSTALLDLL: BeforeInstallWithCode returned 0\n"
         "VINSTALLDLL: another reporter code is stored: MARY is kept and the given code john was not used\n"
         "VINSTALLDLL: only an administrator may replace the stored code: an administrator must run this with "
         "REPORTERCODE and REPLACECODE=1\n",
         "", "", "", ""},
        {"MARY stored, not an administrator, REPORTERCODE=john", true, true, {"REPORTERCODE=john", "AdminUser="},
         Failure,
         "VINSTALLDLL: BeforeInstallWithCode returned 0\n"
         "VINSTALLDLL: another reporter code is stored: MARY is kept and the given code john was not used\n"
         "VINSTALLDLL: only an administrator may replace the stored code: an administrator must run this with "
         "REPORTERCODE and REPLACECODE=1\n",
         "", "", "", ""},
        {"MARY stored, not an administrator, REPORTERCODE=mary REPLACECODE=1", true, true,
         {"REPORTERCODE=mary", "REPLACECODE=1", "AdminUser="}, ERROR_SUCCESS,
         "VINSTALLDLL: BeforeInstallWithCode returned 1\nVINSTALLDLL: stored reporter code MARY kept\n",
         GateFolderKept, "9;MARY", "K", "M"},
        {"a new machine, not an administrator, REPORTERCODE=john", false, false, {"REPORTERCODE=john", "AdminUser="},
         ERROR_SUCCESS, "VINSTALLDLL: BeforeInstallWithCode returned 2\nVINSTALLDLL: reporter code JOHN to be stored\n",
         GateFolderNew, "9;JOHN", "T", "M"},
        {"MARY stored, the Wine user's C:\\TELDAX", true, false, {NULL}, Failure,
         "VINSTALLDLL: BeforeInstallWithCode returned 1\nVINSTALLDLL: stored reporter code MARY kept\n",
         GateFolderRefused, "", "", ""},
    };
    for (const GateCase& c : cases) {
        SetContext("the gate in this process: %s", c.name);
        PrepareMachine();
        RemoveMatching(TempFolder, "VINSTALL.*");
        if (c.stored)
            PrepareStoredCodeMachine();
        if (c.storedCode) {
            char record[24] = {};
            memcpy(record, c.storedCode, strlen(c.storedCode));
            WriteBytes(CodeFile, record, sizeof record);
        }
        FileState storedBefore = StateOf(CodeFile);
        if (c.administratorsFolder)
            ReportSecurity("C:\\TELDAX", "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
        MSIHANDLE session = OpenSession("Velloran.msi", c.properties);
        if (!session)
            continue;
        int deletesBefore = CallCount("DeleteFileA");
        UINT result = RunAction("VinstallBeforeInstall", session);
        UseRealSecurity();
        ok(result == c.result, "result %u, expected %u", result, c.result);
        char expected[1024];
        snprintf(expected, sizeof expected, "%s%s", c.lines, c.folderLines);
        CheckStatuses(__LINE__, SessionLines, expected);
        CheckWroteNothing(__LINE__, deletesBefore);
        ok(c.stored ? SameState(StateOf(CodeFile), storedBefore) : !DirectoryExists("C:\\TELDAX"),
           c.stored ? "RC.DAT was changed" : "C:\\TELDAX was made");
        ok(!DirectoryExists("C:\\JOHN"), "C:\\JOHN was made");
        char value[256];
        static const char* const Actions[] = {"VinstallStore", "VinstallStoreRollback", "VinstallAfterInstall"};
        const char* const handed[] = {c.store, c.rollback, c.after};
        for (int i = 0; i < 3; ++i) {
            SessionProperty(session, Actions[i], value, sizeof value);
            ok(strcmp(value, handed[i]) == 0, "%s's CustomActionData \"%s\", expected \"%s\"", Actions[i], value,
               handed[i]);
        }
        MsiCloseHandle(session);
        CheckTemporaryFolderRemoved(__LINE__);
    }
    ClearContext();
}

// The deferred actions' own folder for the library, as LocalSystem: made
// administrators-only at its creation, in a temporary folder that ordinary
// users may write in. Shown with the rollback of a kept code, which loads
// nothing, and of a replaced one, which puts the code that the gate found
// back; a stored code that was kept stays as it was.
static void test_rollback_keeps_found_code()
{
    SetContext("the rollback in this process, MARY kept");
    PrepareStoredCodeMachine();
    RemoveMatching(TempFolder, "VINSTALL.*");
    FileState before = StateOf(CodeFile);
    const char* const kept[] = {"CustomActionData=K", NULL};
    MSIHANDLE session = OpenSession("Velloran.msi", kept);
    if (session) {
        ok(RunAction("VinstallStoreRollback", session) == ERROR_SUCCESS, "the rollback failed");
        ok(SameState(StateOf(CodeFile), before), "RC.DAT was changed");
        ok(DirectoryExists("C:\\TELDAX"), "C:\\TELDAX went");
        CheckStatuses(__LINE__, SessionLines, "VINSTALLDLL: the stored reporter code was kept: nothing to take back\n");
        ok(CreatedDirectoryCount == 0, "%d folders made", CreatedDirectoryCount);
        MsiCloseHandle(session);
    }

    SetContext("the rollback in this process, MARY replaced by JOHN");
    const char stored[24] = "JOHN";
    WriteBytes(CodeFile, stored, sizeof stored);
    MakeDirectory("C:\\JOHN");
    const char* const replaced[] = {"CustomActionData=R;MARY", NULL};
    session = OpenSession("Velloran.msi", replaced);
    if (session) {
        ok(RunAction("VinstallStoreRollback", session) == ERROR_SUCCESS, "the rollback failed");
        CheckCodeFile("MARY");
        CheckStatuses(__LINE__, SessionLines,
                      "VINSTALLDLL: BeforeInstallWithCode returned 2\nVINSTALLDLL: reporter code MARY stored in place of JOHN\n");
        CheckLibraryFolderForAdministrators(__LINE__);
        MsiCloseHandle(session);
    }
    CheckTemporaryFolderRemoved(__LINE__);
    ClearContext();
}

// The deferred actions as Windows runs them: each reads no property but its
// CustomActionData (a deferred action may read only that, ProductCode and
// UserSID; Wine lets it read any, so only what it asks for shows it), and
// writes the library into a folder of its own made administrators-only. In
// this process, in the order of an installation on a new machine and its
// rollback: JOHN stored, AfterInstall and the Master Load's records, the
// removal, then everything this installation made taken back.
struct DeferredCase {
    const char* action;
    const char* data;  // NULL: none
    const char* read;
    const char* lines;
};

static void test_deferred_actions()
{
    char storeLines[512];
    snprintf(storeLines, sizeof storeLines,
             "%sVINSTALLDLL: BeforeInstallWithCode returned 2\nVINSTALLDLL: reporter code JOHN stored\n",
             StoreFolderMade);
    const DeferredCase cases[] = {
        {"VinstallStore", "9;JOHN", "CustomActionData;", storeLines},
        {"VinstallAfterInstall", "M", "CustomActionData;",
         "VINSTALLDLL: BeforeInstallWithCode returned 1\nVINSTALLDLL: stored reporter code JOHN kept\n"
         "VINSTALLDLL: AfterInstall returned 1\nVINSTALLDLL: MLDInfo returned 1\n"},
        {"VinstallRemove", NULL, "",
         "VINSTALLDLL: RemoveLibraryFiles returned 1\nVINSTALLDLL: files deleted: 4; C:\\TELDAX kept: it is not "
         "empty\n"},
        {"VinstallStoreRollback", "T", "CustomActionData;",
         "VINSTALLDLL: RemoveLibraryFiles returned 1\nVINSTALLDLL: files deleted: 1; C:\\TELDAX deleted\n"},
    };
    PrepareMachine();
    RemoveMatching(TempFolder, "VINSTALL.*");
    for (const DeferredCase& c : cases) {
        SetContext("%s in this process, CustomActionData %s", c.action, c.data ? c.data : "none");
        char data[64];
        snprintf(data, sizeof data, "CustomActionData=%s", c.data ? c.data : "");
        // A code that no deferred action may take: it reads CustomActionData only.
        const char* const properties[] = {data, "REPORTERCODE=mary", NULL};
        MSIHANDLE session = OpenSession("Velloran.msi", properties);
        if (!session)
            continue;
        UINT result = RunAction(c.action, session);
        ok(result == ERROR_SUCCESS, "result %u", result);
        ok(strcmp(PropertiesRead, c.read) == 0, "read the properties \"%s\", expected \"%s\"", PropertiesRead, c.read);
        CheckStatuses(__LINE__, SessionLines, c.lines);
        CheckLibraryFolderForAdministrators(__LINE__);
        MsiCloseHandle(session);
        CheckTemporaryFolderRemoved(__LINE__);
    }
    ClearContext();
    ok(!FileExists(CodeFile) && !DirectoryExists("C:\\JOHN") && !DirectoryExists("C:\\MARY"),
       "the rollback left RC.DAT or C:\\JOHN, or C:\\MARY was made");
    CheckNothingInstalled();
}

// The launch condition, evaluated as Windows Installer evaluates it before
// anything runs: what the library refuses (VersionNT above 602, that is
// Windows 8.1 and later) is refused; Windows 95, 98 and Me, which set
// Version9X and no VersionNT, are not; a removal runs whatever the version.
struct VersionCase {
    const char* versionNT;  // NULL: not set
    const char* version9X;
    const char* installed;
    bool allowed;
};
static const VersionCase VersionCases[] = {
    {"603", NULL, NULL, false},  {"1000", NULL, NULL, false}, {"602", NULL, NULL, true},
    {"601", NULL, NULL, true},   {"400", NULL, NULL, true},   {NULL, "410", NULL, true},
    {"603", NULL, "1", true},
};

static void test_launch_condition()
{
    MSIHANDLE database = OpenDatabase(PackageFolder, "Velloran.msi");
    if (!database)
        return;
    char condition[256];
    QueryValue(database,
               "SELECT `Condition` FROM `LaunchCondition` WHERE `Description` = 'Your version of the Velloran "
               "software does not work with this version of Windows.'",
               condition, sizeof condition);
    MsiCloseHandle(database);
    ok(condition[0], "no launch condition on the Windows version");
    if (!condition[0])
        return;
    for (const VersionCase& c : VersionCases) {
        SetContext("VersionNT %s, Version9X %s, Installed %s", c.versionNT ? c.versionNT : "unset",
                   c.version9X ? c.version9X : "unset", c.installed ? c.installed : "unset");
        MSIHANDLE session = OpenSession("Velloran.msi", NULL);
        if (!session)
            continue;
        MsiSetPropertyA(session, "VersionNT", c.versionNT ? c.versionNT : "");
        MsiSetPropertyA(session, "Version9X", c.version9X ? c.version9X : "");
        MsiSetPropertyA(session, "Installed", c.installed ? c.installed : "");
        MSICONDITION result = MsiEvaluateConditionA(session, condition);
        ok(result == (c.allowed ? MSICONDITION_TRUE : MSICONDITION_FALSE), "\"%s\" gives %d, expected %s", condition,
           (int)result, c.allowed ? "true" : "false");
        MsiCloseHandle(session);
    }
    ClearContext();
}

// --- Installations run by msiexec ------------------------------------------------------

// The log's lines of an installation for code (as stored: "JOHN") on a
// machine without C:\TELDAX, from the gate to the line of records, the
// function that wrote the release records ("MLDInfo" or "UpdateInfo"), then
// after.
static void InstalledFor(char* lines, int size, const char* code, const char* records, const char* after)
{
    snprintf(lines, size,
             "VINSTALLDLL: BeforeInstallWithCode returned 2\n"
             "VINSTALLDLL: reporter code %s to be stored\n"
             "%s%s"
             "VINSTALLDLL: BeforeInstallWithCode returned 2\n"
             "VINSTALLDLL: reporter code %s stored\n"
             "VINSTALLDLL: BeforeInstallWithCode returned 1\n"
             "VINSTALLDLL: stored reporter code %s kept\n"
             "VINSTALLDLL: AfterInstall returned 1\n"
             "VINSTALLDLL: %s returned 1\n"
             "%s",
             code, GateFolderNew, StoreFolderMade, code, code, records, after);
}

// A first installation on a fresh machine, with a user interface (reduced,
// /qr): the code typed into the library's real dialog during the gate's
// check is stored by the deferred action, the package's files installed,
// its shortcuts moved to the reporter's directory by the later action and
// the Master Load's records written. With PDF=1 InstallPDF is called; under
// Wine it does not start install.exe, since C:\TELDAX's entries are the Wine
// user's.
static void test_first_installation()
{
    PrepareMachineWithoutPackage();
    SetupRun run;
    char statuses[2048];
    Install("Velloran.msi", "/qr", "PDF=1", AnswerWithCode, "john", &run, statuses, sizeof statuses);

    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    char expected[2048];
    InstalledFor(expected, sizeof expected, "JOHN", "MLDInfo", "VINSTALLDLL: InstallPDF returned 1\n");
    CheckStatuses(__LINE__, statuses, expected);
    // The code typed into the gate's dialog went to the deferred action as
    // a typed one (VINSTALL_SILENT | VINSTALL_SAME_CODE |
    // VINSTALL_TYPED_CODE), held against the dialog's rules when stored.
    CheckLogHasLine(ReadLog(), "Property(S): VinstallStore = 41;JOHN");
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
    ok(!FileExists(ReceivedFile), "the PDF converter's installer was started from a folder of the Wine user's");
    // InstallPDF was called once the installation's script had ended
    // (InstallFinalize), by the immediate action that runs there with the
    // installing user's token, not by a deferred action inside the script.
    // Under Wine install.exe is not started (the folder is the Wine user's):
    // the call's place in the log is what shows where it would start.
    const char* log = ReadLog();
    const char* finalized = strstr(log, "InstallFinalize. Return value");
    // The first mention of the action: where the installer starts it.
    const char* pdfAction = strstr(log, "VinstallStartPdf");
    const char* pdf = strstr(log, "VINSTALLDLL: InstallPDF returned");
    ok(finalized && pdfAction && pdf && finalized < pdfAction && pdfAction < pdf,
       "InstallPDF: the installation's script ended at %ld, VinstallStartPdf started at %ld, InstallPDF called at "
       "%ld (offsets in the log; -1 for none): expected in that order",
       finalized ? (long)(finalized - log) : -1L, pdfAction ? (long)(pdfAction - log) : -1L,
       pdf ? (long)(pdf - log) : -1L);
    CheckTemporaryFolderRemoved(__LINE__);
}

// A new machine installed without a user as an Update: no dialog, the given
// code's directory, an Update's records. The obsolete system file goes only
// if AfterInstall knew the NT platform, that is if the deferred action's own
// BeforeInstallWithCode ran in the same load of the library.
static void test_update_silent()
{
    PrepareMachineWithoutPackage();
    char oldSystemFile[MAX_PATH];
    PathIn(oldSystemFile, sizeof oldSystemFile, SystemFolder, "win32xac.dll");
    WriteBytes(oldSystemFile, "old", 3);

    SetupRun run;
    char statuses[2048];
    Install("Velloran.msi", "/qn", "REPORTERCODE=mary UPDATE=1", AnswerCancel, NULL, &run, statuses,
            sizeof statuses);

    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    char expected[2048];
    InstalledFor(expected, sizeof expected, "MARY", "UpdateInfo", "");
    CheckStatuses(__LINE__, statuses, expected);
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

// A machine with a stored code and so an existing C:\TELDAX, under Wine the
// Wine user's: the gate keeps the code and refuses the folder, the
// installation fails with 1603 before anything changes.
static void test_existing_folder_refused()
{
    PrepareMachineWithoutPackage();
    PrepareStoredCodeMachine();
    FileState before = StateOf(CodeFile);

    SetupRun run;
    char statuses[2048];
    Install("Velloran.msi", "/qn", "", AnswerCancel, NULL, &run, statuses, sizeof statuses);

    ok(run.exitCode == Failure, "exit code %lu, expected %lu", run.exitCode, (unsigned long)Failure);
    char expected[2048];
    snprintf(expected, sizeof expected,
             "VINSTALLDLL: BeforeInstallWithCode returned 1\n"
             "VINSTALLDLL: stored reporter code MARY kept\n"
             "%s",
             GateFolderRefused);
    CheckStatuses(__LINE__, statuses, expected);
    ok(run.dialogsShown == 0 && run.messageCount == 0, "%d dialogs and %d message boxes shown", run.dialogsShown,
       run.messageCount);
    ok(!ProductInstalled(), "the package is registered as installed");
    ok(SameState(StateOf(CodeFile), before), "RC.DAT was changed");
    ok(!FileExists("C:\\TELDAX\\vell.exe"), "the product's files were installed");
    CheckTemporaryFolderRemoved(__LINE__);
}

// The dialog cancelled: the gate's 0 ends the installation as the user's
// exit, before the script runs, and nothing of the package is left.
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

// A package whose wrapper carries no library: the wrapper says so in the log
// and fails the installation before anything is installed.
static void test_library_missing()
{
    PrepareMachineWithoutPackage();
    SetupRun run;
    char statuses[1024];
    Install("VelloranNoLibrary.msi", "/qn", "REPORTERCODE=john", AnswerCancel, NULL, &run, statuses,
            sizeof statuses);

    ok(run.exitCode == Failure, "exit code %lu, expected %lu", run.exitCode, (unsigned long)Failure);
    CheckStatuses(__LINE__, statuses,
                  "VINSTALLDLL: this VinstallMsi.dll carries no library (no resource VINSTALLDLL)\n"
                  "VINSTALLDLL: BeforeInstallWithCode not called: the library is not loaded\n");
    ok(run.dialogsShown == 0, "the reporter code dialog was shown");
    ok(!ProductInstalled(), "the package is registered as installed");
    ok(!DirectoryExists("C:\\TELDAX"), "something was installed");
    CheckTemporaryFolderRemoved(__LINE__);
}

// The wrapper as a loader sees it: the custom actions under their plain
// names (the package's DllEntry values), no TLS directory (Windows 95
// refuses to load a DLL with one), and imports from this list only, each a
// function that Windows 95 and NT 4.0 have (msi.dll from Windows Installer
// 1.0 on): a new import is added here on purpose, after that check.
static const char* const WrapperExports[] = {"VinstallBeforeInstall", "VinstallStore", "VinstallStoreRollback",
                                             "VinstallAfterInstall", "VinstallRemove", "VinstallStartPdf"};
static const char* const WrapperImports[][2] = {
    {"kernel32.dll", "CloseHandle"},          {"kernel32.dll", "CreateDirectoryA"},
    {"kernel32.dll", "CreateFileA"},          {"kernel32.dll", "DeleteFileA"},
    {"kernel32.dll", "FindResourceA"},        {"kernel32.dll", "FreeLibrary"},
    {"kernel32.dll", "GetCurrentDirectoryA"}, {"kernel32.dll", "GetCurrentProcessId"},
    {"kernel32.dll", "GetFileInformationByHandle"},
    {"kernel32.dll", "GetLastError"},         {"kernel32.dll", "GetProcAddress"},
    {"kernel32.dll", "GetTempPathA"},         {"kernel32.dll", "GetTickCount"},
    {"kernel32.dll", "LoadLibraryA"},         {"kernel32.dll", "LoadResource"},
    {"kernel32.dll", "LockResource"},         {"kernel32.dll", "RemoveDirectoryA"},
    {"kernel32.dll", "SetCurrentDirectoryA"}, {"kernel32.dll", "SizeofResource"},
    {"kernel32.dll", "WriteFile"},            {"kernel32.dll", "lstrcmpA"},
    {"user32.dll", "FindWindowA"},            {"user32.dll", "IsWindowVisible"},
    {"msvcrt.dll", "_vsnprintf"},             {"msi.dll", "MsiCloseHandle"},
    {"msi.dll", "MsiCreateRecord"},           {"msi.dll", "MsiGetPropertyA"},
    {"msi.dll", "MsiProcessMessage"},         {"msi.dll", "MsiRecordSetStringA"},
    {"msi.dll", "MsiSetPropertyA"},
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
    ok(run.exitCode == Failure, "exit code %lu, expected %lu", run.exitCode, (unsigned long)Failure);
    CheckStatuses(__LINE__, statuses, NoCodeLines);
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

static void test_unseen_installations()
{
    char installed[2048];
    InstalledFor(installed, sizeof installed, "JOHN", "MLDInfo", "");
    const UnseenCase cases[] = {
        {"REPORTERCODE=john", 0, installed},
        {"", Failure, NoCodeLines},
        {"REPORTERCODE=A/B", Failure, RefusedSlashLines},
    };
    char product[MAX_PATH];
    PathIn(product, sizeof product, PackageFolder, "..\\product");
    for (const UnseenCase& c : cases) {
        SetContext("nobody sees the screen: msiexec /i /qn %s", c.properties);
        PrepareMachineWithoutPackage();
        UnseenRun run;
        char statuses[2048];
        InstallUnseen("Velloran.msi", c.properties, &run, statuses, sizeof statuses);
        ok(run.exitCode == c.exitCode, "exit code %lu, expected %lu", run.exitCode, c.exitCode);
        CheckStatuses(__LINE__, statuses, c.statuses);
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

// The next release over an installed one, unseen, as a fleet runs it: each
// refusal ends with 1603 before the earlier release is removed, which stays
// registered with its files, RC.DAT as it was. No code on a machine whose
// RC.DAT is gone; a different code without REPLACECODE (the line names
// both); with REPLACECODE=1 the gate accepts the new code, and then, under
// Wine, refuses the existing C:\TELDAX (the Wine user's). Then msiexec /x
// removes the product and keeps the reporter's data.
struct UpgradeCase {
    const char* properties;
    bool withoutCodeFile;
    const char* lines;
    bool folderRefused;  // the gate went on to ProtectInstallFolder, which refused
};
static const UpgradeCase UpgradeCases[] = {
    {"", true, NoCodeLines, false},
    {"REPORTERCODE=mary", false,
     "VINSTALLDLL: BeforeInstallWithCode returned 0\n"
     "VINSTALLDLL: another reporter code is stored: JOHN is kept and the given code mary was not used\n"
     "VINSTALLDLL: to replace the stored code, run with REPLACECODE=1 as well\n",
     false},
    {"REPORTERCODE=mary REPLACECODE=1", false,
     "VINSTALLDLL: BeforeInstallWithCode returned 2\n"
     "VINSTALLDLL: reporter code MARY to be stored in place of JOHN\n",
     true},
    {"", false,
     "VINSTALLDLL: BeforeInstallWithCode returned 1\n"
     "VINSTALLDLL: stored reporter code JOHN kept\n",
     true},
};

struct MaintenanceCase {
    const char* properties;
    const char* lines;
    bool folderRefused;
};
static const MaintenanceCase MaintenanceCases[] = {
    {"REPORTERCODE=mary",
     "VINSTALLDLL: BeforeInstallWithCode returned 0\n"
     "VINSTALLDLL: another reporter code is stored: JOHN is kept and the given code mary was not used\n"
     "VINSTALLDLL: to replace the stored code, run with REPLACECODE=1 as well\n",
     false},
    {"REPORTERCODE=mary REPLACECODE=1",
     "VINSTALLDLL: BeforeInstallWithCode returned 2\n"
     "VINSTALLDLL: reporter code MARY to be stored in place of JOHN\n",
     true},
};

static void test_unseen_upgrades_and_removal()
{
    PrepareMachineWithoutPackage();
    UnseenRun run;
    char statuses[2048];
    InstallUnseen("Velloran.msi", "REPORTERCODE=john", &run, statuses, sizeof statuses);
    ok(run.exitCode == 0, "first installation: exit code %lu", run.exitCode);
    char product[MAX_PATH];
    PathIn(product, sizeof product, PackageFolder, "..\\product");

    for (const UpgradeCase& c : UpgradeCases) {
        SetContext("the next release over it: %s%s", c.properties, c.withoutCodeFile ? ", RC.DAT deleted" : "");
        FileState before = StateOf(CodeFile);
        if (c.withoutCodeFile)
            DeleteFileA(CodeFile);
        InstallUnseen("VelloranNext.msi", c.properties, &run, statuses, sizeof statuses);
        ok(run.exitCode == Failure, "exit code %lu, expected %lu", run.exitCode, (unsigned long)Failure);
        char expected[2048];
        snprintf(expected, sizeof expected, "%s%s", c.lines, c.folderRefused ? GateFolderRefused : "");
        CheckStatuses(__LINE__, statuses, expected);
        ok(ProductInstalled(ProductCode), "the earlier release is no longer installed");
        ok(!ProductInstalled(NextProductCode), "the next release is registered as installed");
        CheckProductFiles(product);
        if (c.withoutCodeFile) {
            ok(!FileExists(CodeFile), "RC.DAT was made");
            WriteBytes(CodeFile, before.bytes, before.length);
        }
        CheckCodeFile("JOHN");
        ok(!DirectoryExists("C:\\MARY"), "C:\\MARY was made");
        CheckTemporaryFolderRemoved(__LINE__);
    }

    // The correction command of the guide on the installed machine: msiexec
    // /i of the installed release is a maintenance run (Installed set,
    // REINSTALL empty), and with REPORTERCODE the gate runs in it. Another
    // code without REPLACECODE=1 ends 1603 with the library's line; with it,
    // the gate takes the new code and then, under Wine, refuses the
    // existing C:\TELDAX (the Wine user's). The release stays installed and
    // RC.DAT as it was.
    for (const MaintenanceCase& c : MaintenanceCases) {
        SetContext("the installed release again: %s", c.properties);
        InstallUnseen("Velloran.msi", c.properties, &run, statuses, sizeof statuses);
        ok(run.exitCode == Failure, "exit code %lu, expected %lu", run.exitCode, (unsigned long)Failure);
        char expected[2048];
        snprintf(expected, sizeof expected, "%s%s", c.lines, c.folderRefused ? GateFolderRefused : "");
        CheckStatuses(__LINE__, statuses, expected);
        ok(ProductInstalled(ProductCode), "the release is no longer installed");
        CheckProductFiles(product);
        CheckCodeFile("JOHN");
        ok(!DirectoryExists("C:\\MARY"), "C:\\MARY was made");
        CheckTemporaryFolderRemoved(__LINE__);
    }

    SetContext("removal");
    char arguments[128];
    snprintf(arguments, sizeof arguments, "/x %s /qn", ProductCode);
    RunUnseenMsiexec(arguments, &run, statuses, sizeof statuses);
    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    char expected[1024];
    snprintf(expected, sizeof expected, "VINSTALLDLL: RemoveLibraryFiles returned 1\n%s", RemovedLines);
    CheckStatuses(__LINE__, statuses, expected);
    ok(!ProductInstalled(ProductCode), "still registered as installed");
    CheckRemovedKeeping("JOHN");
    CheckTemporaryFolderRemoved(__LINE__);
    ClearContext();
}

// A deferred action after the library's fails (VelloranFailing.msi): the
// installation rolls back, and the rollback takes back what this
// installation made on a machine where it found no RC.DAT: RC.DAT,
// C:\<code>, the records, the desktop shortcut and C:\TELDAX itself.
static void test_rollback()
{
    PrepareMachineWithoutPackage();
    // What AfterInstall deletes and no rollback puts back: an earlier
    // release's desktop shortcut and system file. An installation that
    // fails must leave them.
    char oldSystemFile[MAX_PATH], oldDesktopLink[MAX_PATH];
    PathIn(oldSystemFile, sizeof oldSystemFile, SystemFolder, "win32xac.dll");
    PathIn(oldDesktopLink, sizeof oldDesktopLink, CommonDesktop, "Shortcut to Velloran.lnk");
    WriteBytes(oldSystemFile, "old", 3);
    WriteBytes(oldDesktopLink, "old", 3);
    UnseenRun run;
    char statuses[2048];
    InstallUnseen("VelloranFailing.msi", "REPORTERCODE=john", &run, statuses, sizeof statuses);
    ok(run.exitCode == Failure, "exit code %lu, expected %lu", run.exitCode, (unsigned long)Failure);
    // The installation as far as the failing action (AfterInstall, a commit
    // action, has not run), then the rollback: RC.DAT deleted, and C:\JOHN
    // and C:\TELDAX once empty.
    char expected[2048];
    snprintf(expected, sizeof expected,
             "VINSTALLDLL: BeforeInstallWithCode returned 2\n"
             "VINSTALLDLL: reporter code JOHN to be stored\n"
             "%s%s"
             "VINSTALLDLL: BeforeInstallWithCode returned 2\n"
             "VINSTALLDLL: reporter code JOHN stored\n"
             "VINSTALLDLL: VinstallStore has no CustomActionData: it must be a deferred action, after "
             "VinstallBeforeInstall\n"
             "VINSTALLDLL: RemoveLibraryFiles returned 1\n"
             "VINSTALLDLL: files deleted: 1; C:\\TELDAX deleted\n",
             GateFolderNew, StoreFolderMade);
    CheckStatuses(__LINE__, statuses, expected);
    ok(FileExists(oldSystemFile), "%s was deleted by an installation that failed", oldSystemFile);
    ok(FileExists(oldDesktopLink), "%s was deleted by an installation that failed", oldDesktopLink);
    DeleteFileA(oldSystemFile);
    DeleteFileA(oldDesktopLink);
    ok(!ProductInstalled(), "the package is registered as installed");
    ok(!FileExists(CodeFile), "RC.DAT is still there");
    ok(!DirectoryExists("C:\\JOHN"), "C:\\JOHN is still there");
    CheckNothingInstalled();
    CheckTemporaryFolderRemoved(__LINE__);
}

// The next release replaces the earlier one (VelloranNextTest.msi: the
// library's actions taken out, since under Wine the gate refuses the earlier
// release's C:\TELDAX): with RemoveExistingProducts after InstallFinalize
// the files stay, the component being the same in both releases. Then,
// over the earlier release again, the next one fails in its script
// (FAILSTEP=1): it ends 1603 and the earlier release is still registered,
// RC.DAT as it was, since it is removed only after the new one's script
// succeeded. Its files are not checked there: under Wine the rollback of the
// failed installation deletes the files of the component that both releases
// share, where Windows "saves a copy of every file it deletes during the
// installation" and restores "the original state of the computer" when
// it fails (Microsoft's "Rollback Custom Actions").
static void test_failed_upgrade_keeps_release()
{
    char product[MAX_PATH];
    PathIn(product, sizeof product, PackageFolder, "..\\product");
    UnseenRun run;
    char statuses[2048];

    SetContext("the next release succeeds");
    PrepareMachineWithoutPackage();
    InstallUnseen("Velloran.msi", "REPORTERCODE=john", &run, statuses, sizeof statuses);
    ok(run.exitCode == 0, "first installation: exit code %lu", run.exitCode);
    InstallUnseen("VelloranNextTest.msi", "", &run, statuses, sizeof statuses);
    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    ok(!ProductInstalled(ProductCode), "the earlier release is still installed");
    ok(ProductInstalled(NextProductCode), "the next release is not registered as installed");
    CheckProductFiles(product);
    CheckCodeFile("JOHN");

    SetContext("the next release fails in its script");
    PrepareMachineWithoutPackage();
    InstallUnseen("Velloran.msi", "REPORTERCODE=john", &run, statuses, sizeof statuses);
    ok(run.exitCode == 0, "first installation: exit code %lu", run.exitCode);
    InstallUnseen("VelloranNextTest.msi", "FAILSTEP=1", &run, statuses, sizeof statuses);
    ok(run.exitCode == Failure, "exit code %lu, expected %lu", run.exitCode, (unsigned long)Failure);
    ok(ProductInstalled(ProductCode), "the earlier release is no longer installed");
    ok(!ProductInstalled(NextProductCode), "the next release is registered as installed");
    CheckCodeFile("JOHN");
    CheckTemporaryFolderRemoved(__LINE__);
    ClearContext();
}

// The install folder is C:\TELDAX, where the library works, whatever
// TELDAX the command line (or a transform's Property table) sets.
static void test_install_folder_pinned()
{
    PrepareMachineWithoutPackage();
    RemoveTree("C:\\Apps");
    UnseenRun run;
    char statuses[2048];
    InstallUnseen("Velloran.msi", "REPORTERCODE=john TELDAX=C:\\Apps\\Velloran\\", &run, statuses,
                  sizeof statuses);
    ok(run.exitCode == 0, "exit code %lu, expected 0", run.exitCode);
    char product[MAX_PATH];
    PathIn(product, sizeof product, PackageFolder, "..\\product");
    CheckInstalledFor("JOHN", product);
    ok(!DirectoryExists("C:\\Apps"), "C:\\Apps was made");
    CheckTemporaryFolderRemoved(__LINE__);
    PrepareMachineWithoutPackage();
    RemoveTree("C:\\Apps");
}

// The other architecture's package of this release installed, played by
// VelloranOtherArch.msi (this architecture's package with the other's
// product code and component GUID; only the x86_64 package runs here):
// this architecture's package then refuses at its launch conditions, before
// any action of the library, and the other stays installed. The run of the
// two real packages in turn is played by the tables alone
// (test_other_architecture_tables).
static void test_other_architecture_played()
{
    PrepareMachineWithoutPackage();
    UnseenRun run;
    char statuses[2048];
    InstallUnseen("VelloranOtherArch.msi", "REPORTERCODE=john", &run, statuses, sizeof statuses);
    ok(run.exitCode == 0, "the other architecture's package: exit code %lu", run.exitCode);
    ok(ProductInstalled(OtherProductCode), "the other architecture's package is not registered as installed");

    InstallUnseen("Velloran.msi", "REPORTERCODE=john", &run, statuses, sizeof statuses);
    ok(run.exitCode == Failure, "exit code %lu, expected %lu", run.exitCode, (unsigned long)Failure);
    CheckStatuses(__LINE__, statuses, "");
    const char* log = ReadLog();
    const char* ended = strstr(log, "LaunchConditions. Return value ");
    ok(ended && ended[strlen("LaunchConditions. Return value ")] != '1', "LaunchConditions did not fail: %s",
       ended ? ended : "it did not run");
    ok(ProductInstalled(OtherProductCode), "the other architecture's package is no longer installed");
    ok(!ProductInstalled(ProductCode), "both architectures' packages are installed");
    CheckCodeFile("JOHN");
    CheckTemporaryFolderRemoved(__LINE__);
    PrepareMachineWithoutPackage();
}

// The Windows version as Windows Installer reports it to the package (Wine
// reports VersionNT 603 at win10, 602 at win8, 601 at win7): win10 is
// refused by the launch condition before any action runs, with 1603 and
// nothing installed (Wine's log has no text for it in a silent run); win7
// and win8 install.
struct WindowsCase {
    const char* version;
    DWORD exitCode;
};
static const WindowsCase WindowsCases[] = {{"win10", Failure}, {"win8", 0}, {"win7", 0}};

static void test_windows_versions()
{
    for (const WindowsCase& c : WindowsCases) {
        SetContext("msiexec at %s", c.version);
        PrepareMachineWithoutPackage();
        ReportWindowsVersionTo("msiexec.exe", c.version);
        UnseenRun run;
        char statuses[2048];
        InstallUnseen("Velloran.msi", "REPORTERCODE=john", &run, statuses, sizeof statuses);
        ReportWindowsVersionTo("msiexec.exe", NULL);
        ok(run.exitCode == c.exitCode, "exit code %lu, expected %lu", run.exitCode, c.exitCode);
        ok(ProductInstalled() == (c.exitCode == 0), "the package is%s registered as installed",
           ProductInstalled() ? "" : " not");
        if (c.exitCode == 0) {
            CheckCodeFile("JOHN");
        } else {
            CheckStatuses(__LINE__, statuses, "");
            CheckNothingInstalled();
            // What Windows Installer was told, and that LaunchConditions
            // failed (Wine logs return value 0 for it, Windows 3).
            const char* log = ReadLog();
            CheckLogHasLine(log, "Property(S): VersionNT = 603");
            const char* ended = strstr(log, "LaunchConditions. Return value ");
            ok(ended && ended[strlen("LaunchConditions. Return value ")] != '1',
               "LaunchConditions did not fail: %s", ended ? ended : "it did not run");
        }
        CheckTemporaryFolderRemoved(__LINE__);
    }
    ClearContext();
}

int main(int argc, char** argv)
{
    InitHarness(argc, argv);
    if (argc < 3) {
        printf("usage: %s <VINSTALLDLL.dll> <folder of Velloran.msi> [<folder of the other architecture's packages>]\n",
               argv[0]);
        return 2;
    }
    WindowsPathOf(argv[2], PackageFolder, sizeof PackageFolder);
    if (argc > 3)
        WindowsPathOf(argv[3], OtherPackageFolder, sizeof OtherPackageFolder);
    FindInstallationPlaces();
    PathIn(Msiexec, sizeof Msiexec, SystemFolder, "msiexec.exe");
    snprintf(RefusedSlashLines, sizeof RefusedSlashLines, "VINSTALLDLL: BeforeInstallWithCode returned 0\nVINSTALLDLL: %s\n",
             RefusedSlashLine);
    DWORD length = GetTempPathA(sizeof TempFolder, TempFolder);
    if (length > 0 && length < sizeof TempFolder && TempFolder[length - 1] == '\\')
        TempFolder[length - 1] = '\0';

    test_wrapper_file();
    test_custom_actions();
    test_secure_properties();
    test_architecture_codes();
    test_other_architecture_tables();
    test_rollback_required();
    test_launch_condition();
    test_action_conditions();
    test_gate_writes_nothing();
    test_rollback_keeps_found_code();
    test_deferred_actions();
    test_first_installation();
    test_update_silent();
    test_existing_folder_refused();
    test_cancelled();
    test_library_missing();
    test_silent_without_code();
    test_unseen_installations();
    test_unseen_upgrades_and_removal();
    test_rollback();
    test_failed_upgrade_keeps_release();
    test_install_folder_pinned();
    test_other_architecture_played();
    test_windows_versions();
    PrepareMachineWithoutPackage();
    return FinishTests("msi");
}
