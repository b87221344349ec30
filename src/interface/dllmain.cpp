#include "state.h"

// Records the instance: the dialog template is loaded from this module. And
// gives CodeFileHandle its value at load, INVALID_HANDLE_VALUE, before any
// export can run: set here rather than by an initialiser, the library has
// no initialised data of its own, which would cost a section of 512 bytes.
// Never refuses the load.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/)
{
    if (reason == DLL_PROCESS_ATTACH) {
        ModuleInstance = instance;
        CodeFileHandle = INVALID_HANDLE_VALUE;
    }
    return TRUE;
}
