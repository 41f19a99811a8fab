// SignaturePad::ShowProperties: the settings sheet, shown by the properties
// component.
#include "signature_pad.h"

#include "handles.h"

HRESULT SignaturePad::ShowProperties()
{
    // Without a properties component there is no sheet to show.
    if (!properties)
        return S_OK;
    ComPtr<IUnknown> unknown;
    QueryInterface(IID_IUnknown, unknown.putVoid());
    properties->ShowSettingsSheet(frameWindow, unknown.get());
    return S_OK;
}
