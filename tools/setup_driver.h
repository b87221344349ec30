// Runs the Velloran setup program as its user would, from another process:
// it starts the program, answers the reporter code dialog (clicks into its
// field, types a code and presses Enter, or presses Esc), presses OK on the
// library's message boxes, and waits until the setup program and every
// program it started have ended.
// The windows answered are those of the setup program and of the programs it
// started (msiexec's custom action server, which calls the library for a
// Windows Installer package). What it saw is kept for the caller to print or
// check.
#pragma once
#include <windows.h>

enum DialogAnswer {
    AnswerWithCode,  // type the code, press Enter; after a refusal press Esc
    AnswerCancel,    // press Esc
    AnswerByPerson,  // touch nothing: a person at the display answers
};

struct SeenMessage {
    char title[128];
    char text[512];
    char owner[128];  // caption of the window that owns the box
};

struct SetupRun {
    DWORD exitCode;         // the setup program's; STILL_ACTIVE if it was stopped
    BOOL started;
    BOOL timedOut;          // stopped after the time limit, with all it started
    int dialogsShown;       // reporter code dialogs that opened
    char dialogCaption[64];
    char dialogOwner[128];  // caption of the window that owns the dialog
    char typed[64];         // the field's text when the dialog was last seen
    BOOL dialogInFront;     // AnswerWithCode: the dialog was the foreground
                            // window before the hand clicked into it
    SeenMessage messages[8];
    int messageCount;
};

// Runs commandLine (program path and arguments) and answers as asked; code is
// used with AnswerWithCode. buttons (NULL-terminated, or NULL) are the
// captions of buttons in the setup program's own windows to click as they
// appear, as a person goes through a wizard ("&Install", "&Finish").
// Returns false when the program could not start.
bool RunSetup(const char* commandLine, DialogAnswer answer, const char* code, DWORD timeLimitMs,
              SetupRun* run, const char* const* buttons = NULL);


// The library's trace (OutputDebugStringA) from the programs that run while
// the capture is on, caught as DebugView catches it: the section
// DBWIN_BUFFER and the events DBWIN_BUFFER_READY and DBWIN_DATA_READY,
// which OutputDebugStringA writes to when no debugger attends the program
// (Wine's kernelbase does so too). Only lines that start with
// "VINSTALLDLL: " are kept, the first 128, each without its line feed.
struct CapturedTrace {
    int count;
    char lines[128][512];
};
// False when another monitor runs already, or the section cannot be made.
bool StartTraceCapture();
// Ends the capture; what was said since StartTraceCapture lands in trace.
void StopTraceCapture(CapturedTrace* trace);
// The first captured line that contains part, or NULL.
const char* FindTraceLine(const CapturedTrace& trace, const char* part);

// A shortcut file as the shell's link object reads it back.
struct ShortcutProperties {
    char target[MAX_PATH];
    char arguments[MAX_PATH];
    char directory[MAX_PATH];
    char description[MAX_PATH];
    char iconPath[MAX_PATH];
    int iconIndex;
    WORD hotkey;
};
// Fills properties from the .lnk file at path; returns the failing HRESULT,
// or S_OK.
HRESULT ReadShortcutFile(const char* path, ShortcutProperties* properties);

// A Linux path (/work/...) as Wine's Z: drive sees it; other paths unchanged.
void WindowsPathOf(const char* path, char* out, int size);
