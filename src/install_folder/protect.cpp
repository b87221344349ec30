#include "../interface/exports.h"
#include "../interface/trace.h"

// Placeholder until the protection lands: refuses, so that nothing relies on it.
VINSTALL_EXPORT ProtectInstallFolder(HWND window, LPARAM, DWORD, LPSTR message, DWORD messageSize)
{
    TraceCall("ProtectInstallFolder", window);
    if (message && messageSize)
        message[0] = '\0';
    return TraceReturn("ProtectInstallFolder", 0);
}
