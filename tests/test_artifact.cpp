// The shipped file itself: what a setup program and a Windows loader rely on,
// read from the bytes of build/VINSTALLDLL.dll.
#include "harness.h"

#include "release_settings.h"

#include <stdio.h>
#include <string.h>

// A budget to keep: raise it only on purpose.
static const int SizeBudget = 32 * 1024;

static const char* const SystemDlls[] = {"kernel32.dll", "user32.dll", "shell32.dll", "ole32.dll",
                                         "msvcrt.dll",   "advapi32.dll"};

static BYTE Image[256 * 1024];
static int ImageSize;

static IMAGE_NT_HEADERS32* Nt()
{
    return (IMAGE_NT_HEADERS32*)(Image + ((IMAGE_DOS_HEADER*)Image)->e_lfanew);
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
    ok(Nt()->FileHeader.Machine == IMAGE_FILE_MACHINE_I386, "machine 0x%x", Nt()->FileHeader.Machine);
    ok(Nt()->FileHeader.Characteristics & IMAGE_FILE_DLL, "not a DLL");
    WORD dll = Nt()->OptionalHeader.DllCharacteristics;
    ok(dll & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, "DYNAMIC_BASE not set (0x%x)", dll);
    ok(dll & IMAGE_DLLCHARACTERISTICS_NX_COMPAT, "NX_COMPAT not set (0x%x)", dll);

    IMAGE_SECTION_HEADER* s = IMAGE_FIRST_SECTION(Nt());
    for (int i = 0; i < Nt()->FileHeader.NumberOfSections; ++i, ++s) {
        DWORD c = s->Characteristics;
        ok(!((c & IMAGE_SCN_MEM_WRITE) && (c & IMAGE_SCN_MEM_EXECUTE)), "section %.8s is writable and executable",
           (const char*)s->Name);
    }
}

static void test_imports()
{
    IMAGE_DATA_DIRECTORY dir = Nt()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    IMAGE_IMPORT_DESCRIPTOR* d = (IMAGE_IMPORT_DESCRIPTOR*)AtRva(dir.VirtualAddress);
    ok(d != NULL, "no import directory");
    for (; d && d->Name; ++d) {
        const char* name = (const char*)AtRva(d->Name);
        bool system = false;
        for (const char* s : SystemDlls)
            system = system || (name && _stricmp(s, name) == 0);
        ok(system, "imports from %s, which is not a Windows system DLL", name ? name : "?");
    }
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
    ImageSize = ReadBytes(LibraryPath(), Image, sizeof Image);
    ok(ImageSize > (int)sizeof(IMAGE_DOS_HEADER), "cannot read %s", LibraryPath());
    if (ImageSize <= (int)sizeof(IMAGE_DOS_HEADER))
        return FinishTests("artifact");
    test_headers();
    test_imports();
    test_version_resource();
    return FinishTests("artifact");
}
