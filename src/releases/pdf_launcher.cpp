#include "../interface/exports.h"
#include "../interface/state.h"
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
    StringCchCopyA(WorkPath, ARRAYSIZE(WorkPath), VINSTALL_PDF_PARAMETERS);
    ShellExecuteA(window, "open", "c:\\teldax\\install.exe", WorkPath, "", SW_SHOWNORMAL);
    return 1;
}
