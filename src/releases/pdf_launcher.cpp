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
VINSTALL_EXPORT InstallPDF(HWND window, LPARAM, LPARAM, LPARAM, LPARAM)
{
    TraceCall("InstallPDF", window);
    StringCchCopyA(WorkPath, ARRAYSIZE(WorkPath), VINSTALL_PDF_PARAMETERS);
    // Above 32 the shell started the program; 32 or less is its error code.
    INT_PTR started = (INT_PTR)ShellExecuteA(window, "open", "c:\\teldax\\install.exe", WorkPath, "", SW_SHOWNORMAL);
    Trace("the shell %s c:\\teldax\\install.exe %s (it returned %ld)", started > 32 ? "started" : "did not start",
          WorkPath, (long)started);
    return TraceReturn("InstallPDF", 1);
}
