// SignaturePad: the binding to the properties component and the six settings
// that outlive the object.
#include "signature_pad.h"

#include <array>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "handles.h"
#include "module.h"

namespace {

struct PersistedSetting {
    const wchar_t* name;
    LONG typeCode;
    void* storage;
    LONG byteCount;
};

// In the order they are declared and bound. "pad width" covers
// padWidthInches and the timeoutPeriod right after it.
std::array<PersistedSetting, 6> persistedSettings(SignaturePad& pad)
{
    return {{
        {L"pad width", 1, &pad.padWidthInches, 2 * sizeof(double)},
        {L"pad parameters", 4, &pad.padParameters, sizeof pad.padParameters},
        {L"Timeout period", 4, &pad.timeoutPeriod, sizeof pad.timeoutPeriod},
        {L"pen width", 4, &pad.inkWeight, sizeof pad.inkWeight},
        {L"origin point", 4, &pad.originPoint, sizeof pad.originPoint},
        {L"ink color", 4, &pad.inkColor, sizeof pad.inkColor},
    }};
}

// "<dataFolder>\Settings\<base name>.settings", from the module's own base
// name whatever characters it holds, or the empty string when there is no
// data folder or base name or the path does not fit: the object then keeps
// no settings file rather than one under a cut-off or misspelt name.
void formatSettingsFilePath(WCHAR (&path)[260])
{
    WCHAR folder[260];
    path[0] = L'\0';
    if (!dataFolder[0] || !moduleBaseName[0] ||
        !MultiByteToWideChar(CP_ACP, 0, dataFolder, -1, folder, ARRAYSIZE(folder)))
        return;
    int length = swprintf(path, ARRAYSIZE(path), L"%ls\\Settings\\%ls.settings", folder, moduleBaseName);
    if (length < 0 || length >= static_cast<int>(ARRAYSIZE(path)))
        path[0] = L'\0';
}

} // namespace

bool SignaturePad::setUpSettings()
{
    // The clients first: without them there is nothing to set up, and
    // nothing made yet to undo.
    std::unique_ptr<_IPrelvaneClient> client(new (std::nothrow) _IPrelvaneClient(this));
    std::unique_ptr<_IPrelvanePageClient> pageClient(new (std::nothrow) _IPrelvanePageClient(this));
    if (!client || !pageClient)
        return false;
    propertiesClient = client.release();
    propertyPageClient = pageClient.release();
    // A missing component leaves `properties` null: the object then keeps
    // its defaults and saves nothing.
    CoCreateInstance(CLSID_Prelvane, nullptr, CLSCTX_ALL, IID_IPrelvane, reinterpret_cast<void**>(&properties));
    if (properties) {
        properties->SetClient(propertiesClient);
        properties->SetPageClient(propertyPageClient, TRUE);
        formatSettingsFilePath(settingsFile);
        properties->SetSettingsFile(UniqueBstr(SysAllocString(settingsFile)).get());
        for (const PersistedSetting& setting : persistedSettings(*this)) {
            properties->DeclareProperty(setting.name, nullptr);
            properties->BindPropertyStorage(setting.name, setting.typeCode, setting.storage, setting.byteCount);
        }
    }

    strcpy(deviceName, "ST-1500");
    strcpy(padDisplayName, "Scriptel ST-1500 LCD");
    strcpy(deviceModel, "(ST-15000)");

    // A file that could not be read leaves the defaults, and keeps what it
    // holds: only a save of values changed here, or the page's OK, may
    // replace it (stored_settings.cpp).
    if (!properties || readSettingsFile() != SettingsFileState::Read)
        propertiesClient->InitializeDefaults();
    storedSettings = currentSettings();

    // Whatever the file held, the pad parameters describe the pad's extent.
    memset(&padParameters, 0, sizeof padParameters);
    padParameters.values[3] = padParameters.values[7] = padWidth;
    padParameters.values[4] = padParameters.values[8] = padHeight;
    return true;
}

// Saves the settings when they changed since they were last read or saved,
// or when there is no file yet, then takes the object's storage away from
// the component and the object away from the clients: the component and the
// clients may outlive the object when others still hold them.
void SignaturePad::tearDownSettings()
{
    if (properties) {
        saveChangedSettings();
        for (const PersistedSetting& setting : persistedSettings(*this))
            properties->BindPropertyStorage(setting.name, setting.typeCode, nullptr, 0);
    }
    if (!propertiesClient)
        return;     // never set up
    propertiesClient->owner = nullptr;
    propertyPageClient->owner = nullptr;
    if (properties) {
        properties->Release();
        properties = nullptr;
    }
    propertiesClient->releaseOwner();
    propertyPageClient->releaseOwner();
    propertiesClient = nullptr;
    propertyPageClient = nullptr;
}
