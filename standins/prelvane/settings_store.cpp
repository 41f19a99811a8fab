// Prelvane: the settings file and the stream form of the bound values.
#include "prelvane.h"

#include <atomic>
#include <cstring>
#include <cwchar>
#include <new>

namespace {

// Longest path the component accepts, in characters.
constexpr size_t maxPathLength = 32767;

std::atomic<unsigned> temporaryFileCounter{0};

// Another process may hold the settings file for a moment (a reader, a
// scanner), and a file held open cannot be replaced: a step refused for that
// reason is tried again for up to half a second.
template <typename Step>
bool retryWhileInUse(Step step)
{
    for (int attempt = 0;; ++attempt) {
        if (step())
            return true;
        DWORD error = GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt == 50)
            return false;
        Sleep(10);
    }
}

HRESULT lastError()
{
    DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

bool isFolder(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// How a component may read its file. By default it shares the file with
// other readers, waits a moment for a file held open, and tells a file it
// could not open from one with nothing to read. The variant "exclusive" (the
// environment variable PRELVANE_READ_VARIANT, read at every load) opens the
// file once, without sharing, and answers S_OK whatever it read: only the
// flag says whether it did.
bool exclusiveReadVariant()
{
    char variant[16] = "";
    DWORD length = GetEnvironmentVariableA("PRELVANE_READ_VARIANT", variant, sizeof variant);
    return length < sizeof variant && strcmp(variant, "exclusive") == 0;
}

// Reads a whole file of at most the settings file's size limit: S_OK; S_FALSE
// when there is nothing to read (no file, a folder in its place, a file too
// large to be one); a failure when the file is there but could not be read.
HRESULT readSettingsFile(const std::wstring& path, bool exclusive, std::string& text)
{
    UniqueFile file;
    DWORD openError = ERROR_SUCCESS;
    auto open = [&] {
        file.reset(CreateFileW(path.c_str(), GENERIC_READ, exclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        openError = GetLastError();
        return static_cast<bool>(file);
    };
    if (!exclusive)
        retryWhileInUse(open);
    else
        open();
    if (!file) {
        if (openError == ERROR_FILE_NOT_FOUND || openError == ERROR_PATH_NOT_FOUND || isFolder(path))
            return S_FALSE;
        return HRESULT_FROM_WIN32(openError);
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size))
        return lastError();
    if (size.QuadPart < 0 || static_cast<ULONGLONG>(size.QuadPart) > settingsfile::maxFileSize)
        return S_FALSE;
    text.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < text.size()) {
        DWORD read = 0;
        if (!ReadFile(file.get(), &text[done], static_cast<DWORD>(text.size() - done), &read, nullptr))
            return lastError();
        if (read == 0)
            return S_FALSE;     // cut short while it was read: no whole file
        done += read;
    }
    return S_OK;
}

// A file beside the settings file that holds its next content; deleted
// unless it was moved into place.
class TemporaryFile {
public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile()
    {
        if (!path.empty())
            DeleteFileW(path.c_str());
    }

    // Creates a new, empty file named after the target.
    UniqueFile create(const std::wstring& target)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::wstring candidate = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                     std::to_wstring(++temporaryFileCounter) + L".tmp";
            UniqueFile file(CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
            if (file) {
                path = candidate;
                return file;
            }
            if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
                break;
        }
        return UniqueFile();
    }

    bool moveTo(const std::wstring& target)
    {
        if (!retryWhileInUse([&] {
                return MoveFileExW(path.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
            }))
            return false;
        path.clear();
        return true;
    }

private:
    std::wstring path;
};

// Writes the new content beside the file, on disk, then puts it in the
// file's place in one step: a failure at any moment leaves either the old or
// the new file, never a part of one.
HRESULT replaceSettingsFile(const std::wstring& path, const std::string& text)
{
    TemporaryFile temporary;
    {
        UniqueFile file = temporary.create(path);
        if (!file)
            return lastError();
        DWORD written = 0;
        if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size() || !FlushFileBuffers(file.get()))
            return lastError();
    }
    return temporary.moveTo(path) ? S_OK : lastError();
}

HRESULT readAll(IStream* stream, void* buffer, ULONG size)
{
    BYTE* at = static_cast<BYTE*>(buffer);
    while (size > 0) {
        ULONG read = 0;
        HRESULT result = stream->Read(at, size, &read);
        if (FAILED(result))
            return result;
        if (read == 0)
            return STG_E_READFAULT;
        at += read;
        size -= read;
    }
    return S_OK;
}

HRESULT writeAll(IStream* stream, const void* buffer, ULONG size)
{
    const BYTE* at = static_cast<const BYTE*>(buffer);
    while (size > 0) {
        ULONG written = 0;
        HRESULT result = stream->Write(at, size, &written);
        if (FAILED(result))
            return result;
        if (written == 0)
            return STG_E_WRITEFAULT;
        at += written;
        size -= written;
    }
    return S_OK;
}

} // namespace

std::vector<settingsfile::Entry> Prelvane::fileEntries() const
{
    std::vector<settingsfile::Entry> entries;
    for (const Property& property : properties) {
        if (!property.storage)
            continue;
        settingsfile::Entry entry;
        entry.name = property.fileName;
        entry.typeCode = property.typeCode;
        entry.bytes.assign(property.storage, property.storage + property.byteCount);
        entries.push_back(std::move(entry));
    }
    return entries;
}

// Every bound property that the entries hold with its type code and size
// takes the stored value; the others keep theirs. True when any value was
// taken.
bool Prelvane::readEntries(const std::vector<settingsfile::Entry>& entries)
{
    bool taken = false;
    for (Property& property : properties) {
        if (!property.storage)
            continue;
        for (const settingsfile::Entry& entry : entries) {
            if (entry.name != property.fileName)
                continue;
            if (entry.typeCode == property.typeCode && entry.bytes.size() == property.byteCount) {
                memcpy(property.storage, entry.bytes.data(), property.byteCount);
                taken = true;
            }
            break;
        }
    }
    return taken;
}

STDMETHODIMP Prelvane::SetSettingsFile(BSTR path)
{
    // Read as a zero-terminated string: callers may pass a plain one.
    size_t length = path ? wcsnlen(path, maxPathLength + 1) : 0;
    if (length > maxPathLength)
        return E_INVALIDARG;
    ExclusiveGuard guard(lock);
    settingsFile.assign(path ? path : L"", length);
    return S_OK;
}

STDMETHODIMP Prelvane::GetSettingsFile(BSTR* path)
{
    if (!path)
        return E_POINTER;
    ExclusiveGuard guard(lock);
    *path = SysAllocStringLen(settingsFile.c_str(), static_cast<UINT>(settingsFile.size()));
    return *path ? S_OK : E_OUTOFMEMORY;
}

// Reads all or nothing: a file that is missing, damaged or holds no value
// for any bound property leaves every bound storage untouched.
STDMETHODIMP Prelvane::LoadSettings(VARIANT_BOOL* loaded)
{
    if (!loaded)
        return E_POINTER;
    *loaded = VARIANT_FALSE;
    ExclusiveGuard guard(lock);
    if (settingsFile.empty())
        return S_FALSE;
    bool exclusive = exclusiveReadVariant();
    try {
        std::string text;
        HRESULT read = readSettingsFile(settingsFile, exclusive, text);
        if (read != S_OK)
            return exclusive ? S_OK : read;
        std::vector<settingsfile::Entry> entries;
        if (!settingsfile::parse(text.data(), text.size(), entries) || !readEntries(entries))
            return exclusive ? S_OK : S_FALSE;
        persistedValues = boundValues();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *loaded = VARIANT_TRUE;
    return S_OK;
}

STDMETHODIMP Prelvane::SaveSettings()
{
    ExclusiveGuard guard(lock);
    ++saveCount;
    if (settingsFile.empty())
        return S_FALSE;
    try {
        HRESULT result = replaceSettingsFile(settingsFile, settingsfile::format(fileEntries()));
        if (SUCCEEDED(result))
            persistedValues = boundValues();
        return result;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP Prelvane::GetClassID(CLSID* clsid)
{
    if (!clsid)
        return E_POINTER;
    *clsid = CLSID_Prelvane;
    return S_OK;
}

STDMETHODIMP Prelvane::IsDirty()
{
    ExclusiveGuard guard(lock);
    return boundValues() == persistedValues ? S_FALSE : S_OK;
}

// The stream holds the settings file's text after its length, a 32-bit
// little-endian count of bytes.
STDMETHODIMP Prelvane::Load(IStream* stream)
{
    if (!stream)
        return E_POINTER;
    DWORD length = 0;
    HRESULT result = readAll(stream, &length, sizeof length);
    if (FAILED(result))
        return result;
    if (length > settingsfile::maxFileSize)
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    std::string text(length, '\0');
    result = readAll(stream, &text[0], length);
    if (FAILED(result))
        return result;
    std::vector<settingsfile::Entry> entries;
    if (!settingsfile::parse(text.data(), text.size(), entries))
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    ExclusiveGuard guard(lock);
    readEntries(entries);
    persistedValues = boundValues();
    return S_OK;
}

STDMETHODIMP Prelvane::Save(IStream* stream, BOOL clearDirty)
{
    if (!stream)
        return E_POINTER;
    std::string text;
    Values saved;
    {
        ExclusiveGuard guard(lock);
        text = settingsfile::format(fileEntries());
        saved = boundValues();
    }
    DWORD length = static_cast<DWORD>(text.size());
    HRESULT result = writeAll(stream, &length, sizeof length);
    if (SUCCEEDED(result))
        result = writeAll(stream, text.data(), length);
    if (SUCCEEDED(result) && clearDirty) {
        ExclusiveGuard guard(lock);
        persistedValues = std::move(saved);
    }
    return result;
}

STDMETHODIMP Prelvane::GetSizeMax(ULARGE_INTEGER* size)
{
    if (!size)
        return E_POINTER;
    ExclusiveGuard guard(lock);
    size->QuadPart = sizeof(DWORD) + settingsfile::format(fileEntries()).size();
    return S_OK;
}
