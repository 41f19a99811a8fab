#include "pad_settings.h"

#include <gtest/gtest.h>
#include <cstring>
#include <fstream>

#include "testing.h"

namespace {

template <typename Value>
settingsfile::Entry entry(const char* name, int32_t typeCode, const Value& value, size_t size = sizeof(Value))
{
    settingsfile::Entry result;
    result.name = name;
    result.typeCode = typeCode;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
    result.bytes.assign(bytes, bytes + size);
    return result;
}

const settingsfile::Entry* findEntry(const std::vector<settingsfile::Entry>& entries, const char* name)
{
    for (const settingsfile::Entry& candidate : entries)
        if (candidate.name == name)
            return &candidate;
    ADD_FAILURE() << "no entry " << name;
    return nullptr;
}

template <typename Value>
void readEntry(const std::vector<settingsfile::Entry>& entries, const char* name, Value& value,
               size_t size = sizeof(Value))
{
    const settingsfile::Entry* found = findEntry(entries, name);
    if (!found)
        return;
    EXPECT_EQ(found->bytes.size(), size) << name;
    if (found->bytes.size() == size)
        memcpy(&value, found->bytes.data(), size);
}

} // namespace

std::vector<settingsfile::Entry> settingsEntries(const PadSettings& settings)
{
    double padWidth[2] = {settings.padWidthInches, settings.timeoutPeriod};
    LONG origin[2] = {settings.originX, settings.originY};
    return {
        entry("pad width", 1, padWidth),
        entry("pad parameters", 4, settings.padParameters),
        entry("Timeout period", 4, settings.timeoutPeriod),
        entry("pen width", 4, settings.inkWeight),
        entry("origin point", 4, origin),
        entry("ink color", 4, settings.inkColor),
    };
}

PadSettings readPadSettings(const std::string& text)
{
    PadSettings settings;
    std::vector<settingsfile::Entry> entries;
    EXPECT_TRUE(settingsfile::parse(text.data(), text.size(), entries)) << text;
    double padWidth[2] = {};
    LONG origin[2] = {};
    readEntry(entries, "pad width", padWidth);
    readEntry(entries, "pad parameters", settings.padParameters);
    readEntry(entries, "Timeout period", settings.timeoutPeriod);
    readEntry(entries, "pen width", settings.inkWeight);
    readEntry(entries, "origin point", origin);
    readEntry(entries, "ink color", settings.inkColor);
    settings.padWidthInches = padWidth[0];
    EXPECT_EQ(padWidth[1], settings.timeoutPeriod) << "the two stored copies of the timeout differ";
    settings.originX = origin[0];
    settings.originY = origin[1];
    return settings;
}

std::string settingsFolder()
{
    return commonAppDataFolder() + "\\Tallowmark\\Settings";
}

std::string settingsFileFor(const std::string& baseName)
{
    return settingsFolder() + "\\" + baseName + ".settings";
}

std::wstring settingsFileFor(const std::wstring& baseName)
{
    std::string folder = settingsFolder();
    return std::wstring(folder.begin(), folder.end()) + L"\\" + baseName + L".settings";
}

void writeTextFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    EXPECT_TRUE(out.good()) << path;
}

ComPtr<IStream> settingsStream(const std::string& text)
{
    ComPtr<IStream> stream;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()), S_OK);
    DWORD length = static_cast<DWORD>(text.size());
    EXPECT_EQ(stream->Write(&length, sizeof length, nullptr), S_OK);
    EXPECT_EQ(stream->Write(text.data(), length, nullptr), S_OK);
    LARGE_INTEGER start = {};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    return stream;
}

std::string streamText(IStream* stream)
{
    LARGE_INTEGER start = {};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    DWORD length = 0;
    ULONG read = 0;
    EXPECT_EQ(stream->Read(&length, sizeof length, &read), S_OK);
    std::string text(length, '\0');
    EXPECT_EQ(stream->Read(&text[0], length, &read), S_OK);
    EXPECT_EQ(read, length);
    return text;
}

ComPtr<IPrelvane> propertiesComponentOf(IUnknown* object)
{
    ComPtr<IPersistStream> persist;
    ComPtr<IPrelvane> component;
    if (SUCCEEDED(object->QueryInterface(IID_IPersistStream, persist.putVoid()))) {
        EXPECT_EQ(persist->QueryInterface(IID_IPrelvane, component.putVoid()), S_OK);
    }
    return component;
}

void loadSettingsInto(IUnknown* object, const PadSettings& values)
{
    loadSettingsInto(object, settingsEntries(values));
}

void loadSettingsInto(IUnknown* object, const std::vector<settingsfile::Entry>& entries)
{
    ComPtr<IPersistStream> persist;
    ASSERT_EQ(object->QueryInterface(IID_IPersistStream, persist.putVoid()), S_OK);
    ComPtr<IStream> stream = settingsStream(settingsfile::format(entries));
    ASSERT_EQ(persist->Load(stream.get()), S_OK);
}
