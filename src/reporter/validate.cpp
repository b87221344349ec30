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
        if (strchr(ForbiddenCharacters, *p)) {
            StringCchPrintfA(text, size, InvalidCharactersFormat, ForbiddenCharacters);
            return "Velloran - Invalid Characters";
        }
    }

    // Split at the last '.': a name without one is all base name.
    LPCSTR dot = strrchr(name, '.');
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
