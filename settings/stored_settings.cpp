// SignaturePad: reading and saving the settings file that every object of
// the module shares, without losing what another object saved meanwhile or
// what a file holds that the component cannot read.
#include "signature_pad.h"

#include <cstring>
#include <string>

#include "handles.h"

namespace {

template <typename Field>
bool same(const Field& a, const Field& b)
{
    return memcmp(&a, &b, sizeof a) == 0;
}

bool sameSettings(const StoredSettings& a, const StoredSettings& b)
{
    return same(a.padWidthInches, b.padWidthInches) && same(a.timeoutPeriod, b.timeoutPeriod) &&
           same(a.padParameters, b.padParameters) && same(a.inkWeight, b.inkWeight) &&
           same(a.originPoint, b.originPoint) && same(a.inkColor, b.inkColor);
}

// The field takes this object's value when the object changed it since the
// file was last read or saved; otherwise it keeps what the file holds.
template <typename Field>
void keepChanged(Field& field, const Field& mine, const Field& known)
{
    if (!same(mine, known))
        field = mine;
}

// Moves a file the component cannot read out of the way, beside itself and
// under a name no file has yet: "<name>.unreadable", then
// "<name>.unreadable.2" and on. False when it stays where it is.
bool setAside(const WCHAR* path, std::wstring& aside)
{
    for (int number = 1; number <= 100; ++number) {
        std::wstring candidate = std::wstring(path) + L".unreadable";
        if (number > 1)
            candidate += L"." + std::to_wstring(number);
        if (MoveFileExW(path, candidate.c_str(), MOVEFILE_WRITE_THROUGH)) {
            aside = candidate;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

// Which file is at the path, and how it stands: false, with the error, when
// it cannot be opened for reading. Opened sharing everything, so that no
// reader or writer of it is kept out meanwhile.
bool probeFile(const WCHAR* path, BY_HANDLE_FILE_INFORMATION& info, DWORD& error)
{
    UniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    error = file ? ERROR_SUCCESS : GetLastError();
    return file && GetFileInformationByHandle(file.get(), &info);
}

bool sameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow && a.nFileSizeHigh == b.nFileSizeHigh &&
           a.nFileSizeLow == b.nFileSizeLow && same(a.ftLastWriteTime, b.ftLastWriteTime);
}

} // namespace

StoredSettings SignaturePad::currentSettings() const
{
    return {padWidthInches, timeoutPeriod, padParameters, inkWeight, originPoint, inkColor};
}

// Has the component load the file. When it reads nothing from a file that
// is there, the file itself tells why: one that cannot be opened is held
// elsewhere and may be read later. One that can be opened before and after
// the component tries again, and is the same unchanged file both times, is
// not in a form the component reads; one that changed meanwhile is left
// for the next read to judge.
SettingsFileState SignaturePad::readSettingsFile()
{
    VARIANT_BOOL loaded = VARIANT_FALSE;
    properties->LoadSettings(&loaded);
    if (loaded)
        return SettingsFileState::Read;
    if (!settingsFile[0])
        return SettingsFileState::Missing;
    BY_HANDLE_FILE_INFORMATION before, after;
    DWORD error = ERROR_SUCCESS;
    if (!probeFile(settingsFile, before, error))
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? SettingsFileState::Missing
                                                                             : SettingsFileState::Unreadable;
    properties->LoadSettings(&loaded);
    if (loaded)
        return SettingsFileState::Read;
    return probeFile(settingsFile, after, error) && sameFile(before, after) ? SettingsFileState::NotUnderstood
                                                                            : SettingsFileState::Unreadable;
}

// Loading writes every stored value into the fields; the values this object
// changed are put back over them. The pad parameters always stay the
// object's: they describe its pad, not a choice kept in the file.
SettingsFileState SignaturePad::rereadSettings()
{
    if (!properties)
        return SettingsFileState::Missing;
    StoredSettings mine = currentSettings();
    SettingsFileState state = readSettingsFile();
    if (state != SettingsFileState::Read)
        return state;
    StoredSettings stored = currentSettings();
    keepChanged(padWidthInches, mine.padWidthInches, storedSettings.padWidthInches);
    keepChanged(timeoutPeriod, mine.timeoutPeriod, storedSettings.timeoutPeriod);
    keepChanged(inkWeight, mine.inkWeight, storedSettings.inkWeight);
    keepChanged(originPoint, mine.originPoint, storedSettings.originPoint);
    keepChanged(inkColor, mine.inkColor, storedSettings.inkColor);
    padParameters = mine.padParameters;
    storedSettings = stored;
    return state;
}

// A file that cannot be opened now is never written over. One the component
// cannot read is moved aside first, and put back when the save made no file
// in its place.
void SignaturePad::saveSettings()
{
    if (!properties)
        return;
    SettingsFileState state = rereadSettings();
    if (state == SettingsFileState::Unreadable)
        return;
    std::wstring aside;
    if (state == SettingsFileState::NotUnderstood && !setAside(settingsFile, aside))
        return;
    HRESULT saved = properties->SaveSettings();
    if (!aside.empty() && GetFileAttributesW(settingsFile) == INVALID_FILE_ATTRIBUTES) {
        MoveFileExW(aside.c_str(), settingsFile, MOVEFILE_WRITE_THROUGH);
        return;
    }
    if (SUCCEEDED(saved))
        storedSettings = currentSettings();
}

// At release: only values changed since the file was last read or saved are
// worth a write, and a first run makes the file.
void SignaturePad::saveChangedSettings()
{
    if (!sameSettings(currentSettings(), storedSettings) || GetFileAttributesW(settingsFile) == INVALID_FILE_ATTRIBUTES)
        saveSettings();
}
