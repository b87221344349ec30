#include "shortcuts.h"

#include <shlobj.h>
#include <strsafe.h>

// Defined here rather than taken from the platform's GUID library, which
// would add its whole table to the DLL.
extern "C" const CLSID CLSID_ShellLink = {0x00021401, 0x0000, 0x0000,
                                          {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
extern "C" const IID IID_IShellLinkA = {0x000214EE, 0x0000, 0x0000,
                                        {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
extern "C" const IID IID_IPersistFile = {0x0000010B, 0x0000, 0x0000,
                                         {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// One call's COM session and link object.
struct LinkObject {
    HRESULT comStatus;
    IShellLinkA* link;
    IPersistFile* file;
};

// IPersistFile takes UTF-16 paths. A path that would not fit MAX_PATH
// characters with its zero is refused (E_INVALIDARG) rather than cut.
static HRESULT ConvertPath(LPCSTR path, DWORD flags, WCHAR (&widePath)[MAX_PATH])
{
    HRESULT hr = StringCchLengthA(path, MAX_PATH, NULL);
    if (FAILED(hr))
        return hr;
    ZeroMemory(widePath, sizeof widePath);
    MultiByteToWideChar(CP_ACP, flags, path, -1, widePath, MAX_PATH);
    return S_OK;
}

// Opens COM on this thread and makes a new link object with both of its
// interfaces. CloseLinkObject must follow whatever this returns.
static HRESULT OpenLinkObject(LinkObject* object)
{
    object->link = NULL;
    object->file = NULL;
    object->comStatus = CoInitialize(NULL);
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  (void**)&object->link);
    if (SUCCEEDED(hr))
        hr = object->link->QueryInterface(IID_IPersistFile, (void**)&object->file);
    return hr;
}

// Releases the file interface before the link object. COM is closed only
// when this call opened it: after a failed CoInitialize (the thread is in
// another apartment) a CoUninitialize would close the caller's COM.
static void CloseLinkObject(LinkObject* object)
{
    if (object->file)
        object->file->Release();
    if (object->link)
        object->link->Release();
    if (SUCCEEDED(object->comStatus))
        CoUninitialize();
}

static void ReadProperties(IShellLinkA* link, ShortcutInfo* info)
{
    WIN32_FIND_DATAA found;
    WORD hotkey = 0;
    int iconIndex = 0;
    link->GetPath(info->TargetPath, MAX_PATH, &found, SLGP_SHORTPATH);
    link->GetDescription(info->Description, MAX_PATH);
    link->GetHotkey(&hotkey);
    link->GetIconLocation(info->IconPath, MAX_PATH, &iconIndex);
    link->GetWorkingDirectory(info->WorkingDirectory, MAX_PATH);

    // A text that fills its buffer can come back without its zero.
    info->TargetPath[MAX_PATH - 1] = '\0';
    info->Description[MAX_PATH - 1] = '\0';
    info->IconPath[MAX_PATH - 1] = '\0';
    info->WorkingDirectory[MAX_PATH - 1] = '\0';

    info->Hotkey = hotkey;
    info->IconIndex = LOWORD(iconIndex);
}

HRESULT ReadShortcut(LPCSTR path, ShortcutInfo* info)
{
    WCHAR widePath[MAX_PATH];
    HRESULT hr = ConvertPath(path, 0, widePath);
    if (FAILED(hr))
        return hr;

    LinkObject object;
    hr = OpenLinkObject(&object);
    if (SUCCEEDED(hr))
        hr = object.file->Load(widePath, STGM_READ);
    // No window and no SLR_NO_UI: the shell may ask the user where a moved
    // target went.
    if (SUCCEEDED(hr))
        hr = object.link->Resolve(NULL, SLR_ANY_MATCH);
    if (SUCCEEDED(hr) && info)
        ReadProperties(object.link, info);
    CloseLinkObject(&object);
    return hr;
}

HRESULT WriteShortcut(LPCSTR path, const ShortcutInfo* info)
{
    if (!info)
        return E_FAIL;
    WCHAR widePath[MAX_PATH];
    HRESULT hr = ConvertPath(path, MB_PRECOMPOSED, widePath);
    if (FAILED(hr))
        return hr;

    // A new object: the saved file holds these five properties and no other.
    LinkObject object;
    hr = OpenLinkObject(&object);
    if (SUCCEEDED(hr)) {
        object.link->SetPath(info->TargetPath);
        object.link->SetDescription(info->Description);
        object.link->SetHotkey(info->Hotkey);
        object.link->SetIconLocation(info->IconPath, info->IconIndex);
        object.link->SetWorkingDirectory(info->WorkingDirectory);
        hr = object.file->Save(widePath, TRUE);
    }
    CloseLinkObject(&object);
    return hr;
}
