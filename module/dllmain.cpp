// Process attach and the start-up work that follows it.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <cstdio>
#include <cstring>

#include "module.h"
#include "handles.h"
#include "scriptel.h"

HINSTANCE moduleHandle;
char modulePath[1024];
WCHAR modulePathWide[256];
char dataFolder[260];

const char* moduleFileName()
{
    const char* name = strrchr(modulePath, '\\');
    if (!name)
        name = strrchr(modulePath, '/');
    return name ? name + 1 : modulePath;
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
        CreateDirectoryA(settingsFolder, nullptr);
    }

    scriptel_init();
    return TRUE;
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
    ZeroMemory(modulePathWide, sizeof modulePathWide);
    if (!MultiByteToWideChar(CP_ACP, 0, modulePath, -1, modulePathWide, ARRAYSIZE(modulePathWide) - 1))
        ZeroMemory(modulePathWide, sizeof modulePathWide);
    return TRUE;
}
