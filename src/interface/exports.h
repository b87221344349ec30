// The contract every export shares with the setup program: __stdcall, five
// 32-bit arguments (the first a window handle, the other four never read),
// a 32-bit signed status as the result. Each export is a failure boundary:
// it always returns its status and nothing else leaves it.
#pragma once
#include <windows.h>

#define VINSTALL_EXPORT extern "C" int __stdcall

VINSTALL_EXPORT BeforeInstall(HWND window, LPARAM unused2, LPARAM unused3, LPARAM unused4, LPARAM unused5);
VINSTALL_EXPORT AfterInstall(HWND window, LPARAM unused2, LPARAM unused3, LPARAM unused4, LPARAM unused5);
