#include "folder_security.h"
#include "trace.h"

#include <strsafe.h>

// --- Well-known SIDs -------------------------------------------------------
// Laid out as the platform lays out a SID (revision, count, the 6-byte
// authority, the sub-authorities), so that they can be used where a PSID is
// asked for without building them at run time.
struct KnownSid {
    BYTE revision;
    BYTE count;
    BYTE authority[6];
    DWORD parts[6];
};
#define NT_SID(count, ...) {SID_REVISION, count, {0, 0, 0, 0, 0, 5}, {__VA_ARGS__}}
static const KnownSid SystemSid = NT_SID(1, 18);
static const KnownSid AdministratorsSid = NT_SID(2, 32, 544);
static const KnownSid TrustedInstallerSid =
    NT_SID(6, 80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u);
// CREATOR OWNER stands in an inheritable ACE for whoever creates the object.
static const KnownSid CreatorOwnerSid = {SID_REVISION, 1, {0, 0, 0, 0, 0, 3}, {0}};

enum { MaxSidSize = 8 + 4 * SID_MAX_SUB_AUTHORITIES };

static DWORD SidLength(const void* sid)
{
    return 8 + 4 * (DWORD)((const BYTE*)sid)[1];
}

static bool SameSid(const void* a, const void* b)
{
    DWORD length = SidLength(a);
    if (length != SidLength(b))
        return false;
    const BYTE* x = (const BYTE*)a;
    const BYTE* y = (const BYTE*)b;
    for (DWORD i = 0; i < length; ++i) {
        if (x[i] != y[i])
            return false;
    }
    return true;
}

// "S-1-5-21-..." for the trace (ConvertSidToStringSidA is Windows 2000 and later).
static void SidText(const void* sid, char* text, size_t size)
{
    const KnownSid* s = (const KnownSid*)sid;
    const BYTE* a = s->authority;
    if (a[0] || a[1])
        StringCchPrintfA(text, size, "S-%u-0x%02x%02x%02x%02x%02x%02x", s->revision, a[0], a[1], a[2], a[3], a[4],
                         a[5]);
    else
        StringCchPrintfA(text, size, "S-%u-%lu", s->revision,
                         (unsigned long)a[2] << 24 | (unsigned long)a[3] << 16 | (unsigned long)a[4] << 8 | a[5]);
    const DWORD* parts = (const DWORD*)((const BYTE*)sid + 8);
    for (BYTE i = 0; i < s->count; ++i) {
        char part[16];
        StringCchPrintfA(part, ARRAYSIZE(part), "-%lu", parts[i]);
        StringCchCatA(text, size, part);
    }
}

static bool IsWindows9x()
{
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

// Finds one advapi32 function by name; null when this Windows lacks it.
template <typename Call> static bool FindCall(HMODULE advapi, LPCSTR name, Call* call)
{
    *call = advapi ? (Call)(void*)GetProcAddress(advapi, name) : NULL;
    return *call != NULL;
}

// --- The install folder's descriptor -----------------------------------------

// An access-allowed ACE inherited by files and folders alike, as it lies in
// an ACL; AceSize counts the SID's real length only.
struct InheritedAce {
    ACE_HEADER header;
    ACCESS_MASK rights;
    KnownSid sid;
};
#define FOLDER_ACE(rights, sid, count)                                                                        \
    {{ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, (WORD)(8 + 8 + 4 * (count))}, rights, \
     sid}
static const InheritedAce FolderAces[] = {
    FOLDER_ACE(FILE_ALL_ACCESS, NT_SID(1, 18), 1),
    FOLDER_ACE(FILE_ALL_ACCESS, NT_SID(2, 32, 544), 2),
    FOLDER_ACE(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, NT_SID(2, 32, 545), 2),
};
static_assert((FILE_GENERIC_READ | FILE_GENERIC_EXECUTE) == 0x1200a9, "read and execute");

struct FolderSecurity {
    SECURITY_DESCRIPTOR descriptor;  // absolute form: points at the ACL and the owner
    DWORD acl[32];
};

// Builds owner Administrators and the DACL by hand, ACE by ACE, the way NT 4.0
// (which knows no automatic inheritance) can do it too; where the platform
// has SetSecurityDescriptorControl the DACL is also protected from the
// parent's inheritable ACEs. Says why in the trace when it cannot.
static bool BuildFolderSecurity(HMODULE advapi, FolderSecurity* security)
{
    decltype(&InitializeSecurityDescriptor) initializeDescriptor;
    decltype(&SetSecurityDescriptorOwner) setOwner;
    decltype(&InitializeAcl) initializeAcl;
    decltype(&AddAce) addAce;
    decltype(&SetSecurityDescriptorDacl) setDacl;
    decltype(&SetSecurityDescriptorControl) setControl;
    const char* missing = !FindCall(advapi, "InitializeSecurityDescriptor", &initializeDescriptor) ? "InitializeSecurityDescriptor"
                          : !FindCall(advapi, "SetSecurityDescriptorOwner", &setOwner)   ? "SetSecurityDescriptorOwner"
                          : !FindCall(advapi, "InitializeAcl", &initializeAcl)           ? "InitializeAcl"
                          : !FindCall(advapi, "AddAce", &addAce)                         ? "AddAce"
                          : !FindCall(advapi, "SetSecurityDescriptorDacl", &setDacl)     ? "SetSecurityDescriptorDacl"
                                                                                          : NULL;
    if (missing) {
        Trace("advapi32.dll has no %s (error %lu)", missing, GetLastError());
        return false;
    }
    PACL acl = (PACL)security->acl;
    bool built = initializeDescriptor(&security->descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                 setOwner(&security->descriptor, (PSID)&AdministratorsSid, FALSE) &&
                 initializeAcl(acl, sizeof security->acl, ACL_REVISION);
    for (const InheritedAce& ace : FolderAces)
        built = built && addAce(acl, ACL_REVISION, MAXDWORD, (LPVOID)&ace, ace.header.AceSize);
    built = built && setDacl(&security->descriptor, TRUE, acl, FALSE);
    if (!built) {
        Trace("the install folder's security descriptor cannot be built (error %lu)", GetLastError());
        return false;
    }
    if (!FindCall(advapi, "SetSecurityDescriptorControl", &setControl))
        Trace("advapi32.dll has no SetSecurityDescriptorControl: the DACL is not marked protected");
    else if (!setControl(&security->descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        Trace("the install folder's DACL cannot be marked protected (error %lu)", GetLastError());
    return true;
}

bool MakeInstallFolder(LPCSTR path)
{
    FolderSecurity security;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &security.descriptor, FALSE};
    // Windows 9x keeps no security on files, and its advapi32 builds none.
    bool secured = false;
    if (!IsWindows9x()) {
        HMODULE advapi = LoadLibraryA("advapi32.dll");
        if (!advapi)
            Trace("advapi32.dll cannot be loaded (error %lu)", GetLastError());
        secured = advapi && BuildFolderSecurity(advapi, &security);
        if (advapi)
            FreeLibrary(advapi);
    }

    BOOL made = CreateDirectoryA(path, secured ? &attributes : NULL);
    // Only an administrator may make Administrators the owner. Without that
    // right the setup program could not protect the folder at all; the
    // default security at least lets it go on as before.
    if (!made && secured && GetLastError() == ERROR_INVALID_OWNER) {
        Trace("%s cannot be owned by Administrators (error %lu): made with the default security", path,
              GetLastError());
        secured = false;
        made = CreateDirectoryA(path, NULL);
    }
    DWORD error = GetLastError();
    if (made)
        Trace("%s created%s", path,
              secured ? ": owner Administrators, SYSTEM and Administrators full control, Users read and execute"
                      : " with the default security");
    else if (error != ERROR_ALREADY_EXISTS)
        Trace("%s not created (error %lu)", path, error);
    SetLastError(error);
    return made != FALSE;
}

// --- The check before a program is started -------------------------------------

// Rights by which someone could change a file or what a folder holds:
// write or append data (add a file or a subfolder), delete, delete what is
// inside, change the DACL or the owner; with their generic forms, which
// inheritable ACEs carry.
static const ACCESS_MASK ChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                        WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

struct SecurityCalls {
    decltype(&GetKernelObjectSecurity) getObjectSecurity;
    decltype(&GetSecurityDescriptorOwner) getOwner;
    decltype(&GetSecurityDescriptorDacl) getDacl;
    decltype(&GetAce) getAce;
    // The setup program's own user when its token is an administrator's
    // (files an administrator makes are often owned by that user); none: a
    // SID of no sub-authorities, which matches no owner.
    DWORD installer[MaxSidSize / 4];
};

static bool IsAdministrator(const void* sid, const SecurityCalls& calls)
{
    return SameSid(sid, &SystemSid) || SameSid(sid, &AdministratorsSid) || SameSid(sid, &TrustedInstallerSid) ||
           (((const BYTE*)calls.installer)[1] != 0 && SameSid(sid, calls.installer));
}

// Finds the setup program's user and whether its token is in Administrators:
// CheckTokenMembership where there is one (Windows 2000 and later), the
// token's enabled groups on NT 4.0. A token that cannot be read leaves no
// installing user: then only the well-known administrators count.
static void FindInstallingAdministrator(HMODULE advapi, SecurityCalls* calls)
{
    ZeroMemory(calls->installer, sizeof calls->installer);
    decltype(&OpenProcessToken) openToken;
    decltype(&GetTokenInformation) getTokenInformation;
    decltype(&CheckTokenMembership) checkMembership;
    if (!FindCall(advapi, "OpenProcessToken", &openToken) ||
        !FindCall(advapi, "GetTokenInformation", &getTokenInformation)) {
        Trace("the setup program's user is not known: advapi32.dll has no token functions (error %lu)",
              GetLastError());
        return;
    }
    HANDLE token;
    if (!openToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        Trace("the setup program's user is not known: its token cannot be opened (error %lu)", GetLastError());
        return;
    }
    DWORD buffer[1024];
    DWORD size = 0;
    bool member = false;
    if (!getTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) {
        Trace("the setup program's user is not known: its token tells no user (error %lu)", GetLastError());
        CloseHandle(token);
        return;
    }
    PSID user = ((TOKEN_USER*)buffer)->User.Sid;
    DWORD userLength = SidLength(user);
    BYTE userSid[MaxSidSize];
    if (userLength > sizeof userSid) {
        CloseHandle(token);
        return;
    }
    for (DWORD i = 0; i < userLength; ++i)
        userSid[i] = ((const BYTE*)user)[i];

    BOOL isMember = FALSE;
    if (FindCall(advapi, "CheckTokenMembership", &checkMembership)) {
        if (checkMembership(NULL, (PSID)&AdministratorsSid, &isMember))
            member = isMember != FALSE;
        else
            Trace("the setup program's membership of Administrators cannot be checked (error %lu)", GetLastError());
    } else if (getTokenInformation(token, TokenGroups, buffer, sizeof buffer, &size)) {
        const TOKEN_GROUPS* groups = (const TOKEN_GROUPS*)buffer;
        for (DWORD i = 0; i < groups->GroupCount; ++i) {
            DWORD state = groups->Groups[i].Attributes;
            if (SameSid(groups->Groups[i].Sid, &AdministratorsSid) && (state & SE_GROUP_ENABLED) &&
                !(state & SE_GROUP_USE_FOR_DENY_ONLY))
                member = true;
        }
    } else {
        Trace("the setup program's groups cannot be read (error %lu)", GetLastError());
    }
    CloseHandle(token);
    if (member) {
        BYTE* installer = (BYTE*)calls->installer;
        for (DWORD i = 0; i < userLength; ++i)
            installer[i] = userSid[i];
    }
}

// Empty when only administrators may change the object at handle; otherwise
// why not, for the trace.
static void CheckObjectSecurity(const SecurityCalls& calls, HANDLE object, char* why, size_t size)
{
    why[0] = '\0';
    DWORD descriptor[2048];
    DWORD needed = 0;
    if (!calls.getObjectSecurity(object, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor,
                                 sizeof descriptor, &needed)) {
        StringCchPrintfA(why, size, "its security cannot be read (error %lu)", GetLastError());
        return;
    }
    char sidText[200];
    PSID owner = NULL;
    BOOL defaulted, present = FALSE;
    if (!calls.getOwner(descriptor, &owner, &defaulted) || !owner) {
        StringCchCopyA(why, size, "it has no owner");
        return;
    }
    if (!IsAdministrator(owner, calls)) {
        SidText(owner, sidText, ARRAYSIZE(sidText));
        StringCchPrintfA(why, size, "it is owned by %s, not by an administrator", sidText);
        return;
    }
    PACL dacl = NULL;
    if (!calls.getDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl) {
        StringCchCopyA(why, size, "it has no DACL: everyone may change it");
        return;
    }
    // Deny ACEs take nothing away that matters here; every allow ACE counts,
    // inheritable ones too, since they pass to what is later put inside.
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = NULL;
        if (!calls.getAce(dacl, i, (LPVOID*)&ace)) {
            StringCchPrintfA(why, size, "its ACE %lu cannot be read (error %lu)", i, GetLastError());
            return;
        }
        switch (ace->AceType) {
        case ACCESS_ALLOWED_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
            // Both lay out the rights and the SID alike.
            const ACCESS_ALLOWED_ACE* allowed = (const ACCESS_ALLOWED_ACE*)ace;
            const void* sid = &allowed->SidStart;
            if ((allowed->Mask & ChangeRights) && !IsAdministrator(sid, calls) && !SameSid(sid, &CreatorOwnerSid)) {
                SidText(sid, sidText, ARRAYSIZE(sidText));
                StringCchPrintfA(why, size, "%s may change it (rights 0x%08lx)", sidText, allowed->Mask);
                return;
            }
            break;
        }
        case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
        case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
            StringCchPrintfA(why, size, "it has an allow ACE of type %u that is not read here", ace->AceType);
            return;
        default:
            break;
        }
    }
}

// Opens path itself, not what a reparse point leads to, and refuses a
// reparse point and an object of the wrong kind. Empty why when opened.
static HANDLE OpenToCheck(LPCSTR path, bool folder, DWORD access, DWORD share, char* why, size_t size)
{
    why[0] = '\0';
    // Wine opens what a Unix link leads to even when asked for the link
    // itself, while the name's attributes show it; on Windows the handle's
    // own attributes below are what counts.
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        StringCchCopyA(why, size, "it is a reparse point");
        return INVALID_HANDLE_VALUE;
    }
    HANDLE object = CreateFileA(path, access | READ_CONTROL, share, NULL, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (object == INVALID_HANDLE_VALUE) {
        StringCchPrintfA(why, size, "it cannot be opened (error %lu)", GetLastError());
        return object;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(object, &info))
        StringCchPrintfA(why, size, "its attributes cannot be read (error %lu)", GetLastError());
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        StringCchCopyA(why, size, "it is a reparse point");
    else if (folder != ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0))
        StringCchCopyA(why, size, folder ? "it is not a folder" : "it is a folder");
    if (why[0]) {
        CloseHandle(object);
        return INVALID_HANDLE_VALUE;
    }
    return object;
}

void ReleaseProgram(HeldProgram* held)
{
    if (held->program != INVALID_HANDLE_VALUE)
        CloseHandle(held->program);
    if (held->folder != INVALID_HANDLE_VALUE)
        CloseHandle(held->folder);
    held->program = held->folder = INVALID_HANDLE_VALUE;
}

// Checks the folder, then the program, each on the handle that then stays
// open: what was checked is what is started.
static bool CheckAndHold(HMODULE advapi, LPCSTR program, LPCSTR folder, HeldProgram* held)
{
    SecurityCalls calls;
    const char* missing = !FindCall(advapi, "GetKernelObjectSecurity", &calls.getObjectSecurity) ? "GetKernelObjectSecurity"
                          : !FindCall(advapi, "GetSecurityDescriptorOwner", &calls.getOwner)    ? "GetSecurityDescriptorOwner"
                          : !FindCall(advapi, "GetSecurityDescriptorDacl", &calls.getDacl)      ? "GetSecurityDescriptorDacl"
                          : !FindCall(advapi, "GetAce", &calls.getAce)                          ? "GetAce"
                                                                                               : NULL;
    if (missing) {
        Trace("%s not started: its security cannot be read: advapi32.dll has no %s (error %lu)", program, missing,
              GetLastError());
        return false;
    }
    FindInstallingAdministrator(advapi, &calls);

    char why[300];
    // The folder shares reading and writing but not deleting, so that it
    // cannot be renamed or removed; the program shares reading only, which
    // lets the system open it to run it and no one change, delete or rename it.
    held->folder = OpenToCheck(folder, true, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, why, ARRAYSIZE(why));
    if (!why[0])
        CheckObjectSecurity(calls, held->folder, why, ARRAYSIZE(why));
    if (why[0]) {
        Trace("%s not started: %s: %s", program, folder, why);
        return false;
    }
    held->program = OpenToCheck(program, false, GENERIC_READ, FILE_SHARE_READ, why, ARRAYSIZE(why));
    if (!why[0])
        CheckObjectSecurity(calls, held->program, why, ARRAYSIZE(why));
    if (why[0]) {
        Trace("%s not started: %s", program, why);
        return false;
    }
    Trace("%s and %s: only administrators may change them", folder, program);
    return true;
}

bool HoldProgramToStart(LPCSTR program, HeldProgram* held)
{
    held->folder = held->program = INVALID_HANDLE_VALUE;
    if (IsWindows9x()) {
        Trace("%s not checked: the Windows 9x family keeps no permissions on files", program);
        return true;
    }
    char folder[MAX_PATH];
    char root[MAX_PATH];
    StringCchCopyA(folder, ARRAYSIZE(folder), program);
    char* name = folder;
    for (char* p = folder; *p; ++p) {
        if (*p == '\\')
            name = p;
    }
    if (name < folder + 3 || lstrlenA(program) >= MAX_PATH) {
        Trace("%s not started: its folder is not known", program);
        return false;
    }
    *name = '\0';
    // "c:\teldax" gives "c:\": the copy is cut to its first three characters.
    StringCchCopyA(root, 4, folder);

    char fileSystem[32];
    DWORD flags = 0;
    if (!GetVolumeInformationA(root, NULL, 0, NULL, NULL, &flags, fileSystem, ARRAYSIZE(fileSystem))) {
        Trace("the file system of %s is not known (error %lu): its permissions are checked", root, GetLastError());
        flags = FS_PERSISTENT_ACLS;
    } else if (!(flags & FS_PERSISTENT_ACLS)) {
        Trace("%s not checked: %s (%s) keeps no permissions on files", program, root, fileSystem);
        return true;
    }

    HMODULE advapi = LoadLibraryA("advapi32.dll");
    if (!advapi) {
        Trace("%s not started: its security cannot be read: advapi32.dll cannot be loaded (error %lu)", program,
              GetLastError());
        return false;
    }
    bool trusted = CheckAndHold(advapi, program, folder, held);
    FreeLibrary(advapi);
    if (!trusted)
        ReleaseProgram(held);
    return trusted;
}
