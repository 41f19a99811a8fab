// What tests/installer_test.sh checks between its steps, each in a Wine
// prefix of its own: the package installed, upgraded and removed, and one
// user's registration and its removal. The script picks a step's cases with
// --gtest_filter and says what it installed in environment variables:
//   SIGNATUREPAD_BUILT_CONTROL  the built SignaturePad.dll (a Windows path)
//   SIGNATUREPAD_PACKAGE        the installed package's version
//   SIGNATUREPAD_SDK            1 when the SDK feature was installed, else 0
#include "testing.h"
#include "registry_tree.h"
#include "scriptel.h"
#include "version.h"

#include <msi.h>
#include <shlobj.h>
#include <shlwapi.h>

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
    for (const char* file : {"SignaturePad.idl", "SignaturePad_h.h", "SignaturePad_i.c"})
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
        HMODULE library = GetModuleHandleA(padLibraryName);
        ASSERT_NE(library, nullptr);
        EXPECT_EQ(lstrcmpiA(modulePath(library).c_str(), (installFolder() + "\\" + padLibraryName).c_str()), 0);

        auto connect = padCall<void(__cdecl*)(const char*)>(library, "vpad_connect");
        auto queuePen = padCall<void(__cdecl*)(int, int, uint16_t, uint16_t)>(library, "vpad_queue_pen");
        auto waitIdle = padCall<int(__cdecl*)(uint32_t)>(library, "vpad_wait_idle");
        ASSERT_TRUE(connect && queuePen && waitIdle);
        connect(nullptr);

        RecordingSink sink;
        Connection connection(pad.get(), &sink);
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
