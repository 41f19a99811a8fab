// Placeholder until the device session lands.
#include "SignaturePad.h"

LONG SignaturePad::Load(char*, HWND, void* services)
{
    hostServices = static_cast<ITallowmarkServices*>(services);
    return 1;
}
LONG SignaturePad::Start() { return 0; }
LONG SignaturePad::Unload() { return 0; }
LONG SignaturePad::Stop() { return 0; }
void SignaturePad::ClearTablet() { emptyInkList(); }
void SignaturePad::LCDRefresh(LONG, LONG, LONG, LONG, LONG) {}
