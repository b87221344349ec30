// The shipped file itself: what a setup program and a Windows loader rely on,
// read from the bytes of build/VINSTALLDLL.dll.
#include "harness.h"

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

int main(int argc, char** argv)
{
    InitHarness(argc, argv);
    ImageSize = ReadBytes(LibraryPath(), Image, sizeof Image);
    ok(ImageSize > (int)sizeof(IMAGE_DOS_HEADER), "cannot read %s", LibraryPath());
    if (ImageSize <= (int)sizeof(IMAGE_DOS_HEADER))
        return FinishTests("artifact");
    test_headers();
    test_imports();
    return FinishTests("artifact");
}
