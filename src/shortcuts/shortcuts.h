// Shortcut files, read and written through the platform's shell link object
// from and into memory, and through a handle held open by the caller; and
// the rewrite of the product's shortcuts after its files are copied.
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

// Loads the shortcut held open in file (its bytes from the start, read
// through that handle), resolves it with resolveFlags (IShellLinkA::Resolve's,
// with no window) and, when info is not null, fills info. Returns the status
// of the resolve, or of the platform call that failed first; info is left
// unchanged on failure.
HRESULT ReadShortcut(HANDLE file, ShortcutInfo* info, DWORD resolveFlags);

// Makes a shortcut from a new link object holding only the five properties
// of info and writes it through file (held open for reading and writing), in
// place of all it held. path names that file (full, or relative to the
// current directory): the shortcut's relative path to its target is made
// against it, and the shell is told of the change, as of a new file when
// isNew. Returns the status of the save or of the write, of the platform
// call that failed first, E_INVALIDARG for a path that does not fit
// MAX_PATH, or E_FAIL for a null info; the file is untouched unless the
// write itself failed.
HRESULT WriteShortcut(HANDLE file, LPCSTR path, const ShortcutInfo* info, bool isNew);

// Completes reporterDir (MAX_PATH bytes, the reporter code text as read from
// RC.DAT) into the reporter's directory path, rewrites the install folder's
// shortcuts to start there, and replaces the product's desktop shortcut.
// owner is used only for the shell's folder lookup.
void MigrateShortcuts(HWND owner, char* reporterDir);
