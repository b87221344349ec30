// What the library did and why, for the setup engineer: one line per event
// through the debugger output channel (OutputDebugStringA), which DebugView,
// a debugger or Wine's +debugstr channel shows. Each line starts with
// "VINSTALLDLL: " and ends with a line feed. With no one listening it costs
// one formatted line and changes nothing else: the last error is kept.
#pragma once
#include <windows.h>

// A line of at most TraceLineSize bytes with its line feed and zero; a
// longer text is cut at the buffer.
enum { TraceLineSize = 512 };

void Trace(LPCSTR format, ...) __attribute__((format(printf, 1, 2)));

// "<export>: called, window 0x..." on entry.
void TraceCall(LPCSTR exportName, HWND window);

// "<export>: returns <status>" on leaving; gives the status back.
int TraceReturn(LPCSTR exportName, int status);

// The same for an export that gives the setup program one line for its log:
// "log line: <line>" first, and line copied into message (messageSize
// bytes, cut to fit and always ended; NULL for none).
int TraceReturnWithLine(LPCSTR exportName, int status, LPCSTR line, LPSTR message, DWORD messageSize);

// Every control character of text (below 0x20, and 0x7F) as '?': a text
// from a file (RC.DAT may hold anything) on one line of a log; each trace
// line is made so.
void ControlsToQuestionMarks(char* text);
