#include "../interface/state.h"
#include "../../res/resource.h"
#include "reporter.h"

static const int MaxCodeLength = 24;

INT_PTR CALLBACK ReporterCodeDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/)
{
    switch (message) {
    case WM_INITDIALOG:
        // Each showing starts empty, whatever an earlier one accepted.
        ReporterCode[0] = '\0';
        SendDlgItemMessageA(dialog, IDC_REPORTER_CODE, EM_LIMITTEXT, MaxCodeLength, 0);
        // In a silent installation the setup program shows no window of its
        // own, and the dialog would open behind whatever the person was
        // using, with their typing going elsewhere. Where Windows does not
        // let a program take the foreground, this only flashes its button.
        SetForegroundWindow(dialog);
        return TRUE;  // focus goes to the first tab stop, the code field
    case WM_COMMAND:
        return OnReporterCodeCommand(dialog, wParam);
    default:
        return FALSE;
    }
}

INT_PTR OnReporterCodeCommand(HWND dialog, WPARAM wParam)
{
    switch (LOWORD(wParam)) {
    case IDOK:
        // The code is upper-cased in the buffer only: the field keeps what
        // was typed, so a refused code can be corrected as the user sees it.
        GetDlgItemTextA(dialog, IDC_REPORTER_CODE, ReporterCode, sizeof ReporterCode);
        AsciiUpperCase(ReporterCode);
        if (ReporterCode[0] == '\0') {
            MessageBoxA(dialog, "You must enter your reporter code.", "Velloran - Error",
                        MB_OK | MB_ICONINFORMATION);
            return FALSE;
        }
        if (!ValidateFileName(dialog, ReporterCode, 1))
            return FALSE;
        EndDialog(dialog, 1);
        return TRUE;
    case IDCANCEL:
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}
