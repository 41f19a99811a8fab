// Process attach and the start-up work that follows it.
#include <windows.h>
#include <sddl.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "module.h"
#include "handles.h"
#include "scriptel.h"

HINSTANCE moduleHandle;
char modulePath[1024];
WCHAR modulePathWide[256];
WCHAR moduleBaseName[260];
char dataFolder[260];

namespace {

// The text after the last backslash of a path, or after its last slash when
// it has no backslash.
template <typename Char>
const Char* nameAfterFolder(const Char* path)
{
    const Char* backslash = nullptr;
    const Char* slash = nullptr;
    for (const Char* at = path; *at; ++at) {
        if (*at == '\\')
            backslash = at;
        else if (*at == '/')
            slash = at;
    }
    const Char* separator = backslash ? backslash : slash;
    return separator ? separator + 1 : path;
}

} // namespace

const char* moduleFileName()
{
    return nameAfterFolder(modulePath);
}

namespace {

INIT_ONCE startupOnce = INIT_ONCE_STATIC_INIT;

struct ItemIdListTraits {
    using Type = PIDLIST_ABSOLUTE;
    static Type invalid() { return nullptr; }
    static void close(Type list) { CoTaskMemFree(list); }
};

// The full file-system path of a special folder, or the empty string.
void getFolderPath(HWND owner, int csidl, char* folder /* 260 bytes */)
{
    ComInitialization com;
    folder[0] = '\0';

    UniqueResource<ItemIdListTraits> list;
    if (FAILED(SHGetFolderLocation(owner, csidl, nullptr, 0, list.put())))
        return;
    ComPtr<IShellFolder> parent;
    PCUITEMID_CHILD item = nullptr;
    if (FAILED(SHBindToParent(list.get(), IID_IShellFolder, parent.putVoid(), &item)))
        return;
    STRRET name;
    if (FAILED(parent->GetDisplayNameOf(item, SHGDN_FORPARSING, &name)))
        return;
    parent.reset();
    WCHAR* wide = nullptr;
    if (FAILED(StrRetToStrW(&name, item, &wide)))
        return;
    if (!WideCharToMultiByte(CP_ACP, 0, wide, -1, folder, 260, nullptr, nullptr))
        folder[0] = '\0';
    CoTaskMemFree(wide);
}

// Users (BU) may read, write and delete what the folder holds ("Modify"),
// and every file and folder made in it inherits that (OICI). A file one user
// saved is then replaced by another user's save; the rest of the folder's
// permissions come from its parents.
const WCHAR sharedFolderAccess[] = L"D:(A;OICI;0x1301bf;;;BU)";

// A folder whose files every user of the machine may change. When its
// permissions cannot be made, it is not created: a folder with the default
// ones would keep every other user from saving, for good.
void createSharedFolder(const char* path)
{
    UniqueLocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sharedFolderAccess, SDDL_REVISION_1, descriptor.put(),
                                                              nullptr))
        return;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
    CreateDirectoryA(path, &attributes);
}

bool formatPath(char* buffer, size_t size, const char* format, const char* folder)
{
    int length = snprintf(buffer, size, format, folder);
    return length >= 0 && static_cast<size_t>(length) < size;
}

BOOL CALLBACK runStartup(PINIT_ONCE, PVOID, PVOID*)
{
    char folder[260];
    getFolderPath(nullptr, CSIDL_COMMON_APPDATA, folder);

    // A folder too long for "\Tallowmark\Settings" leaves dataFolder empty:
    // the control then keeps no settings file rather than a cut-off one.
    char settingsFolder[sizeof dataFolder];
    if (formatPath(settingsFolder, sizeof settingsFolder, "%s\\Tallowmark\\Settings", folder)) {
        formatPath(dataFolder, sizeof dataFolder, "%s\\Tallowmark", folder);
        CreateDirectoryA(dataFolder, nullptr);
        createSharedFolder(settingsFolder);
    }

    scriptel_init();
    return TRUE;
}

// The file name of the path cut at its last dot; left empty when it does
// not fit.
void recordBaseName(const WCHAR* path)
{
    const WCHAR* name = nameAfterFolder(path);
    size_t length = wcslen(name);
    if (length >= ARRAYSIZE(moduleBaseName))
        return;
    memcpy(moduleBaseName, name, (length + 1) * sizeof(WCHAR));
    if (WCHAR* dot = wcsrchr(moduleBaseName, L'.'))
        *dot = L'\0';
}

} // namespace

void completeModuleStartup()
{
    InitOnceExecuteOnce(&startupOnce, runStartup, nullptr, nullptr);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;

    moduleHandle = instance;
    // A path that does not fit is refused (left empty), never cut: a cut
    // path would name some other file.
    DWORD length = GetModuleFileNameA(instance, modulePath, sizeof modulePath);
    if (length == 0 || length >= sizeof modulePath)
        modulePath[0] = '\0';
    // The wide values come from the file system's own name: converted from
    // modulePath, a character the ANSI code page lacks would stay a '?', and
    // the path would name no file.
    WCHAR path[ARRAYSIZE(modulePath)];
    length = GetModuleFileNameW(instance, path, ARRAYSIZE(path));
    if (length == 0 || length >= ARRAYSIZE(path))
        return TRUE;
    if (length < ARRAYSIZE(modulePathWide))
        memcpy(modulePathWide, path, length * sizeof(WCHAR));
    recordBaseName(path);
    return TRUE;
}
