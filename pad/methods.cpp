// The ISignaturePad methods answered from the object's fields or with the
// fixed answers of what this pad can do.
#include "signature_pad.h"

namespace {
char productName[] = "Scriptel";
}

LONG SignaturePad::TakeFrameWindow(HWND hwndFrame)
{
    frameWindow = hwndFrame;
    return 0;
}

LONG SignaturePad::HostHandle(HWND) { return 0; }
LONG SignaturePad::IsActive() { return isActive; }
LONG SignaturePad::Width() { return padWidth; }
LONG SignaturePad::Height() { return padHeight; }
LONG SignaturePad::LCDWidth() { return Width(); }
LONG SignaturePad::LCDHeight() { return Height(); }
double SignaturePad::WidthInInches() { return padWidthInches; }

// Plain double arithmetic: a pad of unknown size gives NaN, not a fault.
double SignaturePad::HeightInInches()
{
    double height = Height();
    double width = Width();
    return height / width * padWidthInches;
}

double SignaturePad::PadToLCDScaleX() { return padToLcdScaleX; }
double SignaturePad::PadToLCDScaleY() { return padToLcdScaleY; }
double SignaturePad::PadTimeout() { return timeoutPeriod; }
double SignaturePad::SetZoomFactor(double) { return 0.0; }
char* SignaturePad::DeviceName() { return deviceName; }
char* SignaturePad::DeviceProductName() { return productName; }
char* SignaturePad::DeviceModel() { return deviceModel; }
LONG SignaturePad::IsLCD() { return 0; }
LONG SignaturePad::IsFullPage() { return 0; }
LONG SignaturePad::HasScaling() { return 1; }
LONG SignaturePad::IsTabletPC() { return 0; }
void SignaturePad::PrepareForPage(RECT*) { emptyInkList(); }
void SignaturePad::DisplaySignatureBitmapFile(char*, LONG, LONG) {}
void SignaturePad::DisplaySignatureBitmapHandle(UINT_PTR, HDC, LONG, LONG, LONG, LONG) {}
void SignaturePad::OverlaySignatureBitmapHandle(UINT_PTR, HDC, LONG, LONG, LONG, LONG) {}
void SignaturePad::DisplayHotSpotFile(char*, LONG, LONG, LONG, LONG, LONG) {}
void SignaturePad::DisplayHotSpotHandle(UINT_PTR, HDC, LONG, LONG, LONG, LONG, LONG) {}
void SignaturePad::DisplayOk(LONG) {}
void SignaturePad::DisplayClear(LONG) {}
void SignaturePad::DisplayCancel(LONG) {}
short SignaturePad::KeyPadQueryHotSpot(short) { return 0; }
void SignaturePad::SetBackgroundFile(BSTR) {}
void SignaturePad::SetBackgroundHandle(OLE_HANDLE) {}

// Both methods return nothing, so a null RECT pointer is simply not written.
void SignaturePad::GetRect(RECT* rect)
{
    if (!rect)
        return;
    rect->left = 0;
    rect->right = Width();
    rect->top = 0;
    rect->bottom = Height();
}

void SignaturePad::GetHotSpot(LONG, RECT* rect)
{
    if (!rect)
        return;
    rect->left = rect->top = rect->right = rect->bottom = 0;
}

LONG SignaturePad::ClearInk() { return E_NOTIMPL; }
LONG SignaturePad::SignatureData() { return 0; }
double* SignaturePad::SignatureDataX() { return nullptr; }
double* SignaturePad::SignatureDataY() { return nullptr; }
void SignaturePad::ClearSignatureData() {}
void SignaturePad::DeleteSignatureData() {}
void SignaturePad::PutLCDCaptureMode(LONG) {}
void SignaturePad::TabletState(LONG) {}
LONG SignaturePad::EnableTablet() { return 1; }
LONG SignaturePad::DisableTablet() { return 1; }
void SignaturePad::SetSigWindow() {}
void SignaturePad::SetInkArea() {}
LONG SignaturePad::GetPixelBits(HDC) { return 0; }
LONG SignaturePad::MaximumX() { return padWidth; }
LONG SignaturePad::MaximumY() { return padHeight; }
LONG SignaturePad::MinimumX() { return 0; }
LONG SignaturePad::MinimumY() { return 0; }
LONG SignaturePad::MaximumSignableY() { return MaximumY(); }
LONG SignaturePad::OriginPointX() { return originPoint.x; }
LONG SignaturePad::OriginPointY() { return originPoint.y; }
LONG SignaturePad::BaselinePointX() { return baselinePoint.x; }
LONG SignaturePad::BaselinePointY() { return baselinePoint.y; }
ULONG SignaturePad::InkColor() { return inkColor; }
LONG SignaturePad::InkWeight() { return inkWeight; }
