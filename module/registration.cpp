// DllRegisterServer and DllUnregisterServer: the class's keys under
// HKEY_CLASSES_ROOT and the registration of the type library it carries.
// DllInstall with "user" writes and removes the same keys under the user's
// own classes, for a user who may not write the machine's. A registration
// that fails puts back what was there before it.
#include <windows.h>
#include <olectl.h>
#include <shlwapi.h>
#include <cstdio>
#include <cwchar>
#include <new>

#include "module.h"
#include "handles.h"
#include "registry_snapshot.h"
#include "SignaturePad_h.h"

// Declared by the Windows SDK's oleauto.h, not by MinGW-w64's; oleaut32
// exports both.
WINOLEAUTAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path, OLECHAR* helpDirectory);
WINOLEAUTAPI UnRegisterTypeLibForUser(REFGUID libraryId, WORD majorVersion, WORD minorVersion, LCID lcid,
                                      SYSKIND syskind);

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

// "<folder>\<GUID>": the key of a class, a type library or an interface.
class GuidKeyPath {
public:
    GuidKeyPath(const char* folder, REFGUID guid)
    {
        snprintf(text, sizeof text, "%s\\%s", folder, GuidText(guid).c_str());
    }
    const char* c_str() const { return text; }

private:
    char text[300];
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
    // key's default value.
    void setString(HKEY key, const char* name, const char* data)
    {
        if (!key || RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                                   static_cast<DWORD>(strlen(data) + 1)) != ERROR_SUCCESS)
            failed = true;
    }

    // The module file's path as the file system names it, as the key's
    // default value: the wide call keeps every character of it.
    void setPath(HKEY key, const WCHAR* path)
    {
        if (!key || RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                                   static_cast<DWORD>((wcslen(path) + 1) * sizeof(WCHAR))) != ERROR_SUCCESS)
            failed = true;
    }

    bool succeeded() const { return !failed; }

private:
    bool failed = false;
};

// Whether root\path is still there; a key that cannot even be opened for
// reading counts as there.
bool keyExists(HKEY root, const char* path)
{
    UniqueRegKey key;
    return RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, key.put()) != ERROR_FILE_NOT_FOUND;
}

enum class Scope { Machine, User };

// For one user, HKEY_CLASSES_ROOT stands for the user's own classes while
// the type library is registered: RegisterTypeLibForUser writes there by
// itself, but Wine's forwards to RegisterTypeLib, which writes under
// HKEY_CLASSES_ROOT. The override holds for the whole process, which is
// regsvr32 or an installer doing nothing else meanwhile.
class ClassesRootOverride {
public:
    explicit ClassesRootOverride(HKEY classes) { RegOverridePredefKey(HKEY_CLASSES_ROOT, classes); }
    ~ClassesRootOverride() { RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr); }
    ClassesRootOverride(const ClassesRootOverride&) = delete;
    ClassesRootOverride& operator=(const ClassesRootOverride&) = delete;
};

// The type library carried in the module file. A module path too long for
// modulePathWide was left empty, never cut, so there is then no library.
ComPtr<ITypeLib> loadTypeLibrary()
{
    ComPtr<ITypeLib> library;
    if (modulePathWide[0])
        LoadTypeLib(modulePathWide, library.put());
    return library;
}

bool registerTypeLibrary(Scope scope, HKEY classes, ITypeLib* library)
{
    if (scope == Scope::Machine)
        return SUCCEEDED(RegisterTypeLib(library, modulePathWide, nullptr));
    ClassesRootOverride override(classes);
    return SUCCEEDED(RegisterTypeLibForUser(library, modulePathWide, nullptr));
}

// Records under 'root' every key a registration may write: the class, both
// ProgIDs, the type library and the interfaces it describes, which
// RegisterTypeLib registers when they are automation interfaces.
bool recordRegistrationKeys(RegistrySnapshot& snapshot, HKEY root, ITypeLib* library)
{
    if (!snapshot.add(root, GuidKeyPath("CLSID", CLSID_TallowmarkSignaturePad).c_str()) ||
        !snapshot.add(root, versionIndependentProgId) || !snapshot.add(root, progId) ||
        !snapshot.add(root, GuidKeyPath("TypeLib", LIBID_TallowmarkSignaturePad).c_str()))
        return false;
    for (UINT i = 0, count = library->GetTypeInfoCount(); i < count; ++i) {
        ComPtr<ITypeInfo> info;
        TYPEATTR* attributes = nullptr;
        if (FAILED(library->GetTypeInfo(i, info.put())) || FAILED(info->GetTypeAttr(&attributes)))
            return false;
        IID iid = attributes->guid;
        bool isInterface = attributes->typekind == TKIND_INTERFACE || attributes->typekind == TKIND_DISPATCH;
        info->ReleaseTypeAttr(attributes);
        if (isInterface && !snapshot.add(root, GuidKeyPath("Interface", iid).c_str()))
            return false;
    }
    return true;
}

// Only one user's registration of the library is removed: the machine's
// stays, as unregistering the machine's class leaves it.
bool unregisterTypeLibraryForUser(HKEY classes)
{
    if (!keyExists(classes, GuidKeyPath("TypeLib", LIBID_TallowmarkSignaturePad).c_str()))
        return true;
    ComPtr<ITypeLib> library = loadTypeLibrary();
    TLIBATTR* attributes = nullptr;
    if (!library || FAILED(library->GetLibAttr(&attributes)))
        return false;
    TLIBATTR registered = *attributes;
    library->ReleaseTLibAttr(attributes);
    ClassesRootOverride override(classes);
    return SUCCEEDED(UnRegisterTypeLibForUser(registered.guid, registered.wMajorVerNum, registered.wMinorVerNum,
                                              registered.lcid, registered.syskind));
}

// Writes the class key and the two ProgID keys under 'root' (the machine's
// or the user's classes), each value right after its key. Every step is
// attempted whatever failed before it.
bool registerClass(HKEY root, const char* clsid)
{
    RegistryWriter writer;
    UniqueRegKey classes = writer.openKey(root, "CLSID", KEY_CREATE_SUB_KEY);
    UniqueRegKey classKey = writer.createKey(classes.get(), clsid);
    writer.setString(classKey.get(), nullptr, className);
    writer.setString(writer.createKey(classKey.get(), "Control").get(), nullptr, "");
    writer.setString(writer.createKey(classKey.get(), "ProgID").get(), nullptr, progId);

    // All three server keys name the module file itself.
    auto createServerKey = [&](const char* name) {
        UniqueRegKey key = writer.createKey(classKey.get(), name);
        writer.setPath(key.get(), modulePathWide);
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
    UniqueRegKey independent = writer.createKey(root, versionIndependentProgId);
    writer.setString(writer.createKey(independent.get(), "CurVer").get(), nullptr, progId);
    UniqueRegKey versioned = writer.createKey(root, progId);
    writer.setString(writer.createKey(versioned.get(), "CLSID").get(), nullptr, clsid);
    return writer.succeeded();
}

// Registers the type library and the class, from the module file's own
// path, or changes nothing: a path that cannot be recorded or a library that
// cannot be loaded stops it before anything is written, and a key that
// cannot be written puts back what the keys held before. A class tree that
// could not be written wins over a type library that could not be
// registered: without the class nothing can be created.
HRESULT registerOrRestore(Scope scope, HKEY root)
{
    // A path too long for modulePathWide was left empty: there is no server
    // to name.
    if (!modulePathWide[0])
        return SELFREG_E_CLASS;
    ComPtr<ITypeLib> library = loadTypeLibrary();
    if (!library)
        return SELFREG_E_TYPELIB;
    GuidText clsid(CLSID_TallowmarkSignaturePad);
    RegistrySnapshot before;
    if (!recordRegistrationKeys(before, root, library.get()))
        return SELFREG_E_CLASS;
    bool typeLibraryRegistered = registerTypeLibrary(scope, root, library.get());
    bool classRegistered = registerClass(root, clsid.c_str());
    if (typeLibraryRegistered && classRegistered)
        return S_OK;
    before.restore();
    return classRegistered ? SELFREG_E_TYPELIB : SELFREG_E_CLASS;
}

// No exception leaves the entry points. Memory runs out, if at all, while
// the keys are recorded, before anything is written, or while a failed
// registration puts them back.
HRESULT registerServer(Scope scope, HKEY root)
{
    try {
        return registerOrRestore(scope, root);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// Removes the class key and both ProgID keys under 'root' with everything
// below them. Success means the keys are gone, whether deleted now or never
// there.
HRESULT unregisterClass(HKEY root)
{
    GuidText clsid(CLSID_TallowmarkSignaturePad);
    {
        UniqueRegKey classes;
        if (RegOpenKeyExA(root, "CLSID", 0, KEY_CREATE_SUB_KEY, classes.put()) == ERROR_SUCCESS)
            SHDeleteKeyA(classes.get(), clsid.c_str());
    }
    SHDeleteKeyA(root, versionIndependentProgId);
    SHDeleteKeyA(root, progId);

    bool gone = !keyExists(root, GuidKeyPath("CLSID", CLSID_TallowmarkSignaturePad).c_str()) &&
                !keyExists(root, versionIndependentProgId) &&
                !keyExists(root, progId);
    return gone ? S_OK : SELFREG_E_CLASS;
}

const char userClassesPath[] = "Software\\Classes";

// The user's classes, which COM reads before the machine's, with the CLSID
// key that a new profile may still lack.
HRESULT registerForUser()
{
    UniqueRegKey classes, classIds;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, userClassesPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, classes.put(),
                        nullptr) != ERROR_SUCCESS ||
        RegCreateKeyExA(classes.get(), "CLSID", 0, nullptr, 0, KEY_CREATE_SUB_KEY, nullptr, classIds.put(),
                        nullptr) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    return registerServer(Scope::User, classes.get());
}

// Unlike the machine's, the user's type library registration goes too:
// nothing of the user's registration is left.
HRESULT unregisterForUser()
{
    UniqueRegKey classes;
    LSTATUS status = RegOpenKeyExA(HKEY_CURRENT_USER, userClassesPath, 0, KEY_ALL_ACCESS, classes.put());
    if (status == ERROR_FILE_NOT_FOUND)
        return S_OK;
    if (status != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    bool typeLibraryGone = unregisterTypeLibraryForUser(classes.get());
    HRESULT result = unregisterClass(classes.get());
    if (FAILED(result))
        return result;
    return typeLibraryGone ? S_OK : SELFREG_E_TYPELIB;
}

} // namespace

STDAPI DllRegisterServer()
{
    completeModuleStartup();
    return registerServer(Scope::Machine, HKEY_CLASSES_ROOT);
}

// The type library stays registered.
STDAPI DllUnregisterServer()
{
    completeModuleStartup();
    return unregisterClass(HKEY_CLASSES_ROOT);
}

// "regsvr32 /n /i:user" and "regsvr32 /u /n /i:user": the registration of
// one user, who needs no administrator's rights for it.
STDAPI DllInstall(BOOL install, LPCWSTR commandLine)
{
    completeModuleStartup();
    if (!commandLine || lstrcmpiW(commandLine, L"user") != 0)
        return E_INVALIDARG;
    return install ? registerForUser() : unregisterForUser();
}
