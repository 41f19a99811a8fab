// Self-registration: the component and its property page as in-process
// servers under HKEY_CLASSES_ROOT\CLSID.
#include <windows.h>
#include <olectl.h>
#include <string>
#include <vector>

#include "Prelvane_h.h"
#include "handles.h"
#include "server.h"

namespace {

struct ServerClass {
    const CLSID* clsid;
    const wchar_t* name;
    const wchar_t* threadingModel;
};

// The component keeps its state under its own lock, so it can live in any
// apartment; the property page is a window and stays in its creator's.
const ServerClass serverClasses[] = {
    {&CLSID_Prelvane, L"Prelvane properties component", L"Both"},
    {&CLSID_PrelvanePropertyPage, L"Prelvane property page", L"Apartment"},
};

std::wstring classKeyPath(const CLSID& clsid)
{
    wchar_t text[40] = L"";
    StringFromGUID2(clsid, text, ARRAYSIZE(text));
    return std::wstring(L"CLSID\\") + text;
}

bool setString(HKEY key, const wchar_t* name, const std::wstring& value)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool createKey(HKEY parent, const std::wstring& path, UniqueRegKey& key)
{
    return RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) ==
           ERROR_SUCCESS;
}

bool registerClass(const ServerClass& serverClass, const std::wstring& serverPath)
{
    UniqueRegKey classKey;
    UniqueRegKey serverKey;
    return createKey(HKEY_CLASSES_ROOT, classKeyPath(*serverClass.clsid), classKey) &&
           setString(classKey.get(), nullptr, serverClass.name) &&
           createKey(classKey.get(), L"InprocServer32", serverKey) &&
           setString(serverKey.get(), nullptr, serverPath) &&
           setString(serverKey.get(), L"ThreadingModel", serverClass.threadingModel);
}

// The module's full path, however long.
std::wstring modulePath()
{
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameW(serverModule, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::wstring();
        if (length < path.size())
            return std::wstring(path.data(), length);
        if (path.size() >= 32768)
            return std::wstring();
        path.resize(path.size() * 2);
    }
}

} // namespace

STDAPI DllRegisterServer()
{
    std::wstring serverPath = modulePath();
    if (serverPath.empty())
        return SELFREG_E_CLASS;
    for (const ServerClass& serverClass : serverClasses)
        if (!registerClass(serverClass, serverPath))
            return SELFREG_E_CLASS;
    return S_OK;
}

STDAPI DllUnregisterServer()
{
    HRESULT result = S_OK;
    for (const ServerClass& serverClass : serverClasses) {
        LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, classKeyPath(*serverClass.clsid).c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            result = SELFREG_E_CLASS;
    }
    return result;
}
