// DllRegisterServer and DllUnregisterServer: the class's keys under
// HKEY_CLASSES_ROOT and the registration of the type library it carries.
#include <windows.h>
#include <olectl.h>
#include <shlwapi.h>
#include <cstdio>

#include "module.h"
#include "handles.h"
#include "SignaturePad_h.h"

namespace {

const char className[] = "Halverin Signature Pad Object";
const char progId[] = "Orlendale.OrlendaleSignaturePad.1";
const char versionIndependentProgId[] = "Orlendale.OrlendaleSignaturePad";
const char classVersion[] = "1.0";
// OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ALWAYSRUN | OLEMISC_ACTIVATEWHENVISIBLE |
// OLEMISC_INSIDEOUT | OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE
const long contentMiscStatus = 0x20991;

// A GUID in its registry form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}",
// in the ANSI code page.
class GuidText {
public:
    explicit GuidText(REFGUID guid)
    {
        WCHAR wide[39];
        StringFromGUID2(guid, wide, ARRAYSIZE(wide));
        WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    }
    const char* c_str() const { return text; }

private:
    char text[256] = "";
};

// Writes keys and string values, and remembers whether any of them could
// not be written. A key that could not be made is an empty handle: what
// belongs below it is then counted as failed too, without a call.
class RegistryWriter {
public:
    UniqueRegKey openKey(HKEY parent, const char* name, REGSAM access)
    {
        UniqueRegKey key;
        if (!parent || RegOpenKeyExA(parent, name, 0, access, key.put()) != ERROR_SUCCESS)
            failed = true;
        return key;
    }

    // Creates parent\name, or opens it when it exists, so its values are
    // overwritten.
    UniqueRegKey createKey(HKEY parent, const char* name)
    {
        UniqueRegKey key;
        if (!parent || RegCreateKeyExA(parent, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                       key.put(), nullptr) != ERROR_SUCCESS)
            failed = true;
        return key;
    }

    // A REG_SZ value with its terminating zero counted; a null name is the
    // key's default value, null data a value there is nothing to write for.
    void setString(HKEY key, const char* name, const char* data)
    {
        if (!key || !data
            || RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                              static_cast<DWORD>(strlen(data) + 1)) != ERROR_SUCCESS)
            failed = true;
    }

    bool succeeded() const { return !failed; }

private:
    bool failed = false;
};

// Loads the type library from the module file and registers it. A module
// path too long for modulePathWide was left empty, never cut, so there is
// then no library to load.
bool registerTypeLibrary()
{
    if (!modulePathWide[0])
        return false;
    ComPtr<ITypeLib> library;
    if (FAILED(LoadTypeLib(modulePathWide, library.put())))
        return false;
    return SUCCEEDED(RegisterTypeLib(library.get(), modulePathWide, nullptr));
}

// Writes the class key and the two ProgID keys, each value right after its
// key. Every step is attempted whatever failed before it.
bool registerClass(const char* clsid)
{
    RegistryWriter writer;
    UniqueRegKey classes = writer.openKey(HKEY_CLASSES_ROOT, "CLSID", KEY_CREATE_SUB_KEY);
    UniqueRegKey classKey = writer.createKey(classes.get(), clsid);
    writer.setString(classKey.get(), nullptr, className);
    writer.setString(writer.createKey(classKey.get(), "Control").get(), nullptr, "");
    writer.setString(writer.createKey(classKey.get(), "ProgID").get(), nullptr, progId);

    // All three server keys name the module file itself. A path too long
    // for modulePath was left empty: the keys are made, but with no server.
    const char* serverPath = modulePath[0] ? modulePath : nullptr;
    auto createServerKey = [&](const char* name) {
        UniqueRegKey key = writer.createKey(classKey.get(), name);
        writer.setString(key.get(), nullptr, serverPath);
        return key;
    };
    createServerKey("InprocServer");
    writer.setString(createServerKey("InprocServer32").get(), "ThreadingModel", "Apartment");
    createServerKey("LocalServer");

    writer.setString(writer.createKey(classKey.get(), "TypeLib").get(), nullptr,
                     GuidText(LIBID_TallowmarkSignaturePad).c_str());
    writer.createKey(classKey.get(), "ToolboxBitmap32");
    writer.setString(writer.createKey(classKey.get(), "Version").get(), nullptr, classVersion);
    UniqueRegKey miscStatus = writer.createKey(classKey.get(), "MiscStatus");
    writer.setString(miscStatus.get(), nullptr, "0");
    char contentStatus[16];
    snprintf(contentStatus, sizeof contentStatus, "%ld", contentMiscStatus);
    writer.setString(writer.createKey(miscStatus.get(), "1").get(), nullptr, contentStatus);

    // The version-independent ProgID leads to the class only through CurVer.
    UniqueRegKey independent = writer.createKey(HKEY_CLASSES_ROOT, versionIndependentProgId);
    writer.setString(writer.createKey(independent.get(), "CurVer").get(), nullptr, progId);
    UniqueRegKey versioned = writer.createKey(HKEY_CLASSES_ROOT, progId);
    writer.setString(writer.createKey(versioned.get(), "CLSID").get(), nullptr, clsid);
    return writer.succeeded();
}

// Whether HKEY_CLASSES_ROOT\path is still there; a key that cannot even be
// opened for reading counts as there.
bool keyExists(const char* path)
{
    UniqueRegKey key;
    return RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_QUERY_VALUE, key.put()) != ERROR_FILE_NOT_FOUND;
}

} // namespace

// A class tree that could not be written wins over a type library that
// could not be registered: without the class nothing can be created.
STDAPI DllRegisterServer()
{
    completeModuleStartup();
    GuidText clsid(CLSID_TallowmarkSignaturePad);
    bool typeLibraryRegistered = registerTypeLibrary();
    if (!registerClass(clsid.c_str()))
        return SELFREG_E_CLASS;
    return typeLibraryRegistered ? S_OK : SELFREG_E_TYPELIB;
}

// Removes the class key and both ProgID keys with everything below them;
// the type library stays registered. Success means the keys are gone,
// whether deleted now or never there.
STDAPI DllUnregisterServer()
{
    completeModuleStartup();
    GuidText clsid(CLSID_TallowmarkSignaturePad);
    {
        UniqueRegKey classes;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_CREATE_SUB_KEY, classes.put()) == ERROR_SUCCESS)
            SHDeleteKeyA(classes.get(), clsid.c_str());
    }
    SHDeleteKeyA(HKEY_CLASSES_ROOT, versionIndependentProgId);
    SHDeleteKeyA(HKEY_CLASSES_ROOT, progId);

    char classKeyPath[300];
    snprintf(classKeyPath, sizeof classKeyPath, "CLSID\\%s", clsid.c_str());
    bool gone = !keyExists(classKeyPath) && !keyExists(versionIndependentProgId) && !keyExists(progId);
    return gone ? S_OK : SELFREG_E_CLASS;
}
