// Shortcut files, read and written through the platform's shell link object,
// and the rewrite of the product's shortcuts after its files are copied.
#pragma once
#include <windows.h>

// A shortcut's properties as the library moves them. The four texts belong
// to the caller: for ReadShortcut each points to a writable buffer of
// MAX_PATH bytes, for WriteShortcut to zero-terminated text.
struct ShortcutInfo {
    LPSTR TargetPath;
    LPSTR Description;
    WORD Hotkey;           // virtual key in the low byte, modifiers in the high byte
    LPSTR IconPath;
    WORD IconIndex;        // the low 16 bits of the platform's icon index
    LPSTR WorkingDirectory;
};

// Loads and resolves the shortcut file at path (full, or relative to the
// current directory) and, when info is not null, fills info. Returns the
// status of the resolve, or of the platform call that failed first; info is
// left unchanged on failure.
HRESULT ReadShortcut(LPCSTR path, ShortcutInfo* info);

// Makes the shortcut file at path from a new link object holding only the
// five properties of info, replacing any file of that name. Returns the
// status of the save, of the platform call that failed first, or E_FAIL
// for a null info.
HRESULT WriteShortcut(LPCSTR path, const ShortcutInfo* info);

// Completes reporterDir (MAX_PATH bytes, the reporter code text as read from
// RC.DAT) into the reporter's directory path, rewrites the install folder's
// shortcuts to start there, and replaces the product's desktop shortcut.
// owner is used only for the shell's folder lookup.
void MigrateShortcuts(HWND owner, char* reporterDir);
