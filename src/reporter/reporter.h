#pragma once
#include <windows.h>

// 1 when name (at most 259 characters) is a valid file name: none of
// \/:*?"<>|, a base name of at most 24 characters and a type of at most 3.
// With showMessages 1 the first broken rule is reported, owned by owner.
int ValidateFileName(HWND owner, LPCSTR name, int showMessages);

// The title of the message for the first rule that name breaks, with its
// text in text (size bytes); NULL when name is valid.
LPCSTR BrokenNameRule(LPCSTR name, char* text, size_t size);

// The reporter code dialog: ends with 1 and the accepted code, upper-cased,
// in ReporterCode, or with 0 when the user cancels.
INT_PTR CALLBACK ReporterCodeDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR OnReporterCodeCommand(HWND dialog, WPARAM wParam);

// Why name, a code given on the setup program's command line, names no
// folder of its own under C:\ (on top of the name rules, which a typed code
// is held against alone): a device name (CON, PRN, AUX, NUL, COM1 to COM9,
// LPT1 to LPT9, with or without a type), only dots, a dot or a blank at its
// end, or a control character; NULL when it names one.
LPCSTR BrokenFolderRule(LPCSTR name);
