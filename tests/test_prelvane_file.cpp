// The properties component alone against its settings file: the format,
// missing, empty, truncated, corrupted, oversized and hostile files,
// properties missing or stored with other sizes, and saving that never
// leaves a half-written file.
#include "testing.h"
#include "pad_settings.h"

#include <array>
#include <cstring>
#include <random>
#include <thread>

namespace {

// Three properties bound inside one block of memory whose every other byte
// must stay as it was.
struct BoundProperty {
    const wchar_t* name;
    const char* fileName;
    LONG typeCode;
    size_t offset;
    size_t size;
};
const BoundProperty boundProperties[] = {
    {L"alpha", "alpha", 4, 16, 4},
    {L"beta", "beta", 1, 48, 16},
    {L"gamma", "gamma", 4, 96, 8},
};
using Memory = std::array<BYTE, 160>;

class ComponentFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        folder = std::string(temp) + "prelvane-files-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(folder.c_str(), nullptr);
        path = folder + "\\test.settings";
        component = makeComponent(memory);
        ASSERT_TRUE(component);
    }

    void TearDown() override
    {
        component.reset();
        for (const std::string& name : folderContents()) {
            std::string file = folder + "\\" + name;
            SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(file.c_str());
        }
        RemoveDirectoryA(folder.c_str());
    }

    // A component bound to the block, filled with a pattern, using `path`.
    ComPtr<IPrelvane> makeComponent(Memory& block)
    {
        ComPtr<IPrelvane> made;
        EXPECT_EQ(CoCreateInstance(CLSID_Prelvane, nullptr, CLSCTX_INPROC_SERVER, IID_IPrelvane, made.putVoid()), S_OK);
        if (!made)
            return made;
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<BYTE>(0xA0 + i % 7);
        for (const BoundProperty& property : boundProperties) {
            EXPECT_EQ(made->DeclareProperty(property.name, nullptr), S_OK);
            EXPECT_EQ(made->BindPropertyStorage(property.name, property.typeCode, &block[property.offset],
                                                static_cast<LONG>(property.size)),
                      S_OK);
        }
        UniqueBstr widePath(SysAllocString(std::wstring(path.begin(), path.end()).c_str()));
        EXPECT_EQ(made->SetSettingsFile(widePath.get()), S_OK);
        return made;
    }

    // Distinct values in the three bound ranges.
    void setValues(Memory& block, BYTE seed)
    {
        for (const BoundProperty& property : boundProperties)
            for (size_t i = 0; i < property.size; ++i)
                block[property.offset + i] = static_cast<BYTE>(seed + property.offset + i);
    }

    std::vector<settingsfile::Entry> entriesOf(const Memory& block)
    {
        std::vector<settingsfile::Entry> entries;
        for (const BoundProperty& property : boundProperties) {
            settingsfile::Entry entry;
            entry.name = property.fileName;
            entry.typeCode = property.typeCode;
            entry.bytes.assign(&block[property.offset], &block[property.offset] + property.size);
            entries.push_back(entry);
        }
        return entries;
    }

    // Loads `text` as the settings file and expects nothing read.
    void expectNothingRead(const std::string& text, const char* what)
    {
        writeTextFile(path, text);
        Memory before = memory;
        VARIANT_BOOL loaded = VARIANT_TRUE;
        EXPECT_EQ(component->LoadSettings(&loaded), S_FALSE) << what;
        EXPECT_EQ(loaded, VARIANT_FALSE) << what;
        EXPECT_TRUE(memory == before) << what << ": storage written";
    }

    std::vector<std::string> folderContents()
    {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return names;
        do {
            if (strcmp(found.cFileName, ".") && strcmp(found.cFileName, ".."))
                names.push_back(found.cFileName);
        } while (FindNextFileA(search, &found));
        FindClose(search);
        return names;
    }

    ComApartment com;
    std::string folder;
    std::string path;
    Memory memory;
    ComPtr<IPrelvane> component;
};

// A file body closed with its true count and checksum, so that only the
// body's own fault can refuse it.
std::string closed(const std::string& body, size_t entryCount)
{
    char closing[32];
    snprintf(closing, sizeof closing, "End %u %08X\n", static_cast<unsigned>(entryCount),
             static_cast<unsigned>(settingsfile::crc32(body.data(), body.size())));
    return body + closing;
}

} // namespace

TEST_F(ComponentFile, SavedFileIsReadableTextWithOneLinePerPropertyAndLoadsBack)
{
    setValues(memory, 1);
    Memory saved = memory;
    ASSERT_EQ(component->SaveSettings(), S_OK);
    std::string text = readFile(path);
    EXPECT_EQ(text, settingsfile::format(entriesOf(saved)));
    EXPECT_EQ(text.substr(0, text.find('\n')), "PrelvaneSettings 1");
    EXPECT_NE(text.find("\nalpha=4 4 11121314\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nbeta=1 16 31323334"), std::string::npos) << text;
    EXPECT_NE(text.find("\nEnd 3 "), std::string::npos) << text;

    setValues(memory, 77);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    EXPECT_EQ(component->LoadSettings(&loaded), S_OK);
    EXPECT_EQ(loaded, VARIANT_TRUE);
    EXPECT_TRUE(memory == saved);
}

TEST_F(ComponentFile, MissingEmptyOrUnnamedFilesReadNothing)
{
    VARIANT_BOOL loaded = VARIANT_TRUE;
    Memory before = memory;
    EXPECT_EQ(component->LoadSettings(&loaded), S_FALSE);
    EXPECT_EQ(loaded, VARIANT_FALSE);
    EXPECT_TRUE(memory == before);
    EXPECT_EQ(component->LoadSettings(nullptr), E_POINTER);

    expectNothingRead("", "an empty file");

    // A folder where the file should be.
    DeleteFileA(path.c_str());
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
    loaded = VARIANT_TRUE;
    EXPECT_EQ(component->LoadSettings(&loaded), S_FALSE);
    EXPECT_EQ(loaded, VARIANT_FALSE);
    EXPECT_TRUE(memory == before);
    RemoveDirectoryA(path.c_str());

    // No file named: nothing is read and nothing written.
    EXPECT_EQ(component->SetSettingsFile(nullptr), S_OK);
    EXPECT_EQ(component->LoadSettings(&loaded), S_FALSE);
    EXPECT_EQ(component->SaveSettings(), S_FALSE);
    EXPECT_TRUE(folderContents().empty());
}

TEST_F(ComponentFile, AFileTruncatedAtAnyByteReadsNothing)
{
    setValues(memory, 1);
    ASSERT_EQ(component->SaveSettings(), S_OK);
    std::string valid = readFile(path);
    ASSERT_GT(valid.size(), 100u);
    setValues(memory, 50);
    for (size_t length = 0; length < valid.size(); ++length)
        expectNothingRead(valid.substr(0, length), ("truncated to " + std::to_string(length)).c_str());
}

TEST_F(ComponentFile, AFileWithAnyByteDamagedReadsNothing)
{
    setValues(memory, 1);
    ASSERT_EQ(component->SaveSettings(), S_OK);
    std::string valid = readFile(path);
    setValues(memory, 50);
    for (size_t at = 0; at < valid.size(); ++at) {
        for (BYTE flip : {0x01, 0x20, 0x80}) {
            std::string damaged = valid;
            damaged[at] = static_cast<char>(damaged[at] ^ flip);
            expectNothingRead(damaged, ("byte " + std::to_string(at) + " flipped").c_str());
        }
    }
    expectNothingRead(valid + "x", "a byte after the closing line");
    std::string crlf;
    for (char c : valid)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    expectNothingRead(crlf, "carriage returns");
}

TEST_F(ComponentFile, HugeLengthsAndOversizedFilesReadNothing)
{
    setValues(memory, 1);
    const char* header = "PrelvaneSettings 1\n";
    std::string longValue(2 * 4097, '0');
    const std::pair<std::string, size_t> bodies[] = {
        {std::string(header) + "alpha=4 4097 " + longValue + "\n", 1},
        {std::string(header) + "alpha=4 99999999999999999999 00\n", 1},
        {std::string(header) + "alpha=4 4294967300 00\n", 1},
        {std::string(header) + "alpha=4 18446744073709551620 00\n", 1},
        {std::string(header) + "alpha=4 0 \n", 1},
        {std::string(header) + "alpha=4 04 00000000\n", 1},
        {std::string(header) + "alpha=4 -4 00000000\n", 1},
        {std::string(header) + "alpha=99999999999 4 00000000\n", 1},
        {std::string(header) + "alpha=4 4 000000\n", 1},
        {std::string(header) + "alpha=4 4 0000000000\n", 1},
        {std::string(header) + std::string(300, 'n') + "=4 4 00000000\n", 1},
        {std::string(header) + "alpha=4 4 00000000\n", 2},
        {"PrelvaneSettings 2\nalpha=4 4 00000000\n", 1},
        {"PrelvaneSettings 99999999999999999999\n", 0},
        {std::string(header) + "alpha=4 4 00000000\nalpha=4 4 01010101\n", 2},
    };
    for (const auto& body : bodies)
        expectNothingRead(closed(body.first, body.second), body.first.substr(0, 80).c_str());
    char hugeCount[64];
    snprintf(hugeCount, sizeof hugeCount, "End 99999999999 %08X\n",
             static_cast<unsigned>(settingsfile::crc32(header, strlen(header))));
    expectNothingRead(header + std::string(hugeCount), "a huge count of properties");

    // 65 properties, one more than a file may hold.
    std::string many = header;
    for (int i = 0; i < 65; ++i)
        many += "p" + std::to_string(i) + "=4 4 00000000\n";
    expectNothingRead(closed(many, 65), "65 properties");

    // A valid file padded beyond the size limit.
    std::string valid = settingsfile::format(entriesOf(memory));
    std::string padded = valid.substr(0, valid.rfind("End "));
    while (padded.size() <= settingsfile::maxFileSize)
        padded += "q" + std::to_string(padded.size()) + "=4 4 00000000\n";
    setValues(memory, 90);
    expectNothingRead(closed(padded, 0), "more than the size limit");
}

TEST_F(ComponentFile, RandomBytesAndRandomlyDamagedFilesReadNothing)
{
    setValues(memory, 1);
    std::string valid = settingsfile::format(entriesOf(memory));
    setValues(memory, 50);
    std::mt19937 random(20261209);
    for (int round = 0; round < 300; ++round) {
        std::string noise(random() % 2048, '\0');
        for (char& c : noise)
            c = static_cast<char>(random());
        expectNothingRead(noise, ("random bytes, round " + std::to_string(round)).c_str());

        std::string damaged = valid;
        int changes = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < changes; ++i) {
            size_t at = random() % damaged.size();
            damaged[at] = static_cast<char>(damaged[at] ^ (1 + random() % 255));
        }
        expectNothingRead(damaged, ("random damage, round " + std::to_string(round)).c_str());
    }
}

TEST_F(ComponentFile, PropertiesMissingOrStoredOtherwiseKeepTheirValuesAndTheOthersLoad)
{
    setValues(memory, 1);
    std::vector<settingsfile::Entry> stored = entriesOf(memory);
    setValues(memory, 50);
    Memory before = memory;

    // "beta" alone, with a property the component does not know.
    settingsfile::Entry unknown;
    unknown.name = "zeta";
    unknown.typeCode = 4;
    unknown.bytes = {1, 2, 3, 4};
    writeTextFile(path, settingsfile::format({stored[1], unknown}));
    VARIANT_BOOL loaded = VARIANT_FALSE;
    EXPECT_EQ(component->LoadSettings(&loaded), S_OK);
    EXPECT_EQ(loaded, VARIANT_TRUE);
    Memory expected = before;
    memcpy(&expected[48], stored[1].bytes.data(), 16);
    EXPECT_TRUE(memory == expected);

    // "alpha" stored with 8 bytes, "gamma" with another type code: only "beta" loads.
    setValues(memory, 60);
    before = memory;
    std::vector<settingsfile::Entry> mixed = stored;
    mixed[0].bytes.resize(8);
    mixed[2].typeCode = 1;
    writeTextFile(path, settingsfile::format(mixed));
    EXPECT_EQ(component->LoadSettings(&loaded), S_OK);
    expected = before;
    memcpy(&expected[48], stored[1].bytes.data(), 16);
    EXPECT_TRUE(memory == expected);

    // Nothing the component can take: nothing read.
    mixed.erase(mixed.begin() + 1);
    expectNothingRead(settingsfile::format(mixed), "no property with its size and type");
    expectNothingRead(settingsfile::format({unknown}), "unknown properties only");
    expectNothingRead(settingsfile::format({}), "no properties");
}

TEST_F(ComponentFile, SavingLeavesNoTemporaryFileAndAFailedSaveLeavesTheOldFile)
{
    setValues(memory, 1);
    ASSERT_EQ(component->SaveSettings(), S_OK);
    EXPECT_EQ(folderContents(), std::vector<std::string>{"test.settings"});
    std::string old = readFile(path);

    // The file is held open by someone else and cannot be replaced: the
    // save fails, the old file stays whole and nothing is left beside it.
    {
        UniqueFile holder(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder);
        setValues(memory, 2);
        EXPECT_TRUE(FAILED(component->SaveSettings()));
    }
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(folderContents(), std::vector<std::string>{"test.settings"});

    // A folder that does not exist: nothing is made.
    std::wstring missing = std::wstring(folder.begin(), folder.end()) + L"\\missing\\test.settings";
    UniqueBstr missingPath(SysAllocString(missing.c_str()));
    ASSERT_EQ(component->SetSettingsFile(missingPath.get()), S_OK);
    EXPECT_TRUE(FAILED(component->SaveSettings()));
    EXPECT_EQ(folderContents(), std::vector<std::string>{"test.settings"});

    LONG saves = 0;
    EXPECT_EQ(component->GetSaveCount(&saves), S_OK);
    EXPECT_EQ(saves, 3) << "every SaveSettings call counts";
}

TEST_F(ComponentFile, AStaleTemporaryFileBesideTheSettingsChangesNothing)
{
    setValues(memory, 1);
    ASSERT_EQ(component->SaveSettings(), S_OK);
    Memory saved = memory;
    writeTextFile(path + ".4242-1.tmp", "PrelvaneSettings 1\nalpha=4 4 0000");
    setValues(memory, 9);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    EXPECT_EQ(component->LoadSettings(&loaded), S_OK);
    EXPECT_TRUE(memory == saved);
    EXPECT_EQ(component->SaveSettings(), S_OK);
    EXPECT_EQ(readFile(path), settingsfile::format(entriesOf(saved)));
}

// A reader loading again and again while another component keeps replacing
// the file always finds a whole file, one of the two sets of values and
// never a part, and the writer's saves all succeed: a replacement that meets
// the file open waits for the reader to close it.
TEST_F(ComponentFile, AReaderNeverSeesAHalfWrittenFile)
{
    Memory first;
    Memory second;
    setValues(memory, 1);
    first = memory;
    setValues(memory, 101);
    second = memory;
    ASSERT_EQ(component->SaveSettings(), S_OK);

    std::atomic<bool> writing{true};
    std::thread writer([&] {
        ComApartment writerApartment(COINIT_MULTITHREADED);
        Memory block;
        ComPtr<IPrelvane> writerComponent = makeComponent(block);
        for (int i = 0; i < 300; ++i) {
            block = i % 2 ? first : second;
            EXPECT_EQ(writerComponent->SaveSettings(), S_OK);
        }
        writing = false;
    });
    int reads = 0;
    while (writing || reads < 10) {
        memory.fill(0);
        VARIANT_BOOL loaded = VARIANT_FALSE;
        EXPECT_EQ(component->LoadSettings(&loaded), S_OK);
        ASSERT_EQ(loaded, VARIANT_TRUE) << "read " << reads;
        bool whole = true;
        for (const BoundProperty& property : boundProperties) {
            const BYTE* value = &memory[property.offset];
            whole = whole && (!memcmp(value, &first[property.offset], property.size) ||
                              !memcmp(value, &second[property.offset], property.size));
        }
        EXPECT_TRUE(whole) << "read " << reads;
        ++reads;
        Sleep(1);
    }
    writer.join();
    EXPECT_EQ(folderContents(), std::vector<std::string>{"test.settings"});
}

TEST_F(ComponentFile, TheSettingsFilePathIsTheComponentsOwnCopy)
{
    UniqueBstr read;
    ASSERT_EQ(component->GetSettingsFile(read.put()), S_OK);
    EXPECT_EQ(std::wstring(read.get()), std::wstring(path.begin(), path.end()));
    EXPECT_EQ(component->GetSettingsFile(nullptr), E_POINTER);

    // A plain wide string, not a BSTR, is read up to its terminating zero.
    wchar_t plain[] = L"C:\\plain\\path.settings";
    ASSERT_EQ(component->SetSettingsFile(plain), S_OK);
    plain[0] = L'D';
    ASSERT_EQ(component->GetSettingsFile(read.put()), S_OK);
    EXPECT_EQ(std::wstring(read.get()), L"C:\\plain\\path.settings");

    std::wstring tooLong(40000, L'x');
    EXPECT_EQ(component->SetSettingsFile(&tooLong[0]), E_INVALIDARG);
    ASSERT_EQ(component->GetSettingsFile(read.put()), S_OK);
    EXPECT_EQ(std::wstring(read.get()), L"C:\\plain\\path.settings");
}

TEST_F(ComponentFile, AnUnboundPropertyIsNeitherSavedNorLoaded)
{
    setValues(memory, 1);
    ASSERT_EQ(component->SaveSettings(), S_OK);
    ASSERT_EQ(component->BindPropertyStorage(L"beta", 1, nullptr, 0), S_OK);
    setValues(memory, 40);
    Memory before = memory;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    EXPECT_EQ(component->LoadSettings(&loaded), S_OK);
    EXPECT_TRUE(!memcmp(&memory[48], &before[48], 16)) << "the unbound storage was written";
    ASSERT_EQ(component->SaveSettings(), S_OK);
    EXPECT_EQ(readFile(path).find("beta="), std::string::npos);
}
