// UpdateInfo, MLDInfo and Chk4TELDAX: the release record files byte for byte,
// the no-update notice. InstallPDF: the start request as the shell receives
// it, a real start of a stand-in installer, and who may change the installer
// and its folder before it is started.
#include "harness.h"
#include "tools/jobs.h"
#include "release_settings.h"

#include <sddl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char* const RecordPaths[] = {"C:\\TELDAX\\Update.txt", "C:\\TELDAX\\UpdName.txt",
                                          "C:\\TELDAX\\UpdDetails.txt"};
enum { NoticeRecord, InstallerRecord, DetailsRecord, RecordCount };

// What each export writes. In the shipped build the texts are spelled out, so
// that a wrong setting is caught as well as a wrong library.
struct Release {
    const char* exportName;
    const char* noticeFormat;
    const char* installerAddress;
    const char* detailsAddress;
};
static const Release Update = {
    "UpdateInfo",
#if VINSTALL_RELEASE_DEFAULTS
    "June 2018 Update installed on %02d-%02d-%4d",
    "http://download.velloran.example/executables/Jun18Upd.exe",
    "http://download.velloran.example/executables/Jun18Upd.pdf",
#else
    VINSTALL_UPDATE_NOTICE,
    VINSTALL_DOWNLOAD_BASE VINSTALL_UPDATE_INSTALLER,
    VINSTALL_DOWNLOAD_BASE VINSTALL_UPDATE_DETAILS,
#endif
};
static const Release MasterLoad = {
    "MLDInfo",
#if VINSTALL_RELEASE_DEFAULTS
    "June 2018 Master Load installed on %02d-%02d-%4d",
    "http://download.velloran.example/executables/Aug16Upd.exe",
    "http://download.velloran.example/executables/Aug16Upd.pdf",
#else
    VINSTALL_MASTER_LOAD_NOTICE,
    VINSTALL_DOWNLOAD_BASE VINSTALL_MASTER_LOAD_INSTALLER,
    VINSTALL_DOWNLOAD_BASE VINSTALL_MASTER_LOAD_DETAILS,
#endif
};

static const Release* const Releases[] = {&Update, &MasterLoad};

#if VINSTALL_RELEASE_DEFAULTS
static const char NoUpdateNotice[] =
    "As of yet, there are no updates for the October 2021 Master Load.\nTry again later.";
static_assert(sizeof NoUpdateNotice == 82 + 1, "the shipped notice has 82 characters");
static const char ConverterParameters[] = "-s \"Velloran PDF Converter\"";
#else
static const char NoUpdateNotice[] = VINSTALL_NO_UPDATE_NOTICE;
static const char ConverterParameters[] = VINSTALL_PDF_PARAMETERS;
#endif

static const char OldContent[] =
    "an older record, longer than any the library writes: 0123456789 0123456789 0123456789 "
    "0123456789 0123456789 0123456789 0123456789 0123456789 0123456789 0123456789 0123456789 "
    "0123456789 0123456789 0123456789 0123456789 0123456789 0123456789 0123456789 0123456789 end";

static SYSTEMTIME Utc(WORD year, WORD month, WORD day, WORD hour, WORD minute)
{
    SYSTEMTIME t = {};
    t.wYear = year;
    t.wMonth = month;
    t.wDay = day;
    t.wHour = hour;
    t.wMinute = minute;
    return t;
}

// A library that took the local date would be given this one: 31 December
// 2019, 20:00, five hours behind the UTC reading 1 January 2020, 01:00.
static void WINAPI LocalTimeFiveHoursBehind(LPSYSTEMTIME time)
{
    *time = Utc(2019, 12, 31, 20, 0);
}

// InstallDir with the three record files holding OldContent.
static void MakeStaleRecords()
{
    CleanDrive();
    MakeDirectory("C:\\TELDAX");
    for (const char* path : RecordPaths)
        WriteBytes(path, OldContent, sizeof OldContent - 1);
}

// The notice the build's format gives for a UTC reading.
static const char* NoticeFor(const Release& release, const SYSTEMTIME& utc)
{
    static char notice[256];
    snprintf(notice, sizeof notice, release.noticeFormat, utc.wMonth, utc.wDay, utc.wYear);
    return notice;
}

static void ExpectRecords(const Release& release, const char* notice, int keptRecord = -1)
{
    const char* expected[RecordCount] = {notice, release.installerAddress, release.detailsAddress};
    for (int i = 0; i < RecordCount; ++i)
        ExpectFile(RecordPaths[i], i == keptRecord ? OldContent : expected[i]);
}

static void CallRelease(const Release& release, HWND window = NULL)
{
    int status = CallExport(release.exportName, window);
    ok(status == 1, "%s returned %d", release.exportName, status);
    ok(MessageCount == 0, "%s showed %d message(s), the first \"%s\"", release.exportName, MessageCount,
       Messages[0].text);
}

// Both exports, each over longer records of an earlier release, on dates
// whose UTC day is what counts.
static void TestRecordsForDates()
{
    static const struct {
        SYSTEMTIME utc;
        const char* updateNotice;
        const char* masterLoadNotice;
    } cases[] = {
        {Utc(2019, 3, 5, 12, 0), "June 2018 Update installed on 03-05-2019",
         "June 2018 Master Load installed on 03-05-2019"},
        // 20:00 on 31 December 2019 five hours behind UTC.
        {Utc(2020, 1, 1, 1, 0), "June 2018 Update installed on 01-01-2020",
         "June 2018 Master Load installed on 01-01-2020"},
        {Utc(2024, 11, 28, 23, 59), "June 2018 Update installed on 11-28-2024",
         "June 2018 Master Load installed on 11-28-2024"},
    };
    for (const auto& c : cases) {
        for (const Release* release : Releases) {
            SetContext("%s on %04d-%02d-%02d UTC", release->exportName, c.utc.wYear, c.utc.wMonth, c.utc.wDay);
            MakeStaleRecords();
            LoadLibraryUnderTest();
            PatchImport(Library, "GetLocalTime", (void*)LocalTimeFiveHoursBehind);
            ReportSystemTime(c.utc);
            // Any window, even one that does not exist, is ignored.
            CallRelease(*release, (HWND)0xDEAD);
#if VINSTALL_RELEASE_DEFAULTS
            ExpectRecords(*release, release == &Update ? c.updateNotice : c.masterLoadNotice);
#else
            ExpectRecords(*release, NoticeFor(*release, c.utc));
#endif
        }
    }
    SetContext("%s", "");
}

static void TestLaterCallWins()
{
    static const struct {
        const Release* first;
        const Release* second;
    } cases[] = {{&Update, &MasterLoad}, {&MasterLoad, &Update}};
    SYSTEMTIME firstDay = Utc(2019, 3, 5, 9, 0), secondDay = Utc(2019, 3, 6, 9, 0);
    for (const auto& c : cases) {
        SetContext("%s then %s", c.first->exportName, c.second->exportName);
        MakeStaleRecords();
        LoadLibraryUnderTest();
        ReportSystemTime(firstDay);
        CallRelease(*c.first);
        ReportSystemTime(secondDay);
        CallRelease(*c.second);
        ExpectRecords(*c.second, NoticeFor(*c.second, secondDay));
    }
    SetContext("%s", "");
}

// True when the platform refuses to open a read-only file for writing (Windows;
// not Wine running as root).
static bool ReadOnlyIsEnforced()
{
    const char probe[] = "C:\\TELDAX\\read-only probe";
    WriteBytes(probe, "x", 1);
    SetFileAttributesA(probe, FILE_ATTRIBUTE_READONLY);
    HANDLE h = CreateFileA(probe, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    SetFileAttributesA(probe, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(probe);
    return h == INVALID_HANDLE_VALUE;
}

// A record file that another program holds open keeps what it held, unless
// that program lets others write and does not read; the other records are
// written all the same, silently.
static void TestRecordHeldByAnotherProgram()
{
    static const struct {
        int record;
        DWORD access, share;
        bool kept;
        const char* holder;
        const char* traced;  // after the file's name
    } cases[] = {
        // The library's handle, which is checked and then written through,
        // shares writing only, as a plain write does: no reader can share
        // with it...
        {NoticeRecord, GENERIC_READ, FILE_SHARE_READ, true, "a reader sharing only reading",
         " not written: it cannot be opened to be checked (error 32)"},
        {DetailsRecord, GENERIC_WRITE, FILE_SHARE_READ, true, "a writer sharing only reading",
         " not written: it cannot be opened to be checked (error 32)"},
        {InstallerRecord, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true, "a reader sharing writing",
         " not written: it cannot be opened to be checked (error 32)"},
        // ...and a writer that shares writing can.
        {NoticeRecord, GENERIC_WRITE, FILE_SHARE_WRITE, false, "a writer sharing writing", " written: "},
    };
    SYSTEMTIME day = Utc(2019, 3, 5, 12, 0);
    for (const auto& c : cases) {
        SetContext("%s held by %s", RecordPaths[c.record], c.holder);
        MakeStaleRecords();
        HANDLE held = CreateFileA(RecordPaths[c.record], c.access, c.share, NULL, OPEN_EXISTING, 0, NULL);
        ok(held != INVALID_HANDLE_VALUE, "cannot hold the file open: error %lu", GetLastError());
        LoadLibraryUnderTest();
        ReportSystemTime(day);
        CallRelease(Update);
        CloseHandle(held);
        ExpectRecords(Update, NoticeFor(Update, day), c.kept ? c.record : -1);
        char said[128];
        snprintf(said, sizeof said, "%s%s", strrchr(RecordPaths[c.record], '\\'), c.traced);
        ok(Traced(said) != NULL, "no trace line \"%s\" in:\n%s", said, TraceText());
    }

    // Windows refuses to replace a read-only, hidden or system file with a
    // plain create-or-replace, and to open a read-only one for writing; the
    // library checks the attributes on its handle, so this holds under Wine
    // as root too, which lets both.
    static const DWORD kept[] = {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM};
    for (DWORD attribute : kept) {
        SetContext("Update.txt with attribute 0x%lx (as Windows: %s)", attribute,
                   ReadOnlyIsEnforced() ? "read-only enforced here" : "read-only not enforced here");
        MakeStaleRecords();
        SetFileAttributesA(RecordPaths[NoticeRecord], attribute);
        LoadLibraryUnderTest();
        ReportSystemTime(day);
        CallRelease(Update);
        SetFileAttributesA(RecordPaths[NoticeRecord], FILE_ATTRIBUTE_NORMAL);
        ExpectRecords(Update, NoticeFor(Update, day), NoticeRecord);
        ok(Traced("c:\\teldax\\Update.txt not written: ") != NULL, "trace:\n%s", TraceText());
    }
    SetContext("%s", "");
}

// Names someone else put in the library's way in the install folder: a
// record file that is a second name of a file outside C:\TELDAX, or a
// C:\TELDAX that leads to another folder. The file elsewhere keeps its bytes,
// the other records are written and the status is 1, as for a record file
// that cannot be created.
static const char Elsewhere[] = "C:\\elsewhere";

// A record file's name in C:\elsewhere.
static const char* ElsewhereRecord(const char* recordPath)
{
    static char path[MAX_PATH];
    snprintf(path, sizeof path, "%s%s", Elsewhere, strrchr(recordPath, '\\'));
    return path;
}

static void TestPlantedRecords()
{
    static const char Victim[] = "C:\\elsewhere\\notes.txt";
    static const struct {
        const char* name;
        int planted;     // the record that is a hard link; -1: none
        bool folderLink; // C:\TELDAX leads to C:\elsewhere
        const char* traced;
    } cases[] = {
        {"Update.txt, a second name of a file elsewhere", NoticeRecord, false,
         "c:\\teldax\\Update.txt not written: it has 2 names (a hard link)"},
        {"UpdDetails.txt, a second name of a file elsewhere", DetailsRecord, false,
         "c:\\teldax\\UpdDetails.txt not written: it has 2 names (a hard link)"},
        {"C:\\TELDAX, a link to another folder", -1, true,
         "nothing written in c:\\teldax: it is a reparse point"},
    };
    SYSTEMTIME day = Utc(2019, 3, 5, 12, 0);
    for (const auto& c : cases) {
        SetContext("planted: %s", c.name);
        MakeStaleRecords();
        MakeDirectory(Elsewhere);
        WriteBytes(Victim, OldContent, sizeof OldContent - 1);
        if (c.folderLink) {
            RemoveTree("C:\\TELDAX");
            for (const char* path : RecordPaths)
                WriteBytes(ElsewhereRecord(path), OldContent, sizeof OldContent - 1);
            MakeFolderLink("C:\\TELDAX", Elsewhere);
        } else {
            DeleteFileA(RecordPaths[c.planted]);
            MakeHardLink(RecordPaths[c.planted], Victim);
        }
        LoadLibraryUnderTest();
        ReportSystemTime(day);
        CallRelease(Update);
        ok(Traced(c.traced) != NULL, "no trace line \"%s\" in:\n%s", c.traced, TraceText());
        if (c.folderLink) {
            RemoveFolderLink("C:\\TELDAX");
            for (const char* path : RecordPaths)
                ExpectFile(ElsewhereRecord(path), OldContent);
        } else {
            ExpectRecords(Update, NoticeFor(Update, day), c.planted);
        }
        ExpectFile(Victim, OldContent);
    }
    SetContext("%s", "");
}

// Someone who may write in C:\TELDAX swaps a name just before the library
// writes the bytes through the handle it checked: the record file for a hard
// link to a file elsewhere, or C:\TELDAX itself for a link to another
// folder. The checked file or folder is held open, so the swap fails and the
// file elsewhere keeps its bytes and attributes; nothing lands in the other
// folder.
static const char RaceVictim[] = "C:\\elsewhere\\notes.txt";
static const char* RacedRecord;

static int SwapTries, Swapped;

static void SwapRecord()
{
    ++SwapTries;
    Swapped += SwapForHardLink(RacedRecord, RaceVictim);
}

static void SwapInstallFolder()
{
    ++SwapTries;
    Swapped += SwapFolderForLink("C:\\TELDAX", Elsewhere);
}

static void TestRecordSwappedDuringWrite()
{
    SYSTEMTIME day = Utc(2019, 3, 5, 12, 0);
    for (int record = 0; record <= RecordCount; ++record) {
        bool folder = record == RecordCount;
        SetContext("swapped just before the write: %s", folder ? "C:\\TELDAX" : RecordPaths[record]);
        MakeStaleRecords();
        MakeDirectory(Elsewhere);
        WriteBytes(RaceVictim, OldContent, sizeof OldContent - 1);
        FileState victimBefore = StateOf(RaceVictim);
        LoadLibraryUnderTest();
        ReportSystemTime(day);
        if (folder) {
            RaceBefore("WriteFile", "UpdName.txt", SwapInstallFolder);
        } else {
            RacedRecord = RecordPaths[record];
            RaceBefore("WriteFile", strrchr(RacedRecord, '\\'), SwapRecord);
        }
        SwapTries = Swapped = 0;
        CallRelease(Update);
        if (folder)
            RestoreSwappedFolder("C:\\TELDAX");
        ok(SwapTries == 1 && Swapped == 0, "%d swaps tried, %d succeeded", SwapTries, Swapped);
        ok(SameState(StateOf(RaceVictim), victimBefore), "the file elsewhere changed: %s",
           Show(StateOf(RaceVictim).bytes, StateOf(RaceVictim).length));
        for (const char* path : RecordPaths)
            ok(!FileExists(ElsewhereRecord(path)), "%s made in the other folder", ElsewhereRecord(path));
        ExpectRecords(Update, NoticeFor(Update, day));
    }

    // A check that cannot open the file, here for a sharing violation, is
    // no check: the file, a second name of one elsewhere, is not written.
    SetContext("the check's open fails with a sharing violation");
    MakeStaleRecords();
    MakeDirectory(Elsewhere);
    WriteBytes(RaceVictim, OldContent, sizeof OldContent - 1);
    DeleteFileA(RecordPaths[NoticeRecord]);
    MakeHardLink(RecordPaths[NoticeRecord], RaceVictim);
    FileState victimBefore = StateOf(RaceVictim);
    LoadLibraryUnderTest();
    ReportSystemTime(day);
    FailCall("CreateFileA", 1, "Update.txt", ERROR_SHARING_VIOLATION);
    CallRelease(Update);
    ClearFaults();
    ok(SameState(StateOf(RaceVictim), victimBefore), "the file elsewhere changed: %s",
       Show(StateOf(RaceVictim).bytes, StateOf(RaceVictim).length));
    ok(Traced("c:\\teldax\\Update.txt not written: it cannot be opened to be checked (error 32)") != NULL,
       "trace:\n%s", TraceText());
    SetContext("%s", "");
}

static void TestWithoutInstallDir()
{
    for (const Release* release : Releases) {
        SetContext("%s without C:\\TELDAX", release->exportName);
        CleanDrive();
        LoadLibraryUnderTest();
        CallRelease(*release);
        ok(!DirectoryExists("C:\\TELDAX"), "C:\\TELDAX was created");
        ok(Traced("nothing written in c:\\teldax: there is no such folder (error 2)") != NULL, "trace:\n%s",
           TraceText());
    }
    SetContext("%s", "");
}

// Chk4TELDAX and InstallPDF each run owned by the setup program's window and
// without an owner, and once with the platform call they make failing.
static void ForEachOwnerCase(const char* exportName, const char* platformCall, void (*check)(HWND owner, int status))
{
    static const struct {
        bool owned;
        bool callFails;
    } cases[] = {{true, false}, {false, false}, {true, true}};
    HWND setupWindow = MakeOwnerWindow();
    LoadLibraryUnderTest();
    for (const auto& c : cases) {
        SetContext("%s %s, %s %s", exportName, c.owned ? "owned" : "without owner", platformCall,
                   c.callFails ? "fails" : "succeeds");
        ClearFaults();
        if (c.callFails)
            FailCall(platformCall);
        HWND owner = c.owned ? setupWindow : NULL;
        check(owner, CallExport(exportName, owner));
    }
    ClearFaults();
    DestroyWindow(setupWindow);
    SetContext("%s", "");
}

// Whatever the box answers, the status is 0.
static void CheckNoUpdateNotice(HWND owner, int status)
{
    ok(status == 0, "Chk4TELDAX returned %d", status);
    ok(MessageCount == 1, "%d messages", MessageCount);
    const MessageRecord& m = Messages[0];
    ok(strcmp(m.text, NoUpdateNotice) == 0, "text %s", Show(m.text, (int)strlen(m.text)));
    ok(strcmp(m.title, "Velloran - No Update") == 0, "title \"%s\"", m.title);
    ok(m.style == (MB_OK | MB_ICONINFORMATION), "style 0x%x", m.style);
    ok(m.owner == owner, "owner %p, expected %p", (void*)m.owner, (void*)owner);
}

// The start request as the shell receives it; the shell's answer, success or
// failure, changes nothing.
static void CheckConverterStartRequest(HWND owner, int status)
{
    ok(status == 1, "InstallPDF returned %d", status);
    ok(MessageCount == 0, "%d messages", MessageCount);
    ok(ShellExecuteCount == 1, "%d start requests", ShellExecuteCount);
    const ShellExecuteRecord& r = ShellExecutes[0];
    ok(r.owner == owner, "owner %p, expected %p", (void*)r.owner, (void*)owner);
    ok(!r.verbNull && strcmp(r.verb, "open") == 0, "verb \"%s\"", r.verb);
    ok(!r.fileNull && strcmp(r.file, "c:\\teldax\\install.exe") == 0, "program \"%s\"", r.file);
    ok(!r.parametersNull && strcmp(r.parameters, ConverterParameters) == 0, "parameters \"%s\"", r.parameters);
    ok(!r.directoryNull && r.directory[0] == '\0', "directory %s\"%s\"", r.directoryNull ? "null " : "",
       r.directory);
    ok(r.show == SW_SHOWNORMAL, "show command %d", r.show);
}

static void TestConverterMissing()
{
    SetContext("install.exe missing");
    CleanDrive();
    MakeDirectory("C:\\TELDAX");
    LoadLibraryUnderTest();
    int status = CallExport("InstallPDF", NULL);
    ok(status == 1, "InstallPDF returned %d", status);
    ok(MessageCount == 0, "%d messages, the first \"%s\"", MessageCount, Messages[0].text);
    SetContext("%s", "");
}

// --- Who may change the installer and its folder ----------------------------------

static const char Folder[] = "c:\\teldax";
static const char Program[] = "c:\\teldax\\install.exe";

// C:\TELDAX holding an install.exe (its bytes do not matter: the shell's
// start is only recorded).
static void ConverterInPlace()
{
    CleanDrive();
    MakeDirectory("C:\\TELDAX");
    WriteBytes("C:\\TELDAX\\install.exe", "MZ", 2);
}

// The setup program's own user, as SDDL writes a SID.
static const char* InstallingUser()
{
    static char text[200];
    HANDLE token;
    DWORD buffer[256], size;
    char* sid = NULL;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
            ConvertSidToStringSidA(((TOKEN_USER*)buffer)->User.Sid, &sid)) {
            lstrcpynA(text, sid, sizeof text);
            LocalFree(sid);
        }
        CloseHandle(token);
    }
    ok(text[0] != '\0', "the test's own user is not known");
    return text;
}

static void FolderIsLink()
{
    RemoveTree("C:\\TELDAX");
    MakeDirectory("C:\\elsewhere");
    WriteBytes("C:\\elsewhere\\install.exe", "MZ", 2);
    MakeFolderLink("C:\\TELDAX", "C:\\elsewhere");
}
static void ProgramMissing()
{
    DeleteFileA("C:\\TELDAX\\install.exe");
}
// Windows 98, on the FAT32 volume it would have.
static void Windows98()
{
    ReportVersion(4, 10, 1);
    ReportVolume("FAT32", FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK);
}
static void FatVolume()
{
    ReportVolume("FAT32", FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK);
}
static void WindowsNT4OnFat()
{
    ReportVersion(4, 0, 2);
    ReportVolume("FAT", FILE_CASE_PRESERVED_NAMES);
}
static void VolumeUnknown()
{
    FailCall("GetVolumeInformationA");
}
static void TokenNotAdministrator()
{
    ReportTokenMembership(false);
}
// NT 4.0 knows neither CheckTokenMembership nor TokenElevationType.
static void WindowsNT4()
{
    ReportVersion(4, 0, 2);
    FailCall("GetProcAddress", 0, "CheckTokenMembership", ERROR_PROC_NOT_FOUND);
    ReportElevationType(0);
}
// A Windows where the installing user has no unelevated token beside this
// one (UAC off, or the built-in Administrator): under Wine, which owns
// every file by the installing user, what Windows then decides.
static void NoSplitToken()
{
    ReportElevationType(TokenElevationTypeDefault);
}
// Entries beside install.exe, each with what the platform says of it; the
// rest of the folder as Wine reports it, taken for an administrator's by
// NoSplitToken.
static void DllOfAnotherUser()
{
    NoSplitToken();
    WriteBytes("C:\\TELDAX\\version.dll", "MZ", 2);
    ReportSecurity("c:\\teldax\\version.dll", "O:" ANOTHER_USER_SID "D:(A;;FA;;;" ANOTHER_USER_SID ")");
}
static void LocalFolderWithDllOfAnotherUser()
{
    NoSplitToken();
    MakeDirectory("C:\\TELDAX\\install.exe.local");
    WriteBytes("C:\\TELDAX\\install.exe.local\\comctl32.dll", "MZ", 2);
    ReportSecurity("c:\\teldax\\install.exe.local\\comctl32.dll",
                   "O:" ANOTHER_USER_SID "D:(A;;FA;;;" ANOTHER_USER_SID ")");
}
static void ManifestUsersMayWrite()
{
    NoSplitToken();
    WriteBytes("C:\\TELDAX\\install.exe.manifest", "<assembly/>", 11);
    ReportSecurity("c:\\teldax\\install.exe.manifest", "O:BAD:(A;;FA;;;BA)(A;;FRFW;;;BU)");
}
static void DllHardLink()
{
    NoSplitToken();
    WriteBytes("C:\\other.dll", "MZ", 2);
    MakeHardLink("C:\\TELDAX\\x.dll", "C:\\other.dll");
}
static void FolderLinkBeside()
{
    NoSplitToken();
    MakeDirectory("C:\\elsewhere");
    MakeFolderLink("C:\\TELDAX\\plugins", "C:\\elsewhere");
}
// What an installation leaves beside install.exe: all of it an
// administrator's.
static void ProductFolder()
{
    NoSplitToken();
    static const char* const Files[] = {"vell.exe", "velloran.ico", "RC.DAT", "Update.txt", "Velloran.lnk",
                                        "Uninstall.exe"};
    for (const char* name : Files) {
        char path[MAX_PATH];
        snprintf(path, sizeof path, "C:\\TELDAX\\%s", name);
        WriteBytes(path, "x", 1);
    }
    MakeDirectory("C:\\TELDAX\\help");
    WriteBytes("C:\\TELDAX\\help\\index.txt", "x", 1);
}
static void TokenUnreadable()
{
    FailCall("OpenProcessToken");
}
static void SecurityUnreadable()
{
    FailCall("GetKernelObjectSecurity", 0, "install.exe");
}
static void SecurityCallMissing()
{
    FailCall("GetProcAddress", 0, "GetKernelObjectSecurity", ERROR_PROC_NOT_FOUND);
}

// The owner and DACL that the hooked GetKernelObjectSecurity reports for the
// folder and for install.exe (NULL: what the platform says; under Wine the
// installing user owns both and has full control, with SYSTEM). "%s" stands
// for the installing user.
#define ADMINS_PROGRAM "D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)"
#define TRUSTED_INSTALLER "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
struct StartCase {
    const char* name;
    const char* folder;
    const char* program;
    void (*prepare)();
    bool started;
    const char* traced;
};
static const StartCase StartCases[] = {
    {"administrators only", "O:BA" ADMINISTRATORS_FOLDER_SDDL, "O:BA" ADMINS_PROGRAM, NULL, true,
     "c:\\teldax and c:\\teldax\\install.exe: only administrators may change them"},
    {"owners SYSTEM and TrustedInstaller, TrustedInstaller full control", "O:SY" ADMINISTRATORS_FOLDER_SDDL,
     "O:" TRUSTED_INSTALLER "D:(A;;FA;;;" TRUSTED_INSTALLER ")(A;;0x1200a9;;;BU)", NULL, true,
     "only administrators may change them"},
    {"CREATOR OWNER full control of what is put inside", "O:BAD:P(A;OICIIO;GA;;;CO)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
     "O:BA" ADMINS_PROGRAM, NULL, true, "only administrators may change them"},
    {"Everyone denied writing, administrators allowed", "O:BAD:(D;OICI;FW;;;WD)(A;OICI;FA;;;BA)",
     "O:BA" ADMINS_PROGRAM, NULL, true, "only administrators may change them"},
    {"owner the installing user, an administrator without a split token", "O:%sD:(A;OICI;FA;;;SY)(A;OICI;FA;;;%s)",
     "O:%sD:(A;;FA;;;SY)(A;;FA;;;%s)(A;;0x1200a9;;;WD)", NoSplitToken, true, "only administrators may change them"},
    {"owner the installing user, the elevated half of a split token", "O:%sD:(A;OICI;FA;;;SY)(A;OICI;FA;;;%s)",
     "O:BA" ADMINS_PROGRAM, NULL, false, "c:\\teldax: S-1-5-21-0-0-0-1000 may change it as its owner"},
    {"what the platform reports, no split token (Wine: the installing user owns all)", NULL, NULL, NoSplitToken, true,
     "only administrators may change them"},
    {"what the platform reports (Wine: the installing user, a split token)", NULL, NULL, NULL, false,
     "the setup program's user does not count as an administrator: its token is the elevated half of a split one"},
    // Every entry beside install.exe: a DLL there is loaded before the
    // system's, install.exe.manifest and install.exe.local redirect what it
    // loads.
    {"a DLL of another user beside install.exe", "O:BA" ADMINISTRATORS_FOLDER_SDDL, "O:BA" ADMINS_PROGRAM,
     DllOfAnotherUser, false,
     "c:\\teldax\\version.dll: " ANOTHER_USER_SID " may change it as its owner (rights 0x00060000)"},
    {"install.exe.local holding a DLL of another user", "O:BA" ADMINISTRATORS_FOLDER_SDDL, "O:BA" ADMINS_PROGRAM,
     LocalFolderWithDllOfAnotherUser, false,
     "c:\\teldax\\install.exe.local\\comctl32.dll: " ANOTHER_USER_SID " may change it as its owner"},
    {"install.exe.manifest that Users may write", "O:BA" ADMINISTRATORS_FOLDER_SDDL, "O:BA" ADMINS_PROGRAM,
     ManifestUsersMayWrite, false, "c:\\teldax\\install.exe.manifest: S-1-5-32-545 may change it (rights 0x0012019f)"},
    {"a DLL that is a second name of a file elsewhere", "O:BA" ADMINISTRATORS_FOLDER_SDDL, "O:BA" ADMINS_PROGRAM,
     DllHardLink, false, "c:\\teldax\\x.dll: it has 2 names (a hard link)"},
    {"a folder beside install.exe that leads elsewhere", "O:BA" ADMINISTRATORS_FOLDER_SDDL, "O:BA" ADMINS_PROGRAM,
     FolderLinkBeside, false, "c:\\teldax\\plugins: it is a reparse point"},
    {"the product's folder, all of it an administrator's", "O:BA" ADMINISTRATORS_FOLDER_SDDL, "O:BA" ADMINS_PROGRAM,
     ProductFolder, true, "c:\\teldax and c:\\teldax\\install.exe: only administrators may change them"},
    {"NT 4.0: the installing user's groups read from the token", NULL, NULL, WindowsNT4, true,
     "only administrators may change them"},
    {"owner the installing user, not an administrator", "O:%sD:(A;OICI;FA;;;SY)(A;OICI;FA;;;%s)", NULL,
     TokenNotAdministrator, false, "c:\\teldax: S-1-5-21-0-0-0-1000 may change it as its owner (rights 0x00060000)"},
    {"owner the installing user, its token unreadable", NULL, NULL, TokenUnreadable, false,
     "the setup program's user does not count as an administrator (error 5)"},
    {"folder owned by another user", "O:" ANOTHER_USER_SID ADMINISTRATORS_FOLDER_SDDL, "O:BA" ADMINS_PROGRAM, NULL,
     false, "c:\\teldax: " ANOTHER_USER_SID " may change it as its owner (rights 0x00060000)"},
    {"install.exe owned by another user", "O:BA" ADMINISTRATORS_FOLDER_SDDL, "O:" ANOTHER_USER_SID ADMINS_PROGRAM, NULL,
     false, "c:\\teldax\\install.exe: " ANOTHER_USER_SID " may change it as its owner (rights 0x00060000)"},
    {"Users may write install.exe", "O:BA" ADMINISTRATORS_FOLDER_SDDL, "O:BAD:(A;;FA;;;BA)(A;;FRFW;;;BU)", NULL,
     false, "c:\\teldax\\install.exe: S-1-5-32-545 may change it (rights 0x0012019f)"},
    {"Authenticated Users may modify the folder", "O:BAD:(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;AU)",
     "O:BA" ADMINS_PROGRAM, NULL, false,
     "c:\\teldax: S-1-5-11 may change it (rights 0x001301bf)"},
    {"Everyone may add a file to the folder", "O:BAD:(A;OICI;FA;;;BA)(A;;0x100002;;;WD)", "O:BA" ADMINS_PROGRAM,
     NULL, false, "c:\\teldax: S-1-1-0 may change it (rights 0x00100002)"},
    {"Users may write what is later put in the folder", "O:BAD:P(A;OICI;FA;;;BA)(A;OICIIO;GW;;;BU)",
     "O:BA" ADMINS_PROGRAM, NULL, false, "c:\\teldax: S-1-5-32-545 may change it (rights 0x40000000)"},
    {"Interactive may take ownership of install.exe", "O:BA" ADMINISTRATORS_FOLDER_SDDL,
     "O:BAD:(A;;FA;;;BA)(A;;WO;;;IU)", NULL, false,
     "c:\\teldax\\install.exe: S-1-5-4 may change it (rights 0x00080000)"},
    {"install.exe with a null DACL", "O:BA" ADMINISTRATORS_FOLDER_SDDL, "O:BAD:NO_ACCESS_CONTROL", NULL, false,
     "c:\\teldax\\install.exe: it has no DACL, so anyone may change it"},
    {"folder without a DACL", "O:BA", "O:BA" ADMINS_PROGRAM, NULL, false,
     "c:\\teldax: it has no DACL, so anyone may change it"},
    {"install.exe's security cannot be read", "O:BA" ADMINISTRATORS_FOLDER_SDDL, "O:BA" ADMINS_PROGRAM,
     SecurityUnreadable, false, "c:\\teldax\\install.exe: its security cannot be read (error 5)"},
    {"advapi32 without GetKernelObjectSecurity", NULL, NULL, SecurityCallMissing, false,
     "advapi32.dll has no GetKernelObjectSecurity (error 127)"},
    {"C:\\TELDAX a link to another folder", "O:BA" ADMINISTRATORS_FOLDER_SDDL, "O:BA" ADMINS_PROGRAM, FolderIsLink,
     false, "c:\\teldax: it is a reparse point"},
    {"install.exe missing", "O:BA" ADMINISTRATORS_FOLDER_SDDL, NULL, ProgramMissing, false,
     "c:\\teldax\\install.exe: it cannot be opened (error 2)"},
    {"Windows 98, whatever the owner", "O:" ANOTHER_USER_SID "D:(A;OICI;FA;;;WD)", NULL, Windows98, true,
     "c:\\teldax\\install.exe not checked: Windows 9x keeps no permissions"},
    {"FAT32 volume on the NT family: anyone may replace it", "O:BA" ADMINISTRATORS_FOLDER_SDDL, "O:BA" ADMINS_PROGRAM,
     FatVolume, false, "c:\\teldax\\install.exe: FAT32 keeps no permissions"},
    {"NT 4.0 on a FAT volume", "O:BA" ADMINISTRATORS_FOLDER_SDDL, "O:BA" ADMINS_PROGRAM, WindowsNT4OnFat, false,
     "c:\\teldax\\install.exe: FAT keeps no permissions"},
    {"Users may write install.exe's attributes", "O:BA" ADMINISTRATORS_FOLDER_SDDL,
     "O:BAD:(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;;0x100;;;BU)", NULL, false,
     "c:\\teldax\\install.exe: S-1-5-32-545 may change it (rights 0x00000100)"},
    {"Authenticated Users may write the folder's extended attributes",
     "O:BAD:(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;;0x10;;;AU)", "O:BA" ADMINS_PROGRAM, NULL, false,
     "c:\\teldax: S-1-5-11 may change it (rights 0x00000010)"},
    {"file system unknown: checked all the same", "O:" ANOTHER_USER_SID "D:(A;OICI;FA;;;WD)", NULL, VolumeUnknown,
     false, "c:\\teldax: " ANOTHER_USER_SID " may change it as its owner"},
};

// The installer is started only when no one but an administrator can change
// it or its folder; otherwise nothing is started or shown, the status is the
// same and the trace says why. Nothing stays open after the call.
static void TestConverterOnlyFromAdministratorsFolder()
{
    const char* user = InstallingUser();
    HWND setupWindow = MakeOwnerWindow();
    ShellExecuteRecordOnly = true;
    for (const StartCase& c : StartCases) {
        SetContext("InstallPDF, %s", c.name);
        ConverterInPlace();
        LoadLibraryUnderTest();
        char sddl[512];
        if (c.folder) {
            snprintf(sddl, sizeof sddl, c.folder, user, user);
            ReportSecurity(Folder, sddl);
        }
        if (c.program) {
            snprintf(sddl, sizeof sddl, c.program, user, user);
            ReportSecurity(Program, sddl);
        }
        if (c.prepare)
            c.prepare();
        int status = CallExport("InstallPDF", setupWindow);
        ClearFaults();
        RemoveFolderLinkIfAny("C:\\TELDAX\\plugins");
        UseRealSecurity();
        UseRealVersion();
        UseRealVolume();

        if (c.started) {
            CheckConverterStartRequest(setupWindow, status);
        } else {
            ok(status == 1, "InstallPDF returned %d", status);
            ok(MessageCount == 0, "%d messages, the first \"%s\"", MessageCount, Messages[0].text);
            ok(ShellExecuteCount == 0, "%d start requests", ShellExecuteCount);
            ok(Traced("c:\\teldax\\install.exe not started\n") != NULL, "trace:\n%s", TraceText());
        }
        ok(Traced(c.traced) != NULL, "no trace line \"%s\" in:\n%s", c.traced, TraceText());
        ok(Traced("InstallPDF: returns 1") != NULL, "trace:\n%s", TraceText());
        if (FileExists("C:\\TELDAX\\install.exe") && !(GetFileAttributesA("C:\\TELDAX") & FILE_ATTRIBUTE_REPARSE_POINT)) {
            HANDLE alone = CreateFileA("C:\\TELDAX\\install.exe", GENERIC_WRITE | DELETE, 0, NULL, OPEN_EXISTING, 0,
                                       NULL);
            ok(alone != INVALID_HANDLE_VALUE, "install.exe still held (error %lu)", GetLastError());
            CloseHandle(alone);
            ok(MoveFileA("C:\\TELDAX", "C:\\TELDAX.moved"), "C:\\TELDAX still held (error %lu)", GetLastError());
        }
        RemoveFolderLinkIfAny("C:\\TELDAX");
    }
    ShellExecuteRecordOnly = false;
    DestroyWindow(setupWindow);
    SetContext("%s", "");
}

// The converter's folder as Wine reports it, owned by the installing user,
// by the Windows played: before Vista no token has a linked one and the
// user counts, whatever TokenElevationType would answer (Wine answers "full"
// at every version); from Vista on, and under a compatibility mode that
// reports XP on Windows 7 (the kernel's own version decides), a split
// token's user does not.
static void TestConverterOfInstallingUserByWindowsVersion()
{
    static const struct {
        const char* what;
        DWORD major, minor, kernelMajor;  // GetVersionExA's; the kernel's (0: the same)
        bool started;
    } cases[] = {
        {"Windows 2000, Wine's answer", 5, 0, 0, true},
        {"Windows XP, Wine's answer", 5, 1, 0, true},
        {"Windows Vista, Wine's answer", 6, 0, 0, false},
        {"Windows 7, Wine's answer", 6, 1, 0, false},
        {"Windows 7 in XP's compatibility mode, Wine's answer", 5, 1, 6, false},
    };
    HWND setupWindow = MakeOwnerWindow();
    ShellExecuteRecordOnly = true;
    for (const auto& c : cases) {
        SetContext("InstallPDF, the installing user's folder, %s", c.what);
        ConverterInPlace();
        LoadLibraryUnderTest();
        ReportVersion(c.major, c.minor, VER_PLATFORM_WIN32_NT);
        if (c.kernelMajor)
            ReportKernelVersion(c.kernelMajor, 1);
        int status = CallExport("InstallPDF", setupWindow);
        UseRealVersion();
        if (c.started) {
            CheckConverterStartRequest(setupWindow, status);
            ok(Traced("c:\\teldax and c:\\teldax\\install.exe: only administrators may change them") != NULL,
               "trace:\n%s", TraceText());
        } else {
            ok(status == 1 && ShellExecuteCount == 0, "status %d, %d start requests", status, ShellExecuteCount);
            ok(Traced("the setup program's user does not count as an administrator: its token is the elevated half "
                      "of a split one") &&
                   Traced("c:\\teldax: S-1-5-21-0-0-0-1000 may change it as its owner") &&
                   Traced("c:\\teldax\\install.exe not started\n"),
               "trace:\n%s", TraceText());
        }
    }
    ShellExecuteRecordOnly = false;
    DestroyWindow(setupWindow);
    SetContext("%s", "");
}

// Not injected: a C:\TELDAX that another Unix user owns, which Wine shows as
// owned by Anonymous Logon, is refused as it is read from the platform.
static void TestConverterInFolderOfAnotherUser()
{
    SetContext("InstallPDF, C:\\TELDAX of another user");
    ConverterInPlace();
    if (!GiveToAnotherUser("C:\\TELDAX")) {
        Skip("C:\\TELDAX cannot be given to another Unix user here (not root)");
        return;
    }
    ShellExecuteRecordOnly = true;
    LoadLibraryUnderTest();
    int status = CallExport("InstallPDF", NULL);
    ShellExecuteRecordOnly = false;
    ok(status == 1 && MessageCount == 0 && ShellExecuteCount == 0, "status %d, %d messages, %d start requests",
       status, MessageCount, ShellExecuteCount);
    ok(Traced("c:\\teldax: S-1-5-7 may change it as its owner (rights 0x00060000)") != NULL, "trace:\n%s",
       TraceText());
    SetContext("%s", "");
}

// What others could do to install.exe and C:\TELDAX while the shell starts it.
static struct {
    bool written, deleted, renamed, folderRenamed, openedToRun;
} DuringStart;

static HINSTANCE WINAPI TryChangesDuringStart(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT)
{
    HANDLE file = CreateFileA("C:\\TELDAX\\install.exe", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                              FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
    DuringStart.written = file != INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    DuringStart.renamed = MoveFileA("C:\\TELDAX\\install.exe", "C:\\TELDAX\\other.exe") != FALSE;
    DuringStart.deleted = DeleteFileA("C:\\TELDAX\\install.exe") != FALSE;
    DuringStart.folderRenamed = MoveFileA("C:\\TELDAX", "C:\\TELDAX.moved") != FALSE;
    // As the system opens a program to run it.
    file = CreateFileA("C:\\TELDAX\\install.exe", GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                       NULL, OPEN_EXISTING, 0, NULL);
    DuringStart.openedToRun = file != INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return (HINSTANCE)42;
}

// While ShellExecuteA runs, install.exe can be opened to run it, and neither
// it nor its folder can be written, deleted or renamed.
static void TestConverterHeldWhileStarting()
{
    SetContext("install.exe held while the shell starts it");
    ConverterInPlace();
    LoadLibraryUnderTest();
    NoSplitToken();
    PatchImport(Library, "ShellExecuteA", (void*)TryChangesDuringStart);
    memset(&DuringStart, 0, sizeof DuringStart);
    int status = CallExport("InstallPDF", NULL);
    UseRealSecurity();
    ok(status == 1, "InstallPDF returned %d", status);
    ok(Traced("only administrators may change them") != NULL, "trace:\n%s", TraceText());
    ok(DuringStart.openedToRun, "install.exe could not be opened to run it");
    ok(!DuringStart.written, "install.exe could be opened for writing");
    ok(!DuringStart.renamed, "install.exe could be renamed");
    ok(!DuringStart.deleted, "install.exe could be deleted");
    ok(!DuringStart.folderRenamed, "C:\\TELDAX could be renamed");
    ok(FileExists("C:\\TELDAX\\install.exe"), "install.exe is gone");
    SetContext("%s", "");
}

struct StartedInstaller {
    DWORD processId;
    char commandLine[512];
};

// The records the stand-in installer left in C:\TELDAX.
static int FindStartedInstallers(StartedInstaller* found, int size)
{
    int count = 0;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA("C:\\TELDAX\\started-*.txt", &entry);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (count == size)
            break;
        StartedInstaller& s = found[count++];
        s.processId = strtoul(entry.cFileName + strlen("started-"), NULL, 10);
        char path[MAX_PATH];
        snprintf(path, sizeof path, "C:\\TELDAX\\%s", entry.cFileName);
        ReadText(path, s.commandLine, sizeof s.commandLine);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return count;
}

// The parameters in a command line: what follows the program, quoted or not,
// and the blank after it.
static const char* ParametersOf(const char* commandLine)
{
    const char* p = commandLine;
    if (*p == '"') {
        p = strchr(p + 1, '"');
        p = p ? p + 1 : commandLine + strlen(commandLine);
    } else {
        while (*p && *p != ' ')
            ++p;
    }
    return *p == ' ' ? p + 1 : p;
}

// A real start through the shell: two calls start the stand-in installer
// twice, and both still run when the calls have returned, since they wait
// for the test to release them.
static void TestConverterStarts()
{
    SetContext("install.exe started");
    CleanDrive();
    MakeDirectory("C:\\TELDAX");
    char stub[MAX_PATH];
    GetModuleFileNameA(NULL, stub, sizeof stub);
    lstrcpyA(strrchr(stub, '\\') + 1, "stub_installer.exe");
    ok(CopyFileA(stub, "C:\\TELDAX\\install.exe", FALSE), "cannot copy %s: error %lu", stub, GetLastError());

    HWND setupWindow = MakeOwnerWindow();
    HANDLE release = CreateEventA(NULL, TRUE, FALSE, "VinstallStubInstallerRelease");
    LoadLibraryUnderTest();
    NoSplitToken();
    for (int call = 1; call <= 2; ++call) {
        int status = CallExport("InstallPDF", setupWindow);
        ok(status == 1, "call %d: InstallPDF returned %d", call, status);
    }
    UseRealSecurity();

    StartedInstaller started[4] = {};
    int count = 0;
    for (DWORD waited = 0; waited < TimeLimitMs(15000) && count < 2; waited += 50) {
        Sleep(50);
        count = FindStartedInstallers(started, 4);
    }
    ok(count == 2, "install.exe started %d times", count);

    HANDLE processes[2] = {};
    for (int i = 0; i < count && i < 2; ++i) {
        const char* parameters = ParametersOf(started[i].commandLine);
        ok(strcmp(parameters, ConverterParameters) == 0, "instance %d: command line \"%s\"", i + 1,
           started[i].commandLine);
        ok(strstr(started[i].commandLine, "install.exe") != NULL, "instance %d: command line \"%s\"", i + 1,
           started[i].commandLine);
        processes[i] = OpenProcess(SYNCHRONIZE, FALSE, started[i].processId);
        ok(processes[i] && WaitForSingleObject(processes[i], 0) == WAIT_TIMEOUT,
           "instance %d (process %lu) no longer runs", i + 1, started[i].processId);
    }
    ok(count < 2 || started[0].processId != started[1].processId, "one process for both calls");

    SetEvent(release);
    for (HANDLE process : processes) {
        if (!process)
            continue;
        ok(WaitForSingleObject(process, TimeLimitMs(15000)) == WAIT_OBJECT_0, "a started installer did not end");
        CloseHandle(process);
    }
    CloseHandle(release);
    DestroyWindow(setupWindow);
    SetContext("%s", "");
}

// --- Where the records lie, and how they are made -----------------------------------------

// A record whose handle says that it lies outside C:\TELDAX (another path on
// the volume, or another volume), or a C:\TELDAX whose handle names another
// folder: nothing is written there, a record made for the write goes again,
// and the other records are written.
static void TestRecordsOutsideTheirFolder()
{
    static const struct {
        const char* name;
        const char* pathPart;       // of what the library opened
        const WCHAR* reportedName;  // NULL: the real one
        bool otherVolume;         // its object's name on another device
        int record;                 // the one refused; RecordCount: all
        bool made;                  // the records do not exist before
        const char* traced;
    } cases[] = {
        {"Update.txt's path elsewhere on the volume", "\\Update.txt", L"\\elsewhere\\Update.txt", false, NoticeRecord,
         false, "c:\\teldax\\Update.txt not written: its handle names \"\\elsewhere\\Update.txt\""},
        {"UpdName.txt on another volume", "\\UpdName.txt", NULL, true, InstallerRecord, false,
         "c:\\teldax\\UpdName.txt not written: it lies on another volume"},
        {"UpdDetails.txt made elsewhere on the volume", "\\UpdDetails.txt", L"\\elsewhere\\UpdDetails.txt", false,
         DetailsRecord, true, "c:\\teldax\\UpdDetails.txt deleted again: it was made empty to be held"},
        {"C:\\TELDAX's handle names another folder", "teldax", L"\\elsewhere", false, RecordCount, false,
         "nothing written in c:\\teldax: its handle names \"\\elsewhere\""},
        {"C:\\TELDAX's handle names a folder of the same path on another volume", "teldax", NULL, true,
         RecordCount, false, "c:\\teldax\\Update.txt not written: it lies on another volume"},
    };
    SYSTEMTIME day = Utc(2019, 3, 5, 12, 0);
    for (const auto& c : cases) {
        SetContext("outside its folder: %s", c.name);
        MakeStaleRecords();
        if (c.made) {
            for (const char* path : RecordPaths)
                DeleteFileA(path);
        }
        LoadLibraryUnderTest();
        ReportSystemTime(day);
        if (c.reportedName)
            ReportFileName(c.pathPart, c.reportedName);
        if (c.otherVolume)
            ReportVolumeDevice(c.pathPart, L"\\Device\\AnotherVolume");
        CallRelease(Update);
        UseRealFileNames();
        ok(Traced(c.traced) != NULL, "no trace line \"%s\" in:\n%s", c.traced, TraceText());
        const char* expected[RecordCount] = {NoticeFor(Update, day), Update.installerAddress, Update.detailsAddress};
        for (int i = 0; i < RecordCount; ++i) {
            bool refused = c.record == RecordCount || i == c.record;
            if (!refused)
                ExpectFile(RecordPaths[i], expected[i]);
            else if (c.made)
                ok(!FileExists(RecordPaths[i]), "%s made for the write stays", RecordPaths[i]);
            else
                ExpectFile(RecordPaths[i], OldContent);
        }
    }
    SetContext("%s", "");
}

// From Windows 2000 on, every open that may make a record carries
// FILE_FLAG_OPEN_REPARSE_POINT; NT 4.0 has no such flag. Each record is made
// anew here.
static void TestRecordCreateFlags()
{
    static const struct {
        const char* name;
        DWORD major, minor;
        bool flag;
    } cases[] = {{"Windows 2000", 5, 0, true}, {"Windows 7", 6, 1, true}, {"NT 4.0", 4, 0, false}};
    SYSTEMTIME day = Utc(2019, 3, 5, 12, 0);
    for (const auto& c : cases) {
        SetContext("records made on %s", c.name);
        CleanDrive();
        MakeDirectory("C:\\TELDAX");
        LoadLibraryUnderTest();
        ReportSystemTime(day);
        ReportVersion(c.major, c.minor, VER_PLATFORM_WIN32_NT);
        CallRelease(MasterLoad);
        UseRealVersion();
        ExpectRecords(MasterLoad, NoticeFor(MasterLoad, day));
        int creates = CheckCreateFlags(c.flag);
        ok(creates == RecordCount, "%d opens made a file", creates);
    }
    SetContext("%s", "");
}

// On Windows 95, 98 and Me nothing is held or checked: each record is
// opened once, as a plain write opens it, and written through that handle.
static void TestRecordsOn9x()
{
    SetContext("records on the 9x family");
    MakeStaleRecords();
    LoadLibraryUnderTest();
    SYSTEMTIME day = Utc(2019, 3, 5, 12, 0);
    ReportSystemTime(day);
    ReportVersion(4, 10, VER_PLATFORM_WIN32_WINDOWS);
    CallRelease(Update);
    UseRealVersion();
    ExpectRecords(Update, NoticeFor(Update, day));
    ok(OpenCount == RecordCount, "%d opens", OpenCount);
    for (int i = 0; i < OpenCount && i < RecordCount; ++i) {
        const OpenRecord& r = Opens[i];
        ok(_stricmp(r.path, RecordPaths[i]) == 0 && r.access == GENERIC_WRITE && r.share == FILE_SHARE_WRITE &&
               r.disposition == CREATE_ALWAYS && r.flags == FILE_ATTRIBUTE_NORMAL,
           "open %d: %s for 0x%08lx, sharing 0x%lx, disposition %lu, flags 0x%08lx", i + 1, r.path, r.access, r.share,
           r.disposition, r.flags);
    }
    ok(CallCount("GetFileInformationByHandle") + CallCount("NtQueryInformationFile") == 0, "%d files checked",
       CallCount("GetFileInformationByHandle") + CallCount("NtQueryInformationFile"));
    SetContext("%s", "");
}

int main(int argc, char** argv)
{
    InitHarness(argc, argv);
    TestRecordsForDates();
    TestLaterCallWins();
    TestRecordHeldByAnotherProgram();
    TestPlantedRecords();
    TestRecordSwappedDuringWrite();
    TestRecordsOutsideTheirFolder();
    TestRecordCreateFlags();
    TestRecordsOn9x();
    TestWithoutInstallDir();
    ForEachOwnerCase("Chk4TELDAX", "MessageBoxA", CheckNoUpdateNotice);
    ShellExecuteRecordOnly = true;
    ConverterInPlace();
    NoSplitToken();
    ForEachOwnerCase("InstallPDF", "ShellExecuteA", CheckConverterStartRequest);
    UseRealSecurity();
    ShellExecuteRecordOnly = false;
    TestConverterMissing();
    TestConverterOnlyFromAdministratorsFolder();
    TestConverterOfInstallingUserByWindowsVersion();
    TestConverterHeldWhileStarting();
    TestConverterInFolderOfAnotherUser();
    TestConverterStarts();
    CleanDrive();
    return FinishTests("releases");
}
