// Generated hostile inputs, each run through the export that reads it: no
// crash, no hang, the status the rules give, and nothing changed on disk that
// may not change. A fixed seed keeps CI repeatable; for a longer run:
//
//   VINSTALL_CASES=100000 VINSTALL_SEED=7 ctest --preset default -R robustness
#include "harness.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static unsigned Seed = 20261210;
static int Cases = 1000;
static HWND SetupWindow;

static unsigned Random()
{
    // xorshift32: the same sequence on every machine.
    Seed ^= Seed << 13;
    Seed ^= Seed >> 17;
    Seed ^= Seed << 5;
    return Seed;
}

enum Fill { RandomBytes, ZeroFree, AllFF };

static void Generate(unsigned char* out, int size, Fill fill)
{
    for (int i = 0; i < size; ++i) {
        unsigned char b = (unsigned char)Random();
        if (fill == ZeroFree && b == 0)
            b = 1 + (unsigned char)(Random() % 255);
        out[i] = fill == AllFF ? 0xFF : b;
    }
    // Bias toward the forms the reader tells apart.
    if (fill != AllFF && size > 1 && Random() % 4 == 0)
        out[1] = ':';
}

// Every entry at C:\ and in C:\TELDAX with its size, as one text.
static void DescribeDisk(char* out, int size)
{
    int used = 0;
    out[0] = '\0';
    const char* patterns[] = {"C:\\*", "C:\\TELDAX\\*"};
    for (const char* pattern : patterns) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(pattern, &found);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do {
            used += snprintf(out + used, size - used, "%s:%lu;", found.cFileName, found.nFileSizeLow);
        } while (used < size && FindNextFileA(search, &found));
        FindClose(search);
    }
}

static void PrepareTeldax()
{
    CleanDrive();
    MakeDirectory("C:\\TELDAX");
    MakeDirectory("C:\\start");
    SetCwd("C:\\start");
}

// RC.DAT of every length from 0 to 64 bytes: the stored code is used as it
// is, nothing is written, no dialog.
static void test_code_files()
{
    unsigned char bytes[64], after[128];
    char before[2048], now[2048];
    for (int i = 0; i < Cases; ++i) {
        int size = i % 65;
        Fill fill = (Fill)(Random() % 3);
        Generate(bytes, size, fill);
        SetContext("RC.DAT case %d: %s", i, Show(bytes, size));
        LoadLibraryUnderTest();
        PrepareTeldax();
        WriteBytes("C:\\TELDAX\\RC.DAT", bytes, size);
        DescribeDisk(before, sizeof before);
        int status = CallExport("BeforeInstall", SetupWindow);
        ok(status == 1, "status %d", status);
        ok(Dialog.shown == 0 && MessageCount == 0, "dialog %d, messages %d", Dialog.shown, MessageCount);
        int length = ReadBytes("C:\\TELDAX\\RC.DAT", after, sizeof after);
        ok(length == size && memcmp(after, bytes, size) == 0, "RC.DAT changed to %s", Show(after, length));
        DescribeDisk(now, sizeof now);
        ok(strcmp(before, now) == 0, "the disk changed: %s -> %s", before, now);
    }
    ClearContext();
}

// TRAN.PIF of random contents with lengths around 165 (the end of the
// start-up directory) and 900 (what is read): imported when it gives a code,
// else the missing-file message and RC.DAT kept.
static void test_legacy_files()
{
    static unsigned char pif[1024];
    static const char kept[24] = "KEPT";
    unsigned char after[64];
    for (int i = 0; i < Cases; ++i) {
        int size = (i % 2 ? 895 : 160) + (int)(Random() % 11);
        Generate(pif, size, (Fill)(Random() % 3));
        if (size > 165 && Random() % 2) {
            // A plausible start-up directory of random length, zero-ended or not.
            int dirLength = (int)(Random() % 66);
            memcpy(pif + 101, "C:\\", 3);
            if (dirLength < 64)
                pif[101 + dirLength] = 0;
        }
        SetContext("TRAN.PIF case %d: %d bytes, start-up directory %s", i, size, Show(pif + 101, 64));
        LoadLibraryUnderTest();
        PrepareTeldax();
        WriteBytes("C:\\TELDAX\\RC.DAT", kept, sizeof kept);
        WriteBytes("C:\\TELDAX\\TRAN.PIF", pif, size);
        FailCall("CreateFileA", 2, "RC.DAT", ERROR_SHARING_VIOLATION);
        int status = CallExport("BeforeInstall", SetupWindow);
        ClearFaults();

        // What the file should give: the start-up directory's text from its
        // fourth character, upper-cased, when it has at least four.
        char dir[65] = {};
        if (size >= 900)
            memcpy(dir, pif + 101, 64);
        bool imports = strlen(dir) >= 4;
        int length = ReadBytes("C:\\TELDAX\\RC.DAT", after, sizeof after);
        if (imports) {
            unsigned char expected[24] = {};
            const char* code = dir + 3;
            for (int k = 0; k < 24 && code[k]; ++k)
                expected[k] = (unsigned char)(code[k] >= 'a' && code[k] <= 'z' ? code[k] - 32 : code[k]);
            ok(status == 1 && MessageCount == 0, "status %d, %d messages", status, MessageCount);
            ok(length == 24 && memcmp(after, expected, 24) == 0, "RC.DAT %s, expected %s", Show(after, length),
               Show(expected, 24));
        } else {
            ok(status == 0 && MessageCount == 1, "status %d, %d messages", status, MessageCount);
            ok(length == 24 && memcmp(after, kept, 24) == 0, "RC.DAT changed to %s", Show(after, length));
        }
        ok(Dialog.shown == 0, "the dialog was shown");
    }
    ClearContext();
}

int main(int argc, char** argv)
{
    InitHarness(argc, argv);
    if (const char* cases = getenv("VINSTALL_CASES"))
        Cases = atoi(cases);
    if (const char* seed = getenv("VINSTALL_SEED"))
        Seed = (unsigned)strtoul(seed, NULL, 10) | 1;
    printf("robustness: %d cases per input, seed %u\n", Cases, Seed);
    SetupWindow = MakeOwnerWindow();
    test_code_files();
    test_legacy_files();
    CleanDrive();
    return FinishTests("robustness");
}
