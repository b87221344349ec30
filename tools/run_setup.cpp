// The main job of ./run.sh: runs a complete first installation with the
// reference setup program and prints what it left behind: each export's
// status, the reporter code typed, RC.DAT, the shortcuts, the release records
// and what the PDF converter's installer received. Then it runs the setup
// program once more for the no-update notice.
//
//   run_setup.exe <VelloranSetup.exe> [--code CODE | --interactive]
#include "setup_driver.h"

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

// How long a run may take: the hand answers at once, a person may not.
static const DWORD HandTimeLimitMs = 120000;
static const DWORD PersonTimeLimitMs = 1800000;

// Bytes as text in double quotes, with \xNN for what is not printable.
static void PrintBytes(const unsigned char* bytes, int size)
{
    putchar('"');
    for (int i = 0; i < size; ++i) {
        if (bytes[i] >= 0x20 && bytes[i] < 0x7f && bytes[i] != '\\')
            putchar(bytes[i]);
        else if (bytes[i] == '\n')
            printf("\\n");
        else
            printf("\\x%02x", bytes[i]);
    }
    printf("\" (%d bytes)\n", size);
}

static int ReadFileBytes(const char* path, unsigned char* buffer, int size)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    DWORD read = 0;
    ReadFile(file, buffer, size, &read, NULL);
    CloseHandle(file);
    return (int)read;
}

static void PrintFile(const char* label, const char* path)
{
    unsigned char bytes[512];
    int size = ReadFileBytes(path, bytes, sizeof bytes);
    printf("%s", label);
    if (size < 0)
        printf("none\n");
    else
        PrintBytes(bytes, size);
}

// A text file's content, terminated; false when it cannot be read.
static bool ReadText(const char* path, char* text, int size)
{
    int length = ReadFileBytes(path, (unsigned char*)text, size - 1);
    text[length < 0 ? 0 : length] = '\0';
    return length >= 0;
}

// The stand-in for the PDF converter's installer records one line per item.
static void PrintReceived(const char* path)
{
    char text[1024];
    if (!ReadText(path, text, sizeof text)) {
        printf("PDF converter's installer: not started\n");
        return;
    }
    printf("PDF converter's installer was started with\n");
    for (char* line = strtok(text, "\r\n"); line; line = strtok(NULL, "\r\n"))
        printf("  %s\n", line);
}

// The setup program's log: "<export> <status>" lines, each followed by the
// line the library gave for the log where the export gives one
// (ProtectInstallFolder, BeforeInstallWithCode), its own steps, then how it
// ended.
static void PrintStatuses(const char* logPath)
{
    char log[1024];
    if (!ReadText(logPath, log, sizeof log)) {
        printf("  (no log)\n");
        return;
    }
    bool lineFollows = false;
    for (char* line = strtok(log, "\r\n"); line; line = strtok(NULL, "\r\n")) {
        const char* space = strchr(line, ' ');
        if (space && strspn(space + 1, "-0123456789") == strlen(space + 1)) {
            printf("  %-21.*s returned %s\n", (int)(space - line), line, space + 1);
            lineFollows = strncmp(line, "ProtectInstallFolder ", 21) == 0 ||
                          strncmp(line, "BeforeInstallWithCode ", 22) == 0;
        } else {
            if (lineFollows)
                printf("    its line:           %s\n", line);
            else
                printf("  setup program: %s\n", line);
            lineFollows = false;
        }
    }
}

static void PrintMessages(const SetupRun& run)
{
    for (int i = 0; i < run.messageCount; ++i) {
        const SeenMessage& m = run.messages[i];
        printf("message box \"%s\" (owner: %s): ", m.title, m.owner[0] ? m.owner : "none");
        PrintBytes((const unsigned char*)m.text, (int)strlen(m.text));
    }
}

static void PrintShortcuts(const char* folder)
{
    char pattern[MAX_PATH + 8];
    snprintf(pattern, sizeof pattern, "%s\\*.lnk", folder);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        printf("  %s: no shortcut\n", folder);
        return;
    }
    do {
        char path[2 * MAX_PATH];
        snprintf(path, sizeof path, "%s\\%s", folder, found.cFileName);
        ShortcutProperties link;
        HRESULT hr = ReadShortcutFile(path, &link);
        if (FAILED(hr)) {
            printf("  %s: unreadable (0x%08lx)\n", path, (unsigned long)hr);
            continue;
        }
        printf("  %s\n      target %s%s%s, starts in %s, icon %s,%d\n", path, link.target,
               link.arguments[0] ? " " : "", link.arguments, link.directory[0] ? link.directory : "(none)",
               link.iconPath[0] ? link.iconPath : "(none)", link.iconIndex);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

static bool Run(const char* setup, const char* arguments, const char* logPath, DialogAnswer answer,
                const char* code, SetupRun* run)
{
    char line[3 * MAX_PATH];
    snprintf(line, sizeof line, "\"%s\" %s /LOG=%s", setup, arguments, logPath);
    DWORD limit = answer == AnswerByPerson ? PersonTimeLimitMs : HandTimeLimitMs;
    if (!RunSetup(line, answer, code, limit, run)) {
        printf("cannot start %s: error %lu\n", setup, GetLastError());
        return false;
    }
    printf("setup program: %s %s, exit code %lu%s\n", strrchr(setup, '\\') ? strrchr(setup, '\\') + 1 : setup,
           arguments, run->exitCode, run->timedOut ? " (stopped: it took too long)" : "");
    return true;
}

int main(int argc, char** argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc < 2) {
        printf("usage: %s <VelloranSetup.exe> [--code CODE | --interactive]\n", argv[0]);
        return 2;
    }
    char setup[MAX_PATH];
    WindowsPathOf(argv[1], setup, sizeof setup);
    DialogAnswer answer = AnswerWithCode;
    const char* code = "john";
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "--code") == 0 && i + 1 < argc)
            code = argv[++i];
        else if (strcmp(argv[i], "--interactive") == 0)
            answer = AnswerByPerson;
    }

    char temp[MAX_PATH], installLog[MAX_PATH], checkLog[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    snprintf(installLog, sizeof installLog, "%sVelloranSetup.log", temp);
    snprintf(checkLog, sizeof checkLog, "%sVelloranCheck.log", temp);

    SetupRun run;
    if (!Run(setup, "/PDF", installLog, answer, code, &run))
        return 1;
    printf("statuses:\n");
    PrintStatuses(installLog);
    if (run.dialogsShown)
        printf("reporter code dialog \"%s\" (owner: %s), code typed: %s\n", run.dialogCaption,
               run.dialogOwner[0] ? run.dialogOwner : "none", run.typed);
    else
        printf("reporter code dialog: not shown\n");
    PrintMessages(run);
    PrintFile("C:\\TELDAX\\RC.DAT: ", "C:\\TELDAX\\RC.DAT");

    char desktop[MAX_PATH];
    if (!SHGetSpecialFolderPathA(NULL, desktop, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE))
        lstrcpyA(desktop, "C:\\users\\Public\\Desktop");
    printf("shortcuts:\n");
    PrintShortcuts("C:\\TELDAX");
    PrintShortcuts(desktop);

    printf("release records:\n");
    PrintFile("  c:\\teldax\\Update.txt: ", "c:\\teldax\\Update.txt");
    PrintFile("  c:\\teldax\\UpdName.txt: ", "c:\\teldax\\UpdName.txt");
    PrintFile("  c:\\teldax\\UpdDetails.txt: ", "c:\\teldax\\UpdDetails.txt");
    PrintReceived("C:\\TELDAX\\install-received.txt");

    printf("\n");
    if (!Run(setup, "/S /CHECK", checkLog, answer, code, &run))
        return 1;
    PrintStatuses(checkLog);
    PrintMessages(run);
    return 0;
}
