// The control loaded from a folder whose path is longer than its wide path
// buffer: nothing is overrun and the control works.
#include "testing.h"

TEST(LongPath, ControlLoadedFromAPathLongerThanItsBuffersStillWorks)
{
    ControlCopy copy("tallowmark-long-path", L"SignaturePad.dll", 300);
    HMODULE module = copy.library.module();
    ASSERT_NE(module, nullptr);
    char loadedPath[2048] = "";
    GetModuleFileNameA(module, loadedPath, sizeof loadedPath);
    EXPECT_GT(strlen(loadedPath), 256u);
    {
        ComApartment com;
        ComPtr<ISignaturePad> pad = copy.library.create();
        ASSERT_TRUE(pad);
        EXPECT_STREQ(pad->DeviceName(), "ST-1500");
        EXPECT_EQ(pad->InkWeight(), 2);
    }
    std::string dataFolder = commonAppDataFolder() + "\\Tallowmark\\Settings";
    EXPECT_NE(GetFileAttributesA(dataFolder.c_str()), INVALID_FILE_ATTRIBUTES);
}
