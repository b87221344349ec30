// Well-known SIDs, laid out as the platform lays out a SID (revision,
// count, the 6-byte authority, the sub-authorities), so that they can stand
// where a PSID is asked for, or inside a descriptor, without being built at
// run time.
#pragma once
#include <windows.h>

template <int Count> struct Sid {
    BYTE revision;
    BYTE count;
    BYTE authority[6];
    DWORD parts[Count];
};
#define NT_SID(count, ...) {SID_REVISION, count, {0, 0, 0, 0, 0, 5}, {__VA_ARGS__}}
#define SYSTEM_SID NT_SID(1, 18)
#define ADMINISTRATORS_SID NT_SID(2, 32, 544)
#define USERS_SID NT_SID(2, 32, 545)
