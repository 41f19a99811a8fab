// The control's persisted settings through the built DLL and the registered
// properties component: the defaults, values that outlive an object, the pad
// parameters, the settings file's name and folder, saves of several threads
// and processes, a file held elsewhere, snapshots, the IPersistStream round
// trip, and an object whose component cannot be created.
#include "testing.h"
#include "import_redirect.h"
#include "pad_settings.h"
#include "process_resources.h"

#include <commctrl.h>
#include <sddl.h>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <utility>

namespace {

// Where the control moves a settings file it cannot read: the first, then
// the second and on.
std::string setAsideFile(int number)
{
    return settingsFileFor() + ".unreadable" + (number > 1 ? "." + std::to_string(number) : "");
}

void removeSettingsFiles()
{
    DeleteFileA(settingsFileFor().c_str());
    for (int number = 1; number <= 8; ++number)
        DeleteFileA(setAsideFile(number).c_str());
}

// Every case starts and ends without the control's settings file; a second
// process of a case leaves the file to the first.
class Settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (testChildRole().empty())
            removeSettingsFiles();
    }
    void TearDown() override
    {
        if (testChildRole().empty())
            removeSettingsFiles();
    }

    ComApartment com;
};

PadSettings changedSettings()
{
    PadSettings settings;
    settings.padWidthInches = 6.5;
    settings.timeoutPeriod = 12.25;
    settings.inkWeight = 5;
    settings.originX = 120;
    settings.originY = -40;
    settings.inkColor = RGB(200, 10, 30);
    for (LONG i = 0; i < 9; ++i)
        settings.padParameters[i] = 100 + i;
    return settings;
}

void expectFields(ISignaturePad* pad, const PadSettings& expected)
{
    EXPECT_EQ(pad->WidthInInches(), expected.padWidthInches);
    EXPECT_EQ(pad->PadTimeout(), expected.timeoutPeriod);
    EXPECT_EQ(pad->InkWeight(), expected.inkWeight);
    EXPECT_EQ(pad->InkColor(), expected.inkColor);
    EXPECT_EQ(pad->OriginPointX(), expected.originX);
    EXPECT_EQ(pad->OriginPointY(), expected.originY);
}

void expectSame(const PadSettings& actual, const PadSettings& expected)
{
    EXPECT_EQ(actual.padWidthInches, expected.padWidthInches);
    EXPECT_EQ(actual.timeoutPeriod, expected.timeoutPeriod);
    EXPECT_EQ(actual.inkWeight, expected.inkWeight);
    EXPECT_EQ(actual.inkColor, expected.inkColor);
    EXPECT_EQ(actual.originX, expected.originX);
    EXPECT_EQ(actual.originY, expected.originY);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(actual.padParameters[i], expected.padParameters[i]) << "pad parameter " << i;
}

ComPtr<IPersistStream> persistOf(IUnknown* object)
{
    ComPtr<IPersistStream> persist;
    EXPECT_EQ(object->QueryInterface(IID_IPersistStream, persist.putVoid()), S_OK);
    return persist;
}

// What an object's fields hold, the pad parameters included, as its
// IPersistStream writes them.
PadSettings savedFrom(ISignaturePad* pad)
{
    ComPtr<IPersistStream> persist = persistOf(pad);
    ComPtr<IStream> stream;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()), S_OK);
    EXPECT_EQ(persist->Save(stream.get(), FALSE), S_OK);
    return readPadSettings(streamText(stream.get()));
}

std::wstring settingsFileOf(ISignaturePad* pad)
{
    ComPtr<IPrelvane> component = propertiesComponentOf(pad);
    if (!component)
        return std::wstring();
    UniqueBstr path;
    EXPECT_EQ(component->GetSettingsFile(path.put()), S_OK);
    return path.get();
}

} // namespace

TEST_F(Settings, WithoutAFileANewObjectHasTheDefaultsAndItsDestructionWritesThem)
{
    {
        ComPtr<ISignaturePad> pad = control().create();
        ASSERT_TRUE(pad);
        expectFields(pad.get(), PadSettings());
        expectSame(savedFrom(pad.get()), PadSettings());
        EXPECT_FALSE(fileExists(settingsFileFor()));
    }
    ASSERT_TRUE(fileExists(settingsFileFor()));
    expectSame(readPadSettings(readFile(settingsFileFor())), PadSettings());
}

TEST_F(Settings, ValuesChangedInAnObjectSurviveItAndTheNextObjectReadsThemBack)
{
    PadSettings changed = changedSettings();
    {
        ComPtr<ISignaturePad> pad = control().create();
        loadSettingsInto(pad.get(), changed);
        expectFields(pad.get(), changed);
    }
    // Saved as the object held them, pad parameters included.
    expectSame(readPadSettings(readFile(settingsFileFor())), changed);

    ComPtr<ISignaturePad> next = control().create();
    expectFields(next.get(), changed);
    // The pad parameters alone are set afresh by every construction.
    PadSettings expected = changed;
    memset(expected.padParameters, 0, sizeof expected.padParameters);
    expectSame(savedFrom(next.get()), expected);
}

TEST_F(Settings, PadParametersAreZeroAfterConstructionWhateverTheFileHeld)
{
    PadSettings stored;
    for (LONG i = 0; i < 9; ++i)
        stored.padParameters[i] = -7 * (i + 1);
    stored.inkWeight = 9;
    writeTextFile(settingsFileFor(), settingsfile::format(settingsEntries(stored)));
    {
        ComPtr<ISignaturePad> pad = control().create();
        EXPECT_EQ(pad->InkWeight(), 9);
        EXPECT_EQ(pad->Width(), 0);
        EXPECT_EQ(pad->Height(), 0);
        PadSettings held = savedFrom(pad.get());
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(held.padParameters[i], 0) << i;
    }
    PadSettings rewritten = readPadSettings(readFile(settingsFileFor()));
    EXPECT_EQ(rewritten.inkWeight, 9);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(rewritten.padParameters[i], 0) << i;
}

TEST_F(Settings, AFileHoldingSomeSettingsGivesThoseAndLeavesTheOthersAtTheirDefaults)
{
    std::vector<settingsfile::Entry> entries = settingsEntries(changedSettings());
    // Only "pen width" and "ink color".
    writeTextFile(settingsFileFor(), settingsfile::format({entries[3], entries[5]}));
    ComPtr<ISignaturePad> pad = control().create();
    PadSettings expected;
    expected.inkWeight = changedSettings().inkWeight;
    expected.inkColor = changedSettings().inkColor;
    expectFields(pad.get(), expected);
}

// A file the component cannot read (cut short, damaged, of a later version,
// too large) gives the defaults and stays as it is while nothing changes;
// the first save moves it aside, each beside the ones before, and writes a
// whole file in its place.
class SettingsReadVariants : public Settings, public ::testing::WithParamInterface<const char*> {};

TEST_P(SettingsReadVariants, AnUnreadableFileIsKeptAndMovedAsideBeforeTheFirstSaveOverIt)
{
    PrelvaneReadVariant variant(GetParam());
    std::string valid = settingsfile::format(settingsEntries(changedSettings()));
    std::string damaged = valid;
    damaged[valid.find("pen width") + 1] ^= 0x20;
    std::string laterVersion = valid;
    laterVersion.replace(0, strlen("PrelvaneSettings 1"), "PrelvaneSettings 2");
    const std::string unreadable[] = {
        valid.substr(0, valid.size() / 2), damaged, laterVersion,
        valid + std::string(settingsfile::maxFileSize, '#'),
    };
    PadSettings saved;
    saved.inkWeight = 7;
    for (int number = 1; number <= 4; ++number) {
        const std::string& stored = unreadable[number - 1];
        writeTextFile(settingsFileFor(), stored);
        {
            ComPtr<ISignaturePad> pad = control().create();
            expectFields(pad.get(), PadSettings());
        }
        EXPECT_EQ(readFile(settingsFileFor()), stored) << number;
        EXPECT_FALSE(fileExists(setAsideFile(number))) << number;

        saved.inkColor = RGB(number, 0, 0);
        {
            ComPtr<ISignaturePad> pad = control().create();
            loadSettingsInto(pad.get(), saved);
        }
        EXPECT_EQ(readFile(setAsideFile(number)), stored) << number;
        expectSame(readPadSettings(readFile(settingsFileFor())), saved);
    }
}

INSTANTIATE_TEST_SUITE_P(Components, SettingsReadVariants, ::testing::ValuesIn(prelvaneReadVariants));

// Objects in two processes save over and over at the same time, each a set
// of values of its own: every object made meanwhile reads one whole set, and
// the file ends as one whole set of the one or the other.
TEST_F(Settings, TwoProcessesSavingAtOnceLeaveOneWholeFile)
{
    constexpr int saves = 50;
    // Each writer's round gives every setting a value of its own.
    auto roundValues = [](int writer, int round) {
        PadSettings values;
        values.padWidthInches = writer * 100 + round;
        values.timeoutPeriod = writer * 1000 + round;
        values.inkWeight = writer * 10000 + round;
        values.originX = writer * 100000 + round;
        values.originY = round;
        values.inkColor = RGB(writer, round, 0);
        return values;
    };
    auto consistent = [](ISignaturePad* pad) {
        LONG writer = pad->OriginPointX() / 100000;
        LONG round = pad->OriginPointY();
        return (writer == 1 || writer == 2) && pad->OriginPointX() == writer * 100000 + round &&
               pad->WidthInInches() == writer * 100 + round && pad->PadTimeout() == writer * 1000 + round &&
               pad->InkWeight() == writer * 10000 + round && pad->InkColor() == RGB(writer, round, 0);
    };
    std::string role = testChildRole();
    int writer = role.empty() ? 1 : 2;
    UniqueHandle ready = testEvent("concurrent-saves-" + (role.empty() ? std::to_string(GetCurrentProcessId()) : role));
    ASSERT_TRUE(ready);
    std::unique_ptr<TestChildProcess> other;
    if (role.empty()) {
        writeTextFile(settingsFileFor(), settingsfile::format(settingsEntries(roundValues(writer, 0))));
        other = std::make_unique<TestChildProcess>("Settings.TwoProcessesSavingAtOnceLeaveOneWholeFile",
                                                   std::to_string(GetCurrentProcessId()));
        ASSERT_TRUE(other->started());
        ASSERT_EQ(WaitForSingleObject(ready.get(), 60000), WAIT_OBJECT_0) << "the second process did not start";
    } else {
        SetEvent(ready.get());
    }
    int readOthers = 0;
    for (int round = 1; round <= saves; ++round) {
        ComPtr<ISignaturePad> pad = control().create();
        ASSERT_TRUE(consistent(pad.get())) << "round " << round << ": width " << pad->WidthInInches();
        readOthers += pad->OriginPointX() / 100000 != writer;
        loadSettingsInto(pad.get(), roundValues(writer, round));
    }
    printf("[ figures  ] writer %d read the other's values in %d of %d rounds\n", writer, readOthers, saves);
    if (!other)
        return;
    EXPECT_EQ(other->exitCode(), 0u);
    ComPtr<ISignaturePad> last = control().create();
    EXPECT_TRUE(consistent(last.get()));
    WIN32_FIND_DATAA found;
    HANDLE leftover = FindFirstFileA((settingsFileFor() + ".*.tmp").c_str(), &found);
    EXPECT_EQ(leftover, INVALID_HANDLE_VALUE) << "a temporary file was left: " << found.cFileName;
    if (leftover != INVALID_HANDLE_VALUE)
        FindClose(leftover);
    EXPECT_EQ(last->OriginPointY(), saves);
}

namespace {

// Writers of the case below: the entry of settingsEntries each changes, and
// how an object shows it.
struct SettingWriter {
    size_t entry;
    LONG (*read)(ISignaturePad*);
};
const SettingWriter settingWriters[] = {
    {3, [](ISignaturePad* pad) { return pad->InkWeight(); }},
    {5, [](ISignaturePad* pad) { return static_cast<LONG>(pad->InkColor()); }},
    {4, [](ISignaturePad* pad) { return pad->OriginPointX(); }},
    {0, [](ISignaturePad* pad) { return static_cast<LONG>(pad->WidthInInches()); }},
};

// Every setting at the round's number.
std::vector<settingsfile::Entry> roundEntries(int round)
{
    PadSettings values;
    values.padWidthInches = values.inkWeight = values.originX = values.inkColor = round;
    return settingsEntries(values);
}

// On a thread of its own, an object per round, which must read the writer's
// value of the round before and takes this round's. The first departure.
std::string changeRoundAfterRound(const SettingWriter& writer, int rounds)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::string departure;
    for (int round = 1; round <= rounds && departure.empty(); ++round) {
        ComPtr<ISignaturePad> pad = control().create();
        LONG read = pad ? writer.read(pad.get()) : -1;
        if (read != round - 1)
            departure = "round " + std::to_string(round) + " read " + std::to_string(read);
        else
            loadSettingsInto(pad.get(), {roundEntries(round)[writer.entry]});
    }
    CoUninitialize();
    return departure;
}

} // namespace

// Two processes of two threads, each thread changing a setting of its own,
// object after object, all at once: every object reads its thread's last
// change, whatever the others saved meanwhile, and every last change stays.
TEST_F(Settings, TwoProcessesOfTwoThreadsChangingDifferentSettingsKeepEveryChange)
{
    constexpr int rounds = 50;
    std::string role = testChildRole();
    UniqueHandle ready = testEvent("different-settings-" + (role.empty() ? std::to_string(GetCurrentProcessId()) : role));
    std::unique_ptr<TestChildProcess> other;
    if (role.empty()) {
        writeTextFile(settingsFileFor(), settingsfile::format(roundEntries(0)));
        other = std::make_unique<TestChildProcess>(
            "Settings.TwoProcessesOfTwoThreadsChangingDifferentSettingsKeepEveryChange",
            std::to_string(GetCurrentProcessId()));
        ASSERT_EQ(WaitForSingleObject(ready.get(), 60000), WAIT_OBJECT_0) << "the second process did not start";
    } else {
        SetEvent(ready.get());
    }
    const SettingWriter* mine = settingWriters + (role.empty() ? 0 : 2);
    std::string departure;
    std::thread second([&] { departure = changeRoundAfterRound(mine[1], rounds); });
    EXPECT_EQ(changeRoundAfterRound(mine[0], rounds), "");
    second.join();
    EXPECT_EQ(departure, "");
    if (!other)
        return;
    EXPECT_EQ(other->exitCode(), 0u);
    ComPtr<ISignaturePad> last = control().create();
    for (const SettingWriter& writer : settingWriters)
        EXPECT_EQ(writer.read(last.get()), rounds) << "entry " << writer.entry;
}

namespace {

// The holder's handle, closed at the control's first pause before it tries
// again.
HANDLE heldUntilPause = INVALID_HANDLE_VALUE;
void(WINAPI* realSleep)(DWORD) = nullptr;

void WINAPI letGoAndSleep(DWORD milliseconds)
{
    if (heldUntilPause != INVALID_HANDLE_VALUE)
        CloseHandle(std::exchange(heldUntilPause, INVALID_HANDLE_VALUE));
    realSleep(milliseconds);
}

} // namespace

// Another program holds the settings file when an object's release saves a
// change (reading or writing and letting readers in, as a scanner, or
// letting nobody in, as a backup): the file is not set aside, the save tries
// again, and once the program lets go the file keeps every stored setting
// with the change.
TEST_P(SettingsReadVariants, AFileHeldAtTheSaveIsNotSetAsideAndKeepsEveryStoredSetting)
{
    PrelvaneReadVariant variant(GetParam());
    const std::pair<DWORD, DWORD> holders[] = {
        {GENERIC_READ, FILE_SHARE_READ}, {GENERIC_WRITE, FILE_SHARE_READ}, {GENERIC_READ, 0}};
    for (const auto& [access, sharing] : holders) {
        PadSettings changed = changedSettings();
        memset(changed.padParameters, 0, sizeof changed.padParameters);
        writeTextFile(settingsFileFor(), settingsfile::format(settingsEntries(changed)));
        ComPtr<ISignaturePad> pad = control().create();
        expectFields(pad.get(), changed);
        changed.inkWeight = 9;
        loadSettingsInto(pad.get(), {settingsEntries(changed)[3]});
        heldUntilPause = CreateFileA(settingsFileFor().c_str(), access, sharing, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(heldUntilPause, INVALID_HANDLE_VALUE);
        {
            RedirectedImport pause(control().module(), "Sleep", reinterpret_cast<void*>(letGoAndSleep));
            realSleep = reinterpret_cast<void(WINAPI*)(DWORD)>(pause.original());
            pad.reset();
        }
        EXPECT_EQ(heldUntilPause, INVALID_HANDLE_VALUE) << "the save did not try again, holder " << access;
        if (heldUntilPause != INVALID_HANDLE_VALUE)
            CloseHandle(std::exchange(heldUntilPause, INVALID_HANDLE_VALUE));
        EXPECT_EQ(readFile(settingsFileFor()), settingsfile::format(settingsEntries(changed))) << access;
        EXPECT_FALSE(fileExists(setAsideFile(1))) << access;
    }
}

// The save at an object's release, with its lock, its merge and an
// unreadable file moved aside, takes no memory from the C runtime: nothing
// on the way can throw out of Release. A first release that saves nothing
// lets the runtimes set up what they keep for the thread.
TEST_F(Settings, TheSaveAtReleaseTakesNoMemoryFromTheRuntime)
{
    writeTextFile(settingsFileFor(), settingsfile::format(settingsEntries(PadSettings())));
    control().create().reset();
    writeTextFile(settingsFileFor(), "not a settings file");
    ComPtr<ISignaturePad> pad = control().create();
    loadSettingsInto(pad.get(), changedSettings());
    ModuleAllocations allocations(control().module());
    ASSERT_TRUE(allocations.installed());
    pad.reset();
    EXPECT_EQ(allocations.allocated(), 0);
    EXPECT_EQ(readFile(setAsideFile(1)), "not a settings file");
    expectSame(readPadSettings(readFile(settingsFileFor())), changedSettings());
}

TEST_F(Settings, SnapshotsSaveRestoreAndDropTheObjectsValuesAsAStack)
{
    ComPtr<ISignaturePad> pad = control().create();
    ComPtr<IPrelvane> component = propertiesComponentOf(pad.get());
    ASSERT_TRUE(component);
    PadSettings first = changedSettings();
    PadSettings second = changedSettings();
    second.inkWeight = 11;
    second.padWidthInches = 3.0;

    ASSERT_EQ(component->SaveSnapshot(), S_OK);     // the defaults
    loadSettingsInto(pad.get(), first);
    ASSERT_EQ(component->SaveSnapshot(), S_OK);     // first
    loadSettingsInto(pad.get(), second);
    LONG depth = 0;
    EXPECT_EQ(component->GetSnapshotDepth(&depth), S_OK);
    EXPECT_EQ(depth, 2);

    EXPECT_EQ(component->RestoreSnapshot(), S_OK);
    expectFields(pad.get(), first);
    EXPECT_EQ(component->RestoreSnapshot(), S_OK);
    expectFields(pad.get(), PadSettings());
    EXPECT_EQ(component->GetSnapshotDepth(&depth), S_OK);
    EXPECT_EQ(depth, 0);

    // Nothing left to restore or drop: the values stay.
    loadSettingsInto(pad.get(), second);
    EXPECT_TRUE(FAILED(component->RestoreSnapshot()));
    EXPECT_TRUE(FAILED(component->DropSnapshot()));
    expectFields(pad.get(), second);

    // Dropping keeps the current values.
    ASSERT_EQ(component->SaveSnapshot(), S_OK);
    loadSettingsInto(pad.get(), first);
    EXPECT_EQ(component->DropSnapshot(), S_OK);
    expectFields(pad.get(), first);
    EXPECT_EQ(component->GetSnapshotDepth(&depth), S_OK);
    EXPECT_EQ(depth, 0);
}

TEST_F(Settings, PersistStreamCarriesTheValuesFromOneObjectToAnother)
{
    ComPtr<ISignaturePad> source = control().create();
    loadSettingsInto(source.get(), changedSettings());
    ComPtr<IPersistStream> persist = persistOf(source.get());
    ASSERT_TRUE(persist);

    CLSID clsid = GUID_NULL;
    EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Prelvane));

    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()), S_OK);
    ULARGE_INTEGER sizeMax = {};
    EXPECT_EQ(persist->GetSizeMax(&sizeMax), S_OK);
    ASSERT_EQ(persist->Save(stream.get(), TRUE), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    STATSTG stat = {};
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, sizeMax.QuadPart);

    ComPtr<ISignaturePad> target = control().create();
    expectFields(target.get(), PadSettings());
    LARGE_INTEGER start = {};
    ASSERT_EQ(stream->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
    ComPtr<IPersistStream> targetPersist = persistOf(target.get());
    ASSERT_EQ(targetPersist->Load(stream.get()), S_OK);
    expectFields(target.get(), changedSettings());
    expectSame(savedFrom(target.get()), changedSettings());
    EXPECT_EQ(targetPersist->IsDirty(), S_FALSE);

    loadSettingsInto(source.get(), PadSettings());
    EXPECT_EQ(persist->IsDirty(), S_FALSE) << "loading a stream sets the values it compares with";
}

TEST_F(Settings, ADamagedStreamIsRefusedAndChangesNothing)
{
    ComPtr<ISignaturePad> pad = control().create();
    loadSettingsInto(pad.get(), changedSettings());
    ComPtr<IPersistStream> persist = persistOf(pad.get());
    std::string text = settingsfile::format(settingsEntries(PadSettings()));
    text[text.size() / 2] ^= 0x20;
    EXPECT_TRUE(FAILED(persist->Load(settingsStream(text).get())));

    // A stream that ends early.
    ComPtr<IStream> shortStream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, shortStream.put()), S_OK);
    DWORD length = 500;
    shortStream->Write(&length, sizeof length, nullptr);
    shortStream->Write("PrelvaneSettings 1\n", 19, nullptr);
    LARGE_INTEGER start = {};
    shortStream->Seek(start, STREAM_SEEK_SET, nullptr);
    EXPECT_TRUE(FAILED(persist->Load(shortStream.get())));
    expectFields(pad.get(), changedSettings());
}

TEST_F(Settings, TheObjectHandsOutItsComponentsPagesAndPersistence)
{
    ComPtr<ISignaturePad> pad = control().create();
    ComPtr<ISpecifyPropertyPages> specify;
    ASSERT_EQ(pad->QueryInterface(IID_ISpecifyPropertyPages, specify.putVoid()), S_OK);
    CAUUID pages = {};
    ASSERT_EQ(specify->GetPages(&pages), S_OK);
    ASSERT_EQ(pages.cElems, 1u);
    EXPECT_TRUE(IsEqualCLSID(pages.pElems[0], CLSID_PrelvanePropertyPage));
    CoTaskMemFree(pages.pElems);

    // Both are the same component, which answers IPrelvane from each.
    ComPtr<IPrelvane> fromPages;
    ASSERT_EQ(specify->QueryInterface(IID_IPrelvane, fromPages.putVoid()), S_OK);
    ComPtr<IPrelvane> fromPersist = propertiesComponentOf(pad.get());
    EXPECT_EQ(fromPages.get(), fromPersist.get());
    EXPECT_EQ(settingsFileOf(pad.get()), settingsFileFor(std::wstring(L"SignaturePad")));
}

// The module's base name names the settings file, whatever characters it
// holds: a copy of the control under another name, or in a folder and under
// a name the ANSI code page cannot spell, keeps a file of its own, and what
// one of its objects saves the next one reads.
TEST(SettingsFileName, AModuleCopiedUnderAnotherNameKeepsASettingsFileOfItsOwn)
{
    const std::pair<std::wstring, std::wstring> copies[] = {{L"pad.old.dll", L"pad.old"},
                                                            {foreignControlPath(), foreignBaseName}};
    DeleteFileA(settingsFileFor().c_str());
    for (const auto& [relativePath, baseName] : copies) {
        std::wstring ownFile = settingsFileFor(baseName);
        DeleteFileW(ownFile.c_str());
        {
            ControlCopy copy("tallowmark-base-name", relativePath);
            ComApartment com;
            ComPtr<ISignaturePad> pad = copy.library.create();
            ASSERT_TRUE(pad);
            EXPECT_EQ(settingsFileOf(pad.get()), ownFile);
            loadSettingsInto(pad.get(), changedSettings());
            pad.reset();
            EXPECT_NE(GetFileAttributesW(ownFile.c_str()), INVALID_FILE_ATTRIBUTES);
            expectFields(copy.library.create().get(), changedSettings());
        }
        DeleteFileW(ownFile.c_str());
    }
    EXPECT_FALSE(fileExists(settingsFileFor()));
}

TEST(SettingsFileName, OnlyTheFileNamesLastDotCountsAndANameWithoutOneIsUsedWhole)
{
    ScratchFolder folder("tallowmark.base.name");
    // Loaded by its exact name: a trailing dot stops the loader adding ".dll".
    std::string copy = folder.file("pad");
    ASSERT_TRUE(CopyFileA(controlFileName, copy.c_str(), FALSE)) << GetLastError();
    ControlLibrary library(copy + ".");
    ASSERT_TRUE(library.module());
    char loadedPath[MAX_PATH] = "";
    GetModuleFileNameA(library.module(), loadedPath, sizeof loadedPath);
    ASSERT_STREQ(strrchr(loadedPath, '\\'), "\\pad");
    {
        ComApartment com;
        ComPtr<ISignaturePad> pad = library.create();
        EXPECT_EQ(settingsFileOf(pad.get()), settingsFileFor(std::wstring(L"pad")));
    }
    EXPECT_TRUE(fileExists(settingsFileFor("pad")));
    DeleteFileA(settingsFileFor("pad").c_str());
}

namespace {

// The folders a module asks CreateDirectoryA for, each with its descriptor's
// text form (empty without one).
std::vector<std::pair<std::string, std::string>> folderRequests;
BOOL(WINAPI* realCreateDirectory)(LPCSTR, LPSECURITY_ATTRIBUTES) = nullptr;

BOOL WINAPI recordingCreateDirectory(LPCSTR path, LPSECURITY_ATTRIBUTES attributes)
{
    LPSTR access = nullptr;
    if (attributes)
        ConvertSecurityDescriptorToStringSecurityDescriptorA(attributes->lpSecurityDescriptor, SDDL_REVISION_1,
                                                             DACL_SECURITY_INFORMATION, &access, nullptr);
    folderRequests.emplace_back(path, access ? access : "");
    LocalFree(access);
    return realCreateDirectory(path, attributes);
}

} // namespace

// Every user of the machine may change the settings file: the module makes
// the Settings folder with an entry that lets Users (BU) read, write and
// delete ("Modify", 0x1301bf) in it, inherited by the files and folders made
// there (OICI). Wine keeps no security descriptor on the test's file system,
// so it is read from the module's request, in a copy whose start-up runs
// here.
TEST(SettingsFolder, IsMadeSoThatEveryUserMayChangeTheSettingsFile)
{
    ControlCopy copy("tallowmark-settings-folder", L"SignaturePad.dll");
    folderRequests.clear();
    {
        RedirectedImport watch(copy.library.module(), "CreateDirectoryA",
                               reinterpret_cast<void*>(recordingCreateDirectory));
        ASSERT_TRUE(watch.installed());
        realCreateDirectory = reinterpret_cast<BOOL(WINAPI*)(LPCSTR, LPSECURITY_ATTRIBUTES)>(watch.original());
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(copy.library.getClassObject(CLSID_TallowmarkSignaturePad, IID_IClassFactory, factory.putVoid()),
                  S_OK);
    }
    ASSERT_EQ(folderRequests.size(), 2u);
    EXPECT_EQ(folderRequests[1].first, settingsFolder());
    EXPECT_NE(folderRequests[1].second.find("(A;OICI;0x1301bf;;;BU)"), std::string::npos) << folderRequests[1].second;
    EXPECT_NE(GetFileAttributesA(settingsFolder().c_str()), INVALID_FILE_ATTRIBUTES);
}

// A class object for the component's class, registered in this process
// only, that refuses every creation as COM does for a class that is not
// installed: the control meets a component it cannot create.
class RefusingClassObject : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        *object = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
            return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID, void** object) override
    {
        *object = nullptr;
        return REGDB_E_CLASSNOTREG;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

class MissingComponent : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteFileA(settingsFileFor().c_str());
        ASSERT_EQ(CoRegisterClassObject(CLSID_Prelvane, &refusing, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                        &registration),
                  S_OK);
        ComPtr<IPrelvane> component;
        ASSERT_TRUE(FAILED(CoCreateInstance(CLSID_Prelvane, nullptr, CLSCTX_ALL, IID_IPrelvane,
                                            component.putVoid())));
    }
    void TearDown() override
    {
        CoRevokeClassObject(registration);
        DeleteFileA(settingsFileFor().c_str());
    }

    ComApartment com;
    RefusingClassObject refusing;
    DWORD registration = 0;
};

TEST_F(MissingComponent, TheObjectWorksWithItsDefaultsShowsNothingAndSavesNothing)
{
    PadSettings stored = changedSettings();
    std::string text = settingsfile::format(settingsEntries(stored));
    writeTextFile(settingsFileFor(), text);
    {
        ComPtr<ISignaturePad> pad = control().create();
        ASSERT_TRUE(pad);
        expectFields(pad.get(), PadSettings());
        EXPECT_STREQ(pad->DeviceName(), "ST-1500");

        void* refused = reinterpret_cast<void*>(1);
        EXPECT_EQ(pad->QueryInterface(IID_ISpecifyPropertyPages, &refused), E_NOINTERFACE);
        EXPECT_EQ(refused, nullptr);
        refused = reinterpret_cast<void*>(1);
        EXPECT_EQ(pad->QueryInterface(IID_IPersistStream, &refused), E_NOINTERFACE);
        EXPECT_EQ(refused, nullptr);

        // The page client is the object's own and still answers.
        ComPtr<IPrelvanePageClient> pageClient;
        EXPECT_EQ(pad->QueryInterface(IID_IPrelvanePageClient, pageClient.putVoid()), S_OK);

        WindowWatcher sheet(" Properties", [](HWND window) {
            if (window)
                PostMessageA(window, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        }, 500);
        EXPECT_EQ(pad->ShowProperties(), S_OK);
        EXPECT_FALSE(sheet.found());
    }
    EXPECT_EQ(readFile(settingsFileFor()), text);
}

// The component and the page client stay usable when the object goes while
// others hold them; neither holds the object, and neither reaches it again.
TEST_F(Settings, TheComponentAndThePageClientOutliveTheObjectWithoutReachingIt)
{
    ComPtr<ISignaturePad> pad = control().create();
    loadSettingsInto(pad.get(), changedSettings());
    ComPtr<IPersistStream> persist = persistOf(pad.get());
    ComPtr<IPrelvane> component = propertiesComponentOf(pad.get());
    ComPtr<IPrelvanePageClient> pageClient;
    ASSERT_EQ(pad->QueryInterface(IID_IPrelvanePageClient, pageClient.putVoid()), S_OK);
    pad.reset();

    // The object is gone: its destruction saved the settings.
    expectSame(readPadSettings(readFile(settingsFileFor())), changedSettings());
    LONG saves = 0;
    EXPECT_EQ(component->GetSaveCount(&saves), S_OK);
    EXPECT_EQ(saves, 1);

    // The object's storage is no longer the component's: nothing of it is
    // saved, snapshots hold nothing, and no sheet can be shown.
    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()), S_OK);
    EXPECT_EQ(persist->Save(stream.get(), TRUE), S_OK);
    std::string text = streamText(stream.get());
    std::vector<settingsfile::Entry> entries;
    EXPECT_TRUE(settingsfile::parse(text.data(), text.size(), entries));
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(component->SaveSnapshot(), S_OK);
    EXPECT_EQ(component->RestoreSnapshot(), S_OK);
    {
        WindowWatcher sheet(" Properties", [](HWND window) {
            if (window)
                PostMessageA(window, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        }, 300);
        EXPECT_EQ(component->ShowSettingsSheet(nullptr, nullptr), E_UNEXPECTED);
        EXPECT_FALSE(sheet.found());
    }
    BYTE record[128] = {};
    EXPECT_EQ(pageClient->DescribePage(record), E_UNEXPECTED);
    void* answer = reinterpret_cast<void*>(1);
    EXPECT_EQ(pageClient->QueryInterface(IID_ISignaturePad, &answer), E_NOINTERFACE);
    EXPECT_EQ(answer, nullptr);
    expectSame(readPadSettings(readFile(settingsFileFor())), changedSettings());
}

// ShowProperties has the component show the settings sheet, owned by the
// host's frame window, with the object's page; a build without the page's
// template shows nothing.
TEST_F(Settings, ShowPropertiesShowsTheSettingsSheetOwnedByTheFrameWindow)
{
    HWND frame = CreateWindowExA(0, "STATIC", "Host Frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 400, 300,
                                 nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(frame, nullptr);
    bool pageTemplate = FindResourceA(control().module(), MAKEINTRESOURCEA(800), MAKEINTRESOURCEA(5)) != nullptr;
    ComPtr<ISignaturePad> pad = control().create();
    pad->TakeFrameWindow(frame);
    ComPtr<IPrelvane> component = propertiesComponentOf(pad.get());
    HWND owner = nullptr;
    char title[128] = "";
    {
        WindowWatcher sheet(" Properties", [&](HWND window) {
            if (!window)
                return;
            owner = GetWindow(window, GW_OWNER);
            TCITEMA item = {};
            item.mask = TCIF_TEXT;
            item.pszText = title;
            item.cchTextMax = sizeof title;
            SendMessageA(reinterpret_cast<HWND>(SendMessageA(window, PSM_GETTABCONTROL, 0, 0)), TCM_GETITEMA, 0,
                         reinterpret_cast<LPARAM>(&item));
            PostMessageA(window, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        }, pageTemplate ? 5000 : 500);
        EXPECT_EQ(pad->ShowProperties(), S_OK);
        EXPECT_EQ(sheet.found(), pageTemplate);
    }
    if (pageTemplate) {
        EXPECT_EQ(owner, frame);
        EXPECT_STREQ(title, "Scriptel ST-1500 LCD");
    }
    // The reference taken on the object for the sheet is gone again.
    pad->AddRef();
    EXPECT_EQ(pad->Release(), 1u);
    LONG depth = -1;
    EXPECT_EQ(component->GetSnapshotDepth(&depth), S_OK);
    EXPECT_EQ(depth, 0) << "the page's snapshots are balanced";
    pad.reset();
    DestroyWindow(frame);
}
