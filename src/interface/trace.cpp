#include "trace.h"

#include <stdarg.h>
#include <strsafe.h>

static const char TracePrefix[] = "VINSTALLDLL: ";

void ControlsToQuestionMarks(char* text)
{
    for (; *text; ++text) {
        if ((unsigned char)*text < 0x20 || *text == 0x7F)
            *text = '?';
    }
}

void Trace(LPCSTR format, ...)
{
    DWORD error = GetLastError();
    char line[TraceLineSize];
    // The last byte before the zero is kept for the line feed, so that a cut
    // line still ends like every other.
    StringCchCopyA(line, ARRAYSIZE(line) - 1, TracePrefix);
    va_list args;
    va_start(args, format);
    StringCchVPrintfA(line + sizeof TracePrefix - 1, ARRAYSIZE(line) - sizeof TracePrefix, format, args);
    va_end(args);
    // One event, one line: control bytes from a file's content (RC.DAT may
    // hold anything) are shown as '?'.
    ControlsToQuestionMarks(line);
    StringCchCatA(line, ARRAYSIZE(line), "\n");
    OutputDebugStringA(line);
    SetLastError(error);
}

void TraceCall(LPCSTR exportName, HWND window)
{
    if (window)
        Trace("%s: called, window 0x%p", exportName, window);
    else
        Trace("%s: called, no window", exportName);
}

int TraceReturn(LPCSTR exportName, int status)
{
    Trace("%s: returns %d", exportName, status);
    return status;
}

int TraceReturnWithLine(LPCSTR exportName, int status, LPCSTR line, LPSTR message, DWORD messageSize)
{
    Trace("log line: %s", line);
    if (message && messageSize > 0)
        StringCchCopyA(message, messageSize, line);
    return TraceReturn(exportName, status);
}
