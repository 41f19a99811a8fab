// DllRegisterServer and DllUnregisterServer of the built DLL against the
// real registry: the tree they write and remove, regsvr32, creation through
// the ProgIDs, copies in folders named outside the code page, and failures
// reported as failures that leave what was there before.
#include "testing.h"
#include "registry_tree.h"

#include <olectl.h>
#include <sddl.h>
#include <shlwapi.h>

namespace {

using ServerEntry = HRESULT(STDAPICALLTYPE*)();

HRESULT callEntry(HMODULE module, const char* name)
{
    auto entry = reinterpret_cast<ServerEntry>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!entry) {
        ADD_FAILURE() << name << " is not exported";
        return E_FAIL;
    }
    return entry();
}

HRESULT registerServer() { return callEntry(control().module(), "DllRegisterServer"); }
HRESULT unregisterServer() { return callEntry(control().module(), "DllUnregisterServer"); }

std::string modulePathOf(HMODULE module)
{
    char path[2048] = "";
    GetModuleFileNameA(module, path, sizeof path);
    return path;
}

// Every test starts and ends with the class unregistered.
class Registration : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(unregisterServer(), S_OK); }
    void TearDown() override { EXPECT_EQ(unregisterServer(), S_OK); }
};

} // namespace

TEST_F(Registration, WritesTheTypeLibraryAndEveryRowOfTheClassTree)
{
    // The type library's registration is removed first so that it is seen
    // to be written again.
    SHDeleteKeyA(HKEY_CLASSES_ROOT, typeLibraryKey.c_str());
    ASSERT_FALSE(keyExists(HKEY_CLASSES_ROOT, typeLibraryKey));
    ASSERT_EQ(registerServer(), S_OK);

    std::string serverPath = modulePathOf(control().module());
    EXPECT_EQ(classTree(), expectedTree(serverPath));

    UniqueBstr typeLibraryPath;
    ASSERT_EQ(QueryPathOfRegTypeLib(LIBID_TallowmarkSignaturePad, 1, 0, 0x409, typeLibraryPath.put()), S_OK);
    EXPECT_EQ(lstrcmpiW(typeLibraryPath.get(), std::wstring(serverPath.begin(), serverPath.end()).c_str()), 0);
}

TEST_F(Registration, RegisteringAgainOverwritesEveryValueAndGivesTheSameTree)
{
    ASSERT_EQ(registerServer(), S_OK);
    RegTree first = classTree();
    ASSERT_EQ(first, expectedTree(modulePathOf(control().module())));

    // Values changed in between by someone else are put back.
    UniqueRegKey server;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, (classKey + "\\InprocServer32").c_str(), 0, KEY_SET_VALUE, server.put()),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(server.get(), "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>("Free"), 5),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(server.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("C:\\x.dll"), 9),
              ERROR_SUCCESS);
    ASSERT_NE(classTree(), first);

    EXPECT_EQ(registerServer(), S_OK);
    EXPECT_EQ(classTree(), first);
}

TEST_F(Registration, UnregisteringRemovesWhatOthersAddedBelowTheKeysAndLeavesTheTypeLibrary)
{
    ASSERT_EQ(registerServer(), S_OK);
    for (const std::string& path : {classKey + "\\Implemented Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}",
                                    classKey + "\\MiscStatus\\2", std::string(progId) + "\\Insertable"}) {
        UniqueRegKey key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key.get(), "Added", 0, REG_SZ, reinterpret_cast<const BYTE*>("by others"), 10),
                  ERROR_SUCCESS);
    }

    EXPECT_EQ(unregisterServer(), S_OK);
    EXPECT_EQ(classTree(), RegTree());
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, "CLSID"));
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + libidText + "\\1.0"));
}

TEST_F(Registration, UnregisteringAClassThatIsNotRegisteredSucceeds)
{
    ASSERT_EQ(classTree(), RegTree());
    EXPECT_EQ(unregisterServer(), S_OK);
    EXPECT_EQ(classTree(), RegTree());
}

namespace {

// Runs "regsvr32.exe /s [options] <control>" and returns its exit code.
DWORD runRegsvr32(const std::string& options)
{
    std::string command = "regsvr32.exe /s " + options + " \"" + testExecutableFolder() + "\\" + controlFileName + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        ADD_FAILURE() << "cannot start " << command << ", error " << GetLastError();
        return ~0u;
    }
    UniqueHandle process(info.hProcess), thread(info.hThread);
    if (WaitForSingleObject(process.get(), 30000) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        ADD_FAILURE() << command << " did not end";
        return ~0u;
    }
    DWORD exitCode = ~0u;
    GetExitCodeProcess(process.get(), &exitCode);
    return exitCode;
}

// A control created by COM through the class a ProgID leads to.
void expectCreatedThrough(const std::string& name)
{
    std::wstring wide(name.begin(), name.end());
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(wide.c_str(), &clsid), S_OK) << name;
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_TallowmarkSignaturePad)) << name;
    ComPtr<ISignaturePad> pad;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISignaturePad, pad.putVoid()), S_OK) << name;
    EXPECT_STREQ(pad->DeviceName(), "ST-1500");
}

// The ProgID a version-independent ProgID names as its current version.
std::string currentVersionOf(const char* independent)
{
    char current[256] = "";
    LONG size = sizeof current;
    EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, (std::string(independent) + "\\CurVer").c_str(), current, &size),
              ERROR_SUCCESS);
    return current;
}

} // namespace

TEST_F(Registration, Regsvr32RegistersAndUnregistersAndTheProgIdsCreateTheControl)
{
    ComApartment com;
    ASSERT_EQ(runRegsvr32(""), 0u);
    EXPECT_EQ(classTree(), expectedTree(testExecutableFolder() + "\\" + controlFileName));
    expectCreatedThrough(progId);
    // The version-independent ProgID names no class itself, only CurVer.
    expectCreatedThrough(currentVersionOf(independentProgId));

    ASSERT_EQ(runRegsvr32("/u"), 0u);
    EXPECT_EQ(classTree(), RegTree());
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(L"Orlendale.OrlendaleSignaturePad.1", &clsid), CO_E_CLASSSTRING);
    ComPtr<ISignaturePad> pad;
    EXPECT_EQ(CoCreateInstance(CLSID_TallowmarkSignaturePad, nullptr, CLSCTX_INPROC_SERVER, IID_ISignaturePad,
                               pad.putVoid()),
              REGDB_E_CLASSNOTREG);
}

namespace {

// Gives a key the access control list in SDDL form.
void setKeyAccess(HKEY root, const std::string& path, const char* dacl)
{
    UniqueLocalMemory descriptor;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(dacl, SDDL_REVISION_1, descriptor.put(), nullptr));
    UniqueRegKey key;
    ASSERT_EQ(RegOpenKeyExA(root, path.c_str(), 0, WRITE_DAC, key.put()), ERROR_SUCCESS) << path;
    ASSERT_EQ(RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor.get()), ERROR_SUCCESS) << path;
}

// Everyone may read and nobody write; nobody may do anything (the owner
// can still change the list); everyone may do everything.
const char readOnly[] = "D:(A;;KR;;;WD)";
const char noAccess[] = "D:";
const char fullAccess[] = "D:(A;;KA;;;WD)";

// HKEY_CLASSES_ROOT redirected, for this process only, to a scratch key
// under HKEY_CURRENT_USER that starts with an empty "CLSID" key. At the end
// the redirection is undone, restricted keys get full access back and
// the scratch key is deleted.
class RedirectedClassesRoot {
public:
    RedirectedClassesRoot()
    {
        SHDeleteKeyA(HKEY_CURRENT_USER, scratchPath);
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, scratchPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  scratch.put(), nullptr),
                  ERROR_SUCCESS);
        createKey("CLSID");
    }

    ~RedirectedClassesRoot()
    {
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        for (const std::string& path : restrictedPaths)
            setKeyAccess(HKEY_CURRENT_USER, path, fullAccess);
        scratch.reset();
        EXPECT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, scratchPath), ERROR_SUCCESS);
    }

    RedirectedClassesRoot(const RedirectedClassesRoot&) = delete;
    RedirectedClassesRoot& operator=(const RedirectedClassesRoot&) = delete;

    HKEY root() const { return scratch.get(); }

    void createKey(const std::string& path)
    {
        UniqueRegKey key;
        ASSERT_EQ(RegCreateKeyExA(scratch.get(), path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                                  nullptr),
                  ERROR_SUCCESS);
    }

    // Restricts access to a key below the scratch key, or to the scratch key
    // itself for "".
    void restrict(const std::string& path, const char* dacl)
    {
        std::string fullPath = path.empty() ? scratchPath : std::string(scratchPath) + "\\" + path;
        setKeyAccess(HKEY_CURRENT_USER, fullPath, dacl);
        restrictedPaths.push_back(fullPath);
    }

    // From here on HKEY_CLASSES_ROOT is the scratch key opened with 'access'.
    void redirect(REGSAM access)
    {
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, scratchPath, 0, access, redirected.put()), ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, redirected.get()), ERROR_SUCCESS);
    }

private:
    static constexpr const char* scratchPath = "Software\\Tallowmark registration test";
    UniqueRegKey scratch;
    UniqueRegKey redirected;
    std::vector<std::string> restrictedPaths;   // under HKEY_CURRENT_USER
};

} // namespace

TEST_F(Registration, ClassesRootWithoutWriteAccessIsReportedAsAClassFailure)
{
    RedirectedClassesRoot classes;
    classes.restrict("CLSID", readOnly);
    classes.restrict("", readOnly);
    classes.redirect(KEY_READ);

    UniqueRegKey refused;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_CREATE_SUB_KEY, refused.put()), ERROR_ACCESS_DENIED);
    EXPECT_EQ(registerServer(), SELFREG_E_CLASS);
    EXPECT_FALSE(keyExists(classes.root(), classKey));
}

// A second registration, from another copy of the control, meets a row it
// cannot write: it fails, and the registration made before, its type
// library's and a key others added included, is as it was.
TEST_F(Registration, ARowThatCannotBeWrittenFailsAndPutsBackTheEarlierRegistration)
{
    RedirectedClassesRoot classes;
    classes.redirect(KEY_ALL_ACCESS);
    ASSERT_EQ(registerServer(), S_OK);
    classes.createKey(classKey + "\\Implemented Categories");
    RegTree before = registrationTree(classes.root());
    ASSERT_EQ(before.count(typeLibraryKey + "\\1.0"), 1u);
    classes.restrict(classKey + "\\MiscStatus\\1", readOnly);

    ControlCopy copy("tallowmark-registration", L"SignaturePad.dll");
    ASSERT_NE(copy.library.module(), nullptr);
    EXPECT_EQ(callEntry(copy.library.module(), "DllRegisterServer"), SELFREG_E_CLASS);
    EXPECT_EQ(registrationTree(classes.root()), before);
}

TEST_F(Registration, AClassKeyThatCannotBeDeletedIsReportedAndTheProgIdsAreStillRemoved)
{
    RedirectedClassesRoot classes;
    classes.redirect(KEY_ALL_ACCESS);
    ASSERT_EQ(registerServer(), S_OK);
    // Deleting a tree needs every key in it opened for reading first.
    classes.restrict(classKey + "\\Control", noAccess);

    EXPECT_EQ(unregisterServer(), SELFREG_E_CLASS);
    EXPECT_TRUE(keyExists(classes.root(), classKey));
    EXPECT_FALSE(keyExists(classes.root(), independentProgId));
    EXPECT_FALSE(keyExists(classes.root(), progId));
}

// Copies in folders whose paths are too long to register from (the type
// library is loaded by a path of at most 255 characters) are refused, and
// the registration made before stays as it was.
TEST_F(Registration, APathTooLongToRegisterFromIsRefusedAndChangesNothing)
{
    ASSERT_EQ(registerServer(), S_OK);
    RegTree before = registrationTree();
    for (size_t length : {300u, 1100u}) {
        ControlCopy copy("tallowmark-registration", L"SignaturePad.dll", length);
        ASSERT_NE(copy.library.module(), nullptr);
        ASSERT_GT(modulePathOf(copy.library.module()).size(), 256u);
        EXPECT_EQ(callEntry(copy.library.module(), "DllRegisterServer"), SELFREG_E_CLASS) << length;
        EXPECT_EQ(registrationTree(), before) << length;
    }
}

// A copy in a folder, and under a name, that the ANSI code page cannot spell
// registers its true path in the server keys and the type library's
// registration, for the machine and, through DllInstall, for one user; every
// other row is as usual (read in the code page, the path shows its '?').
TEST_F(Registration, AControlNamedOutsideTheCodePageRegistersItsTruePath)
{
    ControlCopy copy("tallowmark-registration", foreignControlPath());
    HMODULE module = copy.library.module();
    ASSERT_NE(module, nullptr);
    auto expectTruePath = [&](HKEY root) {
        EXPECT_EQ(classTree(root), expectedTree(modulePathOf(module)));
        for (const char* server : {"\\InprocServer", "\\InprocServer32", "\\LocalServer"})
            EXPECT_EQ(registryText(root, classKey + server), copy.path) << server;
        EXPECT_EQ(registryText(root, typeLibraryKey + "\\1.0\\409\\win64"), copy.path);
    };
    ASSERT_EQ(callEntry(module, "DllRegisterServer"), S_OK);
    expectTruePath(HKEY_CLASSES_ROOT);
    // The server COM loads is the copy (not loaded through COM itself, which
    // would keep it for good).
    UniqueModule server(LoadLibraryW(registryText(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32").c_str()));
    EXPECT_EQ(server.get(), module);
    // The type library registered from the built control again, as the
    // other cases leave it.
    EXPECT_EQ(registerServer(), S_OK);

    auto install = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR)>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllInstall")));
    ASSERT_NE(install, nullptr);
    UniqueRegKey classes;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Classes", 0, nullptr, 0, KEY_READ, nullptr, classes.put(),
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(install(TRUE, L"user"), S_OK);
    expectTruePath(classes.get());
    EXPECT_EQ(install(FALSE, L"user"), S_OK);
    EXPECT_EQ(registrationTree(classes.get()), RegTree());
}
