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
// INVALID_HANDLE_VALUE from the load on: DllMain sets it.
HANDLE CodeFileHandle;
int SetupIsSilent;

HANDLE OpenForReading(LPCSTR path)
{
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
}

HANDLE CreateForWriting(LPCSTR path)
{
    return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

void ReadCodeFile(HANDLE file)
{
    ZeroMemory(ReporterDir, sizeof ReporterDir);
    ReadFile(file, ReporterDir, CodeReadSize, &BytesRead, NULL);
}

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

void LineFeedsToBlanks(char* text)
{
    for (; *text; ++text) {
        if (*text == '\n')
            *text = ' ';
    }
}

char* FindCharacter(const char* text, char c, bool last)
{
    const char* found = NULL;
    for (; *text; ++text) {
        if (*text == c) {
            found = text;
            if (!last)
                break;
        }
    }
    return const_cast<char*>(found);
}
