#include "../guard/hold.h"
#include "../interface/exports.h"
#include "../interface/state.h"
#include "../interface/trace.h"
#include "release_settings.h"

#include <strsafe.h>

// Download addresses are whole texts of the build: the server's base address
// joined to each path by the compiler.
static const char UpdateInstallerAddress[] = VINSTALL_DOWNLOAD_BASE VINSTALL_UPDATE_INSTALLER;
static const char UpdateDetailsAddress[] = VINSTALL_DOWNLOAD_BASE VINSTALL_UPDATE_DETAILS;
static const char MasterLoadInstallerAddress[] = VINSTALL_DOWNLOAD_BASE VINSTALL_MASTER_LOAD_INSTALLER;
static const char MasterLoadDetailsAddress[] = VINSTALL_DOWNLOAD_BASE VINSTALL_MASTER_LOAD_DETAILS;

static_assert(sizeof UpdateInstallerAddress <= WorkPathSize && sizeof UpdateDetailsAddress <= WorkPathSize &&
                  sizeof MasterLoadInstallerAddress <= WorkPathSize &&
                  sizeof MasterLoadDetailsAddress <= WorkPathSize,
              "every download address fits WorkPath");

// Creates or replaces one record file in folder holding exactly the bytes of
// text: no line end, no terminating zero. With a date, text is a notice
// format filled with its month, day and year. The file is checked and then
// written through the same handle (emptied first, as a create that replaces
// a file would); one that cannot be held is passed over and keeps what it
// held.
static void WriteRecordFile(const HeldFolder& folder, LPCSTR path, LPCSTR text, const SYSTEMTIME* date)
{
    HANDLE file;
    bool created;
    if (!HoldFile(folder, path, ForWriting, true, &file, &created))
        return;
    if (!EmptyHeld(file)) {
        Trace("%s not created (error %lu): passed over", path, GetLastError());
        ReleaseUnwritten(file, path, created);
        return;
    }
    HRESULT placed = date ? StringCchPrintfA(WorkPath, ARRAYSIZE(WorkPath), text, date->wMonth,
                                             date->wDay, date->wYear)
                          : StringCchCopyA(WorkPath, ARRAYSIZE(WorkPath), text);
    // The build refuses texts that could outgrow WorkPath; should one not fit
    // all the same, the file is left empty rather than holding a cut record.
    if (FAILED(placed))
        Trace("%s left empty: its text does not fit (0x%08lX)", path, (unsigned long)placed);
    else if (WriteFile(file, WorkPath, lstrlenA(WorkPath), &BytesWritten, NULL))
        Trace("%s written: %lu bytes", path, BytesWritten);
    else
        Trace("%s not written (error %lu)", path, GetLastError());
    ReleaseHold(file);
}

// One reading of the clock, in UTC, dates the notice. The files are written
// in this order, each whatever became of the one before, while the install
// folder is held: a folder that may not be written in gets none of them.
static void WriteReleaseRecords(LPCSTR noticeFormat, LPCSTR installerAddress, LPCSTR detailsAddress)
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    HeldFolder folder;
    if (!HoldFolder("c:\\teldax", &folder))
        return;
    WriteRecordFile(folder, "c:\\teldax\\Update.txt", noticeFormat, &now);
    WriteRecordFile(folder, "c:\\teldax\\UpdName.txt", installerAddress, NULL);
    WriteRecordFile(folder, "c:\\teldax\\UpdDetails.txt", detailsAddress, NULL);
    ReleaseHold(folder.handle);
}

VINSTALL_EXPORT UpdateInfo(HWND window, LPARAM, LPARAM, LPARAM, LPARAM)
{
    TraceCall("UpdateInfo", window);
    WriteReleaseRecords(VINSTALL_UPDATE_NOTICE, UpdateInstallerAddress, UpdateDetailsAddress);
    return TraceReturn("UpdateInfo", 1);
}

VINSTALL_EXPORT MLDInfo(HWND window, LPARAM, LPARAM, LPARAM, LPARAM)
{
    TraceCall("MLDInfo", window);
    WriteReleaseRecords(VINSTALL_MASTER_LOAD_NOTICE, MasterLoadInstallerAddress, MasterLoadDetailsAddress);
    return TraceReturn("MLDInfo", 1);
}

// Shows the same notice on every call and looks at nothing else; the box's
// answer does not matter, beyond telling whether it could be shown. Where
// nobody could answer it, it is passed over, with the same status.
VINSTALL_EXPORT Chk4TELDAX(HWND window, LPARAM, LPARAM, LPARAM, LPARAM)
{
    TraceCall("Chk4TELDAX", window);
    int shown = ShowMessage(window, VINSTALL_NO_UPDATE_NOTICE, "Velloran - No Update", MB_OK | MB_ICONINFORMATION);
    if (shown == 1)
        Trace("no-update notice shown");
    else if (shown == 0)
        Trace("no-update notice not shown (error %lu)", GetLastError());
    return TraceReturn("Chk4TELDAX", 0);
}
