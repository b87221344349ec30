#include "install_folder.h"
#include "../interface/trace.h"
#include "platform.h"
#include "security_ids.h"

#include <stddef.h>

// A self-relative security descriptor, written out byte for byte as NT 4.0
// and later read it: owner Administrators and a DACL whose three ACEs are
// inherited by files and folders alike. NT 4.0 copies inheritable ACEs
// only when something is created (it has no automatic inheritance), which
// is all this folder needs.
template <int Count> struct InheritedAce {
    ACE_HEADER header;
    ACCESS_MASK rights;
    Sid<Count> sid;
};
#define FOLDER_ACE(rights, count, sid) \
    {{ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, sizeof(InheritedAce<count>)}, rights, sid}
struct FolderSecurity {
    SECURITY_DESCRIPTOR_RELATIVE header;
    Sid<2> owner;
    ACL dacl;
    InheritedAce<1> system;
    InheritedAce<2> administrators;
    InheritedAce<2> users;
};
static_assert(sizeof(FolderSecurity) == 20 + 16 + 8 + 20 + 24 + 24, "the descriptor has no gaps");
static const WORD FolderDaclSize = sizeof(FolderSecurity) - offsetof(FolderSecurity, dacl);

// Not const: SE_DACL_PROTECTED is set only where the platform knows it.
static FolderSecurity FolderDescriptor = {
    {SECURITY_DESCRIPTOR_REVISION, 0, SE_SELF_RELATIVE | SE_DACL_PRESENT, offsetof(FolderSecurity, owner), 0, 0,
     offsetof(FolderSecurity, dacl)},
    ADMINISTRATORS_SID,
    {ACL_REVISION, 0, FolderDaclSize, 3, 0},
    FOLDER_ACE(FILE_ALL_ACCESS, 1, SYSTEM_SID),
    FOLDER_ACE(FILE_ALL_ACCESS, 2, ADMINISTRATORS_SID),
    FOLDER_ACE(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, 2, USERS_SID),
};

bool MakeInstallFolder(LPCSTR path)
{
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &FolderDescriptor, FALSE};
    LPSECURITY_ATTRIBUTES security = NULL;
    // Windows 9x keeps no security on files.
    if (!IsWindows9x()) {
        security = &attributes;
        // Windows 2000 brought both automatic inheritance, from which the
        // DACL is protected, and SetSecurityDescriptorControl: the one
        // tells of the other.
        HMODULE advapi = LoadLibraryA("advapi32.dll");
        bool protect = advapi && GetProcAddress(advapi, "SetSecurityDescriptorControl");
        if (!protect)
            Trace("advapi32.dll has no SetSecurityDescriptorControl (error %lu)", GetLastError());
        FolderDescriptor.header.Control = SE_SELF_RELATIVE | SE_DACL_PRESENT | (protect ? SE_DACL_PROTECTED : 0);
        if (advapi)
            FreeLibrary(advapi);
    }

    BOOL made = CreateDirectoryA(path, security);
    // Only an administrator may make Administrators the owner. Without that
    // right the folder cannot be protected at all; the default security at
    // least lets the installation go on as before.
    if (!made && security && GetLastError() == ERROR_INVALID_OWNER) {
        Trace("%s cannot be owned by Administrators (error %lu)", path, GetLastError());
        security = NULL;
        made = CreateDirectoryA(path, NULL);
    }
    DWORD error = GetLastError();
    if (made)
        Trace("%s created%s", path, security ? ", writable by administrators only" : " with the default security");
    else if (error != ERROR_ALREADY_EXISTS)
        Trace("%s not created (error %lu)", path, error);
    SetLastError(error);
    return made != FALSE;
}
