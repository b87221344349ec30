#include "../guard/hold.h"
#include "shortcuts.h"

#include <shlobj.h>
#include <strsafe.h>

// Defined here rather than taken from the platform's GUID library, which
// would add its whole table to the DLL.
extern "C" const CLSID CLSID_ShellLink = {0x00021401, 0x0000, 0x0000,
                                          {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
extern "C" const IID IID_IShellLinkA = {0x000214EE, 0x0000, 0x0000,
                                        {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
extern "C" const IID IID_IPersistStream = {0x00000109, 0x0000, 0x0000,
                                           {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The link object never opens the shortcut file by name: it loads from and
// saves into a stream in memory, and the caller's handle, on which the file
// was checked, reads and writes the bytes. Whatever share mode the shell of
// a Windows version would ask for, nothing else opens the file meanwhile.
//
// The streams are CreateStreamOnHGlobal's with no memory given: the
// platform allocates it (GlobalAlloc) and frees it with the stream's last
// Release. The library keeps no heap of its own; each stream lives within
// one call.

// The bytes copied per step between a file and a stream; a shortcut file
// larger than LargestShortcut is read only that far (none comes near it).
enum { CopyStep = 1024, LargestShortcut = 1 << 20 };

// One link object with both interfaces used.
struct LinkObject {
    IShellLinkA* link;
    IPersistStream* stream;
};

static HRESULT MakeLinkObject(LinkObject* object)
{
    object->link = NULL;
    object->stream = NULL;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  (void**)&object->link);
    if (SUCCEEDED(hr))
        hr = object->link->QueryInterface(IID_IPersistStream, (void**)&object->stream);
    return hr;
}

// Releases the stream interface before the link object.
static void DropLinkObject(LinkObject* object)
{
    if (object->stream)
        object->stream->Release();
    if (object->link)
        object->link->Release();
    object->link = NULL;
    object->stream = NULL;
}

// COM is closed only when this call opened it: after a failed CoInitialize
// (the thread is in another apartment) a CoUninitialize would close the
// caller's COM.
static void CloseCom(HRESULT opened)
{
    if (SUCCEEDED(opened))
        CoUninitialize();
}

static HRESULT LastErrorStatus()
{
    DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// The bytes of file from its start, in a new stream at its start.
static HRESULT ReadIntoStream(HANDLE file, IStream** bytes)
{
    HRESULT hr = CreateStreamOnHGlobal(NULL, TRUE, bytes);
    if (FAILED(hr))
        return hr;
    if (SetFilePointer(file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return LastErrorStatus();
    BYTE step[CopyStep];
    DWORD read;
    for (DWORD total = 0; total < LargestShortcut; total += read) {
        if (!ReadFile(file, step, sizeof step, &read, NULL))
            return LastErrorStatus();
        if (read == 0)
            break;
        hr = (*bytes)->Write(step, read, NULL);
        if (FAILED(hr))
            return hr;
    }
    LARGE_INTEGER start = {};
    return (*bytes)->Seek(start, STREAM_SEEK_SET, NULL);
}

// The whole stream in place of what file held: emptied, then written.
static HRESULT WriteFromStream(IStream* bytes, HANDLE file)
{
    LARGE_INTEGER start = {};
    HRESULT hr = bytes->Seek(start, STREAM_SEEK_SET, NULL);
    if (FAILED(hr))
        return hr;
    if (!EmptyHeld(file))
        return LastErrorStatus();
    BYTE step[CopyStep];
    ULONG read;
    DWORD written;
    while (SUCCEEDED(hr = bytes->Read(step, sizeof step, &read)) && read > 0) {
        if (!WriteFile(file, step, read, &written, NULL))
            return LastErrorStatus();
    }
    return hr;
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

HRESULT ReadShortcut(HANDLE file, ShortcutInfo* info, DWORD resolveFlags)
{
    HRESULT com = CoInitialize(NULL);
    LinkObject object;
    IStream* bytes = NULL;
    HRESULT hr = MakeLinkObject(&object);
    if (SUCCEEDED(hr))
        hr = ReadIntoStream(file, &bytes);
    if (SUCCEEDED(hr))
        hr = object.stream->Load(bytes);
    // No window: without SLR_NO_UI the shell may ask where a moved target went.
    if (SUCCEEDED(hr))
        hr = object.link->Resolve(NULL, resolveFlags);
    if (SUCCEEDED(hr) && info)
        ReadProperties(object.link, info);
    if (bytes)
        bytes->Release();
    DropLinkObject(&object);
    CloseCom(com);
    return hr;
}

// The link object's state saved into a new stream.
static HRESULT SaveToStream(const LinkObject& object, IStream** bytes)
{
    HRESULT hr = CreateStreamOnHGlobal(NULL, TRUE, bytes);
    return SUCCEEDED(hr) ? object.stream->Save(*bytes, TRUE) : hr;
}

// Whether the saved shortcut says it holds a relative path: the header's
// LinkFlags (bytes 20 to 23 of the file format, MS-SHLLINK) has
// HasRelativePath (0x8).
static bool SaysRelativePath(IStream* bytes)
{
    LARGE_INTEGER flagsAt;
    flagsAt.QuadPart = 20;
    DWORD flags = 0;
    ULONG read = 0;
    return SUCCEEDED(bytes->Seek(flagsAt, STREAM_SEEK_SET, NULL)) &&
           SUCCEEDED(bytes->Read(&flags, sizeof flags, &read)) && read == sizeof flags && (flags & 0x8);
}

HRESULT WriteShortcut(HANDLE file, LPCSTR path, const ShortcutInfo* info, bool isNew)
{
    if (!info)
        return E_FAIL;
    // The link's own full path, for its relative path and the shell's notice.
    char linkPath[MAX_PATH];
    DWORD length = GetFullPathNameA(path, MAX_PATH, linkPath, NULL);
    if (length == 0 || length >= MAX_PATH)
        return E_INVALIDARG;

    // A new object: the file holds these five properties and no other.
    HRESULT com = CoInitialize(NULL);
    LinkObject object;
    IStream* plain = NULL;
    IStream* bytes = NULL;
    HRESULT hr = MakeLinkObject(&object);
    if (SUCCEEDED(hr)) {
        object.link->SetPath(info->TargetPath);
        object.link->SetDescription(info->Description);
        object.link->SetHotkey(info->Hotkey);
        object.link->SetIconLocation(info->IconPath, info->IconIndex);
        object.link->SetWorkingDirectory(info->WorkingDirectory);
        hr = SaveToStream(object, &plain);
    }
    // The platform's own save of a file also stores the relative path to the
    // target, which SetRelativePath computes against the link's own path.
    // Wine 8's link object instead keeps the given path and writes it without
    // the flag that announces it, so that the working directory and icon read
    // back wrongly: a save that does not say it holds a relative path gives
    // way to the one saved before.
    if (SUCCEEDED(hr) && SUCCEEDED(object.link->SetRelativePath(linkPath, 0)) &&
        SUCCEEDED(SaveToStream(object, &bytes)) && SaysRelativePath(bytes)) {
        plain->Release();
        plain = bytes;
    } else if (bytes) {
        bytes->Release();
    }
    bytes = plain;
    DropLinkObject(&object);
    if (SUCCEEDED(hr))
        hr = WriteFromStream(bytes, file);
    if (bytes)
        bytes->Release();
    CloseCom(com);
    // As the platform's own save of a shortcut tells the shell, so that
    // Explorer shows the change.
    if (SUCCEEDED(hr))
        SHChangeNotify(isNew ? SHCNE_CREATE : SHCNE_UPDATEITEM, SHCNF_PATHA, linkPath, NULL);
    return hr;
}
