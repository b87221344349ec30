#include "administrators_only.h"
#include "hold.h"
#include "../interface/trace.h"
#include "platform.h"
#include "security_ids.h"

#include <strsafe.h>

static const Sid<1> SystemSid = SYSTEM_SID;
static const Sid<2> AdministratorsSid = ADMINISTRATORS_SID;
static const Sid<6> TrustedInstallerSid =
    NT_SID(6, 80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u);
// CREATOR OWNER stands in an inheritable ACE for whoever creates the object.
static const Sid<1> CreatorOwnerSid = {SID_REVISION, 1, {0, 0, 0, 0, 0, 3}, {0}};

static DWORD SidLength(const void* sid)
{
    return 8 + 4 * (DWORD)static_cast<const BYTE*>(sid)[1];
}

static bool SameSid(const void* a, const void* b)
{
    DWORD length = SidLength(a);
    if (length != SidLength(b))
        return false;
    for (DWORD i = 0; i < length; ++i) {
        if (static_cast<const BYTE*>(a)[i] != static_cast<const BYTE*>(b)[i])
            return false;
    }
    return true;
}

// "S-1-5-21-..." for the trace (ConvertSidToStringSidA is Windows 2000 and
// later). An authority above 32 bits, which Windows does not hand out,
// shows its low 32 bits.
static void SidText(const BYTE* sid, char* text, size_t size)
{
    StringCchPrintfA(text, size, "S-%u-%lu", sid[0],
                     (unsigned long)sid[4] << 24 | (unsigned long)sid[5] << 16 | sid[6] << 8 | sid[7]);
    for (BYTE i = 0; i < sid[1]; ++i) {
        size_t used = lstrlenA(text);
        StringCchPrintfA(text + used, size - used, "-%lu", reinterpret_cast<const DWORD*>(sid + 8)[i]);
    }
}

// advapi32 while a check runs; its functions are found by name, since
// Windows 95's lacks some of them.
static HMODULE Advapi;

static FARPROC FindCall(LPCSTR name)
{
    FARPROC call = Advapi ? GetProcAddress(Advapi, name) : NULL;
    if (!call)
        Trace("advapi32.dll has no %s (error %lu)", name, GetLastError());
    return call;
}
#define FIND_CALL(function) reinterpret_cast<decltype(&function)>(reinterpret_cast<void*>(FindCall(#function)))

// Rights by which someone could change a file or what a folder holds:
// write or append data (add a file or a subfolder), write its extended
// attributes or its attributes (which alone can turn an empty folder into a
// junction), delete, delete what is inside, change the DACL or the owner;
// with their generic forms, which inheritable ACEs carry.
static const ACCESS_MASK ChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                        FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                        GENERIC_ALL;

struct SecurityCalls {
    decltype(&GetKernelObjectSecurity) getObjectSecurity;
    decltype(&GetSecurityDescriptorOwner) getOwner;
    decltype(&GetSecurityDescriptorDacl) getDacl;
    decltype(&GetAce) getAce;
    // The setup program's own user when its token is an administrator's
    // (files an administrator makes are often owned by that user); else a
    // SID of no sub-authorities, which matches no owner.
    BYTE installer[8 + 4 * SID_MAX_SUB_AUTHORITIES];
    // What advapi32 reports: a token's groups, an object's security.
    DWORD reported[2048];
};

static bool IsAdministrator(const void* sid, const SecurityCalls& calls)
{
    return SameSid(sid, &SystemSid) || SameSid(sid, &AdministratorsSid) || SameSid(sid, &TrustedInstallerSid) ||
           (calls.installer[1] != 0 && SameSid(sid, calls.installer));
}

// The setup program's user, when its token is in Administrators:
// CheckTokenMembership says so on Windows 2000 and later, the token's
// enabled groups on NT 4.0. A token that cannot be read leaves no installing
// user: then only the well-known administrators count.
static void FindInstallingAdministrator(SecurityCalls* calls)
{
    ZeroMemory(calls->installer, sizeof calls->installer);
    SetLastError(ERROR_SUCCESS);
    decltype(&OpenProcessToken) openToken = FIND_CALL(OpenProcessToken);
    decltype(&GetTokenInformation) getTokenInformation = FIND_CALL(GetTokenInformation);
    decltype(&CheckTokenMembership) checkMembership = FIND_CALL(CheckTokenMembership);
    HANDLE token;
    BOOL member = FALSE;
    DWORD size;
    if (openToken && getTokenInformation && openToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        if (checkMembership) {
            checkMembership(NULL, const_cast<Sid<2>*>(&AdministratorsSid), &member);
        } else if (getTokenInformation(token, TokenGroups, calls->reported, sizeof calls->reported, &size)) {
            const TOKEN_GROUPS* groups = reinterpret_cast<const TOKEN_GROUPS*>(calls->reported);
            for (DWORD i = 0; i < groups->GroupCount; ++i) {
                if (SameSid(groups->Groups[i].Sid, &AdministratorsSid) &&
                    (groups->Groups[i].Attributes & (SE_GROUP_ENABLED | SE_GROUP_USE_FOR_DENY_ONLY)) ==
                        SE_GROUP_ENABLED)
                    member = TRUE;
            }
        }
        if (member && getTokenInformation(token, TokenUser, calls->reported, sizeof calls->reported, &size)) {
            const BYTE* user = static_cast<const BYTE*>(reinterpret_cast<TOKEN_USER*>(calls->reported)->User.Sid);
            for (DWORD i = 0; i < SidLength(user) && i < sizeof calls->installer; ++i)
                calls->installer[i] = user[i];
        }
        CloseHandle(token);
    }
    if (!calls->installer[1])
        Trace("the setup program's user does not count as an administrator (error %lu)", GetLastError());
}

// True when only administrators may change the object at handle; otherwise
// says why in the trace.
static bool OnlyAdministrators(SecurityCalls& calls, HANDLE object, LPCSTR path)
{
    DWORD needed;
    PSID owner = NULL;
    PACL dacl = NULL;
    BOOL present = FALSE, defaulted;
    if (!calls.getObjectSecurity(object, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, calls.reported,
                                 sizeof calls.reported, &needed) ||
        !calls.getOwner(calls.reported, &owner, &defaulted) || !owner ||
        !calls.getDacl(calls.reported, &present, &dacl, &defaulted)) {
        Trace("%s: its security cannot be read (error %lu)", path, GetLastError());
        return false;
    }
    if (!present || !dacl) {
        Trace("%s: it has no DACL, so anyone may change it", path);
        return false;
    }
    // An owner may always change the DACL.
    const void* culprit = IsAdministrator(owner, calls) ? NULL : owner;
    ACCESS_MASK rights = READ_CONTROL | WRITE_DAC;
    // Deny ACEs take nothing away that matters here; every allow ACE counts,
    // inheritable ones too, since they pass to what is put inside later.
    for (DWORD i = 0; !culprit && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = NULL;
        if (!calls.getAce(dacl, i, reinterpret_cast<LPVOID*>(&ace))) {
            Trace("%s: its security cannot be read (error %lu)", path, GetLastError());
            return false;
        }
        BYTE type = ace->Header.AceType;
        // The plain and the callback allow ACE lay out the rights and the
        // SID alike; the compound and object ones (never seen on files) are
        // not read here.
        if (type == ACCESS_ALLOWED_COMPOUND_ACE_TYPE || type == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
            type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE) {
            Trace("%s: an allow ACE of type %u is not read here", path, type);
            return false;
        }
        const void* grantee = &ace->SidStart;
        if ((type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE) &&
            (ace->Mask & ChangeRights) && !IsAdministrator(grantee, calls) && !SameSid(grantee, &CreatorOwnerSid)) {
            culprit = grantee;
            rights = ace->Mask;
        }
    }
    if (!culprit)
        return true;
    char sid[200];
    SidText(static_cast<const BYTE*>(culprit), sid, ARRAYSIZE(sid));
    Trace("%s: %s may change it%s (rights 0x%08lx)", path, sid, culprit == owner ? " as its owner" : "", rights);
    return false;
}

// Opens path itself, never what a reparse point leads to, and refuses a
// reparse point. The program is opened without backup semantics, so that a
// folder of its name does not open.
static HANDLE OpenToCheck(LPCSTR path, bool folder, DWORD access, DWORD share)
{
    // Wine opens what a Unix link leads to even when asked for the link
    // itself, while the name's attributes show it; on Windows the handle's
    // own attributes below are what counts.
    DWORD attributes = GetFileAttributesA(path);
    HANDLE object = INVALID_HANDLE_VALUE;
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        object = CreateFileA(path, access | READ_CONTROL, share, NULL, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0), NULL);
        if (object == INVALID_HANDLE_VALUE) {
            Trace("%s: it cannot be opened (error %lu)", path, GetLastError());
            return object;
        }
        if (HandleAttributes(object, &attributes) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return object;
        CloseHandle(object);
    }
    Trace("%s: it is a reparse point (or of unknown kind)", path);
    return INVALID_HANDLE_VALUE;
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
// open: what was checked is what is started. The folder shares reading and
// writing but not deleting, so that it cannot be renamed or removed; the
// program shares reading only, which lets the system open it to run it and
// no one change, delete or rename it.
static bool CheckAndHold(LPCSTR folder, LPCSTR program, HeldProgram* held)
{
    SecurityCalls calls;
    calls.getObjectSecurity = FIND_CALL(GetKernelObjectSecurity);
    calls.getOwner = FIND_CALL(GetSecurityDescriptorOwner);
    calls.getDacl = FIND_CALL(GetSecurityDescriptorDacl);
    calls.getAce = FIND_CALL(GetAce);
    if (!calls.getObjectSecurity || !calls.getOwner || !calls.getDacl || !calls.getAce)
        return false;
    FindInstallingAdministrator(&calls);
    held->folder = OpenToCheck(folder, true, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (held->folder == INVALID_HANDLE_VALUE || !OnlyAdministrators(calls, held->folder, folder))
        return false;
    held->program = OpenToCheck(program, false, GENERIC_READ, FILE_SHARE_READ);
    return held->program != INVALID_HANDLE_VALUE && OnlyAdministrators(calls, held->program, program);
}

bool HoldProgramToStart(LPCSTR folder, LPCSTR program, HeldProgram* held)
{
    held->folder = held->program = INVALID_HANDLE_VALUE;
    // The 9x family has no elevation: the setup program's rights are
    // everyone's there, and a program is started as designed.
    if (IsWindows9x()) {
        Trace("%s%s: %s keeps no permissions", program, " not checked", "Windows 9x");
        return true;
    }
    char root[4] = {folder[0], folder[1], folder[2], '\0'};
    char fileSystem[32] = "";
    DWORD flags = 0;
    if (!GetVolumeInformationA(root, NULL, 0, NULL, NULL, &flags, fileSystem, ARRAYSIZE(fileSystem))) {
        Trace("%s: its file system is unknown (error %lu)", root, GetLastError());
        flags = FS_PERSISTENT_ACLS;
    }
    bool trusted = false;
    if (!(flags & FS_PERSISTENT_ACLS)) {
        // FAT and FAT32 on the NT family: anyone may replace the program,
        // and the elevated setup program would start theirs.
        Trace("%s%s: %s keeps no permissions", program, "", fileSystem);
    } else {
        Advapi = LoadLibraryA("advapi32.dll");
        trusted = CheckAndHold(folder, program, held);
        if (Advapi)
            FreeLibrary(Advapi);
        Advapi = NULL;
    }
    if (trusted) {
        Trace("%s and %s: only administrators may change them", folder, program);
    } else {
        Trace("%s not started", program);
        ReleaseProgram(held);
    }
    return trusted;
}
