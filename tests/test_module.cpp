// The module's entry points and class factory, the object's identity and
// defaults, and the data folders, through the built DLL.
#include "testing.h"
#include "version.h"

#include <cmath>
#include <cstring>

namespace {

ComPtr<IClassFactory> factory()
{
    ComPtr<IClassFactory> result;
    EXPECT_EQ(control().getClassObject(CLSID_TallowmarkSignaturePad, IID_IClassFactory, result.putVoid()), S_OK);
    return result;
}

ULONG countOf(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

} // namespace

TEST(ClassObject, ForeignClassIsRefusedWithNullOutputWhateverTheInterface)
{
    ComApartment com;
    for (REFIID riid : {IID_IClassFactory, IID_IUnknown, IID_ISignaturePad}) {
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(control().getClassObject(IID_ISignaturePad, riid, &object), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(object, nullptr);
    }
}

TEST(ClassObject, FactoryAnswersIUnknownAndIClassFactoryAndCountsEachReference)
{
    ComApartment com;
    ComPtr<IClassFactory> first = factory();
    ASSERT_TRUE(first);
    ULONG before = countOf(first.get());
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(control().getClassObject(CLSID_TallowmarkSignaturePad, IID_IUnknown, unknown.putVoid()), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown.get()), static_cast<void*>(first.get()));
    EXPECT_EQ(countOf(first.get()), before + 1);

    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(first->QueryInterface(IID_IDispatch, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
}

TEST(ClassObject, OverReleasedFactoryGoesNegativeAndKeepsWorking)
{
    ComApartment com;
    ComPtr<IClassFactory> held = factory();
    IClassFactory* raw = held.detach();
    EXPECT_EQ(raw->Release(), 0u);
    EXPECT_EQ(static_cast<LONG>(raw->Release()), -1);
    EXPECT_EQ(static_cast<LONG>(raw->Release()), -2);
    ComPtr<ISignaturePad> pad;
    EXPECT_EQ(raw->CreateInstance(nullptr, IID_ISignaturePad, pad.putVoid()), S_OK);
    EXPECT_TRUE(pad);
    EXPECT_EQ(raw->LockServer(TRUE), S_OK);
    EXPECT_EQ(raw->LockServer(FALSE), S_OK);
}

TEST(ClassObject, CreateInstanceIgnoresAnOuterObjectAndRefusesUnknownInterfaces)
{
    ComApartment com;
    ComPtr<IClassFactory> classFactory = factory();
    RecordingSink outer;
    ComPtr<IUnknown> object;
    ASSERT_EQ(classFactory->CreateInstance(&outer, IID_IUnknown, object.putVoid()), S_OK);
    EXPECT_EQ(countOf(object.get()), 1u);
    EXPECT_EQ(outer.refCount, 0u);

    void* refused = reinterpret_cast<void*>(1);
    EXPECT_EQ(classFactory->CreateInstance(nullptr, IID_IDispatch, &refused), E_NOINTERFACE);
    EXPECT_EQ(refused, nullptr);
}

TEST(Identity, QueryInterfaceTable)
{
    ComApartment com;
    ComPtr<ISignaturePad> pad = control().create();
    ASSERT_TRUE(pad);
    EXPECT_EQ(countOf(pad.get()), 1u);

    ComPtr<IUnknown> unknown;
    ASSERT_EQ(pad->QueryInterface(IID_IUnknown, unknown.putVoid()), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown.get()), static_cast<void*>(pad.get()));

    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(pad->QueryInterface(IID_IConnectionPointContainer, container.putVoid()), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(pad->QueryInterface(IID_IConnectionPoint, point.putVoid()), S_OK);
    EXPECT_EQ(countOf(pad.get()), 4u);

    // The embedded objects share the object's identity.
    for (IUnknown* inner : {static_cast<IUnknown*>(container.get()), static_cast<IUnknown*>(point.get())}) {
        ComPtr<IUnknown> identity;
        ASSERT_EQ(inner->QueryInterface(IID_IUnknown, identity.putVoid()), S_OK);
        EXPECT_EQ(static_cast<void*>(identity.get()), static_cast<void*>(pad.get()));
    }

    for (REFIID refused : {IID_IDispatch, IID_IClassFactory, IID_IEnumConnections}) {
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(pad->QueryInterface(refused, &object), E_NOINTERFACE);
        EXPECT_EQ(object, nullptr);
    }
    EXPECT_EQ(pad->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST(Identity, FreshObjectDefaults)
{
    ComApartment com;
    ComPtr<ISignaturePad> pad = control().create();
    ASSERT_TRUE(pad);
    EXPECT_STREQ(pad->DeviceName(), "ST-1500");
    EXPECT_EQ(pad->DeviceName(), pad->DeviceName());
    EXPECT_STREQ(pad->DeviceModel(), "(ST-15000)");
    EXPECT_STREQ(pad->DeviceProductName(), "Scriptel");
    EXPECT_EQ(pad->Width(), 0);
    EXPECT_EQ(pad->Height(), 0);
    EXPECT_EQ(pad->PadToLCDScaleX(), 1.0);
    EXPECT_EQ(pad->PadToLCDScaleY(), 1.0);
    EXPECT_EQ(pad->IsActive(), 0);
    EXPECT_EQ(pad->BaselinePointX(), 0);
    EXPECT_EQ(pad->BaselinePointY(), 0);
    EXPECT_TRUE(std::isnan(pad->HeightInInches()));
}

TEST(Module, DataFoldersExistAfterTheFirstEntryPoint)
{
    ComApartment com;
    ComPtr<IClassFactory> classFactory = factory();
    std::string folder = commonAppDataFolder() + "\\Tallowmark";
    EXPECT_TRUE(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_NE(GetFileAttributesA((folder + "\\Settings").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Module, NotificationsOtherThanProcessAttachChangeNothing)
{
    // A second load of the same module: attach ran once; thread attach and
    // detach notifications arrive on every new thread.
    HMODULE again = LoadLibraryA(controlFileName);
    ASSERT_EQ(again, control().module());
    HANDLE thread = CreateThread(nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    FreeLibrary(again);
    ComApartment com;
    ComPtr<ISignaturePad> pad = control().create();
    EXPECT_TRUE(pad);
}

// Both DLLs carry the build's version and name themselves, as Explorer's
// Details tab and Windows Installer read them.
TEST(Module, VersionResourcesCarryTheBuildsVersionAndNames)
{
    struct Expected {
        const char* file;
        const char* product;
    };
    for (const Expected& expected : {Expected{"SignaturePad.dll", "Tallowmark Signature Pad"},
                                     Expected{"Prelvane.dll", "Prelvane properties component"}}) {
        std::string path = testExecutableFolder() + "\\" + expected.file;
        EXPECT_EQ(versionString(path, "FileVersion"), SIGNATUREPAD_VERSION_TEXT) << expected.file;
        EXPECT_EQ(versionString(path, "ProductVersion"), SIGNATUREPAD_VERSION_TEXT) << expected.file;
        EXPECT_EQ(versionString(path, "CompanyName"), "Tallowmark") << expected.file;
        EXPECT_EQ(versionString(path, "ProductName"), expected.product) << expected.file;
        EXPECT_EQ(versionString(path, "OriginalFilename"), expected.file) << expected.file;
        EXPECT_NE(versionString(path, "FileDescription"), "") << expected.file;

        DWORD size = GetFileVersionInfoSizeA(path.c_str(), nullptr);
        std::vector<char> info(size);
        ASSERT_TRUE(size && GetFileVersionInfoA(path.c_str(), 0, size, info.data())) << expected.file;
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
        EXPECT_EQ(fixed->dwFileVersionMS, DWORD(MAKELONG(SIGNATUREPAD_VERSION_MINOR, SIGNATUREPAD_VERSION_MAJOR)));
        EXPECT_EQ(fixed->dwFileVersionLS, DWORD(MAKELONG(0, SIGNATUREPAD_VERSION_PATCH)));
        EXPECT_EQ(fixed->dwFileType, DWORD(VFT_DLL));
    }
}
