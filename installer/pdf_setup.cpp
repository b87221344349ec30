// Stand-in for the PDF converter's installer, shipped as install.exe: it
// records what it was started with into install-received.txt beside itself
// (the parameters and the working directory) and ends.
#include <windows.h>

#include <stdio.h>
#include <string.h>

// The command line after the program's own name, quoted or not.
static const char* Parameters(const char* line)
{
    if (*line == '"') {
        const char* end = strchr(line + 1, '"');
        line = end ? end + 1 : line + strlen(line);
    } else {
        while (*line && *line != ' ' && *line != '\t')
            ++line;
    }
    while (*line == ' ' || *line == '\t')
        ++line;
    return line;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show)
{
    char path[MAX_PATH], directory[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    char* slash = strrchr(path, '\\');
    if (length == 0 || length >= sizeof path || !slash)
        return 1;
    strcpy(slash + 1, "install-received.txt");
    if (!GetCurrentDirectoryA(sizeof directory, directory))
        directory[0] = '\0';

    FILE* record = fopen(path, "wb");
    if (!record)
        return 1;
    fprintf(record, "parameters: %s\r\ndirectory: %s\r\nshow: %d\r\n", Parameters(GetCommandLineA()), directory,
            show);
    fclose(record);
    return 0;
}
