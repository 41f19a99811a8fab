// The properties component missing, failing, or its settings file
// unwritable, object after object with pen input flowing: the control keeps
// working (with its defaults when it has no component), the settings file
// already saved keeps what it holds, and a later object reads it back.
#include "pad_settings.h"
#include "process_resources.h"
#include "stress_testing.h"
#include "unwritable_path.h"

#include <cstdio>

namespace {

constexpr int cycles = 100;
constexpr int unwritableFileCycles = 10;    // each failed save is retried for half a second
constexpr int heldFileCycles = 5;           // and so is each failed read

// What the settings file holds before every case.
PadSettings storedSettings()
{
    PadSettings settings;
    settings.padWidthInches = 5.5;
    settings.timeoutPeriod = 30.0;
    settings.inkWeight = 4;
    settings.originX = 75;
    settings.originY = -25;
    settings.inkColor = RGB(0, 0, 160);
    return settings;
}

// Values an object takes on before it goes, so that its save differs.
PadSettings otherSettings()
{
    PadSettings settings;
    settings.padWidthInches = 3.0;
    settings.timeoutPeriod = 2.0;
    settings.inkWeight = 9;
    settings.originX = 1;
    settings.originY = 2;
    settings.inkColor = RGB(255, 0, 0);
    return settings;
}

::testing::AssertionResult holds(ISignaturePad* pad, const PadSettings& expected)
{
    if (pad->WidthInInches() == expected.padWidthInches && pad->PadTimeout() == expected.timeoutPeriod &&
        pad->InkWeight() == expected.inkWeight && pad->InkColor() == expected.inkColor &&
        pad->OriginPointX() == expected.originX && pad->OriginPointY() == expected.originY)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "width " << pad->WidthInInches() << ", timeout " << pad->PadTimeout()
                                         << ", ink weight " << pad->InkWeight() << ", ink colour " << pad->InkColor()
                                         << ", origin " << pad->OriginPointX() << "," << pad->OriginPointY();
}

// This module's files in the settings folder: its settings file and any
// temporary file a save left beside it. Other modules' files (other test
// programs copy the control under other names) are not this test's.
std::vector<std::string> settingsFolderContents()
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((settingsFolder() + "\\SignaturePad.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

// The component's entry points in its DLL, for taking its registration
// away and giving it back.
HRESULT callComponentEntry(const char* name)
{
    HMODULE module = LoadLibraryA("Prelvane.dll");
    if (!module)
        return HRESULT_FROM_WIN32(GetLastError());
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    HRESULT result = entry ? entry() : E_FAIL;
    FreeLibrary(module);
    return result;
}

// The component unregistered for as long as the object lives.
class ComponentUnregistered {
public:
    ComponentUnregistered() { EXPECT_EQ(callComponentEntry("DllUnregisterServer"), S_OK); }
    ~ComponentUnregistered() { EXPECT_EQ(callComponentEntry("DllRegisterServer"), S_OK); }
};

// The component's registration pointing at a DLL file that is not there.
class ComponentFileMissing {
public:
    ComponentFileMissing()
    {
        wchar_t clsid[40] = L"";
        StringFromGUID2(CLSID_Prelvane, clsid, ARRAYSIZE(clsid));
        std::wstring path = std::wstring(L"CLSID\\") + clsid + L"\\InprocServer32";
        EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.put()),
            ERROR_SUCCESS);
        DWORD size = sizeof registered;
        EXPECT_EQ(RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(registered), &size),
            ERROR_SUCCESS);
        setServer(L"C:\\Program Files\\Prelvane\\missing\\Prelvane.dll");
    }
    ~ComponentFileMissing() { setServer(registered); }

private:
    void setServer(const wchar_t* server)
    {
        EXPECT_EQ(RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(server),
                      static_cast<DWORD>((wcslen(server) + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
    }

    UniqueRegKey key;
    wchar_t registered[1024] = L"";
};

// A properties component every call of which fails: its settings are never
// read and never written. Counts the instances alive.
class FailingComponent : public IPrelvane {
public:
    static std::atomic<long> alive;

    FailingComponent() { ++alive; }
    virtual ~FailingComponent() { --alive; }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IPrelvane))
            return E_NOINTERFACE;
        *object = static_cast<IPrelvane*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override
    {
        ULONG count = --references;
        if (count == 0)
            delete this;
        return count;
    }
    STDMETHODIMP SetSettingsFile(BSTR) override { return E_FAIL; }
    STDMETHODIMP LoadSettings(VARIANT_BOOL* loaded) override
    {
        if (loaded)
            *loaded = VARIANT_FALSE;
        return E_FAIL;
    }
    STDMETHODIMP SaveSettings() override { return E_FAIL; }
    STDMETHODIMP DeclareProperty(LPCWSTR, void*) override { return E_FAIL; }
    STDMETHODIMP SetClient(IPrelvaneClient*) override { return E_FAIL; }
    STDMETHODIMP BindPropertyStorage(LPCWSTR, LONG, void*, LONG) override { return E_FAIL; }
    STDMETHODIMP SetPageClient(IPrelvanePageClient*, boolean) override { return E_FAIL; }
    STDMETHODIMP ShowSettingsSheet(HWND, IUnknown*) override { return E_FAIL; }
    STDMETHODIMP SaveSnapshot() override { return E_FAIL; }
    STDMETHODIMP RestoreSnapshot() override { return E_FAIL; }
    STDMETHODIMP DropSnapshot() override { return E_FAIL; }
    STDMETHODIMP GetSnapshotDepth(LONG*) override { return E_FAIL; }
    STDMETHODIMP GetSettingsFile(BSTR*) override { return E_FAIL; }
    STDMETHODIMP GetSaveCount(LONG*) override { return E_FAIL; }

private:
    std::atomic<ULONG> references{0};
};

std::atomic<long> FailingComponent::alive{0};

// A class object for the component's class registered in this process only:
// it refuses every creation with `refusal`, or, given S_OK, hands out a
// FailingComponent.
class ComponentClassObject : public IClassFactory {
public:
    explicit ComponentClassObject(HRESULT refusal) : refusal(refusal)
    {
        EXPECT_EQ(CoRegisterClassObject(CLSID_Prelvane, this, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &registration),
            S_OK);
    }
    virtual ~ComponentClassObject() { CoRevokeClassObject(registration); }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        *object = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
            return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }     // lives in the test
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID riid, void** object) override
    {
        *object = nullptr;
        if (FAILED(refusal))
            return refusal;
        ComPtr<FailingComponent> component;
        component.attach(new FailingComponent);
        component->AddRef();
        return component->QueryInterface(riid, object);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    HRESULT refusal;
    DWORD registration = 0;
};

// The handles that COM keeps for every failed creation of the component:
// under Wine 8, CoCreateInstance with CLSCTX_ALL, as the control calls it,
// keeps two for a class it cannot find or load.
long comHandlesPerFailedCreation()
{
    constexpr int tries = 10;
    long before = processHandleCount();
    for (int i = 0; i < tries; ++i) {
        ComPtr<IPrelvane> component;
        EXPECT_TRUE(FAILED(CoCreateInstance(CLSID_Prelvane, nullptr, CLSCTX_ALL, IID_IPrelvane, component.putVoid())));
    }
    return (processHandleCount() - before) / tries;
}

class PropertiesFaults : public ::testing::Test {
protected:
    // Threads the process had when the test began.
    const long threadsAtStart = processThreadCount();

    void SetUp() override
    {
        // A run that ended early may have left them unwritable.
        makeWritable(settingsFolder());
        makeWritable(settingsFileFor());
        writeTextFile(settingsFileFor(), storedText);
        startVirtualPad("ST-1500 Settings");
    }

    void TearDown() override
    {
        makeWritable(settingsFolder());
        makeWritable(settingsFileFor());
        DeleteFileA(settingsFileFor().c_str());
        endVirtualPad();
    }

    // One object's life with pen input: made, its settings checked against
    // `expected`, loaded and started, a stroke delivered to its sink, and
    // released. With `change`, it takes those values through its
    // component's IPersistStream before it goes, so that its save differs.
    bool objectLife(const PadSettings& expected, const PadSettings* change = nullptr)
    {
        CountingSink sink;
        {
            ComPtr<ISignaturePad> pad = madeObject();
            if (!pad || !adviseSink(pad.get(), &sink))
                return false;
            EXPECT_TRUE(holds(pad.get(), expected));
            LoadOutcome loaded = loadClosingMessages(pad.get());
            EXPECT_EQ(loaded.result, 0);
            EXPECT_EQ(pad->Start(), 0);
            queueStroke(10, 1);
            EXPECT_TRUE(waitUntil([&] { return sink.count(CountingSink::Up) == 1; }, 5000, cyclePollMs));
            if (change) {
                ComPtr<IPersistStream> persist;
                EXPECT_EQ(pad->QueryInterface(IID_IPersistStream, persist.putVoid()), S_OK);
                if (persist) {
                    ComPtr<IStream> stream = settingsStream(settingsfile::format(settingsEntries(*change)));
                    EXPECT_EQ(persist->Load(stream.get()), S_OK);
                    EXPECT_TRUE(holds(pad.get(), *change));
                }
            }
            EXPECT_EQ(pad->Stop(), 0);
        }
        EXPECT_EQ(sink.refCount, 0u);
        EXPECT_EQ(sink.count(CountingSink::Point), 8);
        return !HasFailure();
    }

    // A new object, made while another program holds the settings file open
    // without sharing it when `holdFileWhileMade` is set.
    ComPtr<ISignaturePad> madeObject()
    {
        UniqueFile holder;
        if (holdFileWhileMade) {
            holder.reset(CreateFileA(settingsFileFor().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                FILE_ATTRIBUTE_NORMAL, nullptr));
            EXPECT_TRUE(holder);
        }
        return control().create();
    }

    // Objects one after another, counted from the second on; afterwards the
    // process holds what it held, but for `comHandlesPerObject` that COM
    // itself keeps for each, and the settings file and its folder what they
    // held.
    void objectLives(int count, const PadSettings& expected, const PadSettings* change = nullptr,
        long comHandlesPerObject = 0)
    {
        ASSERT_TRUE(objectLife(expected, change));
        ResourceCounts baseline = countsWithThreads(threadsAtStart);
        ASSERT_EQ(baseline.threads, threadsAtStart);
        ModuleAllocations allocations(control().module());
        ASSERT_TRUE(allocations.installed());
        std::vector<std::string> folderBefore = settingsFolderContents();
        ULONGLONG start = GetTickCount64();
        int lived = 0;
        while (lived < count && objectLife(expected, change))
            ++lived;
        printf("[ figures  ] %d objects in %llu ms\n", lived, GetTickCount64() - start);
        EXPECT_EQ(lived, count);
        baseline.handles += lived * comHandlesPerObject;
        // The host's thread, a reader starting and one ending.
        EXPECT_TRUE(backToBaseline(baseline, allocations, 3));
        EXPECT_EQ(readFile(settingsFileFor()), storedText) << "the saved settings changed";
        EXPECT_EQ(settingsFolderContents(), folderBefore) << "a file was left in the settings folder";
    }

    // Once the fault has gone, a new object reads what was saved.
    void expectSavedSettingsReadBack()
    {
        ComPtr<ISignaturePad> pad = control().create();
        ASSERT_TRUE(pad);
        EXPECT_TRUE(holds(pad.get(), storedSettings()));
    }

    ComApartment com;
    bool holdFileWhileMade = false;
    const std::string storedText = settingsfile::format(settingsEntries(storedSettings()));
};

} // namespace

TEST_F(PropertiesFaults, ComponentNotRegistered)
{
    {
        ComponentUnregistered unregistered;
        ComPtr<IPrelvane> component;
        EXPECT_EQ(CoCreateInstance(CLSID_Prelvane, nullptr, CLSCTX_ALL, IID_IPrelvane, component.putVoid()),
            REGDB_E_CLASSNOTREG);
        objectLives(cycles, PadSettings(), nullptr, comHandlesPerFailedCreation());
    }
    expectSavedSettingsReadBack();
}

TEST_F(PropertiesFaults, ComponentDllMissing)
{
    {
        ComponentFileMissing missing;
        objectLives(cycles, PadSettings(), nullptr, comHandlesPerFailedCreation());
    }
    expectSavedSettingsReadBack();
}

TEST_F(PropertiesFaults, ComponentCreationFailing)
{
    {
        ComponentClassObject refusing(E_OUTOFMEMORY);
        objectLives(cycles, PadSettings());
    }
    expectSavedSettingsReadBack();
}

TEST_F(PropertiesFaults, ComponentFailingEveryCall)
{
    {
        ComponentClassObject failing(S_OK);
        objectLives(cycles, PadSettings());
        // Every object let go of its component.
        EXPECT_EQ(FailingComponent::alive, 0);
        // The sheet the component cannot show: ShowProperties returns at once.
        ComPtr<ISignaturePad> pad = control().create();
        ASSERT_TRUE(pad);
        EXPECT_EQ(FailingComponent::alive, 1);
        EXPECT_EQ(pad->ShowProperties(), S_OK);
    }
    EXPECT_EQ(FailingComponent::alive, 0);
    expectSavedSettingsReadBack();
}

TEST_F(PropertiesFaults, SettingsFileReadOnly)
{
    PadSettings other = otherSettings();
    {
        UnwritablePath readOnly(settingsFileFor());
        ASSERT_FALSE(UnwritablePath::writable(settingsFileFor()));
        // Each object reads the file, works, and fails to save its changes.
        objectLives(unwritableFileCycles, storedSettings(), &other);
    }
    expectSavedSettingsReadBack();
}

TEST_F(PropertiesFaults, SettingsFolderReadOnly)
{
    PadSettings other = otherSettings();
    {
        UnwritablePath readOnly(settingsFolder());
        if (UnwritablePath::writable(settingsFolder()))
            GTEST_SKIP() << "this system offers no way to make a folder unwritable to this process";
        objectLives(cycles, storedSettings(), &other);
    }
    expectSavedSettingsReadBack();
}

TEST_F(PropertiesFaults, SettingsFileHeldOpenWhileObjectsAreMade)
{
    // The component cannot read a file held open without sharing: it says so.
    {
        ComPtr<IPrelvane> component;
        ASSERT_EQ(CoCreateInstance(CLSID_Prelvane, nullptr, CLSCTX_ALL, IID_IPrelvane, component.putVoid()), S_OK);
        WCHAR path[MAX_PATH] = L"";
        MultiByteToWideChar(CP_ACP, 0, settingsFileFor().c_str(), -1, path, MAX_PATH);
        UniqueBstr file(SysAllocString(path));
        ASSERT_EQ(component->SetSettingsFile(file.get()), S_OK);
        UniqueFile holder(CreateFileA(settingsFileFor().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
            FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder);
        VARIANT_BOOL loaded = VARIANT_TRUE;
        EXPECT_TRUE(FAILED(component->LoadSettings(&loaded)));
        EXPECT_EQ(loaded, VARIANT_FALSE);
    }
    // Each object works with its defaults, and its destruction, with the
    // file free again, does not save them over what it could not read.
    holdFileWhileMade = true;
    objectLives(heldFileCycles, PadSettings());
    holdFileWhileMade = false;
    expectSavedSettingsReadBack();
}
