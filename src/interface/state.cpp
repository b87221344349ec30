#include "state.h"

const char InstallDir[] = "C:\\TELDAX";

HINSTANCE ModuleInstance;
HWND OwnerWindow;
OSVERSIONINFOA WindowsVersion;
int UnsupportedWindows;
char ReporterCode[TextBufferSize];
char ReporterDir[TextBufferSize];
char WorkPath[WorkPathSize];
int NeedNewCode;
DWORD BytesRead;
DWORD BytesWritten;
HANDLE CodeFileHandle = INVALID_HANDLE_VALUE;

void AsciiUpperCase(char* text)
{
    for (; *text; ++text) {
        if (*text >= 'a' && *text <= 'z')
            *text = (char)(*text - 'a' + 'A');
    }
}

void AsciiLowerCase(char* text)
{
    for (; *text; ++text) {
        if (*text >= 'A' && *text <= 'Z')
            *text = (char)(*text - 'A' + 'a');
    }
}
