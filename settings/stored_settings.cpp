// SignaturePad: reading and saving the settings file that every object of
// the module shares, in this process and in others, without losing what
// another object saved meanwhile or what a file holds that the component
// cannot read. A save runs at the object's release too, so nothing on its
// way allocates from the C runtime or throws.
#include "signature_pad.h"

#include <cstring>
#include <cwchar>

#include "handles.h"
#include "settings_file_lock.h"

namespace {

// A file another program holds for a moment (a backup or a scanner) is
// tried again for this long before a save gives up, every retryPauseMs.
constexpr ULONGLONG heldFileRetryMs = 1000;
constexpr DWORD retryPauseMs = 50;

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

// "<name>.unreadable", or "<name>.unreadable.<number>" from 2 on.
using AsidePath = WCHAR[MAX_PATH + 32];

// Moves a file the component cannot read out of the way, beside itself and
// under a name no file has yet: "<name>.unreadable", then
// "<name>.unreadable.2" and on. False when it stays where it is.
bool setAside(const WCHAR* path, AsidePath& aside)
{
    for (int number = 1; number <= 100; ++number) {
        int length = number == 1 ? swprintf(aside, ARRAYSIZE(aside), L"%ls.unreadable", path)
                                 : swprintf(aside, ARRAYSIZE(aside), L"%ls.unreadable.%d", path, number);
        if (length < 0 || length >= static_cast<int>(ARRAYSIZE(aside)))
            return false;
        if (MoveFileExW(path, aside, MOVEFILE_WRITE_THROUGH))
            return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

// Which file is at the path, and how it stands: false, with the error, when
// it cannot be opened. Opened for reading and sharing nothing, as strictly
// as any component opens the file, and closed at once: it opens only while
// no other program holds the file.
bool probeFile(const WCHAR* path, BY_HANDLE_FILE_INFORMATION& info, DWORD& error)
{
    UniqueFile file(CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    error = file ? ERROR_SUCCESS : GetLastError();
    return file && GetFileInformationByHandle(file.get(), &info);
}

// What a component that says why it read nothing answers for a file it could
// not open: held by another program, or not this user's to read.
bool heldFileResult(HRESULT result)
{
    return result == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION) ||
           result == HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION) || result == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
}

// Whether another program holds the file now, so that trying again soon may
// succeed: a file that cannot be written for any other reason is not tried
// again.
bool heldElsewhere(const WCHAR* path)
{
    BY_HANDLE_FILE_INFORMATION info;
    DWORD error = ERROR_SUCCESS;
    return !probeFile(path, info, error) && (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION);
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
// is there, the file is "not understood" only when the file opens the
// strictest way, unchanged, before and after the component tries again, and
// the component says nothing of a file it could not open: then nobody held
// it while the component read, and its content is at fault. Anything else
// is a file held elsewhere, to be read later.
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
    HRESULT result = properties->LoadSettings(&loaded);
    if (loaded)
        return SettingsFileState::Read;
    return !heldFileResult(result) && probeFile(settingsFile, after, error) && sameFile(before, after)
               ? SettingsFileState::NotUnderstood
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

// One read-merge-write, under the file's lock. A file that cannot be opened
// now is never written over; one the component cannot read is moved aside
// first, and put back when the save made no file in its place. False when
// the file was held, when reading or when replacing it, so that a later try
// may succeed; the object's changes then stay its own.
bool SignaturePad::mergeAndSave()
{
    SettingsFileState state = rereadSettings();
    if (state == SettingsFileState::Unreadable)
        return false;
    AsidePath aside;
    bool setAsideFirst = state == SettingsFileState::NotUnderstood;
    if (setAsideFirst && !setAside(settingsFile, aside))
        return false;
    HRESULT saved = properties->SaveSettings();
    if (setAsideFirst && GetFileAttributesW(settingsFile) == INVALID_FILE_ATTRIBUTES) {
        MoveFileExW(aside, settingsFile, MOVEFILE_WRITE_THROUGH);
        return false;
    }
    if (FAILED(saved))
        return false;
    storedSettings = currentSettings();
    return true;
}

// Saves of one file are one at a time across threads and processes: each
// reads what the one before it wrote. The lock is held only for the save,
// never while the settings sheet is open. A save that does not get it, that
// meets a file held for longer than a moment, or that cannot write the file
// at all keeps this object's changes for its next save.
void SignaturePad::saveSettings()
{
    if (!properties || !settingsFile[0])
        return;
    SettingsFileLock lock(settingsFile);
    if (!lock.held())
        return;
    ULONGLONG giveUp = GetTickCount64() + heldFileRetryMs;
    while (!mergeAndSave() && heldElsewhere(settingsFile) && GetTickCount64() < giveUp)
        Sleep(retryPauseMs);
}

// At release: only values changed since the file was last read or saved are
// worth a write, and a first run makes the file.
void SignaturePad::saveChangedSettings()
{
    if (!sameSettings(currentSettings(), storedSettings) || GetFileAttributesW(settingsFile) == INVALID_FILE_ATTRIBUTES)
        saveSettings();
}
