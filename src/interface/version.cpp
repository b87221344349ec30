#include "state.h"
#include "trace.h"

// Versions up to 6.2 pass on either platform family; 6.3 and later are
// refused. The verdict is reset first so that an earlier refusal does not
// outlive a call that reports a passing version. When GetVersionExA fails
// the record stays zero (version 0.0, platform 0) and the version passes.
void CheckWindowsVersion()
{
    ZeroMemory(&WindowsVersion, sizeof WindowsVersion);
    WindowsVersion.dwOSVersionInfoSize = sizeof WindowsVersion;
    if (!GetVersionExA(&WindowsVersion))
        Trace("GetVersionExA failed (error %lu): the version reads 0.0", GetLastError());

    UnsupportedWindows = 0;
    if (WindowsVersion.dwMajorVersion > 6) {
        UnsupportedWindows = 1;
        return;
    }
    if (WindowsVersion.dwMajorVersion == 6 && WindowsVersion.dwMinorVersion > 2)
        UnsupportedWindows = 1;
}

static_assert(sizeof(OSVERSIONINFOA) == 148, "the version record is 148 bytes");
