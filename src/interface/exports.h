// The contract every export shares with the setup program: __stdcall, five
// 32-bit arguments (the first a window handle, the other four never read),
// a 32-bit signed status as the result. Each export is a failure boundary:
// it always returns its status and nothing else leaves it.
//
// The six exports are listed once, here. Every file that defines one
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

#define VINSTALL_EXPORT_NAME(name) #name,
inline constexpr const char* ExportNames[] = {VINSTALL_EXPORT_LIST(VINSTALL_EXPORT_NAME)};
#undef VINSTALL_EXPORT_NAME
