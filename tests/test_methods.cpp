// The ISignaturePad methods answered from the object's fields or with fixed
// answers, through the built control, before and after the pad is loaded.
#include "pad_session.h"

#include <cmath>
#include <cstring>

namespace {

void expectFixedAnswers(ISignaturePad* pad)
{
    EXPECT_EQ(pad->HostHandle(reinterpret_cast<HWND>(0x1234)), 0);
    EXPECT_EQ(pad->IsLCD(), 0);
    EXPECT_EQ(pad->IsFullPage(), 0);
    EXPECT_EQ(pad->HasScaling(), 1);
    EXPECT_EQ(pad->IsTabletPC(), 0);
    EXPECT_EQ(pad->EnableTablet(), 1);
    EXPECT_EQ(pad->DisableTablet(), 1);
    EXPECT_EQ(pad->KeyPadQueryHotSpot(13), 0);
    EXPECT_EQ(pad->SignatureData(), 0);
    EXPECT_EQ(pad->SignatureDataX(), nullptr);
    EXPECT_EQ(pad->SignatureDataY(), nullptr);
    EXPECT_EQ(pad->GetPixelBits(nullptr), 0);
    EXPECT_EQ(pad->MinimumX(), 0);
    EXPECT_EQ(pad->MinimumY(), 0);
    EXPECT_EQ(pad->SetZoomFactor(2.5), 0.0);
    EXPECT_EQ(pad->ClearInk(), static_cast<LONG>(0x80004001));
    EXPECT_EQ(pad->ClearInk(), -2147467263);
    EXPECT_STREQ(pad->DeviceProductName(), "Scriptel");
    EXPECT_STREQ(pad->DeviceModel(), "(ST-15000)");
    EXPECT_EQ(pad->BaselinePointX(), 0);
    EXPECT_EQ(pad->BaselinePointY(), 0);
}

// Every measure of the pad's size agrees with Width and Height.
void expectSize(ISignaturePad* pad, LONG width, LONG height)
{
    EXPECT_EQ(pad->Width(), width);
    EXPECT_EQ(pad->Height(), height);
    EXPECT_EQ(pad->LCDWidth(), width);
    EXPECT_EQ(pad->LCDHeight(), height);
    EXPECT_EQ(pad->MaximumX(), width);
    EXPECT_EQ(pad->MaximumY(), height);
    EXPECT_EQ(pad->MaximumSignableY(), height);
    RECT rect = {-1, -1, -1, -1};
    pad->GetRect(&rect);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.right, width);
    EXPECT_EQ(rect.bottom, height);
}

} // namespace

using MethodsTest = PadSessionTest;

TEST_F(MethodsTest, FixedAnswersHoldInEveryState)
{
    {
        SCOPED_TRACE("new");
        expectFixedAnswers(pad.get());
    }
    ASSERT_NO_FATAL_FAILURE(loadAndStart());
    {
        SCOPED_TRACE("started");
        expectFixedAnswers(pad.get());
    }
    pad->Unload();
    {
        SCOPED_TRACE("unloaded");
        expectFixedAnswers(pad.get());
    }
}

TEST_F(MethodsTest, BeforeLoadThePadHasNoSize)
{
    expectSize(pad.get(), 0, 0);
    EXPECT_TRUE(std::isnan(pad->HeightInInches()));
    EXPECT_EQ(pad->PadToLCDScaleX(), 1.0);
    EXPECT_EQ(pad->PadToLCDScaleY(), 1.0);
    EXPECT_STREQ(pad->DeviceName(), "ST-1500");
    EXPECT_EQ(pad->IsActive(), 0);
}

TEST_F(MethodsTest, AfterLoadEverySizeFollowsThePadsRange)
{
    vpad_set_coordinate_range(2, 1);
    ASSERT_NO_FATAL_FAILURE(load());
    expectSize(pad.get(), 2, 1);
    EXPECT_DOUBLE_EQ(pad->HeightInInches(), pad->WidthInInches() / 2);
    EXPECT_STREQ(pad->DeviceName(), padName);
    EXPECT_EQ(pad->IsActive(), 1);
}

TEST_F(MethodsTest, SetZoomFactorStoresNothing)
{
    vpad_set_coordinate_range(300, 200);
    ASSERT_NO_FATAL_FAILURE(load());
    double width = pad->WidthInInches();
    double height = pad->HeightInInches();
    for (double zoom : {3.5, -1.0, 0.0, 1e300})
        EXPECT_EQ(pad->SetZoomFactor(zoom), 0.0);
    EXPECT_EQ(pad->WidthInInches(), width);
    EXPECT_EQ(pad->HeightInInches(), height);
    EXPECT_DOUBLE_EQ(height, width * 200 / 300);
}

TEST_F(MethodsTest, GetHotSpotZeroFillsTheRectWhateverTheNumberAndNullRectsAreLeftAlone)
{
    // Both return nothing: a null pointer is not written through.
    pad->GetRect(nullptr);
    pad->GetHotSpot(1, nullptr);
    for (LONG number : {0, 1, -5, 1000000}) {
        RECT rect = {7, 8, 9, 10};
        pad->GetHotSpot(number, &rect);
        EXPECT_EQ(rect.left, 0);
        EXPECT_EQ(rect.top, 0);
        EXPECT_EQ(rect.right, 0);
        EXPECT_EQ(rect.bottom, 0);
    }
}

TEST_F(MethodsTest, StringsArePointersIntoTheObjectThatStayTheSame)
{
    char* name = pad->DeviceName();
    EXPECT_EQ(pad->DeviceName(), name);
    EXPECT_EQ(pad->DeviceModel(), pad->DeviceModel());
    EXPECT_EQ(pad->DeviceProductName(), pad->DeviceProductName());
    ASSERT_NO_FATAL_FAILURE(load());
    EXPECT_EQ(pad->DeviceName(), name) << "Load copies the pad's name into the same buffer";
    EXPECT_STREQ(name, padName);

    // The product name is one constant for every object.
    ComPtr<ISignaturePad> other = control().create();
    ASSERT_TRUE(other);
    EXPECT_EQ(other->DeviceProductName(), pad->DeviceProductName());
    EXPECT_NE(other->DeviceName(), pad->DeviceName());
}

TEST_F(MethodsTest, MethodsThatDoNothingLeaveTheObjectAndTheirArgumentsAlone)
{
    vpad_set_coordinate_range(640, 480);
    ASSERT_NO_FATAL_FAILURE(loadAndStart());
    std::vector<long> calls = callCounts();
    char text[] = "C:\\signature.bmp";
    RECT rect = {1, 2, 3, 4};
    UniqueBstr file(SysAllocString(L"background.png"));

    EXPECT_EQ(pad->TakeFrameWindow(GetDesktopWindow()), 0);
    pad->PrepareForPage(&rect);
    pad->PrepareForPage(nullptr);
    pad->DisplaySignatureBitmapFile(text, 1, 0);
    pad->DisplaySignatureBitmapHandle(0x55, nullptr, 1, 2, 3, 4);
    pad->OverlaySignatureBitmapHandle(0x55, nullptr, 1, 2, 3, 4);
    pad->DisplayHotSpotFile(text, 9, 1, 2, 3, 4);
    pad->DisplayHotSpotHandle(0x55, nullptr, 9, 1, 2, 3, 4);
    pad->DisplayOk(1);
    pad->DisplayClear(2);
    pad->DisplayCancel(3);
    pad->SetBackgroundFile(file.get());
    pad->SetBackgroundHandle(0x77);
    pad->ClearSignatureData();
    pad->DeleteSignatureData();
    pad->PutLCDCaptureMode(4);
    pad->TabletState(1);
    pad->SetSigWindow();
    pad->SetInkArea();

    EXPECT_STREQ(text, "C:\\signature.bmp");
    EXPECT_EQ(rect.left, 1);
    EXPECT_EQ(rect.top, 2);
    EXPECT_EQ(rect.right, 3);
    EXPECT_EQ(rect.bottom, 4);
    EXPECT_EQ(SysStringLen(file.get()), 14u) << "the caller's string is still the caller's";
    EXPECT_EQ(callCounts(), calls) << "nothing reached the pad";
    expectSize(pad.get(), 640, 480);
    EXPECT_EQ(pad->IsActive(), 1);
    EXPECT_EQ(sink.count(), 0u);
    EXPECT_EQ(vpad_device()->isOpen, 1) << "still started";
}
