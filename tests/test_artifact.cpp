// The built file itself: what a setup program and a Windows loader rely on,
// read from its bytes. The second argument names the architecture the file
// must be built for, x86 (the shipped build/VINSTALLDLL.dll) or x64; a 64-bit
// test program reads a 32-bit file as well as its own kind.
#include "harness.h"
#include "src/interface/exports.h"

#include "release_settings.h"

#include <stdio.h>
#include <string.h>

// A budget to keep: raise it only on purpose.
static const int SizeBudget = 40 * 1024;

static const char* const SystemDlls[] = {"kernel32.dll", "user32.dll", "shell32.dll", "ole32.dll",
                                         "msvcrt.dll",   "advapi32.dll"};

static BYTE Image[256 * 1024];
static int ImageSize;
static bool Expect64;

static IMAGE_NT_HEADERS32* Nt()
{
    return (IMAGE_NT_HEADERS32*)(Image + ((IMAGE_DOS_HEADER*)Image)->e_lfanew);
}

// The optional header differs between the two formats; only the fields
// read here are asked for.
static bool Is64()
{
    return Nt()->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
}

static IMAGE_DATA_DIRECTORY Directory(int entry)
{
    return Is64() ? ((IMAGE_NT_HEADERS64*)Nt())->OptionalHeader.DataDirectory[entry]
                  : Nt()->OptionalHeader.DataDirectory[entry];
}

static WORD DllCharacteristics()
{
    return Is64() ? ((IMAGE_NT_HEADERS64*)Nt())->OptionalHeader.DllCharacteristics
                  : Nt()->OptionalHeader.DllCharacteristics;
}

// The file offset of a relative virtual address, or NULL outside every section.
static BYTE* AtRva(DWORD rva)
{
    IMAGE_SECTION_HEADER* s = IMAGE_FIRST_SECTION(Nt());
    for (int i = 0; i < Nt()->FileHeader.NumberOfSections; ++i, ++s) {
        if (rva >= s->VirtualAddress && rva < s->VirtualAddress + s->Misc.VirtualSize) {
            DWORD offset = rva - s->VirtualAddress + s->PointerToRawData;
            return offset < (DWORD)ImageSize ? Image + offset : NULL;
        }
    }
    return NULL;
}

static void test_headers()
{
    printf("VINSTALLDLL.dll: %d bytes (budget %d)\n", ImageSize, SizeBudget);
    ok(ImageSize > 0 && ImageSize < SizeBudget, "the DLL is %d bytes, over its budget of %d", ImageSize, SizeBudget);
    ok(((IMAGE_DOS_HEADER*)Image)->e_magic == IMAGE_DOS_SIGNATURE && Nt()->Signature == IMAGE_NT_SIGNATURE,
       "not a PE file");
    WORD machine = Expect64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
    ok(Nt()->FileHeader.Machine == machine, "machine 0x%x, expected 0x%x", Nt()->FileHeader.Machine, machine);
    ok(Is64() == Expect64, "optional header magic 0x%x", Nt()->OptionalHeader.Magic);
    ok(Nt()->FileHeader.Characteristics & IMAGE_FILE_DLL, "not a DLL");
    WORD dll = DllCharacteristics();
    ok(dll & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, "DYNAMIC_BASE not set (0x%x)", dll);
    ok(dll & IMAGE_DLLCHARACTERISTICS_NX_COMPAT, "NX_COMPAT not set (0x%x)", dll);

    IMAGE_SECTION_HEADER* s = IMAGE_FIRST_SECTION(Nt());
    for (int i = 0; i < Nt()->FileHeader.NumberOfSections; ++i, ++s) {
        DWORD c = s->Characteristics;
        ok(!((c & IMAGE_SCN_MEM_WRITE) && (c & IMAGE_SCN_MEM_EXECUTE)), "section %.8s is writable and executable",
           (const char*)s->Name);
    }
}

// The setup program finds the exports by their plain names, undecorated,
// in a module that calls itself VINSTALLDLL.dll; nothing else is exported.
static void test_exports()
{
    IMAGE_EXPORT_DIRECTORY* exports = (IMAGE_EXPORT_DIRECTORY*)AtRva(Directory(IMAGE_DIRECTORY_ENTRY_EXPORT).VirtualAddress);
    ok(exports != NULL, "no export directory");
    if (!exports)
        return;
    const char* module = (const char*)AtRva(exports->Name);
    ok(module && strcmp(module, "VINSTALLDLL.dll") == 0, "module name \"%s\"", module ? module : "?");
    ok(exports->NumberOfNames == ARRAYSIZE(ExportNames) && exports->NumberOfFunctions == ARRAYSIZE(ExportNames),
       "%lu exported names and %lu functions, expected %u", exports->NumberOfNames, exports->NumberOfFunctions,
       (unsigned)ARRAYSIZE(ExportNames));
    DWORD* names = (DWORD*)AtRva(exports->AddressOfNames);
    for (DWORD i = 0; names && i < exports->NumberOfNames; ++i) {
        const char* name = (const char*)AtRva(names[i]);
        bool expected = false;
        for (const char* e : ExportNames)
            expected = expected || (name && strcmp(e, name) == 0);
        ok(expected, "unexpected export \"%s\"", name ? name : "?");
    }
}

// Each function the file imports, with the oldest Windows of each family
// that has it: the library supports Windows 95 and NT 4.0 (each with Internet
// Explorer 4's desktop update) and every later one, and a loader refuses the
// whole DLL when one import is missing. A function some of them lack is
// reached through GetProcAddress and does not belong here.
struct AllowedImport {
    const char* dll;
    const char* function;
    const char* oldest9x;
    const char* oldestNt;
    const char* source;
};

#include "windows_imports.inc"

static void CheckImportedFunction(const char* dll, const char* function)
{
    for (const AllowedImport& a : AllowedImports) {
        if (_stricmp(a.dll, dll) == 0 && strcmp(a.function, function) == 0)
            return;
    }
    ok(false, "imports %s from %s, which is not on the list of functions that Windows 95 and NT 4.0 have",
       function, dll);
}

static void test_imports()
{
    IMAGE_DATA_DIRECTORY dir = Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    IMAGE_IMPORT_DESCRIPTOR* d = (IMAGE_IMPORT_DESCRIPTOR*)AtRva(dir.VirtualAddress);
    ok(d != NULL, "no import directory");
    int functions = 0;
    for (; d && d->Name; ++d) {
        const char* name = (const char*)AtRva(d->Name);
        bool system = false;
        for (const char* s : SystemDlls)
            system = system || (name && _stricmp(s, name) == 0);
        ok(system, "imports from %s, which is not a Windows system DLL", name ? name : "?");
        // The names, from the lookup table (the address table once bound).
        BYTE* thunk = AtRva(d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk);
        int step = Is64() ? 8 : 4;
        for (; thunk; thunk += step) {
            ULONGLONG entry = Is64() ? *(ULONGLONG*)thunk : *(DWORD*)thunk;
            if (!entry)
                break;
            bool byOrdinal = Is64() ? (entry & IMAGE_ORDINAL_FLAG64) != 0 : (entry & IMAGE_ORDINAL_FLAG32) != 0;
            ok(!byOrdinal, "imports ordinal %u from %s: ordinals differ between Windows versions",
               (unsigned)(entry & 0xffff), name ? name : "?");
            IMAGE_IMPORT_BY_NAME* byName = byOrdinal ? NULL : (IMAGE_IMPORT_BY_NAME*)AtRva((DWORD)entry);
            if (byName && name) {
                CheckImportedFunction(name, (const char*)byName->Name);
                ++functions;
            }
        }
    }
    ok(functions > 0, "no imported function found");
}

// What a loader of the oldest accepted Windows looks at before it calls the
// entry point: Windows 95 refuses LoadLibrary of a DLL with static thread
// local storage, and the header's versions say which Windows the file asks
// for.
static void test_loads_on_oldest_windows()
{
    IMAGE_DATA_DIRECTORY tls = Directory(IMAGE_DIRECTORY_ENTRY_TLS);
    ok(tls.VirtualAddress == 0 && tls.Size == 0, "a TLS directory at 0x%lx, %lu bytes: Windows 95 refuses to load it",
       tls.VirtualAddress, tls.Size);
    if (Is64()) {
        const IMAGE_OPTIONAL_HEADER64& h = ((IMAGE_NT_HEADERS64*)Nt())->OptionalHeader;
        // The 64-bit build runs where 64-bit Windows does; only the shipped
        // 32-bit file must reach back to 4.0.
        ok(h.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI, "subsystem %u", h.Subsystem);
        return;
    }
    const IMAGE_OPTIONAL_HEADER32& h = Nt()->OptionalHeader;
    ok(h.MajorOperatingSystemVersion == 4 && h.MinorOperatingSystemVersion == 0, "operating system version %u.%u",
       h.MajorOperatingSystemVersion, h.MinorOperatingSystemVersion);
    ok(h.MajorSubsystemVersion == 4 && h.MinorSubsystemVersion == 0, "subsystem version %u.%u",
       h.MajorSubsystemVersion, h.MinorSubsystemVersion);
    ok(h.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI, "subsystem %u", h.Subsystem);
}

// The version resource as Explorer's Properties show it: the build's
// versions, with the fixed numbers agreeing with the texts.
struct VersionText {
    const char* name;
    const char* expected;
};

static const VersionText VersionTexts[] = {
    {"ProductName", "Velloran"},
    {"OriginalFilename", "VINSTALLDLL.dll"},
    {"InternalName", "VINSTALLDLL"},
    {"FileDescription", "Velloran installation steps"},
    {"FileVersion", VINSTALL_FILE_VERSION},
    {"ProductVersion", VINSTALL_PRODUCT_VERSION},
};

static void CheckVersionNumbers(const char* what, DWORD high, DWORD low, const char* expected)
{
    char numbers[32];
    snprintf(numbers, sizeof numbers, "%lu.%lu.%lu.%lu", high >> 16, high & 0xffff, low >> 16, low & 0xffff);
    ok(strcmp(numbers, expected) == 0, "%s numbers %s, expected %s", what, numbers, expected);
}

static void test_version_resource()
{
    static BYTE info[16 * 1024];
    DWORD size = GetFileVersionInfoSizeA(LibraryPath(), NULL);
    ok(size > 0 && size <= sizeof info, "version resource of %lu bytes (error %lu)", size, GetLastError());
    if (size == 0 || size > sizeof info || !GetFileVersionInfoA(LibraryPath(), 0, size, info))
        return;

    VS_FIXEDFILEINFO* fixed = NULL;
    UINT length = 0;
    ok(VerQueryValueA(info, "\\", (void**)&fixed, &length) && length == sizeof *fixed &&
           fixed->dwSignature == VS_FFI_SIGNATURE,
       "no fixed file information");
    if (!fixed)
        return;
    ok(fixed->dwFileType == VFT_DLL, "file type %lu, expected VFT_DLL", fixed->dwFileType);
    ok((fixed->dwFileFlags & fixed->dwFileFlagsMask) == 0, "flags 0x%lx: a debug or pre-release build",
       fixed->dwFileFlags & fixed->dwFileFlagsMask);
    CheckVersionNumbers("file version", fixed->dwFileVersionMS, fixed->dwFileVersionLS, VINSTALL_FILE_VERSION);
    CheckVersionNumbers("product version", fixed->dwProductVersionMS, fixed->dwProductVersionLS,
                        VINSTALL_PRODUCT_VERSION);

    WORD* translation = NULL;
    ok(VerQueryValueA(info, "\\VarFileInfo\\Translation", (void**)&translation, &length) && length >= 4 &&
           translation[0] == 0x409 && translation[1] == 1252,
       "translation %04x/%u, expected 0409/1252", translation ? translation[0] : 0, translation ? translation[1] : 0);
    for (const VersionText& t : VersionTexts) {
        char query[64];
        snprintf(query, sizeof query, "\\StringFileInfo\\040904E4\\%s", t.name);
        const char* value = NULL;
        bool found = VerQueryValueA(info, query, (void**)&value, &length) && value;
        ok(found && strcmp(value, t.expected) == 0, "%s is \"%s\", expected \"%s\"", t.name,
           found ? value : "(none)", t.expected);
    }
}

int main(int argc, char** argv)
{
    InitHarness(argc, argv);
    Expect64 = argc > 2 && strcmp(argv[2], "x64") == 0;
    printf("%s, expected %s\n", LibraryPath(), Expect64 ? "x64" : "x86");
    ImageSize = ReadBytes(LibraryPath(), Image, sizeof Image);
    ok(ImageSize > (int)sizeof(IMAGE_DOS_HEADER), "cannot read %s", LibraryPath());
    if (ImageSize <= (int)sizeof(IMAGE_DOS_HEADER))
        return FinishTests("artifact");
    test_headers();
    test_exports();
    test_imports();
    test_loads_on_oldest_windows();
    test_version_resource();
    return FinishTests("artifact");
}
