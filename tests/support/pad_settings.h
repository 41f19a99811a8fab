// The control's six persisted settings as the tests read and write them: in
// settings files, in IPersistStream streams, and through the properties
// component behind an object.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>
#include <vector>

#include "Prelvane_h.h"
#include "handles.h"
#include "settings_file.h"

struct PadSettings {
    double padWidthInches = 4.25;
    double timeoutPeriod = 0.0;
    LONG padParameters[9] = {};
    LONG inkWeight = 2;
    LONG originX = 0;
    LONG originY = 0;
    COLORREF inkColor = 0;
};

// The six entries of a settings file holding these values.
std::vector<settingsfile::Entry> settingsEntries(const PadSettings& settings);
// The values of a settings file's text; fails the test when the text does
// not hold all six with their sizes.
PadSettings readPadSettings(const std::string& text);

// The folder of the control's settings files, and the file it keeps for a
// module base name.
std::string settingsFolder();
std::string settingsFileFor(const std::string& baseName = "SignaturePad");
std::wstring settingsFileFor(const std::wstring& baseName);
void writeTextFile(const std::string& path, const std::string& text);

// A stream as IPersistStream::Save writes it: the length, then the text.
ComPtr<IStream> settingsStream(const std::string& text);
// The text an IPersistStream::Save wrote into a stream.
std::string streamText(IStream* stream);

// Writes values into an object's fields through its component's
// IPersistStream, as another writer of its storage would: all six, or only
// the settings the entries hold.
void loadSettingsInto(IUnknown* object, const PadSettings& values);
void loadSettingsInto(IUnknown* object, const std::vector<settingsfile::Entry>& entries);

// The properties component behind an object, reached through its
// IPersistStream; null when the object has none.
ComPtr<IPrelvane> propertiesComponentOf(IUnknown* object);

// The way the stand-in properties component reads its file, for as long as
// the object lives: "" its own default (shared reads that wait a moment for
// a held file, failures reported), "exclusive" (one try, no sharing, only
// the flag reports). The component takes it at every load.
class PrelvaneReadVariant {
public:
    explicit PrelvaneReadVariant(const char* variant)
    {
        SetEnvironmentVariableA("PRELVANE_READ_VARIANT", variant[0] ? variant : nullptr);
    }
    ~PrelvaneReadVariant() { SetEnvironmentVariableA("PRELVANE_READ_VARIANT", nullptr); }
    PrelvaneReadVariant(const PrelvaneReadVariant&) = delete;
    PrelvaneReadVariant& operator=(const PrelvaneReadVariant&) = delete;
};

// Both ways, for value-parameterised cases.
constexpr const char* prelvaneReadVariants[] = {"", "exclusive"};
