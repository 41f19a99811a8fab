// DllRegisterServer and DllUnregisterServer of the built DLL against the
// real registry: the tree they write and remove, regsvr32, creation through
// the ProgIDs, and failures reported as failures.
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

struct LocalMemoryTraits {
    using Type = PSECURITY_DESCRIPTOR;
    static Type invalid() { return nullptr; }
    static void close(Type memory) { LocalFree(memory); }
};

// Gives a key the access control list in SDDL form.
void setKeyAccess(HKEY root, const std::string& path, const char* dacl)
{
    UniqueResource<LocalMemoryTraits> descriptor;
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

TEST_F(Registration, ARowThatCannotBeWrittenFailsTheClassAndEveryLaterRowIsStillWritten)
{
    RedirectedClassesRoot classes;
    classes.createKey(classKey + "\\MiscStatus");
    classes.restrict(classKey + "\\MiscStatus", readOnly);
    classes.redirect(KEY_ALL_ACCESS);

    EXPECT_EQ(registerServer(), SELFREG_E_CLASS);
    RegTree expected = expectedTree(modulePathOf(control().module()));
    expected[classKey + "\\MiscStatus"] = {};
    expected.erase(classKey + "\\MiscStatus\\1");
    EXPECT_EQ(classTree(classes.root()), expected);
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

namespace {

// A copy of the control loaded from a folder whose path is longer than
// 'length' characters.
class FarAwayControl {
public:
    explicit FarAwayControl(size_t length)
        : folder("tallowmark-registration", length)
    {
        std::wstring target = extendedPath(folder.file(controlFileName));
        std::wstring source = extendedPath(testExecutableFolder() + "\\" + controlFileName);
        EXPECT_TRUE(CopyFileW(source.c_str(), target.c_str(), FALSE)) << GetLastError();
        library.reset(LoadLibraryW(target.c_str()));
        module = library.get();
        EXPECT_NE(module, nullptr) << GetLastError();
        path = modulePathOf(module);
    }

    ScratchFolder folder;    // outlives the module loaded from it
    UniqueModule library;
    HMODULE module = nullptr;
    std::string path;
};

} // namespace

TEST_F(Registration, PathTooLongForTheTypeLibraryIsReportedAndTheClassIsStillRegistered)
{
    FarAwayControl copy(300);
    ASSERT_NE(copy.module, nullptr);
    ASSERT_GT(copy.path.size(), 256u);
    ASSERT_LT(copy.path.size(), 1024u);

    EXPECT_EQ(callEntry(copy.module, "DllRegisterServer"), SELFREG_E_TYPELIB);
    EXPECT_EQ(classTree(), expectedTree(copy.path));
    EXPECT_EQ(callEntry(copy.module, "DllUnregisterServer"), S_OK);
    EXPECT_EQ(classTree(), RegTree());
}

TEST_F(Registration, PathTooLongToRecordLeavesTheServerKeysEmptyAndIsReported)
{
    FarAwayControl copy(1100);
    ASSERT_NE(copy.module, nullptr);
    ASSERT_GE(copy.path.size(), 1024u);

    EXPECT_EQ(callEntry(copy.module, "DllRegisterServer"), SELFREG_E_CLASS);
    RegTree expected = expectedTree("");
    for (const char* server : {"\\InprocServer", "\\InprocServer32", "\\LocalServer"})
        expected[classKey + server].erase("");
    EXPECT_EQ(classTree(), expected);
    EXPECT_EQ(callEntry(copy.module, "DllUnregisterServer"), S_OK);
}
