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
#define FOLDER_ACE(rights, count, sid, inherit) {{ACCESS_ALLOWED_ACE_TYPE, inherit, sizeof(InheritedAce<count>)}, rights, sid}
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

// The ACEs inherit only in the folder's own. SE_DACL_PROTECTED is added to a
// copy where the platform knows it.
#define SELF_RELATIVE_HEADER                                                                                \
    {SECURITY_DESCRIPTOR_REVISION, 0, SE_SELF_RELATIVE | SE_DACL_PRESENT, offsetof(FolderSecurity, owner), 0, 0, \
     offsetof(FolderSecurity, dacl)}
#define INHERITED (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)
static const FolderSecurity FolderDescriptor = {
    SELF_RELATIVE_HEADER,
    ADMINISTRATORS_SID,
    {ACL_REVISION, 0, FolderDaclSize, 3, 0},
    FOLDER_ACE(FILE_ALL_ACCESS, 1, SYSTEM_SID, INHERITED),
    FOLDER_ACE(FILE_ALL_ACCESS, 2, ADMINISTRATORS_SID, INHERITED),
    FOLDER_ACE(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, 2, USERS_SID, INHERITED),
};
static const FolderSecurity FileDescriptor = {
    SELF_RELATIVE_HEADER,
    ADMINISTRATORS_SID,
    {ACL_REVISION, 0, FolderDaclSize, 3, 0},
    FOLDER_ACE(FILE_ALL_ACCESS, 1, SYSTEM_SID, 0),
    FOLDER_ACE(FILE_ALL_ACCESS, 2, ADMINISTRATORS_SID, 0),
    FOLDER_ACE(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, 2, USERS_SID, 0),
};
// The one handed out, until the next call.
static FolderSecurity Descriptor;

PSECURITY_DESCRIPTOR AdministratorsDescriptor(bool forFolder)
{
    // Windows 2000 brought both automatic inheritance, from which the DACL
    // is protected, and SetSecurityDescriptorControl: the one tells of the
    // other.
    HMODULE advapi = LoadLibraryA("advapi32.dll");
    bool protect = advapi && GetProcAddress(advapi, "SetSecurityDescriptorControl");
    if (!protect)
        Trace("advapi32.dll has no SetSecurityDescriptorControl (error %lu)", GetLastError());
    if (advapi)
        FreeLibrary(advapi);
    Descriptor = forFolder ? FolderDescriptor : FileDescriptor;
    Descriptor.header.Control = SE_SELF_RELATIVE | SE_DACL_PRESENT | (protect ? SE_DACL_PROTECTED : 0);
    return &Descriptor;
}

bool MakeInstallFolder(LPCSTR path, bool orDefault)
{
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, NULL, FALSE};
    LPSECURITY_ATTRIBUTES security = NULL;
    // Windows 9x keeps no security on files.
    if (!IsWindows9x()) {
        security = &attributes;
        attributes.lpSecurityDescriptor = AdministratorsDescriptor(true);
    }

    BOOL made = CreateDirectoryA(path, security);
    // Only an administrator may make Administrators the owner. Without that
    // right the folder cannot be protected at all; where the caller allows
    // it, the default security at least lets the installation go on.
    if (!made && security && GetLastError() == ERROR_INVALID_OWNER) {
        Trace("%s cannot be owned by Administrators (error %lu)", path, GetLastError());
        if (!orDefault) {
            SetLastError(ERROR_INVALID_OWNER);
            return false;
        }
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
