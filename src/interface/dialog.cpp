#include "state.h"

INT_PTR ShowDialog(LPCSTR templateName, DLGPROC procedure, LPARAM initParam)
{
    return DialogBoxParamA(ModuleInstance, templateName, OwnerWindow, procedure, initParam);
}
