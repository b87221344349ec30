#include "setup_driver.h"
#include "jobs.h"

#include "../res/resource.h"

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

namespace {

// What the hand has done so far in one run.
struct Hand {
    DialogAnswer answer;
    const char* code;
    DWORD setupProcess;
    HANDLE job;        // the setup program's job: the programs it started
    HWND dialog;       // the reporter code dialog last seen
    bool answered;     // typed (or cancelled) in that dialog
    bool refused;      // a message box came up after the answer
    bool gaveUp;       // Esc pressed after a refusal
    HWND boxes[16];    // message boxes already answered
    int boxCount;
    const char* const* buttons;  // captions of the wizard's buttons to press
    HWND pressed;      // the button last pressed, with the caption it had
    char pressedCaption[64];
    SetupRun* run;
};

void CaptionOf(HWND window, char* out, int size)
{
    out[0] = '\0';
    if (window)
        GetWindowTextA(window, out, size);
}

// The text of another process's control: WM_GETTEXT is carried across
// processes, with a limit on the wait in case that process is busy.
void ControlText(HWND control, char* out, int size)
{
    DWORD_PTR length = 0;
    out[0] = '\0';
    if (!SendMessageTimeoutA(control, WM_GETTEXT, size, (LPARAM)out, SMTO_ABORTIFHUNG, 500, &length))
        out[0] = '\0';
    out[size - 1] = '\0';
}

BOOL CALLBACK LongestStaticText(HWND child, LPARAM param)
{
    SeenMessage* seen = (SeenMessage*)param;
    char className[16], text[sizeof seen->text];
    if (GetClassNameA(child, className, sizeof className) && _stricmp(className, "Static") == 0) {
        ControlText(child, text, sizeof text);
        if (strlen(text) > strlen(seen->text))
            memcpy(seen->text, text, sizeof text);
    }
    return TRUE;
}

void PostKey(HWND window, WPARAM key)
{
    PostMessageA(window, WM_KEYDOWN, key, 1);
    PostMessageA(window, WM_KEYUP, key, 0xC0000001);
}

void AnswerMessageBox(Hand& hand, HWND box, const char* title)
{
    if (!IsWindowVisible(box))
        return;  // still being made: its text may not be there yet
    for (int i = 0; i < hand.boxCount; ++i) {
        if (hand.boxes[i] == box)
            return;  // answered already; it is closing
    }
    if (hand.boxCount < (int)ARRAYSIZE(hand.boxes))
        hand.boxes[hand.boxCount++] = box;
    SetupRun& run = *hand.run;
    if (run.messageCount < (int)ARRAYSIZE(run.messages)) {
        SeenMessage& seen = run.messages[run.messageCount++];
        lstrcpynA(seen.title, title, sizeof seen.title);
        EnumChildWindows(box, LongestStaticText, (LPARAM)&seen);
        CaptionOf(GetWindow(box, GW_OWNER), seen.owner, sizeof seen.owner);
    }
    if (hand.dialog && GetWindow(box, GW_OWNER) == hand.dialog && hand.answered)
        hand.refused = true;
    if (hand.answer != AnswerByPerson)
        PostMessageA(box, WM_COMMAND, IDOK, 0);
}

void AnswerDialog(Hand& hand, HWND dialog)
{
    SetupRun& run = *hand.run;
    if (dialog != hand.dialog) {
        hand.dialog = dialog;
        hand.answered = hand.refused = hand.gaveUp = false;
        ++run.dialogsShown;
        CaptionOf(dialog, run.dialogCaption, sizeof run.dialogCaption);
        CaptionOf(GetWindow(dialog, GW_OWNER), run.dialogOwner, sizeof run.dialogOwner);
    }
    HWND field = GetDlgItem(dialog, IDC_REPORTER_CODE);
    if (hand.answer == AnswerByPerson) {
        // What the person has typed so far; the last text seen is kept.
        char text[sizeof run.typed];
        ControlText(field, text, sizeof text);
        if (text[0])
            memcpy(run.typed, text, sizeof text);
        return;
    }
    // Until it shows, the dialog may still be making its controls; while a
    // message box of its own is open, it is disabled.
    if (!field || !IsWindowVisible(dialog) || !IsWindowEnabled(dialog))
        return;
    if (hand.answer == AnswerWithCode && !hand.answered) {
        run.dialogInFront = GetForegroundWindow() == dialog;
        // A person clicks into the field first: a dialog that opens while
        // its setup program shows no window (a silent run) is not always
        // the active window.
        DWORD_PTR result;
        SendMessageTimeoutA(field, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2), SMTO_ABORTIFHUNG, 500, &result);
        SendMessageTimeoutA(field, WM_LBUTTONUP, 0, MAKELPARAM(2, 2), SMTO_ABORTIFHUNG, 500, &result);
        // Each character as the keyboard gives it; the field keeps what its
        // limit lets in, and that is what was typed. Enter is posted, so
        // that the dialog's own loop turns it into OK.
        for (const char* p = hand.code; *p; ++p)
            SendMessageTimeoutA(field, WM_CHAR, (BYTE)*p, 1, SMTO_ABORTIFHUNG, 500, &result);
        ControlText(field, run.typed, sizeof run.typed);
        PostKey(field, VK_RETURN);
        hand.answered = true;
    } else if ((hand.answer == AnswerCancel && !hand.answered) || (hand.refused && !hand.gaveUp)) {
        PostKey(field, VK_ESCAPE);
        hand.answered = hand.gaveUp = true;
    }
}

// Whether a window's process is the setup program or one it started. A
// Windows Installer package calls the library from a process of the
// installer's own (its custom action server), started within the job. The
// job's list of processes is asked: Wine's IsProcessInJob fails.
bool OfTheSetupProgram(const Hand& hand, DWORD processId)
{
    return processId == hand.setupProcess || InJob(hand.job, processId);
}

// A button of a setup program's wizard whose caption is on the hand's list
// is clicked, once for each caption it shows (a wizard's Next button
// becomes Install, then Finish), when it can be: visible and enabled, in a
// window that no modal dialog disables.
BOOL CALLBACK PressButton(HWND child, LPARAM param)
{
    Hand& hand = *(Hand*)param;
    char className[32], caption[64];
    if (!GetClassNameA(child, className, sizeof className) || !strstr(className, "Button") ||
        !IsWindowVisible(child) || !IsWindowEnabled(child))
        return TRUE;
    ControlText(child, caption, sizeof caption);
    if (child == hand.pressed && strcmp(caption, hand.pressedCaption) == 0)
        return TRUE;
    for (const char* const* wanted = hand.buttons; *wanted; ++wanted) {
        if (strcmp(caption, *wanted) == 0) {
            hand.pressed = child;
            lstrcpynA(hand.pressedCaption, caption, sizeof hand.pressedCaption);
            PostMessageA(child, BM_CLICK, 0, 0);
            return FALSE;
        }
    }
    return TRUE;
}

BOOL CALLBACK VisitWindow(HWND window, LPARAM param)
{
    Hand& hand = *(Hand*)param;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[16], title[128];
    if (!GetClassNameA(window, className, sizeof className) || !OfTheSetupProgram(hand, process))
        return TRUE;
    if (strcmp(className, "#32770") != 0) {
        if (hand.buttons && IsWindowVisible(window) && IsWindowEnabled(window))
            EnumChildWindows(window, PressButton, param);
        return TRUE;
    }
    CaptionOf(window, title, sizeof title);
    if (strcmp(title, "Reporter Code") == 0)
        AnswerDialog(hand, window);
    else if (strncmp(title, "Velloran - ", 11) == 0)
        AnswerMessageBox(hand, window, title);
    return TRUE;
}

}  // namespace

bool RunSetup(const char* commandLine, DialogAnswer answer, const char* code, DWORD timeLimitMs,
              SetupRun* run, const char* const* buttons)
{
    memset(run, 0, sizeof *run);
    run->exitCode = STILL_ACTIVE;

    // Wine starts its desktop process for the first program that needs the
    // desktop; started from within the job, it would keep the job alive. So
    // this process asks for the desktop first.
    GetDesktopWindow();

    // Programs the setup program starts join its job, so that the run ends
    // only when the PDF converter's installer has ended too.
    HANDLE job;
    PROCESS_INFORMATION process;
    if (!StartInJob(commandLine, NULL, &job, &process))
        return false;
    run->started = TRUE;

    Hand hand = {};
    hand.answer = answer;
    hand.code = code ? code : "";
    hand.setupProcess = process.dwProcessId;
    hand.job = job;
    hand.buttons = buttons;
    hand.run = run;
    ULONGLONG start = Milliseconds();
    for (;;) {
        EnumWindows(VisitWindow, (LPARAM)&hand);
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0 && !JobRunning(job))
            break;
        if (Milliseconds() - start > TimeLimitMs(timeLimitMs)) {
            run->timedOut = TRUE;
            TerminateJobObject(job, 1);
            WaitForSingleObject(process.hProcess, 5000);
            break;
        }
        Sleep(20);
    }
    GetExitCodeProcess(process.hProcess, &run->exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(job);
    return true;
}

namespace {

// The monitor's side of the protocol: it signals DBWIN_BUFFER_READY when the
// section may be written, waits for DBWIN_DATA_READY, and reads the writer's
// process id and text from the section.
struct TraceMonitor {
    HANDLE bufferReady, dataReady, section, stop, thread;
    const char* view;
};
TraceMonitor Monitor;
CapturedTrace Caught;

DWORD WINAPI MonitorTrace(void*)
{
    HANDLE waits[2] = {Monitor.dataReady, Monitor.stop};
    for (;;) {
        SetEvent(Monitor.bufferReady);
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0)
            return 0;
        const char* text = Monitor.view + sizeof(DWORD);
        if (strncmp(text, "VINSTALLDLL: ", 13) != 0 || Caught.count == (int)ARRAYSIZE(Caught.lines))
            continue;
        char* line = Caught.lines[Caught.count++];
        lstrcpynA(line, text, sizeof Caught.lines[0]);
        line[strcspn(line, "\r\n")] = '\0';
    }
}

// Stops the monitor's thread, if one runs, and closes what it used.
void CloseMonitor()
{
    if (Monitor.thread) {
        SetEvent(Monitor.stop);
        WaitForSingleObject(Monitor.thread, INFINITE);
        CloseHandle(Monitor.thread);
    }
    if (Monitor.view)
        UnmapViewOfFile(Monitor.view);
    HANDLE handles[] = {Monitor.section, Monitor.bufferReady, Monitor.dataReady, Monitor.stop};
    for (HANDLE handle : handles) {
        if (handle)
            CloseHandle(handle);
    }
    memset(&Monitor, 0, sizeof Monitor);
}

}  // namespace

bool StartTraceCapture()
{
    memset(&Caught, 0, sizeof Caught);
    Monitor.bufferReady = CreateEventA(NULL, FALSE, FALSE, "DBWIN_BUFFER_READY");
    bool another = GetLastError() == ERROR_ALREADY_EXISTS;
    Monitor.dataReady = CreateEventA(NULL, FALSE, FALSE, "DBWIN_DATA_READY");
    Monitor.section = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER");
    Monitor.view = Monitor.section ? (const char*)MapViewOfFile(Monitor.section, FILE_MAP_READ, 0, 0, 0) : NULL;
    Monitor.stop = CreateEventA(NULL, TRUE, FALSE, NULL);
    Monitor.thread = NULL;
    if (!another && Monitor.bufferReady && Monitor.dataReady && Monitor.view && Monitor.stop)
        Monitor.thread = CreateThread(NULL, 0, MonitorTrace, NULL, 0, NULL);
    if (Monitor.thread)
        return true;
    CloseMonitor();
    return false;
}

void StopTraceCapture(CapturedTrace* trace)
{
    CloseMonitor();
    *trace = Caught;
}

const char* FindTraceLine(const CapturedTrace& trace, const char* part)
{
    for (int i = 0; i < trace.count; ++i) {
        if (strstr(trace.lines[i], part))
            return trace.lines[i];
    }
    return NULL;
}

HRESULT ReadShortcutFile(const char* path, ShortcutProperties* properties)
{
    memset(properties, 0, sizeof *properties);
    WCHAR widePath[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH))
        return E_INVALIDARG;
    HRESULT hr = CoInitialize(NULL);
    bool initialised = SUCCEEDED(hr);
    IShellLinkA* link = NULL;
    hr = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void**)&link);
    if (SUCCEEDED(hr)) {
        IPersistFile* file = NULL;
        hr = link->QueryInterface(IID_IPersistFile, (void**)&file);
        if (SUCCEEDED(hr)) {
            hr = file->Load(widePath, STGM_READ);
            file->Release();
        }
        if (SUCCEEDED(hr)) {
            // The getters leave a text that does not fit unterminated.
            link->GetPath(properties->target, MAX_PATH - 1, NULL, SLGP_RAWPATH);
            link->GetArguments(properties->arguments, MAX_PATH - 1);
            link->GetWorkingDirectory(properties->directory, MAX_PATH - 1);
            link->GetDescription(properties->description, MAX_PATH - 1);
            link->GetIconLocation(properties->iconPath, MAX_PATH - 1, &properties->iconIndex);
            link->GetHotkey(&properties->hotkey);
        }
        link->Release();
    }
    if (initialised)
        CoUninitialize();
    return hr;
}

void WindowsPathOf(const char* path, char* out, int size)
{
    int used = 0;
    if (path[0] == '/' && size > 2) {
        lstrcpyA(out, "Z:");
        used = 2;
    }
    for (; *path && used < size - 1; ++path)
        out[used++] = *path == '/' ? '\\' : *path;
    out[used] = '\0';
}
