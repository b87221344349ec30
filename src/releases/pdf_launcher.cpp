#include "../guard/administrators_only.h"
#include "../interface/exports.h"
#include "../interface/state.h"
#include "../interface/trace.h"
#include "release_settings.h"

#include <shellapi.h>
#include <strsafe.h>

static_assert(sizeof(VINSTALL_PDF_PARAMETERS) <= WorkPathSize, "the converter's parameters fit WorkPath");

// Asks the shell to start the PDF converter's installer and returns at once:
// the installer runs on as a process of its own, and whether it could be
// started at all is not examined. The empty (not null) directory names no
// working directory.
//
// The setup program runs elevated, so the installer runs as administrator:
// it is started only when no one but an administrator can change it or its
// folder (where a planted DLL would be loaded with it), and both stay open,
// unchangeable, until the shell has started it. A refusal starts nothing,
// shows nothing and returns the same status; the trace says why.
VINSTALL_EXPORT InstallPDF(HWND window, LPARAM, LPARAM, LPARAM, LPARAM)
{
    TraceCall("InstallPDF", window);
    StringCchCopyA(WorkPath, ARRAYSIZE(WorkPath), VINSTALL_PDF_PARAMETERS);
    HeldProgram held;
    if (!HoldProgramToStart("c:\\teldax", "c:\\teldax\\install.exe", &held))
        return TraceReturn("InstallPDF", 1);
    // Above 32 the shell started the program; 32 or less is its error code.
    INT_PTR started = (INT_PTR)ShellExecuteA(window, "open", "c:\\teldax\\install.exe", WorkPath, "", SW_SHOWNORMAL);
    ReleaseProgram(&held);
    Trace("the shell %s c:\\teldax\\install.exe %s (it returned %ld)", started > 32 ? "started" : "did not start",
          WorkPath, (long)started);
    return TraceReturn("InstallPDF", 1);
}
