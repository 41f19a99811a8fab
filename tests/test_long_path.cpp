// The control loaded from a folder whose path is longer than its wide path
// buffer: nothing is overrun and the control works.
#include "testing.h"

TEST(LongPath, ControlLoadedFromAPathLongerThanItsBuffersStillWorks)
{
    ScratchFolder folder("tallowmark-long-path", 300);
    std::wstring target = extendedPath(folder.file(controlFileName));
    std::wstring source = extendedPath(testExecutableFolder() + "\\" + controlFileName);
    ASSERT_TRUE(CopyFileW(source.c_str(), target.c_str(), FALSE)) << GetLastError();

    UniqueModule library(LoadLibraryW(target.c_str()));
    HMODULE module = library.get();
    ASSERT_NE(module, nullptr) << GetLastError();
    char loadedPath[2048] = "";
    GetModuleFileNameA(module, loadedPath, sizeof loadedPath);
    EXPECT_GT(strlen(loadedPath), 256u);

    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    ASSERT_NE(getClassObject, nullptr);
    {
        ComApartment com;
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(getClassObject(CLSID_TallowmarkSignaturePad, IID_IClassFactory, factory.putVoid()), S_OK);
        ComPtr<ISignaturePad> pad;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISignaturePad, pad.putVoid()), S_OK);
        EXPECT_STREQ(pad->DeviceName(), "ST-1500");
        EXPECT_EQ(pad->InkWeight(), 2);
    }
    std::string dataFolder = commonAppDataFolder() + "\\Tallowmark\\Settings";
    EXPECT_NE(GetFileAttributesA(dataFolder.c_str()), INVALID_FILE_ATTRIBUTES);
}
