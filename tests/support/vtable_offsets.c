/* Byte offsets of every method in the C binding of the two interfaces, in
   declaration order, to hold the type library against. */
#define COBJMACROS
#define CINTERFACE
#include <stddef.h>
#include "SignaturePad_h.h"
#include "vtable_offsets.h"

#define SLOT(vtbl, name) { #name, offsetof(vtbl, name) }

const struct MethodSlot signaturePadSlots[] = {
    SLOT(ISignaturePadVtbl, TakeFrameWindow), SLOT(ISignaturePadVtbl, HostHandle),
    SLOT(ISignaturePadVtbl, Load), SLOT(ISignaturePadVtbl, Start), SLOT(ISignaturePadVtbl, Unload),
    SLOT(ISignaturePadVtbl, Stop), SLOT(ISignaturePadVtbl, IsActive), SLOT(ISignaturePadVtbl, Width),
    SLOT(ISignaturePadVtbl, Height), SLOT(ISignaturePadVtbl, LCDWidth), SLOT(ISignaturePadVtbl, LCDHeight),
    SLOT(ISignaturePadVtbl, WidthInInches), SLOT(ISignaturePadVtbl, HeightInInches),
    SLOT(ISignaturePadVtbl, PadToLCDScaleX), SLOT(ISignaturePadVtbl, PadToLCDScaleY),
    SLOT(ISignaturePadVtbl, PadTimeout), SLOT(ISignaturePadVtbl, SetZoomFactor),
    SLOT(ISignaturePadVtbl, DeviceName), SLOT(ISignaturePadVtbl, DeviceProductName),
    SLOT(ISignaturePadVtbl, DeviceModel), SLOT(ISignaturePadVtbl, IsLCD), SLOT(ISignaturePadVtbl, IsFullPage),
    SLOT(ISignaturePadVtbl, HasScaling), SLOT(ISignaturePadVtbl, IsTabletPC),
    SLOT(ISignaturePadVtbl, PrepareForPage), SLOT(ISignaturePadVtbl, DisplaySignatureBitmapFile),
    SLOT(ISignaturePadVtbl, DisplaySignatureBitmapHandle), SLOT(ISignaturePadVtbl, OverlaySignatureBitmapHandle),
    SLOT(ISignaturePadVtbl, DisplayHotSpotFile), SLOT(ISignaturePadVtbl, DisplayHotSpotHandle),
    SLOT(ISignaturePadVtbl, DisplayOk), SLOT(ISignaturePadVtbl, DisplayClear), SLOT(ISignaturePadVtbl, DisplayCancel),
    SLOT(ISignaturePadVtbl, KeyPadQueryHotSpot), SLOT(ISignaturePadVtbl, SetBackgroundFile),
    SLOT(ISignaturePadVtbl, SetBackgroundHandle), SLOT(ISignaturePadVtbl, GetRect),
    SLOT(ISignaturePadVtbl, GetHotSpot), SLOT(ISignaturePadVtbl, ClearInk), SLOT(ISignaturePadVtbl, SignatureData),
    SLOT(ISignaturePadVtbl, SignatureDataX), SLOT(ISignaturePadVtbl, SignatureDataY),
    SLOT(ISignaturePadVtbl, ClearSignatureData), SLOT(ISignaturePadVtbl, DeleteSignatureData),
    SLOT(ISignaturePadVtbl, PutLCDCaptureMode), SLOT(ISignaturePadVtbl, TabletState),
    SLOT(ISignaturePadVtbl, EnableTablet), SLOT(ISignaturePadVtbl, ClearTablet),
    SLOT(ISignaturePadVtbl, DisableTablet), SLOT(ISignaturePadVtbl, LCDRefresh),
    SLOT(ISignaturePadVtbl, SetSigWindow), SLOT(ISignaturePadVtbl, SetInkArea),
    SLOT(ISignaturePadVtbl, GetPixelBits), SLOT(ISignaturePadVtbl, MaximumX), SLOT(ISignaturePadVtbl, MaximumY),
    SLOT(ISignaturePadVtbl, MinimumX), SLOT(ISignaturePadVtbl, MinimumY), SLOT(ISignaturePadVtbl, MaximumSignableY),
    SLOT(ISignaturePadVtbl, FireOption), SLOT(ISignaturePadVtbl, OriginPointX), SLOT(ISignaturePadVtbl, OriginPointY),
    SLOT(ISignaturePadVtbl, BaselinePointX), SLOT(ISignaturePadVtbl, BaselinePointY),
    SLOT(ISignaturePadVtbl, InkColor), SLOT(ISignaturePadVtbl, InkWeight), SLOT(ISignaturePadVtbl, ShowProperties),
};
const unsigned signaturePadSlotCount = sizeof signaturePadSlots / sizeof signaturePadSlots[0];

const struct MethodSlot eventSlots[] = {
    SLOT(ISignaturePadEventsVtbl, PenDown), SLOT(ISignaturePadEventsVtbl, PenUp),
    SLOT(ISignaturePadEventsVtbl, PenPoint), SLOT(ISignaturePadEventsVtbl, OptionSelected),
    SLOT(ISignaturePadEventsVtbl, ItemSelected),
};
const unsigned eventSlotCount = sizeof eventSlots / sizeof eventSlots[0];
