// A stand-in for the setup program's first steps: loads VINSTALLDLL.dll,
// calls BeforeInstall with its own window while an automated hand types the
// reporter code into the real dialog and presses OK, then shows what the
// library left behind.
//
//   first_install.exe <VINSTALLDLL.dll> <code>
#include "../tests/harness.h"

#include <stdio.h>

int main(int argc, char** argv)
{
    InitHarness(argc, argv);
    const char* code = argc > 2 ? argv[2] : "john";
    LoadLibraryUnderTest();

    HWND setupWindow = MakeOwnerWindow();
    DialogAction hand[] = {{TypeText, code}, {ClickOk, NULL}};
    ScriptDialog(hand, 2);
    int status = CallExport("BeforeInstall", setupWindow, 0, 0, 0, 0);

    printf("BeforeInstall returned %d\n", status);
    if (Dialog.shown)
        printf("reporter code dialog: \"%s\", code typed: %s%s\n", Dialog.caption, code,
               Dialog.scriptRanOut ? " (refused; dialog cancelled)" : "");
    for (int i = 0; i < MessageCount && i < (int)ARRAYSIZE(Messages); ++i)
        printf("message box \"%s\": %s\n", Messages[i].title, Show(Messages[i].text, lstrlenA(Messages[i].text)));
    printf("current directory: %s\n", Cwd());
    unsigned char record[64];
    int length = ReadBytes("C:\\TELDAX\\RC.DAT", record, sizeof record);
    if (length < 0)
        printf("C:\\TELDAX\\RC.DAT: none\n");
    else
        printf("C:\\TELDAX\\RC.DAT: %s\n", Show(record, length));
    UnloadLibraryUnderTest();
    return 0;
}
