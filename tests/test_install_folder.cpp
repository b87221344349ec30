// The install folder as the setup programs get it from the library: made,
// or taken over, for administrators only before anything is written there
// (ProtectInstallFolder), and what the library wrote removed again through
// checked handles (RemoveLibraryFiles). Wine keeps no owner and reports the
// installing user's token as the elevated half of a split one: the owners
// and tokens that Windows would show are played through the library's
// imports (ReportSecurity, ReportElevationType), and what the library sets
// is read back from its calls (SecuritySets).
#include "harness.h"
#include "src/interface/exports.h"

#include <stdio.h>
#include <string.h>

static HWND SetupWindow;

// The descriptors the library gives: the folder's ACEs inherited by what is
// put inside (ADMINISTRATORS_FOLDER_SDDL), a file's or a folder's inside the
// same, none inherited below a file.
#define FILE_DACL "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)"

// Calls ProtectInstallFolder or RemoveLibraryFiles with its options, the
// second argument and a buffer for the line; the line lands in line.
static int CallWithLine(const char* name, LPARAM second, DWORD options, char (&line)[512])
{
    line[0] = '\0';
    return CallExport(name, SetupWindow, second, (LPARAM)options, (LPARAM)line, sizeof line);
}

static void SetRecordFor(const char* path, SecuritySetRecord* found)
{
    memset(found, 0, sizeof *found);
    for (int i = 0; i < SecuritySetCount && i < (int)ARRAYSIZE(SecuritySets); ++i) {
        if (_stricmp(SecuritySets[i].path, path) == 0)
            *found = SecuritySets[i];
    }
}

// The install folder of an earlier installation: the product's files, RC.DAT,
// a shortcut, and a folder of its own with a file in it.
static void EarlierInstallation()
{
    CleanDrive();
    MakeDirectory("C:\\TELDAX");
    WriteBytes("C:\\TELDAX\\RC.DAT", "JOHN\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 24);
    WriteBytes("C:\\TELDAX\\vell.exe", "MZ", 2);
    MakeDirectory("C:\\TELDAX\\help");
    WriteBytes("C:\\TELDAX\\help\\index.txt", "help", 4);
}

static void OwnedByAdministrators()
{
    ReportSecurity("C:\\TELDAX", "O:BA" ADMINISTRATORS_FOLDER_SDDL);
}
static void OwnedByAnotherUser()
{
    ReportSecurity("C:\\TELDAX", "O:" ANOTHER_USER_SID "D:(A;OICI;FA;;;" ANOTHER_USER_SID ")");
}
// Wine's own answer: the installing user owns the folder, and its token is
// the elevated half of a split one.
static void OwnedByInstallingUserSplit() {}
static void OwnedByInstallingUserNoSplit()
{
    ReportElevationType(TokenElevationTypeDefault);
}
static void FolderIsLink()
{
    RemoveTree("C:\\TELDAX");
    MakeDirectory("C:\\elsewhere");
    WriteBytes("C:\\elsewhere\\vell.exe", "MZ", 2);
    MakeFolderLink("C:\\TELDAX", "C:\\elsewhere");
}
static void HardLinkInside()
{
    OwnedByAdministrators();
    WriteBytes("C:\\victim.dll", "victim", 6);
    MakeHardLink("C:\\TELDAX\\planted.dll", "C:\\victim.dll");
}
static void FolderLinkInside()
{
    OwnedByAdministrators();
    MakeDirectory("C:\\elsewhere");
    MakeFolderLink("C:\\TELDAX\\help\\more", "C:\\elsewhere");
}
static void FatVolume()
{
    ReportVolume("FAT32", FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK);
}
static void Windows98()
{
    ReportVersion(4, 10, 1);
    ReportVolume("FAT32", FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK);
}
// Windows 8.1 for the setup program, an existing folder of another user:
// BeforeInstallWithCode refuses that Windows next; nothing is touched first.
static void Windows81()
{
    ReportVersion(6, 3, VER_PLATFORM_WIN32_NT);
    OwnedByAnotherUser();
}
static void SecurityNotSet()
{
    OwnedByAdministrators();
    FailCall("SetKernelObjectSecurity", 0, "vell.exe");
}
static void TooDeep()
{
    OwnedByAdministrators();
    MakeDirectory("C:\\TELDAX\\a");
    MakeDirectory("C:\\TELDAX\\a\\b");
    MakeDirectory("C:\\TELDAX\\a\\b\\c");
    MakeDirectory("C:\\TELDAX\\a\\b\\c\\d");
    MakeDirectory("C:\\TELDAX\\a\\b\\c\\d\\e");
}
static void NotAFolder()
{
    RemoveTree("C:\\TELDAX");
    WriteBytes("C:\\TELDAX", "file", 4);
}

struct ProtectCase {
    const char* what;
    void (*prepare)();
    DWORD options;
    int status;
    bool takenOver;     // owner and DACL set on the folder and every entry
    const char* line;   // the line's beginning
    bool box = false;   // the refusal shown in a box
};

static const ProtectCase ProtectCases[] = {
    {"owned by Administrators: taken over with all it holds", OwnedByAdministrators, 0, 1, true,
     "C:\\TELDAX and what it holds: only administrators may change them"},
    {"owned by Administrators, a check", OwnedByAdministrators, VINSTALL_CHECK_ONLY, 1, false,
     "C:\\TELDAX is owned by an administrator"},
    {"owned by another user", OwnedByAnotherUser, 0, 0, false,
     "C:\\TELDAX: " ANOTHER_USER_SID " may change it as its owner (rights 0x00060000): nothing installed; an "
     "administrator should look at what the folder holds, then delete it or make Administrators its owner, and run "
     "the installation again",
     true},
    {"owned by another user, a check", OwnedByAnotherUser, VINSTALL_CHECK_ONLY, 0, false,
     "C:\\TELDAX: " ANOTHER_USER_SID " may change it as its owner", true},
    {"owned by another user, silent", OwnedByAnotherUser, VINSTALL_SILENT, 0, false,
     "C:\\TELDAX: " ANOTHER_USER_SID " may change it as its owner", false},
    {"owned by the installing user, whose token is split (Wine's own answer)", OwnedByInstallingUserSplit, 0, 0,
     false, "C:\\TELDAX: S-1-5-21-0-0-0-1000 may change it as its owner", true},
    {"owned by the installing user, no split token", OwnedByInstallingUserNoSplit, 0, 1, true,
     "C:\\TELDAX and what it holds"},
    {"a link to another folder", FolderIsLink, 0, 0, false, "nothing taken over in C:\\TELDAX: it is a reparse point",
     true},
    {"a file of the same name", NotAFolder, 0, 0, false, "nothing taken over in C:\\TELDAX: it is not a folder",
     true},
    {"a hard link inside", HardLinkInside, 0, 0, false,
     "C:\\TELDAX\\planted.dll: it has 2 names (a hard link): nothing installed", true},
    {"a link to a folder elsewhere, a folder deep", FolderLinkInside, 0, 0, false,
     "C:\\TELDAX\\help\\more: it is a reparse point", true},
    {"folders five deep", TooDeep, 0, 0, false, "C:\\TELDAX\\a\\b\\c\\d\\e: it lies more than 4 folders deep", true},
    {"a FAT32 volume", FatVolume, 0, 0, false, "C:\\TELDAX: FAT32 keeps no permissions", true},
    {"Windows 98: nothing to protect", Windows98, 0, 1, false,
     "C:\\TELDAX: Windows 9x keeps no permissions: nothing to protect"},
    {"Windows 8.1: left as it is for BeforeInstallWithCode's refusal", Windows81, 0, 1, false,
     "Windows 6.3, which BeforeInstallWithCode refuses: C:\\TELDAX left as it is"},
    {"an entry's owner cannot be set", SecurityNotSet, 0, 0, false,
     "C:\\TELDAX\\vell.exe: its owner and DACL cannot be set (error 5)", true},
};

static void CheckTakenOver(const char* path, const char* dacl)
{
    SecuritySetRecord r;
    SetRecordFor(path, &r);
    char expected[256];
    snprintf(expected, sizeof expected, "O:BA%s", dacl);
    ok(strcmp(r.sddl, expected) == 0, "%s given \"%s\", expected \"%s\"", path, r.sddl, expected);
    ok(r.control & SE_DACL_PROTECTED, "%s: the DACL not protected from what the parent passes down (0x%04lx)", path,
       r.control);
}

// An existing C:\TELDAX: taken over on its own handles when its owner is an
// administrator, refused otherwise, with the line that says what to do and
// a box where someone may see it.
static void TestProtectExistingFolder()
{
    for (const ProtectCase& c : ProtectCases) {
        SetContext("ProtectInstallFolder, %s", c.what);
        EarlierInstallation();
        LoadLibraryUnderTest();
        c.prepare();
        char line[512];
        int status = CallWithLine("ProtectInstallFolder", 0, c.options, line);
        ClearFaults();
        UseRealSecurity();
        UseRealVersion();
        UseRealVolume();

        ok(status == c.status, "status %d, expected %d", status, c.status);
        ok(strncmp(line, c.line, strlen(c.line)) == 0, "line \"%s\", expected \"%s...\"", line, c.line);
        if (c.takenOver) {
            ok(SecuritySetCount == 5, "%d objects given owner and DACL, expected 5", SecuritySetCount);
            // The folder first: no one else may add an entry from then on.
            ok(_stricmp(SecuritySets[0].path, "C:\\TELDAX") == 0, "first set \"%s\"", SecuritySets[0].path);
            CheckTakenOver("C:\\TELDAX", ADMINISTRATORS_FOLDER_SDDL);
            CheckTakenOver("C:\\TELDAX\\RC.DAT", FILE_DACL);
            CheckTakenOver("C:\\TELDAX\\vell.exe", FILE_DACL);
            CheckTakenOver("C:\\TELDAX\\help", ADMINISTRATORS_FOLDER_SDDL);
            CheckTakenOver("C:\\TELDAX\\help\\index.txt", FILE_DACL);
        } else if (status == 0) {
            // Entries ahead of the refused one may have been taken over; the
            // refused one never: a second name of a file elsewhere, or a
            // link to a folder elsewhere (recorded by the path opened).
            for (int i = 0; i < SecuritySetCount && i < (int)ARRAYSIZE(SecuritySets); ++i)
                ok(!strstr(SecuritySets[i].path, "planted") && !strstr(SecuritySets[i].path, "\\more"),
                   "owner and DACL set on %s", SecuritySets[i].path);
        } else {
            ok(SecuritySetCount == 0, "%d objects given owner and DACL", SecuritySetCount);
        }
        if (c.box) {
            ok(MessageCount == 1, "%d messages", MessageCount);
            ok(strcmp(Messages[0].title, "Velloran - Install Folder") == 0 && Messages[0].style == (MB_OK | MB_ICONERROR) &&
                   Messages[0].owner == SetupWindow,
               "box \"%s\", style 0x%x, owner %p", Messages[0].title, Messages[0].style, (void*)Messages[0].owner);
            ok(strncmp(Messages[0].text, "Setup cannot make the folder C:\\TELDAX safe:\n", 45) == 0 &&
                   strstr(Messages[0].text, "Setup has stopped: an administrator should look"),
               "box text \"%s\"", Messages[0].text);
        } else {
            ok(MessageCount == 0, "%d messages, the first \"%s\"", MessageCount, Messages[0].text);
        }
        ok(Traced("ProtectInstallFolder: returns") != NULL, "trace:\n%s", TraceText());
        // Links go before what they lead to: a dangling one cannot be seen.
        RemoveFolderLinkIfAny("C:\\TELDAX");
        RemoveFolderLinkIfAny("C:\\TELDAX\\help\\more");
    }
    ClearContext();
}

// A folder of an earlier installation owned by the installing user (Wine's
// owner of every file), by the Windows played, the kernel's own version and
// what the token says of its elevation: before Vista no token has a linked
// one, so the user counts whatever TokenElevationType would answer (Wine
// answers "full" at every version it plays); from Vista on a split token's
// user does not. The kernel's version decides, not GetVersionExA's: a
// compatibility mode set for the setup program does not make a split
// token's user count, and a kernel version that cannot be read asks the
// token.
static void TestInstallingUserByWindowsVersion()
{
    enum { WinesAnswer = -1, QueryFails = 0, NoLinkedToken = 1, Full = 2 };
    static const struct {
        const char* what;
        DWORD major, minor;              // GetVersionExA's
        DWORD kernelMajor, kernelMinor;  // the kernel's (0: the same)
        int elevation;
        bool readFails;                  // the kernel's version cannot be read
        bool takenOver;
    } cases[] = {
        {"NT 4.0", 4, 0, 0, 0, WinesAnswer, false, true},
        {"Windows 2000", 5, 0, 0, 0, WinesAnswer, false, true},
        {"Windows XP", 5, 1, 0, 0, WinesAnswer, false, true},
        {"Windows XP, full reported", 5, 1, 0, 0, Full, false, true},
        {"Windows Server 2003", 5, 2, 0, 0, WinesAnswer, false, true},
        {"Windows XP, the query failing as it does there", 5, 1, 0, 0, QueryFails, false, true},
        {"Windows Vista, full", 6, 0, 0, 0, Full, false, false},
        {"Windows 7", 6, 1, 0, 0, WinesAnswer, false, false},
        {"Windows 8, full", 6, 2, 0, 0, Full, false, false},
        {"Windows 7, no linked token (UAC off)", 6, 1, 0, 0, NoLinkedToken, false, true},
        {"Windows 7 in XP's compatibility mode, full", 5, 1, 6, 1, Full, false, false},
        {"Windows Vista in Windows 2000's compatibility mode, full", 5, 0, 6, 0, Full, false, false},
        {"Windows XP, the kernel's version unreadable, full", 5, 1, 0, 0, Full, true, false},
    };
    static const char SplitLine[] = "the setup program's user does not count as an administrator: its token is the "
                                    "elevated half of a split one, and the same user also runs unelevated";
    for (const auto& c : cases) {
        SetContext("ProtectInstallFolder, a folder of the installing user, %s", c.what);
        EarlierInstallation();
        LoadLibraryUnderTest();
        ReportVersion(c.major, c.minor, VER_PLATFORM_WIN32_NT);
        if (c.kernelMajor)
            ReportKernelVersion(c.kernelMajor, c.kernelMinor);
        if (c.elevation != WinesAnswer)
            ReportElevationType(c.elevation);
        if (c.readFails)
            FailCall("ReadProcessMemory", 0, NULL, ERROR_PARTIAL_COPY);
        char line[512];
        int status = CallWithLine("ProtectInstallFolder", 0, VINSTALL_SILENT, line);
        ClearFaults();
        UseRealSecurity();
        UseRealVersion();
        const char* expected = c.takenOver ? "C:\\TELDAX and what it holds: only administrators may change them"
                                           : "C:\\TELDAX: S-1-5-21-0-0-0-1000 may change it as its owner";
        ok(status == (c.takenOver ? 1 : 0), "status %d, expected %d", status, c.takenOver ? 1 : 0);
        ok(strncmp(line, expected, strlen(expected)) == 0, "line \"%s\", expected \"%s...\"", line, expected);
        ok(SecuritySetCount == (c.takenOver ? 5 : 0), "%d objects given owner and DACL", SecuritySetCount);
        ok((Traced(SplitLine) != NULL) == !c.takenOver, "the split token %ssaid in:\n%s", c.takenOver ? "" : "not ",
           TraceText());
    }
    ClearContext();
}

// No C:\TELDAX: made with owner Administrators and its DACL, never with the
// default security; a check makes nothing.
static void TestProtectNewFolder()
{
    static const struct {
        const char* what;
        DWORD options;
        DWORD failCreate;  // CreateDirectoryA's error, 0: none
        int status;
        const char* line;
        bool made;
    } cases[] = {
        {"made", 0, 0, 2, "C:\\TELDAX made, writable by administrators only", true},
        {"a check", VINSTALL_CHECK_ONLY, 0, 2, "C:\\TELDAX does not exist yet: it is to be made for administrators only",
         false},
        {"not an administrator (no right to make Administrators the owner)", VINSTALL_SILENT, ERROR_INVALID_OWNER, 0,
         "C:\\TELDAX cannot be made with the owner Administrators: the setup program does not run as an administrator",
         false},
        {"the drive refuses", VINSTALL_SILENT, ERROR_ACCESS_DENIED, 0, "C:\\TELDAX cannot be made (error 5)", false},
    };
    for (const auto& c : cases) {
        SetContext("ProtectInstallFolder, no C:\\TELDAX, %s", c.what);
        CleanDrive();
        LoadLibraryUnderTest();
        if (c.failCreate)
            FailCall("CreateDirectoryA", 0, "TELDAX", c.failCreate);
        char line[512];
        int status = CallWithLine("ProtectInstallFolder", 0, c.options, line);
        ClearFaults();
        ok(status == c.status, "status %d, expected %d", status, c.status);
        ok(strncmp(line, c.line, strlen(c.line)) == 0, "line \"%s\", expected \"%s\"", line, c.line);
        ok(DirectoryExists("C:\\TELDAX") == c.made, "C:\\TELDAX %s", c.made ? "not made" : "made");
        int expectedCreates = c.options & VINSTALL_CHECK_ONLY ? 0 : 1;
        ok(CreatedDirectoryCount == expectedCreates, "%d folders made, expected %d", CreatedDirectoryCount,
           expectedCreates);
        if (CreatedDirectoryCount > 0)
            ok(CreatedDirectories[0].withSecurity &&
                   strcmp(CreatedDirectories[0].sddl, "O:BA" ADMINISTRATORS_FOLDER_SDDL) == 0,
               "made with \"%s\"", CreatedDirectories[0].sddl);
        ok(MessageCount == 0, "%d messages", MessageCount);
    }

    // Windows 98 keeps no permissions: the folder is made all the same, and
    // the line does not call it protected. Windows 8.1: nothing is made.
    static const struct {
        const char* what;
        DWORD major, minor, platform;
        int status;
        const char* line;
        bool made;
    } versions[] = {
        {"Windows 98", 4, 10, VER_PLATFORM_WIN32_WINDOWS, 2, "C:\\TELDAX made: Windows 9x keeps no permissions", true},
        {"Windows 8.1", 6, 3, VER_PLATFORM_WIN32_NT, 1,
         "Windows 6.3, which BeforeInstallWithCode refuses: C:\\TELDAX left as it is", false},
    };
    for (const auto& v : versions) {
        SetContext("ProtectInstallFolder, no C:\\TELDAX, %s", v.what);
        CleanDrive();
        LoadLibraryUnderTest();
        ReportVersion(v.major, v.minor, v.platform);
        char line[512];
        int status = CallWithLine("ProtectInstallFolder", 0, 0, line);
        UseRealVersion();
        ok(status == v.status && strcmp(line, v.line) == 0, "status %d, line \"%s\"", status, line);
        ok(DirectoryExists("C:\\TELDAX") == v.made, "C:\\TELDAX %smade", v.made ? "not " : "");
        ok(CreatedDirectoryCount == (v.made ? 1 : 0) && (!v.made || !CreatedDirectories[0].withSecurity),
           "%d folders made, the first with a descriptor: %d", CreatedDirectoryCount,
           CreatedDirectoryCount ? CreatedDirectories[0].withSecurity : 0);
    }
    ClearContext();
}

// What an installation left, and what removal takes.
static const char DesktopLink[] = "C:\\users\\Public\\Desktop\\Velloran.lnk";

static void InstalledMachine(const char* code)
{
    CleanDrive();
    MakeDirectory("C:\\TELDAX");
    char record[24] = {};
    memcpy(record, code, strlen(code));
    WriteBytes("C:\\TELDAX\\RC.DAT", record, sizeof record);
    static const char* const Files[] = {"vell.exe", "install.exe", "Velloran.lnk", "Update.txt", "UpdName.txt",
                                        "UpdDetails.txt"};
    for (const char* name : Files) {
        char path[MAX_PATH];
        snprintf(path, sizeof path, "C:\\TELDAX\\%s", name);
        WriteBytes(path, name, (int)strlen(name));
    }
    char folder[MAX_PATH];
    snprintf(folder, sizeof folder, "C:\\%s", code);
    MakeDirectory(folder);
    WriteBytes(DesktopLink, "lnk", 3);
}

static void TestRemoval()
{
    static const struct {
        const char* what;
        const char* code;
        const char* files;
        DWORD options;
        bool reporterWork;   // the reporter's folder holds their work
        int deleted;
        bool codeKept, folderKept, teldaxKept;
    } cases[] = {
        {"the setup program's files named", "JOHN", "vell.exe|install.exe|Velloran.lnk", 0, false, 7, true, true, true},
        {"no names", "JOHN", NULL, 0, false, 4, true, true, true},
        {"a rollback: RC.DAT and the empty reporter's folder taken back", "JOHN",
         "vell.exe|install.exe|Velloran.lnk", VINSTALL_TAKE_BACK, false, 8, false, false, false},
        {"a rollback over the reporter's work: their folder stays", "JOHN", "vell.exe|install.exe|Velloran.lnk",
         VINSTALL_TAKE_BACK, true, 8, false, true, false},
        {"names that lead elsewhere are refused", "JOHN", "..\\victim.txt|C:\\victim.txt|/victim.txt|..|", 0, false, 4,
         true, true, true},
    };
    for (const auto& c : cases) {
        SetContext("RemoveLibraryFiles, %s", c.what);
        InstalledMachine(c.code);
        WriteBytes("C:\\victim.txt", "victim", 6);
        if (c.reporterWork)
            WriteBytes("C:\\JOHN\\work.txt", "work", 4);
        LoadLibraryUnderTest();
        char line[512];
        int status = CallWithLine("RemoveLibraryFiles", (LPARAM)c.files, c.options, line);
        ok(status == 1, "status %d", status);
        char expected[128];
        snprintf(expected, sizeof expected, "files deleted: %d; C:\\TELDAX %s", c.deleted,
                 c.teldaxKept ? "kept: it is not empty" : "deleted");
        ok(strcmp(line, expected) == 0, "line \"%s\", expected \"%s\" in:\n%s", line, expected, TraceText());
        ok(!FileExists(DesktopLink), "%s kept", DesktopLink);
        ok(!FileExists("C:\\TELDAX\\Update.txt") && !FileExists("C:\\TELDAX\\UpdName.txt") &&
               !FileExists("C:\\TELDAX\\UpdDetails.txt"),
           "a release record kept");
        ok(FileExists("C:\\TELDAX\\RC.DAT") == c.codeKept, "RC.DAT %s", c.codeKept ? "deleted" : "kept");
        ok(DirectoryExists("C:\\JOHN") == c.folderKept, "C:\\JOHN %s", c.folderKept ? "deleted" : "kept");
        ok(DirectoryExists("C:\\TELDAX") == c.teldaxKept, "C:\\TELDAX %s", c.teldaxKept ? "deleted" : "kept");
        ok(FileExists("C:\\victim.txt"), "C:\\victim.txt deleted");
        ok(MessageCount == 0, "%d messages", MessageCount);
    }
    ClearContext();
}

// What someone else put in the way: a record that is a second name of their
// file goes as a name only, the file stays; a C:\TELDAX that leads elsewhere
// is not deleted in at all.
static void TestRemovalOfPlantedFiles()
{
    SetContext("RemoveLibraryFiles, a record that is a hard link");
    InstalledMachine("JOHN");
    WriteBytes("C:\\victim.txt", "victim", 6);
    DeleteFileA("C:\\TELDAX\\Update.txt");
    MakeHardLink("C:\\TELDAX\\Update.txt", "C:\\victim.txt");
    LoadLibraryUnderTest();
    char line[512];
    int status = CallWithLine("RemoveLibraryFiles", 0, 0, line);
    ok(status == 1, "status %d", status);
    ok(!FileExists("C:\\TELDAX\\Update.txt"), "the record's name kept");
    ExpectFile("C:\\victim.txt", "victim");

    SetContext("RemoveLibraryFiles, C:\\TELDAX leads elsewhere");
    CleanDrive();
    MakeDirectory("C:\\elsewhere");
    WriteBytes("C:\\elsewhere\\Update.txt", "keep", 4);
    WriteBytes("C:\\elsewhere\\vell.exe", "keep", 4);
    MakeFolderLink("C:\\TELDAX", "C:\\elsewhere");
    LoadLibraryUnderTest();
    status = CallWithLine("RemoveLibraryFiles", (LPARAM) "vell.exe", 0, line);
    ok(status == 0, "status %d", status);
    ok(strstr(line, "nothing in it deleted") != NULL, "line \"%s\"", line);
    ok(FileExists("C:\\elsewhere\\Update.txt") && FileExists("C:\\elsewhere\\vell.exe"), "a file behind the link deleted");
    RemoveFolderLink("C:\\TELDAX");

    SetContext("RemoveLibraryFiles, no C:\\TELDAX");
    CleanDrive();
    LoadLibraryUnderTest();
    status = CallWithLine("RemoveLibraryFiles", 0, 0, line);
    ok(status == 1 && strcmp(line, "files deleted: 0; C:\\TELDAX does not exist") == 0, "status %d, line \"%s\"", status,
       line);
    ClearContext();
}

int main(int argc, char** argv)
{
    InitHarness(argc, argv);
    SetupWindow = MakeOwnerWindow();
    TestProtectNewFolder();
    TestProtectExistingFolder();
    TestInstallingUserByWindowsVersion();
    TestRemoval();
    TestRemovalOfPlantedFiles();
    DestroyWindow(SetupWindow);
    CleanDrive();
    return FinishTests("install_folder");
}
