// The control loaded from a folder whose path is longer than its wide path
// buffer: nothing is overrun and the control works.
#include "testing.h"

namespace {

std::wstring widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// Makes a folder chain under the temporary folder whose full path is longer
// than 256 characters and returns it.
std::string makeLongFolder()
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + "tallowmark-long-path";
    CreateDirectoryW((L"\\\\?\\" + widen(folder)).c_str(), nullptr);
    while (folder.size() <= 300) {
        folder += "\\" + std::string(60, 'x');
        CreateDirectoryW((L"\\\\?\\" + widen(folder)).c_str(), nullptr);
    }
    return folder;
}

} // namespace

TEST(LongPath, ControlLoadedFromAPathLongerThanItsBuffersStillWorks)
{
    std::string folder = makeLongFolder();
    std::wstring target = L"\\\\?\\" + widen(folder) + L"\\SignaturePad.dll";
    std::wstring source = widen(testExecutableFolder() + "\\" + controlFileName);
    ASSERT_TRUE(CopyFileW(source.c_str(), target.c_str(), FALSE)) << GetLastError();

    HMODULE module = LoadLibraryW(target.c_str());
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
