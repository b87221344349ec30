// Stand-in for the Velloran main program in the reference setup program's
// sample product: it exists so that the shortcuts have a real target, and
// does nothing when started.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return 0;
}
