#include "../interface/state.h"
#include "reporter.h"

#include <strsafe.h>
#include <string.h>

static const char ForbiddenCharacters[] = "\\/:*?\"<>|";
static const size_t MaxBaseNameLength = 24;
static const size_t MaxTypeLength = 3;

static const char InvalidCharactersFormat[] =
    "The file name contains invalid characters.\nThe file name may not include any of the\n"
    "following characters:  %s";
static const char NameTooLongFormat[] =
    "The file name has too many characters.  The\nmaximum number of characters is %d.";
static const char TypeTooLongFormat[] =
    "The file type has too many characters.  The\nmaximum number of characters is %d.";
static const char TooManyCharactersTitle[] = "Velloran - Too Many Characters";

LPCSTR BrokenNameRule(LPCSTR name, char* text, size_t size)
{
    // Each byte is looked at by itself: a lead byte of a double-byte
    // character is never one of the forbidden characters anyway.
    for (LPCSTR p = name; *p; ++p) {
        if (FindCharacter(ForbiddenCharacters, *p)) {
            StringCchPrintfA(text, size, InvalidCharactersFormat, ForbiddenCharacters);
            return "Velloran - Invalid Characters";
        }
    }

    // Split at the last '.': a name without one is all base name.
    LPCSTR dot = FindCharacter(name, '.', true);
    size_t baseLength = dot ? (size_t)(dot - name) : (size_t)lstrlenA(name);
    size_t typeLength = dot ? (size_t)lstrlenA(dot + 1) : 0;

    if (baseLength > MaxBaseNameLength) {
        StringCchPrintfA(text, size, NameTooLongFormat, (int)MaxBaseNameLength);
        return TooManyCharactersTitle;
    }
    if (typeLength > MaxTypeLength) {
        StringCchPrintfA(text, size, TypeTooLongFormat, (int)MaxTypeLength);
        return TooManyCharactersTitle;
    }
    return NULL;
}

int ValidateFileName(HWND owner, LPCSTR name, int showMessages)
{
    char text[TextBufferSize];
    LPCSTR title = BrokenNameRule(name, text, ARRAYSIZE(text));
    if (!title)
        return 1;
    if (showMessages == 1)
        MessageBoxA(owner, text, title, MB_OK | MB_ICONINFORMATION);
    return 0;
}

// Windows takes these for devices in every folder, with any type after the
// first '.', and blanks before it ignored: C:\CON is the console, not a
// folder. COM and LPT count with the digits 1 to 9 and with the superscript
// digits of code page 1252 (0xB9, 0xB2, 0xB3), as Microsoft's "Naming Files,
// Paths, and Namespaces" lists them.
static bool IsDeviceName(LPCSTR name)
{
    int length = 0;
    while (name[length] && name[length] != '.')
        ++length;
    while (length > 0 && name[length - 1] == ' ')
        --length;
    if (length < 3 || length > 4)
        return false;
    // The first three letters, upper-cased, and what follows them.
    char device[4] = {name[0], name[1], name[2], '\0'};
    AsciiUpperCase(device);
    unsigned char number = (unsigned char)name[3];
    bool digit = (number >= '1' && number <= '9') || number == 0xB9 || number == 0xB2 || number == 0xB3;
    static const char Devices[][4] = {"CON", "PRN", "AUX", "NUL", "COM", "LPT"};
    for (int i = 0; i < 6; ++i) {
        const char* d = Devices[i];
        if (device[0] == d[0] && device[1] == d[1] && device[2] == d[2])
            return length == 3 ? i < 4 : i >= 4 && digit;
    }
    return false;
}

LPCSTR BrokenFolderRule(LPCSTR name)
{
    if (!name[0])
        return "it is empty";
    bool onlyDots = true;
    for (LPCSTR p = name; *p; ++p) {
        if ((unsigned char)*p < 0x20 || *p == 0x7F)
            return "it holds a control character";
        onlyDots = onlyDots && *p == '.';
    }
    if (onlyDots)
        return "it consists of dots only, which name C:\\ itself";
    int length = lstrlenA(name);
    if (name[length - 1] == '.' || name[length - 1] == ' ')
        return "it ends in a dot or a blank, which Windows drops from a folder's name";
    if (IsDeviceName(name))
        return "it is the name of a device (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9)";
    return NULL;
}
