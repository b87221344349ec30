#include "administrators_only.h"
#include "hold.h"
#include "install_folder.h"
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
        Refuse("advapi32.dll has no %s (error %lu)", name, GetLastError());
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
    // Only to take a folder over; NULL otherwise.
    decltype(&SetKernelObjectSecurity) setObjectSecurity;
    // The setup program's own user when its token is an administrator's and
    // not the elevated half of a split one (files an administrator makes
    // are often owned by that user); else a SID of no sub-authorities,
    // which matches no owner.
    BYTE installer[8 + 4 * SID_MAX_SUB_AUTHORITIES];
    // What advapi32 reports: a token's groups, an object's security.
    DWORD reported[2048];
};

static bool IsAdministrator(const void* sid, const SecurityCalls& calls)
{
    return SameSid(sid, &SystemSid) || SameSid(sid, &AdministratorsSid) || SameSid(sid, &TrustedInstallerSid) ||
           (calls.installer[1] != 0 && SameSid(sid, calls.installer));
}

// The kernel's own major version: NtMajorVersion in KUSER_SHARED_DATA
// (Microsoft's "KUSER_SHARED_DATA structure (ntddk.h)"), the page the kernel
// maps read-only at 0x7FFE0000 into every NT process. Not GetVersionExA: a
// compatibility mode, which the user's own unelevated processes may set for
// the setup program (HKCU), makes that report an older Windows, and no code
// in the process can change this page. Read with ReadProcessMemory, which
// fails rather than faults where the area is not readable ("if it is not
// accessible the function fails"): then 6, so that the token is asked.
static DWORD KernelMajorVersion()
{
    ULONG major = 6;
    ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<LPCVOID>(0x7FFE026C), &major, sizeof major, NULL);
    return major;
}

// The setup program's user, when its token is in Administrators:
// CheckTokenMembership says so on Windows 2000 and later, the token's
// enabled groups on NT 4.0; and when it is not the elevated half of a split
// token. A token that cannot be read leaves no installing user: then only
// the well-known administrators count.
static void FindInstallingAdministrator(SecurityCalls* calls)
{
    ZeroMemory(calls->installer, sizeof calls->installer);
    SetLastError(ERROR_SUCCESS);
    decltype(&OpenProcessToken) openToken = FIND_CALL(OpenProcessToken);
    decltype(&GetTokenInformation) getTokenInformation = FIND_CALL(GetTokenInformation);
    decltype(&CheckTokenMembership) checkMembership = FIND_CALL(CheckTokenMembership);
    HANDLE token;
    BOOL member = FALSE;
    bool split = false;
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
        // TokenElevationType says from Vista on whether this token is the
        // elevated half of a split one (full): then the same user also runs
        // unelevated, and what that user owns anyone of its processes may
        // change. Before Vista there is no elevation type and no token has
        // a linked one (Microsoft's TOKEN_ELEVATION_TYPE page: "Minimum
        // supported client: Windows Vista"; TokenElevationTypeDefault: "The
        // token does not have a linked token"), so it is asked only of a
        // kernel of 6.0 or later, or of one whose version cannot be read:
        // Wine answers full at every version it plays. The kernel's version,
        // not GetVersionExA's, so that a compatibility mode cannot make a
        // split token's user count.
        TOKEN_ELEVATION_TYPE elevation = TokenElevationTypeDefault;
        if (member && KernelMajorVersion() >= 6 &&
            getTokenInformation(token, TokenElevationType, &elevation, sizeof elevation, &size) &&
            elevation == TokenElevationTypeFull) {
            member = FALSE;
            split = true;
        }
        if (member && getTokenInformation(token, TokenUser, calls->reported, sizeof calls->reported, &size)) {
            const BYTE* user = static_cast<const BYTE*>(reinterpret_cast<TOKEN_USER*>(calls->reported)->User.Sid);
            for (DWORD i = 0; i < SidLength(user) && i < sizeof calls->installer; ++i)
                calls->installer[i] = user[i];
        }
        CloseHandle(token);
    }
    if (split)
        Trace("the setup program's user does not count as an administrator: its token is the elevated half of "
              "a split one, and the same user also runs unelevated");
    else if (!calls->installer[1])
        Trace("the setup program's user does not count as an administrator (error %lu)", GetLastError());
}

// True when only administrators may change the object at handle, or, with
// ownerOnly, when its owner is an administrator; otherwise says why in the
// trace.
static bool OnlyAdministrators(SecurityCalls& calls, HANDLE object, LPCSTR path, bool ownerOnly = false)
{
    DWORD needed;
    PSID owner = NULL;
    PACL dacl = NULL;
    BOOL present = FALSE, defaulted;
    if (!calls.getObjectSecurity(object, OWNER_SECURITY_INFORMATION | (ownerOnly ? 0 : DACL_SECURITY_INFORMATION),
                                 calls.reported, sizeof calls.reported, &needed) ||
        !calls.getOwner(calls.reported, &owner, &defaulted) || !owner ||
        (!ownerOnly && !calls.getDacl(calls.reported, &present, &dacl, &defaulted))) {
        Refuse("%s: its security cannot be read (error %lu)", path, GetLastError());
        return false;
    }
    if (!ownerOnly && (!present || !dacl)) {
        Refuse("%s: it has no DACL, so anyone may change it", path);
        return false;
    }
    // An owner may always change the DACL.
    const void* culprit = IsAdministrator(owner, calls) ? NULL : owner;
    ACCESS_MASK rights = READ_CONTROL | WRITE_DAC;
    // Deny ACEs take nothing away that matters here; every allow ACE counts,
    // inheritable ones too, since they pass to what is put inside later.
    for (DWORD i = 0; !culprit && dacl && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = NULL;
        if (!calls.getAce(dacl, i, reinterpret_cast<LPVOID*>(&ace))) {
            Refuse("%s: its security cannot be read (error %lu)", path, GetLastError());
            return false;
        }
        BYTE type = ace->Header.AceType;
        // The plain and the callback allow ACE lay out the rights and the
        // SID alike; the compound and object ones (never seen on files) are
        // not read here.
        if (type == ACCESS_ALLOWED_COMPOUND_ACE_TYPE || type == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
            type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE) {
            Refuse("%s: an allow ACE of type %u is not read here", path, type);
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
    Refuse("%s: %s may change it%s (rights 0x%08lx)", path, sid, culprit == owner ? " as its owner" : "", rights);
    return false;
}

void ReleaseProgram(HeldProgram* held)
{
    if (held->program != INVALID_HANDLE_VALUE)
        CloseHandle(held->program);
    if (held->folder != INVALID_HANDLE_VALUE)
        CloseHandle(held->folder);
    held->program = held->folder = INVALID_HANDLE_VALUE;
}

static bool FindSecurityCalls(SecurityCalls* calls, bool toChange)
{
    calls->getObjectSecurity = FIND_CALL(GetKernelObjectSecurity);
    calls->getOwner = FIND_CALL(GetSecurityDescriptorOwner);
    calls->getDacl = FIND_CALL(GetSecurityDescriptorDacl);
    calls->getAce = FIND_CALL(GetAce);
    calls->setObjectSecurity = toChange ? FIND_CALL(SetKernelObjectSecurity) : NULL;
    if (!calls->getObjectSecurity || !calls->getOwner || !calls->getDacl || !calls->getAce ||
        (toChange && !calls->setObjectSecurity))
        return false;
    FindInstallingAdministrator(calls);
    return true;
}

// Owner Administrators and the administrators-only DACL for object, set on
// its handle. SetKernelObjectSecurity sets what it is given on that one
// object and passes nothing on by name to what lies below ("Low-level
// Security Descriptor Functions" in Microsoft's documentation; the
// propagation to children is SetNamedSecurityInfo's and SetSecurityInfo's).
// Its page steers file objects to SetSecurityInfo for that propagation,
// which is what is not wanted here: a propagation by name would follow a
// link below; each entry is given its descriptor on its own checked handle.
static bool TakeOver(SecurityCalls& calls, HANDLE object, bool isFolder, LPCSTR path)
{
    if (calls.setObjectSecurity(object, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                AdministratorsDescriptor(isFolder)))
        return true;
    Refuse("%s: its owner and DACL cannot be set (error %lu)", path, GetLastError());
    return false;
}

// How far below the folder its entries are looked at; anything deeper is
// refused rather than passed over.
enum { DeepestEntry = 4 };

// Every entry of folder (held; path names it), each opened without following
// a link and checked to be a real file of one name or a real folder lying
// in folder; then, with takeOver, given the administrators-only owner and
// DACL, else checked that only administrators may change it. Folders are
// walked in turn. False at the first entry refused (GuardReason says why).
static bool CheckEntries(SecurityCalls& calls, const HeldFolder& folder, LPCSTR path, bool takeOver, int depth)
{
    char pattern[MAX_PATH];
    if (FAILED(StringCchPrintfA(pattern, ARRAYSIZE(pattern), "%s\\*", path))) {
        Refuse("%s: its path is too long to list it", path);
        return false;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        Refuse("%s: it cannot be listed (error %lu)", path, GetLastError());
        return false;
    }
    bool accepted = true;
    do {
        if (lstrcmpA(found.cFileName, ".") == 0 || lstrcmpA(found.cFileName, "..") == 0)
            continue;
        char entry[MAX_PATH];
        if (FAILED(StringCchPrintfA(entry, ARRAYSIZE(entry), "%s\\%s", path, found.cFileName))) {
            Refuse("%s\\%s: its path is too long", path, found.cFileName);
            accepted = false;
            break;
        }
        bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // A folder is listed (data access: its share mode holds it while it
        // is walked); a file's data is not touched.
        DWORD access = READ_CONTROL | FILE_READ_ATTRIBUTES | (takeOver ? WRITE_DAC | WRITE_OWNER : 0) |
                       (isFolder ? FILE_LIST_DIRECTORY : 0);
        HANDLE object = CreateFileA(entry, access, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
        if (object == INVALID_HANDLE_VALUE) {
            Refuse("%s: it cannot be opened to be checked (error %lu)", entry, GetLastError());
            accepted = false;
            break;
        }
        DWORD attributes = 0, links = 0;
        // Wine shows a Unix link by its name's attributes only.
        DWORD named = GetFileAttributesA(entry);
        bool real = false;
        if (!HandleAttributes(object, &attributes, &links) || named == INVALID_FILE_ATTRIBUTES)
            Refuse("%s: it cannot be checked", entry);
        else if ((attributes | named) & FILE_ATTRIBUTE_REPARSE_POINT)
            Refuse("%s: it is a reparse point", entry);
        else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) && links > 1)
            Refuse("%s: it has %lu names (a hard link)", entry, links);
        else
            real = LiesInFolder(folder, object, entry, takeOver ? "taken over" : "accepted");
        accepted = real && (takeOver ? TakeOver(calls, object, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, entry)
                                     : OnlyAdministrators(calls, object, entry));
        if (accepted && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            HeldFolder below;
            if (depth >= DeepestEntry) {
                Refuse("%s: it lies more than %d folders deep", entry, DeepestEntry);
                accepted = false;
            } else {
                accepted = AdoptFolder(object, entry, &below, takeOver ? "taken over in" : "accepted in") &&
                           CheckEntries(calls, below, entry, takeOver, depth + 1);
            }
        }
        CloseHandle(object);
    } while (accepted && FindNextFileA(search, &found));
    FindClose(search);
    return accepted;
}

// The volume of path keeps permissions (NTFS); otherwise refused as one on
// which anyone may replace anything. A volume that cannot be asked is taken
// for one that keeps them: the checks of the handles still refuse what
// they find.
static bool KeepsPermissions(LPCSTR path, LPCSTR what)
{
    char root[4] = {path[0], path[1], path[2], '\0'};
    char fileSystem[32] = "";
    DWORD flags = 0;
    if (!GetVolumeInformationA(root, NULL, 0, NULL, NULL, &flags, fileSystem, ARRAYSIZE(fileSystem))) {
        Trace("%s: its file system is unknown (error %lu)", root, GetLastError());
        return true;
    }
    if (flags & FS_PERSISTENT_ACLS)
        return true;
    Refuse("%s: %s keeps no permissions", what, fileSystem);
    return false;
}

// Checks the folder, then the program, each on the handle that then stays
// open: what was checked is what is started; then every entry of the
// folder. The folder shares reading and writing but not deleting, so that
// it cannot be renamed or removed; the program shares reading only, which
// lets the system open it to run it and no one change, delete or rename it.
static bool CheckAndHold(LPCSTR folder, LPCSTR program, HeldProgram* held)
{
    SecurityCalls calls;
    HeldFolder listed;
    if (!FindSecurityCalls(&calls, false) || !HoldFolder(folder, &listed, "started from", READ_CONTROL))
        return false;
    held->folder = listed.handle;
    if (!OnlyAdministrators(calls, held->folder, folder))
        return false;
    // Read access (READ_CONTROL with it) and reading shared only: the system
    // may open it to run it, no one may change, delete or rename it.
    if (!HoldFile(listed, program, ForReading, false, &held->program)) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)
            Refuse("%s: it cannot be opened (error %lu)", program, GetLastError());
        return false;
    }
    return OnlyAdministrators(calls, held->program, program) && CheckEntries(calls, listed, folder, false, 0);
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
    bool trusted = false;
    // FAT and FAT32 on the NT family: anyone may replace the program, and
    // the elevated setup program would start theirs.
    if (KeepsPermissions(folder, program)) {
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

static FolderVerdict CheckFolderAndEntries(LPCSTR path, bool takeOver)
{
    SecurityCalls calls;
    if (!FindSecurityCalls(&calls, takeOver))
        return FolderRefused;
    HeldFolder folder;
    DWORD access = READ_CONTROL | (takeOver ? WRITE_DAC | WRITE_OWNER : 0);
    if (!HoldFolder(path, &folder, takeOver ? "taken over in" : "checked in", access))
        return FolderRefused;
    bool accepted = OnlyAdministrators(calls, folder.handle, path, true);
    // The folder first: from then on no one else may add an entry to it,
    // but through a handle opened before.
    if (accepted && takeOver)
        accepted = TakeOver(calls, folder.handle, true, path) && CheckEntries(calls, folder, path, true, 0);
    ReleaseHold(folder.handle);
    return accepted ? FolderProtected : FolderRefused;
}

FolderVerdict ProtectFolder(LPCSTR path, bool takeOver)
{
    if (IsWindows9x()) {
        Trace("%s: Windows 9x keeps no permissions: nothing to protect", path);
        return FolderUnprotected;
    }
    if (!KeepsPermissions(path, path))
        return FolderRefused;
    Advapi = LoadLibraryA("advapi32.dll");
    FolderVerdict verdict = CheckFolderAndEntries(path, takeOver);
    if (Advapi)
        FreeLibrary(Advapi);
    Advapi = NULL;
    return verdict;
}
