// The contract every export shares with the setup program: __stdcall, five
// 32-bit arguments, the first a window handle, and a 32-bit signed status as
// the result. The six of VINSTALL_EXPORT_LIST never read the other four;
// BeforeInstallWithCode (below) reads its four. Each export is a failure
// boundary: it always returns its status and nothing else leaves it.
//
// The exports are listed once, here. Every file that defines one
// includes this header, so a definition that drifts from the contract is a
// conflicting declaration and does not compile; the tests take the names
// from the same list and check the built file's export directory (made from
// VINSTALLDLL.def) against it.
#pragma once
#include <windows.h>

#define VINSTALL_EXPORT extern "C" int __stdcall

// X(name) for each export, in the order of the module definition.
#define VINSTALL_EXPORT_LIST(X) \
    X(BeforeInstall)            \
    X(AfterInstall)             \
    X(UpdateInfo)               \
    X(MLDInfo)                  \
    X(Chk4TELDAX)               \
    X(InstallPDF)

#define VINSTALL_DECLARE_EXPORT(name) \
    VINSTALL_EXPORT name(HWND window, LPARAM unused2, LPARAM unused3, LPARAM unused4, LPARAM unused5);
// BeforeInstall: 0 stop, 1 stored code used, 2 new code stored.
// AfterInstall, UpdateInfo, MLDInfo, InstallPDF: always 1. Chk4TELDAX: always 0.
VINSTALL_EXPORT_LIST(VINSTALL_DECLARE_EXPORT)
#undef VINSTALL_DECLARE_EXPORT

// The seventh export, for setup programs that run unattended: BeforeInstall
// with the reporter code from the setup program's command line (code: NULL
// or empty when none was given), the options below, and one line for the
// setup program's log (message: messageSize bytes, always terminated, cut
// to fit; 512 bytes are always enough; NULL for none). Statuses as
// BeforeInstall's. When the status is 0 the line "no reporter code" means
// that none was given and nobody could be asked, and "cancelled at the
// reporter code dialog" that the person cancelled; any other line a failure.
VINSTALL_EXPORT BeforeInstallWithCode(HWND window, LPCSTR code, DWORD options, LPSTR message, DWORD messageSize);
// The setup program runs silently: the library shows no window in this call.
#define VINSTALL_SILENT 0x1

#define VINSTALL_EXPORT_NAME(name) #name,
inline constexpr const char* ExportNames[] = {VINSTALL_EXPORT_LIST(VINSTALL_EXPORT_NAME) "BeforeInstallWithCode"};
#undef VINSTALL_EXPORT_NAME
