// Which family of Windows the library runs on decides what there is to
// guard: the 9x family has no links, reparse points or ACLs, and cannot open
// folders; reparse points exist from Windows 2000 on.
#pragma once
#include <windows.h>

struct Platform {
    bool ntFamily;
    // Flags for an open of the name itself, never of what a reparse point
    // there leads to, folders included (0 on the 9x family).
    DWORD openFlags;
};

// A version that cannot be read is taken for a current NT.
Platform CurrentPlatform();

bool IsWindows9x();
