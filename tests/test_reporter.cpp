#include "harness.h"

#include <stdio.h>

int main(int argc, char** argv)
{
    InitHarness(argc, argv);
    LoadLibraryUnderTest();
    CleanDrive();
    SetCwd("C:\\");
    static const DialogAction typeJohn[] = {{TypeText, "john"}, {Snapshot, NULL}, {ClickOk, NULL}};
    ScriptDialog(typeJohn, 3);
    int status = CallExport("BeforeInstall", NULL);
    ok(status == 2, "status %d", status);
    printf("shown %d caption %s field %s owner %p focus %d snap %s ranout %d cwd %s\n", Dialog.shown, Dialog.caption,
           Dialog.fieldAtOpen, Dialog.owner, Dialog.focusOnField, Dialog.snapshots[0], Dialog.scriptRanOut, Cwd());
    char buf[64];
    int n = ReadBytes("C:\\TELDAX\\RC.DAT", buf, sizeof buf);
    printf("%s\n", Show(buf, n));
    return FinishTests("reporter");
}
