// Shortcut files for the tests: made and read back through the platform's own
// link object, property by property, and the places AfterInstall touches
// outside the install folder (the desktops and the system folders).
#pragma once
#include <windows.h>

// --- Shortcut files ------------------------------------------------------------------

struct Link {
    const char* target;  // NULL: no path set
    const char* arguments;
    const char* description;
    WORD hotkey;
    const char* iconPath;
    int iconIndex;
    const char* workingDirectory;
    int showCommand;  // 0: left at the platform's default
};

// Saves a new shortcut file at path holding link's properties; a failure is
// reported as a failed test.
void MakeLink(const char* path, const Link& link);

// Texts are read into buffers larger than the library's, so that a text
// longer than it may write shows.
struct LinkRead {
    HRESULT status;
    char target[1024], arguments[1024], description[1024], iconPath[1024], workingDirectory[1024];
    WORD hotkey;
    int iconIndex;
    int showCommand;
};

// Loads path without resolving it, so that nothing is filled in by the
// platform, and reads every property.
void ReadLink(const char* path, LinkRead* out);

bool OnWine();

// What a shortcut reports as its target when asked for the short form:
// Windows gives the 8.3 path, Wine 8's link object ignores SLGP_SHORTPATH
// and gives the long one.
const char* ShortTarget(const char* longPath);

// Every property of the shortcut file at path against expected; true when
// all are as expected.
#define check_link(path, ...) CheckLinkAt(__FILE__, __LINE__, path, __VA_ARGS__)
bool CheckLinkAt(const char* file, int line, const char* path, const Link& expected);

// A shortcut of the install folder after its rewrite: target, description
// and icon kept, started in dir, nothing else.
Link Rewritten(const Link& from, const char* dir);
// The product's new desktop shortcut, started in dir.
Link DesktopLink(const char* dir);

// --- Files ---------------------------------------------------------------------------

struct FileCopy {
    char bytes[4096];
    int length;
};

// Keeps the bytes of path (a fixture that must exist) to compare later.
void Keep(const char* path, FileCopy* copy);
#define check_unchanged(path, copy) CheckUnchangedAt(__FILE__, __LINE__, path, copy)
void CheckUnchangedAt(const char* file, int line, const char* path, const FileCopy& copy);
// True when path holds the bytes of copy (or, for a copy of length -1, is
// still not a readable file).
bool SameBytes(const char* path, const FileCopy& copy);

// A small file of three bytes at path.
void Touch(const char* path);
// folder\name, in one of four rotating buffers.
const char* InFolder(const char* folder, const char* name);

// --- Places outside C:\ ------------------------------------------------------------------

extern char CommonDesktop[MAX_PATH];
extern char UserDesktop[MAX_PATH];
extern char WindowsDir[MAX_PATH];
extern char WindowsDesktop[MAX_PATH];
extern const char* const DesktopFiles[3];
extern const char* const SystemFiles[2];
extern const char* const SystemFolders[2];

// Finds the desktops and the Windows folder; true when the two desktops are
// known and distinct.
bool FindPlaces();
// The Windows folder, "system32" or "system", then name; two rotating buffers.
const char* SystemFile(const char* system, const char* name);
// The C: drive is shared by every test program: removes what the tests made,
// there and on the desktops and in the system folders, and clears the faults
// and the reported version.
void CleanPlaces();
