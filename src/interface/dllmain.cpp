#include "state.h"

// Only records the instance: the dialog template is loaded from this module.
// Never refuses the load.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/)
{
    if (reason == DLL_PROCESS_ATTACH)
        ModuleInstance = instance;
    return TRUE;
}
