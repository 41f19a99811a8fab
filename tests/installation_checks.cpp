// What tests/installer_test.sh checks between its steps, each in a Wine
// prefix of its own: the package installed, upgraded and removed, one user's
// registration and its removal, and a copy of this program in an
// application's folder with the control, registration-free. The script picks
// a step's cases with --gtest_filter and says what it installed in
// environment variables:
//   SIGNATUREPAD_BUILT_CONTROL  the built SignaturePad.dll (a Windows path)
//   SIGNATUREPAD_PACKAGE        the installed package's version
//   SIGNATUREPAD_SDK            1 when the SDK feature was installed, else 0
#include "testing.h"
#include "registry_tree.h"
#include "scriptel.h"
#include "version.h"

#include <commctrl.h>
#include <msi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <thread>

namespace {

const char upgradeCode[] = "{E52A7864-FB0C-40D9-B119-8F853BC934DB}";
const char padLibraryName[] = "libscriptel-proscript-windows-x64.dll";

std::string environment(const char* name)
{
    char value[1024] = "";
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length < sizeof value ? value : "";
}

std::string folderOf(const std::string& path)
{
    return path.substr(0, path.find_last_of('\\'));
}

std::string programFilesFolder()
{
    char folder[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, folder);
    return folder;
}

std::string installFolder() { return programFilesFolder() + "\\Tallowmark\\Signature Pad"; }
std::string installedControl() { return installFolder() + "\\SignaturePad.dll"; }
std::string settingsFile() { return commonAppDataFolder() + "\\Tallowmark\\Settings\\SignaturePad.settings"; }

std::string modulePath(HMODULE module)
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(module, path, sizeof path);
    return path;
}

// An open key of the registry, or an empty one.
UniqueRegKey openKey(HKEY root, const char* path)
{
    UniqueRegKey key;
    RegOpenKeyExA(root, path, 0, KEY_READ, key.put());
    return key;
}

// The machine's and the user's classes, which HKEY_CLASSES_ROOT merges.
RegTree machineRows() { return registrationTree(openKey(HKEY_LOCAL_MACHINE, "Software\\Classes").get()); }
RegTree userRows() { return registrationTree(openKey(HKEY_CURRENT_USER, "Software\\Classes").get()); }

// What DllRegisterServer of the built control writes, type library
// included: HKEY_CLASSES_ROOT is pointed at a scratch key for the call.
RegTree selfRegistrationRows(const std::string& control)
{
    const char scratchPath[] = "Software\\Tallowmark installation check";
    RegTree rows;
    UniqueRegKey scratch, classes;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, scratchPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, scratch.put(),
                              nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCreateKeyExA(scratch.get(), "CLSID", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, classes.put(), nullptr),
              ERROR_SUCCESS);
    ControlLibrary library(control);
    auto registerServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(library.entry("DllRegisterServer")));
    if (registerServer && RegOverridePredefKey(HKEY_CLASSES_ROOT, scratch.get()) == ERROR_SUCCESS) {
        EXPECT_EQ(registerServer(), S_OK);
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        rows = registrationTree(scratch.get());
    }
    classes.reset();
    scratch.reset();
    EXPECT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, scratchPath), ERROR_SUCCESS);
    // Seen to be the class's own rows and the type library's.
    RegTree classRows = expectedTree(modulePath(library.module()));
    for (const auto& key : classRows)
        EXPECT_EQ(rows[key.first], key.second) << key.first;
    EXPECT_EQ(rows.count(typeLibraryKey + "\\1.0"), 1u) << "no type library registration";
    return rows;
}

// The rows with the control's path and folder named alike for any copy.
RegTree withControlPathsNamed(const RegTree& rows, const std::string& control, const std::string& folder)
{
    return withPathReplaced(withPathReplaced(rows, control, "<control>"), folder, "<folder>");
}

// The product codes installed under the package's upgrade code.
std::vector<std::string> installedProducts()
{
    std::vector<std::string> products;
    char product[39];
    for (DWORD i = 0; MsiEnumRelatedProductsA(upgradeCode, 0, i, product) == ERROR_SUCCESS; i++)
        products.push_back(product);
    return products;
}

std::string productVersion(const std::string& product)
{
    char version[64] = "";
    DWORD size = sizeof version;
    MsiGetProductInfoA(product.c_str(), INSTALLPROPERTY_VERSIONSTRING, version, &size);
    return version;
}

// The advised sink of a control; the connection is undone at the end.
class Connection {
public:
    Connection(IUnknown* control, IUnknown* sink)
    {
        ComPtr<IConnectionPointContainer> container;
        if (SUCCEEDED(control->QueryInterface(IID_IConnectionPointContainer, container.putVoid())))
            container->FindConnectionPoint(IID_ISignaturePadEvents, point.put());
        EXPECT_TRUE(point && SUCCEEDED(point->Advise(sink, &cookie)));
    }
    ~Connection()
    {
        if (cookie) {
            EXPECT_EQ(point->Unadvise(cookie), S_OK);
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

private:
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
};

template <typename Function>
Function padCall(HMODULE pad, const char* name)
{
    auto function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(pad, name)));
    EXPECT_NE(function, nullptr) << name;
    return function;
}

// Loads the control, which finds the virtual pad it loaded, and checks that
// one stroke reaches an advised sink.
void expectStrokeCaptured(ISignaturePad* pad)
{
    HMODULE library = GetModuleHandleA(padLibraryName);
    ASSERT_NE(library, nullptr);
    auto connect = padCall<void(__cdecl*)(const char*)>(library, "vpad_connect");
    auto queuePen = padCall<void(__cdecl*)(int, int, uint16_t, uint16_t)>(library, "vpad_queue_pen");
    auto waitIdle = padCall<int(__cdecl*)(uint32_t)>(library, "vpad_wait_idle");
    ASSERT_TRUE(connect && queuePen && waitIdle);
    connect(nullptr);

    RecordingSink sink;
    Connection connection(pad, &sink);
    ASSERT_EQ(pad->Load(nullptr, nullptr, nullptr), 0);
    pad->Start();
    queuePen(SCRIPTEL_REPORT_PEN, 1, 100, 200);
    queuePen(SCRIPTEL_REPORT_PEN, 1, 110, 210);
    queuePen(SCRIPTEL_REPORT_PEN, 0, 110, 210);
    EXPECT_EQ(waitIdle(5000), 1);
    pad->Stop();
    pad->Unload();
    EXPECT_EQ(sink.events(), (std::vector<RecordingSink::Event>{penDown(), penPoint(0, 0), penPoint(110, 210),
                                                               penUp(), penPoint(0, 0)}));
}

std::string programFolder() { return folderOf(modulePath(nullptr)); }

bool loadedFrom(const char* module, const std::string& folder)
{
    return lstrcmpiA(modulePath(GetModuleHandleA(module)).c_str(), (folder + "\\" + module).c_str()) == 0;
}

std::string classKeyOf(REFCLSID clsid)
{
    WCHAR wide[39] = L"";
    StringFromGUID2(clsid, wide, ARRAYSIZE(wide));
    return "CLSID\\" + std::string(wide, wide + wcslen(wide));
}

// The keys that registering the control or the properties component writes,
// wherever they are found: under the machine's or the user's classes.
std::vector<std::string> registeredClassKeys()
{
    const std::string keys[] = {classKey, progId, independentProgId, typeLibraryKey, classKeyOf(CLSID_Prelvane),
                                classKeyOf(CLSID_PrelvanePropertyPage)};
    std::vector<std::string> found;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        for (const std::string& key : keys) {
            if (keyExists(root, "Software\\Classes\\" + key))
                found.push_back((root == HKEY_LOCAL_MACHINE ? "HKLM\\Software\\Classes\\" : "HKCU\\Software\\Classes\\") + key);
        }
    }
    return found;
}

} // namespace

// The package's rows are those of DllRegisterServer, with the installed
// file's path: the one difference is the type library's HELPDIR, which the
// package gives as Windows Installer formats a folder, with a backslash.
TEST(Installed, WritesTheRowsOfSelfRegistrationForTheMachine)
{
    std::string built = environment("SIGNATUREPAD_BUILT_CONTROL");
    ASSERT_FALSE(built.empty());
    RegTree expected = withControlPathsNamed(selfRegistrationRows(built), built, folderOf(built));
    RegTree installed = withControlPathsNamed(machineRows(), installedControl(), installFolder() + "\\");
    EXPECT_EQ(installed, expected);
    EXPECT_EQ(userRows(), RegTree());
}

TEST(Installed, IsOneProductOfItsVersionWithTheControlAndTheSdkOnRequest)
{
    std::vector<std::string> products = installedProducts();
    ASSERT_EQ(products.size(), 1u);
    EXPECT_EQ(productVersion(products[0]), environment("SIGNATUREPAD_PACKAGE"));

    EXPECT_EQ(versionString(installedControl(), "FileVersion"), SIGNATUREPAD_VERSION_TEXT);
    EXPECT_EQ(versionString(installedControl(), "ProductName"), "Tallowmark Signature Pad");
    EXPECT_EQ(versionString(installedControl(), "OriginalFilename"), "SignaturePad.dll");
    bool sdk = environment("SIGNATUREPAD_SDK") == "1";
    for (const char* file : {"SignaturePad.idl", "SignaturePad_h.h", "SignaturePad_i.c",
                             "Tallowmark.SignaturePad.manifest", "application.exe.manifest"})
        EXPECT_EQ(fileExists(installFolder() + "\\SDK\\" + file), sdk) << file;
    EXPECT_FALSE(fileExists(installFolder() + "\\" + padLibraryName)) << "the package ships no pad library";
}

// The script has put the virtual pad beside the installed control, under
// the vendor library's name, and registered the properties component, which
// writes the settings file when the control goes.
TEST(Installed, CreatesTheControlByProgIdAndCapturesAStrokeFromThePadBesideIt)
{
    ComApartment com;
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(L"Orlendale.OrlendaleSignaturePad.1", &clsid), S_OK);
    {
        ComPtr<ISignaturePad> pad;
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISignaturePad, pad.putVoid()), S_OK);
        EXPECT_EQ(lstrcmpiA(modulePath(GetModuleHandleA("SignaturePad.dll")).c_str(), installedControl().c_str()), 0);
        EXPECT_TRUE(loadedFrom(padLibraryName, installFolder()));
        expectStrokeCaptured(pad.get());
    }
    EXPECT_TRUE(fileExists(settingsFile()));
}

TEST(Removed, LeavesNoRowNoFileNoProductAndKeepsTheSettings)
{
    EXPECT_EQ(machineRows(), RegTree());
    EXPECT_EQ(registrationTree(), RegTree());
    EXPECT_FALSE(fileExists(programFilesFolder() + "\\Tallowmark"));
    EXPECT_EQ(installedProducts(), std::vector<std::string>());
    EXPECT_TRUE(fileExists(settingsFile()));
}

// After "regsvr32 /n /i:user": the rows of self-registration under the
// user's classes, type library included, and none under the machine's.
TEST(UserRegistration, WritesTheRowsOfSelfRegistrationForTheUserOnly)
{
    std::string built = environment("SIGNATUREPAD_BUILT_CONTROL");
    ASSERT_FALSE(built.empty());
    RegTree registered = userRows();
    EXPECT_EQ(registered, selfRegistrationRows(built));
    EXPECT_EQ(machineRows(), RegTree());

    // Wine's COM reads only the machine's classes, so the user's rows are
    // followed here as COM on Windows follows them: the ProgID to the class,
    // the class to its server, the server's class object to a control.
    UniqueRegKey classes = openKey(HKEY_CURRENT_USER, "Software\\Classes");
    char text[MAX_PATH] = "";
    LONG size = sizeof text;
    ASSERT_EQ(RegQueryValueA(classes.get(), (std::string(progId) + "\\CLSID").c_str(), text, &size), ERROR_SUCCESS);
    std::wstring clsidWide(text, text + strlen(text));
    CLSID clsid;
    ASSERT_EQ(CLSIDFromString(clsidWide.c_str(), &clsid), S_OK);
    ASSERT_TRUE(IsEqualCLSID(clsid, CLSID_TallowmarkSignaturePad));
    size = sizeof text;
    ASSERT_EQ(RegQueryValueA(classes.get(), (classKey + "\\InprocServer32").c_str(), text, &size), ERROR_SUCCESS);
    EXPECT_EQ(lstrcmpiA(text, built.c_str()), 0);
    ComApartment com;
    ControlLibrary server(text);
    EXPECT_TRUE(server.create());
}

// After "regsvr32 /u /n /i:user".
TEST(UserRegistration, RemovesEveryRowOfTheUser)
{
    EXPECT_EQ(userRows(), RegTree());
    EXPECT_EQ(machineRows(), RegTree());
}

// Run before and after the registration-free checks, in a prefix where
// nothing was ever registered.
TEST(RegistrationFree, NoClassOfTheControlOrTheComponentIsRegistered)
{
    EXPECT_EQ(registeredClassKeys(), std::vector<std::string>());
}

// This program runs from an application's folder with the sample application
// manifest as its own, beside the control and the properties component with
// their assembly manifests and the virtual pad under the vendor library's
// name: the manifests alone lead COM to both.
TEST(RegistrationFree, TheApplicationsManifestLeadsToTheControlAndItsComponent)
{
    ComApartment com;
    std::vector<std::pair<std::string, CLSID>> classes = {{"the class", CLSID_TallowmarkSignaturePad}};
    for (const wchar_t* name : {L"Orlendale.OrlendaleSignaturePad.1", L"Orlendale.OrlendaleSignaturePad"}) {
        CLSID clsid = CLSID_NULL;
        EXPECT_EQ(CLSIDFromProgID(name, &clsid), S_OK) << "no class for " << name;
        classes.push_back({std::string(name, name + wcslen(name)), clsid});
    }
    ComPtr<ISignaturePad> pad;
    for (const auto& [name, clsid] : classes) {
        SCOPED_TRACE(name);
        pad.reset();
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISignaturePad, pad.putVoid()), S_OK);
        expectStrokeCaptured(pad.get());
    }
    EXPECT_TRUE(loadedFrom("SignaturePad.dll", programFolder()));
    EXPECT_TRUE(loadedFrom("Prelvane.dll", programFolder())) << "the control made no properties component";
    EXPECT_TRUE(loadedFrom(padLibraryName, programFolder()));

    // The sheet comes from the properties component; Cancel closes it.
    DWORD thread = GetCurrentThreadId();
    bool sheetShown = false;
    std::thread cancel([&] {
        HWND sheet = waitForWindow(" Properties", 10000, thread);
        sheetShown = sheet != nullptr;
        if (sheet)
            PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    });
    EXPECT_EQ(pad->ShowProperties(), S_OK);
    cancel.join();
    EXPECT_TRUE(sheetShown) << "no settings sheet";

    // The type library and the control's OLE status come from the manifest too.
    ComPtr<ITypeLib> library;
    ASSERT_EQ(LoadRegTypeLib(LIBID_TallowmarkSignaturePad, 1, 0, LOCALE_NEUTRAL, library.put()), S_OK);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(library->GetTypeInfoOfGuid(IID_ISignaturePad, info.put()), S_OK);
    DWORD status = 0;
    EXPECT_EQ(OleRegGetMiscStatus(CLSID_TallowmarkSignaturePad, DVASPECT_CONTENT, &status), S_OK);
    EXPECT_EQ(status, 0x20991u);
}

// The same program and folder without the application's manifest.
TEST(RegistrationFree, WithoutTheApplicationsManifestTheClassIsNotRegistered)
{
    ComApartment com;
    ComPtr<ISignaturePad> pad;
    EXPECT_EQ(CoCreateInstance(CLSID_TallowmarkSignaturePad, nullptr, CLSCTX_INPROC_SERVER, IID_ISignaturePad,
                               pad.putVoid()),
              REGDB_E_CLASSNOTREG);
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(L"Orlendale.OrlendaleSignaturePad.1", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(GetModuleHandleA("SignaturePad.dll"), nullptr);
}
