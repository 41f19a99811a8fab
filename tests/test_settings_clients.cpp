// The control's side of the properties component: what construction and
// destruction call on it, the two client objects it hands over, their
// position tables, their counting and forwarding, and their lifetime. A
// component of the test's own, registered for the component's class in this
// process only, records every call and keeps the clients as a component does.
#include "testing.h"
#include "pad_settings.h"

#include <commctrl.h>
#include <cstring>

namespace {

struct Binding {
    std::wstring name;
    LONG typeCode;
    BYTE* storage;
    LONG byteCount;
};

std::string narrow(const wchar_t* text)
{
    char buffer[1024] = "";
    WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
    return buffer;
}

class RecordingComponent : public IPrelvane {
public:
    // Recorded calls, in order, as text.
    std::vector<std::string> calls;
    std::vector<Binding> bindings;
    ComPtr<IPrelvaneClient> client;
    ComPtr<IPrelvanePageClient> pageClient;
    LONG refCount = 0;
    // What LoadSettings does to the bound storage, and its flag.
    std::function<void(RecordingComponent&)> load;
    VARIANT_BOOL loadedFlag = VARIANT_FALSE;
    // The "pad parameters" storage as SaveSettings found it.
    std::vector<LONG> savedPadParameters;

    BYTE* storageOf(const wchar_t* name)
    {
        for (const Binding& binding : bindings)
            if (binding.name == name)
                return binding.storage;
        ADD_FAILURE() << "not bound: " << narrow(name);
        static BYTE nothing[64];
        return nothing;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        *object = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IPrelvane))
            return E_NOINTERFACE;
        *object = static_cast<IPrelvane*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refCount; }
    STDMETHODIMP_(ULONG) Release() override
    {
        if (--refCount == 0)
            calls.push_back("last Release");
        return refCount;
    }
    STDMETHODIMP SetSettingsFile(BSTR path) override
    {
        calls.push_back("SetSettingsFile " + narrow(path));
        return S_OK;
    }
    STDMETHODIMP LoadSettings(VARIANT_BOOL* loaded) override
    {
        calls.push_back("LoadSettings");
        if (load)
            load(*this);
        *loaded = loadedFlag;
        return S_OK;
    }
    STDMETHODIMP SaveSettings() override
    {
        calls.push_back("SaveSettings");
        savedPadParameters.resize(9);
        memcpy(savedPadParameters.data(), storageOf(L"pad parameters"), 9 * sizeof(LONG));
        return S_OK;
    }
    STDMETHODIMP DeclareProperty(LPCWSTR name, void* reserved) override
    {
        calls.push_back("DeclareProperty " + narrow(name) + (reserved ? " reserved" : ""));
        return S_OK;
    }
    STDMETHODIMP SetClient(IPrelvaneClient* newClient) override
    {
        calls.push_back("SetClient");
        newClient->AddRef();
        client.attach(newClient);
        return S_OK;
    }
    STDMETHODIMP BindPropertyStorage(LPCWSTR name, LONG typeCode, void* storage, LONG byteCount) override
    {
        calls.push_back("BindPropertyStorage " + narrow(name) + " " + std::to_string(typeCode) + " " +
                        std::to_string(byteCount) + (storage ? "" : " null"));
        for (Binding& binding : bindings) {
            if (binding.name == name) {
                binding = {name, typeCode, static_cast<BYTE*>(storage), byteCount};
                return S_OK;
            }
        }
        bindings.push_back({name, typeCode, static_cast<BYTE*>(storage), byteCount});
        return S_OK;
    }
    STDMETHODIMP SetPageClient(IPrelvanePageClient* newPageClient, boolean ownsPages) override
    {
        calls.push_back("SetPageClient " + std::to_string(static_cast<int>(ownsPages)));
        newPageClient->AddRef();
        pageClient.attach(newPageClient);
        return S_OK;
    }
    STDMETHODIMP ShowSettingsSheet(HWND, IUnknown*) override
    {
        calls.push_back("ShowSettingsSheet");
        return S_OK;
    }
    STDMETHODIMP SaveSnapshot() override { return E_NOTIMPL; }
    STDMETHODIMP RestoreSnapshot() override { return E_NOTIMPL; }
    STDMETHODIMP DropSnapshot() override { return E_NOTIMPL; }
    STDMETHODIMP GetSnapshotDepth(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP GetSettingsFile(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP GetSaveCount(LONG*) override { return E_NOTIMPL; }
};

class ComponentClassObject : public IClassFactory {
public:
    explicit ComponentClassObject(RecordingComponent& component) : component(component) {}
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
    STDMETHODIMP CreateInstance(IUnknown*, REFIID riid, void** object) override
    {
        return component.QueryInterface(riid, object);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    RecordingComponent& component;
};

class SettingsClients : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoRegisterClassObject(CLSID_Prelvane, &classObject, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                        &registration),
                  S_OK);
    }
    void TearDown() override { CoRevokeClassObject(registration); }

    ComApartment com;
    RecordingComponent component;
    ComponentClassObject classObject{component};
    DWORD registration = 0;
};

ULONG countOf(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

const char* const persistedNames[] = {"pad width", "pad parameters", "Timeout period", "pen width", "origin point",
                                      "ink color"};

} // namespace

TEST_F(SettingsClients, ConstructionRegistersTheClientsNamesTheFileBindsTheSixSettingsThenLoads)
{
    ComPtr<ISignaturePad> pad = control().create();
    ASSERT_TRUE(pad);
    std::vector<std::string> expected = {"SetClient", "SetPageClient 1", "SetSettingsFile " + settingsFileFor()};
    const std::pair<LONG, LONG> typesAndSizes[] = {{1, 16}, {4, 36}, {4, 8}, {4, 4}, {4, 8}, {4, 4}};
    for (size_t i = 0; i < 6; ++i) {
        expected.push_back(std::string("DeclareProperty ") + persistedNames[i]);
        expected.push_back(std::string("BindPropertyStorage ") + persistedNames[i] + " " +
                           std::to_string(typesAndSizes[i].first) + " " + std::to_string(typesAndSizes[i].second));
    }
    expected.push_back("LoadSettings");
    EXPECT_EQ(component.calls, expected);

    // "pad width" covers the width and the timeout right after it.
    EXPECT_EQ(component.storageOf(L"pad width") + sizeof(double), component.storageOf(L"Timeout period"));
    double padWidth[2];
    memcpy(padWidth, component.storageOf(L"pad width"), sizeof padWidth);
    EXPECT_EQ(padWidth[0], 4.25);
    EXPECT_EQ(padWidth[1], 0.0);
    LONG inkWeight = 0;
    memcpy(&inkWeight, component.storageOf(L"pen width"), sizeof inkWeight);
    EXPECT_EQ(inkWeight, 2);
    EXPECT_EQ(component.refCount, 1);
}

TEST_F(SettingsClients, LoadedValuesReachTheFieldsAndThePadParametersAreSetAfresh)
{
    component.loadedFlag = VARIANT_TRUE;
    component.load = [](RecordingComponent& self) {
        double padWidth[2] = {7.5, 3.0};
        memcpy(self.storageOf(L"pad width"), padWidth, sizeof padWidth);
        LONG inkWeight = 6;
        memcpy(self.storageOf(L"pen width"), &inkWeight, sizeof inkWeight);
        LONG garbage[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
        memcpy(self.storageOf(L"pad parameters"), garbage, sizeof garbage);
    };
    {
        ComPtr<ISignaturePad> pad = control().create();
        EXPECT_EQ(pad->WidthInInches(), 7.5);
        EXPECT_EQ(pad->PadTimeout(), 3.0);
        EXPECT_EQ(pad->InkWeight(), 6);
    }
    EXPECT_EQ(component.savedPadParameters, std::vector<LONG>(9, 0));
}

TEST_F(SettingsClients, DestructionSavesThenTakesTheStorageBackThenReleasesTheComponent)
{
    control().create();
    ASSERT_GE(component.calls.size(), 8u);
    std::vector<std::string> tail(component.calls.end() - 8, component.calls.end());
    std::vector<std::string> expected = {"SaveSettings"};
    const LONG typeCodes[] = {1, 4, 4, 4, 4, 4};
    for (size_t i = 0; i < 6; ++i)
        expected.push_back(std::string("BindPropertyStorage ") + persistedNames[i] + " " +
                           std::to_string(typeCodes[i]) + " 0 null");
    expected.push_back("last Release");
    EXPECT_EQ(tail, expected);
}

TEST_F(SettingsClients, TheClientsAnswerTheirPositionTables)
{
    ComPtr<ISignaturePad> pad = control().create();
    IPrelvaneClient* client = component.client.get();
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->OnAttached(), S_OK);
    EXPECT_EQ(client->InitializeDefaults(), S_OK);
    EXPECT_EQ(client->ResetDefaults(), S_OK);
    EXPECT_EQ(client->IsModified(), 1);
    EXPECT_EQ(client->Validate(), E_NOTIMPL);
    EXPECT_EQ(client->OnSaved(), S_OK);
    EXPECT_EQ(pad->InkWeight(), 2) << "the clients change nothing";

    IPrelvanePageClient* pages = component.pageClient.get();
    ASSERT_NE(pages, nullptr);
    EXPECT_EQ(pages->OnSheetCreated(), S_OK);
    EXPECT_EQ(pages->OnSheetDestroyed(), S_OK);
    EXPECT_EQ(pages->OnPageActivated(), S_OK);
    EXPECT_EQ(pages->OnPageDeactivated(), S_OK);
    EXPECT_EQ(pages->OnApply(), S_OK);
    LONG flags = 0;
    EXPECT_EQ(pages->QueryPageFlags(3, &flags), S_OK);
    EXPECT_EQ(flags, 1);
    EXPECT_EQ(pages->QueryPageFlags(0, nullptr), E_POINTER);
    EXPECT_EQ(pages->OnHelp(), S_OK);
    EXPECT_EQ(pages->OnCancel(), S_OK);
    EXPECT_EQ(pages->OnClose(), S_OK);
    EXPECT_EQ(pages->OnPagesCreated(), S_OK);
}

TEST_F(SettingsClients, ThePageClientDescribesTheSheetAndItsOnePageAndLeavesEveryOtherField)
{
    ComPtr<ISignaturePad> pad = control().create();
    IPrelvanePageClient* pages = component.pageClient.get();

    EXPECT_EQ(pages->DescribeSheet(nullptr), E_POINTER);
    EXPECT_EQ(pages->CountPages(nullptr), E_POINTER);
    EXPECT_EQ(pages->DescribePage(nullptr), E_POINTER);
    LONG pageCount = 0;
    EXPECT_EQ(pages->CountPages(&pageCount), S_OK);
    EXPECT_EQ(pageCount, 1);

    PROPSHEETHEADERA header;
    memset(&header, 0x5A, sizeof header);
    PROPSHEETHEADERA untouched = header;
    ASSERT_EQ(pages->DescribeSheet(&header), S_OK);
    EXPECT_EQ(header.dwFlags, 0x2000008u);
    EXPECT_EQ(header.hInstance, control().module());
    EXPECT_EQ(header.hIcon, nullptr);
    EXPECT_STREQ(header.pszCaption, " Properties");
    EXPECT_EQ(header.pfnCallback, nullptr);
    header.dwFlags = untouched.dwFlags;
    header.hInstance = untouched.hInstance;
    header.hIcon = untouched.hIcon;
    header.pszCaption = untouched.pszCaption;
    header.pfnCallback = untouched.pfnCallback;
    EXPECT_EQ(memcmp(&header, &untouched, sizeof header), 0) << "a field the page client leaves was written";

    // The page record up to and including hbmHeader: 104 bytes.
    BYTE record[128];
    memset(record, 0x5A, sizeof record);
    BYTE before[128];
    memcpy(before, record, sizeof record);
    auto* page = reinterpret_cast<PROPSHEETPAGEA*>(record);
    ASSERT_EQ(pages->DescribePage(page), S_OK);
    EXPECT_EQ(page->dwSize, 104u);
    EXPECT_EQ(page->dwFlags, static_cast<DWORD>(PSP_USETITLE));
    EXPECT_EQ(page->hInstance, control().module());
    EXPECT_EQ(page->pszTemplate, MAKEINTRESOURCEA(800));
    EXPECT_STREQ(page->pszTitle, "Scriptel ST-1500 LCD");
    EXPECT_NE(page->pfnDlgProc, nullptr);
    EXPECT_EQ(page->lParam, reinterpret_cast<LPARAM>(pad.get()));
    EXPECT_EQ(page->pfnCallback, nullptr);
    // hIcon, pcRefParent and everything after it are left alone.
    EXPECT_EQ(memcmp(&page->hIcon, before + offsetof(PROPSHEETPAGEA, hIcon), sizeof page->hIcon), 0);
    size_t rest = offsetof(PROPSHEETPAGEA, pcRefParent);
    EXPECT_EQ(memcmp(record + rest, before + rest, sizeof record - rest), 0);
}

TEST_F(SettingsClients, TheClientsCountNothingAnswerForThemselvesAndPassTheRestToTheObject)
{
    ComPtr<ISignaturePad> pad = control().create();
    ComPtr<IPrelvanePageClient> pages;
    ULONG objectCount = countOf(pad.get());
    ASSERT_EQ(pad->QueryInterface(IID_IPrelvanePageClient, pages.putVoid()), S_OK);
    EXPECT_EQ(pages.get(), component.pageClient.get());
    EXPECT_EQ(countOf(pad.get()), objectCount) << "the page client holds no reference on the object";

    IPrelvaneClient* client = component.client.get();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(pages->AddRef(), 1u);
        EXPECT_EQ(client->AddRef(), 1u);
    }
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(pages->Release(), 1u);
        EXPECT_EQ(client->Release(), 1u);
    }

    for (IUnknown* subObject : {static_cast<IUnknown*>(pages.get()), static_cast<IUnknown*>(client)}) {
        ComPtr<IUnknown> self;
        ASSERT_EQ(subObject->QueryInterface(IID_IUnknown, self.putVoid()), S_OK);
        EXPECT_EQ(self.get(), subObject);

        // Passed on to the object, which refuses IDispatch and unknown interfaces.
        for (REFIID refused : {IID_IDispatch, IID_IClassFactory}) {
            void* answer = reinterpret_cast<void*>(1);
            EXPECT_EQ(subObject->QueryInterface(refused, &answer), E_NOINTERFACE);
            EXPECT_EQ(answer, nullptr);
        }

        // Passed on to the object, which answers with its own and counts it.
        ComPtr<IConnectionPointContainer> container;
        ASSERT_EQ(subObject->QueryInterface(IID_IConnectionPointContainer, container.putVoid()), S_OK);
        ComPtr<IConnectionPointContainer> direct;
        ASSERT_EQ(pad->QueryInterface(IID_IConnectionPointContainer, direct.putVoid()), S_OK);
        EXPECT_EQ(container.get(), direct.get());
        EXPECT_EQ(countOf(pad.get()), objectCount + 2);
    }
    ComPtr<IPrelvaneClient> ownClient;
    EXPECT_EQ(client->QueryInterface(IID_IPrelvaneClient, ownClient.putVoid()), S_OK);
    EXPECT_EQ(ownClient.get(), client);
    // The object hands out its page client, also when asked through the client.
    ComPtr<IPrelvanePageClient> viaClient;
    EXPECT_EQ(client->QueryInterface(IID_IPrelvanePageClient, viaClient.putVoid()), S_OK);
    EXPECT_EQ(viaClient.get(), pages.get());
}

TEST_F(SettingsClients, TheClientsOutliveTheObjectWithoutKeepingItAliveAndNoLongerReachIt)
{
    ComPtr<ISignaturePad> pad = control().create();
    ComPtr<IPrelvanePageClient> pages;
    ASSERT_EQ(pad->QueryInterface(IID_IPrelvanePageClient, pages.putVoid()), S_OK);
    pad.reset();
    // The object is gone although its page client is held.
    ASSERT_FALSE(component.calls.empty());
    EXPECT_EQ(component.calls.back(), "last Release");

    for (IUnknown* subObject : {static_cast<IUnknown*>(pages.get()), static_cast<IUnknown*>(component.client.get())}) {
        ComPtr<IUnknown> self;
        EXPECT_EQ(subObject->QueryInterface(IID_IUnknown, self.putVoid()), S_OK);
        EXPECT_EQ(self.get(), subObject);
        void* answer = reinterpret_cast<void*>(1);
        EXPECT_EQ(subObject->QueryInterface(IID_IConnectionPointContainer, &answer), E_NOINTERFACE);
        EXPECT_EQ(answer, nullptr);
        EXPECT_EQ(subObject->AddRef(), 1u);
        EXPECT_EQ(subObject->Release(), 1u);
    }
    EXPECT_EQ(component.client->InitializeDefaults(), S_OK);
    LONG pageCount = 0;
    EXPECT_EQ(pages->CountPages(&pageCount), S_OK);
    PROPSHEETHEADERA header = {};
    EXPECT_EQ(pages->DescribeSheet(&header), S_OK);
    // No object, no page.
    BYTE record[128] = {};
    EXPECT_EQ(pages->DescribePage(record), E_UNEXPECTED);

    // The last references go: first the host's, then the component's.
    pages.reset();
    EXPECT_EQ(component.pageClient->CountPages(&pageCount), S_OK);
    component.pageClient.reset();
    component.client.reset();
}
