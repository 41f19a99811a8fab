// Placeholder until the settings binding lands.
#include "SignaturePad.h"

#include <cstring>

void SignaturePad::setUpSettings()
{
    strcpy(deviceName, "ST-1500");
    strcpy(padDisplayName, "Scriptel ST-1500 LCD");
    strcpy(deviceModel, "(ST-15000)");
}

HRESULT SignaturePad::ShowProperties() { return S_OK; }
