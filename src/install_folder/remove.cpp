#include "../interface/exports.h"
#include "../interface/trace.h"

// Placeholder until the removal lands: removes nothing.
VINSTALL_EXPORT RemoveLibraryFiles(HWND window, LPCSTR, DWORD, LPSTR message, DWORD messageSize)
{
    TraceCall("RemoveLibraryFiles", window);
    if (message && messageSize)
        message[0] = '\0';
    return TraceReturn("RemoveLibraryFiles", 0);
}
