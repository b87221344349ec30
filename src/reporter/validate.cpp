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

static void ShowLengthMessage(HWND owner, LPCSTR format, size_t maximum)
{
    char text[TextBufferSize];
    StringCchPrintfA(text, ARRAYSIZE(text), format, (int)maximum);
    MessageBoxA(owner, text, TooManyCharactersTitle, MB_OK | MB_ICONINFORMATION);
}

int ValidateFileName(HWND owner, LPCSTR name, int showMessages)
{
    // Each byte is looked at by itself: a lead byte of a double-byte
    // character is never one of the forbidden characters anyway.
    for (LPCSTR p = name; *p; ++p) {
        if (strchr(ForbiddenCharacters, *p)) {
            if (showMessages == 1) {
                char text[TextBufferSize];
                StringCchPrintfA(text, ARRAYSIZE(text), InvalidCharactersFormat, ForbiddenCharacters);
                MessageBoxA(owner, text, "Velloran - Invalid Characters", MB_OK | MB_ICONINFORMATION);
            }
            return 0;
        }
    }

    // Split at the last '.': a name without one is all base name.
    LPCSTR dot = strrchr(name, '.');
    size_t baseLength = dot ? (size_t)(dot - name) : strlen(name);
    size_t typeLength = dot ? strlen(dot + 1) : 0;

    if (baseLength > MaxBaseNameLength) {
        if (showMessages == 1)
            ShowLengthMessage(owner, NameTooLongFormat, MaxBaseNameLength);
        return 0;
    }
    if (typeLength > MaxTypeLength) {
        if (showMessages == 1)
            ShowLengthMessage(owner, TypeTooLongFormat, MaxTypeLength);
        return 0;
    }
    return 1;
}
