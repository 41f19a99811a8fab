// The properties component as a COM server: its identity across its three
// interfaces, declaring and binding properties, the snapshot stack, the
// stream form, the pages it names, the clients it keeps, its entry points and
// its registration.
#include "testing.h"
#include "pad_settings.h"

#include <cstring>

namespace {

ComPtr<IPrelvane> newComponent()
{
    ComPtr<IPrelvane> component;
    EXPECT_EQ(CoCreateInstance(CLSID_Prelvane, nullptr, CLSCTX_INPROC_SERVER, IID_IPrelvane, component.putVoid()),
              S_OK);
    return component;
}

ULONG countOf(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

// A client that only counts the references taken on it.
template <typename Interface>
class CountedClient : public Interface {
public:
    LONG references = 0;
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        *object = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown))
            return E_NOINTERFACE;
        *object = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--references); }
};

class CountedPropertiesClient : public CountedClient<IPrelvaneClient> {
public:
    STDMETHODIMP OnAttached() override { return S_OK; }
    STDMETHODIMP InitializeDefaults() override { return S_OK; }
    STDMETHODIMP ResetDefaults() override { return S_OK; }
    STDMETHODIMP IsModified() override { return S_FALSE; }
    STDMETHODIMP Validate() override { return S_OK; }
    STDMETHODIMP OnSaved() override { return S_OK; }
};

class CountedPageClient : public CountedClient<IPrelvanePageClient> {
public:
    STDMETHODIMP OnSheetCreated() override { return S_OK; }
    STDMETHODIMP OnSheetDestroyed() override { return S_OK; }
    STDMETHODIMP OnPageActivated() override { return S_OK; }
    STDMETHODIMP OnPageDeactivated() override { return S_OK; }
    STDMETHODIMP OnApply() override { return S_OK; }
    STDMETHODIMP QueryPageFlags(LONG, LONG*) override { return S_OK; }
    STDMETHODIMP OnHelp() override { return S_OK; }
    STDMETHODIMP OnCancel() override { return S_OK; }
    STDMETHODIMP OnClose() override { return S_OK; }
    STDMETHODIMP DescribeSheet(void*) override { return S_OK; }
    STDMETHODIMP CountPages(LONG* count) override
    {
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP DescribePage(void*) override { return S_OK; }
    STDMETHODIMP OnPagesCreated() override { return S_OK; }
};

// Two properties bound to the fixture's fields.
class BoundComponent : public ::testing::Test {
protected:
    void SetUp() override
    {
        component = newComponent();
        ASSERT_TRUE(component);
        ASSERT_EQ(component->DeclareProperty(L"number", nullptr), S_OK);
        ASSERT_EQ(component->BindPropertyStorage(L"number", 4, &number, sizeof number), S_OK);
        ASSERT_EQ(component->DeclareProperty(L"pair", nullptr), S_OK);
        ASSERT_EQ(component->BindPropertyStorage(L"pair", 1, pair, sizeof pair), S_OK);
    }

    LONG depth()
    {
        LONG value = -1;
        EXPECT_EQ(component->GetSnapshotDepth(&value), S_OK);
        return value;
    }

    ComApartment com;
    ComPtr<IPrelvane> component;
    LONG number = 1;
    double pair[2] = {1.5, 2.5};
};

} // namespace

TEST(Component, EveryInterfaceAnswersEveryOtherWithOneIdentity)
{
    ComApartment com;
    ComPtr<IPrelvane> component = newComponent();
    ASSERT_TRUE(component);
    ComPtr<IUnknown> identity;
    ASSERT_EQ(component->QueryInterface(IID_IUnknown, identity.putVoid()), S_OK);

    const IID* interfaces[] = {&IID_IPrelvane, &IID_ISpecifyPropertyPages, &IID_IPersistStream, &IID_IPersist,
                               &IID_IUnknown};
    for (const IID* from : interfaces) {
        ComPtr<IUnknown> start;
        ASSERT_EQ(component->QueryInterface(*from, start.putVoid()), S_OK);
        for (const IID* to : interfaces) {
            ComPtr<IUnknown> answer;
            EXPECT_EQ(start->QueryInterface(*to, answer.putVoid()), S_OK);
        }
        ComPtr<IUnknown> sameIdentity;
        ASSERT_EQ(start->QueryInterface(IID_IUnknown, sameIdentity.putVoid()), S_OK);
        EXPECT_EQ(sameIdentity.get(), identity.get());
        ComPtr<IPrelvane> prelvane;
        ASSERT_EQ(start->QueryInterface(IID_IPrelvane, prelvane.putVoid()), S_OK);
        EXPECT_EQ(prelvane.get(), component.get());
        void* refused = reinterpret_cast<void*>(1);
        EXPECT_EQ(start->QueryInterface(IID_IDispatch, &refused), E_NOINTERFACE);
        EXPECT_EQ(refused, nullptr);
    }
    EXPECT_EQ(component->QueryInterface(IID_IPrelvane, nullptr), E_POINTER);
    ULONG count = countOf(component.get());
    ComPtr<IPersistStream> persist;
    ASSERT_EQ(component->QueryInterface(IID_IPersistStream, persist.putVoid()), S_OK);
    EXPECT_EQ(countOf(component.get()), count + 1);
}

TEST(Component, DeclaringAndBindingRefuseWhatCannotBeKept)
{
    ComApartment com;
    ComPtr<IPrelvane> component = newComponent();
    LONG storage = 0;
    EXPECT_EQ(component->DeclareProperty(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(component->DeclareProperty(L"", nullptr), E_INVALIDARG);
    EXPECT_EQ(component->DeclareProperty(std::wstring(300, L'n').c_str(), nullptr), E_INVALIDARG);
    const wchar_t loneSurrogate[] = {L'a', static_cast<wchar_t>(0xD800), 0};
    EXPECT_EQ(component->DeclareProperty(loneSurrogate, nullptr), E_INVALIDARG);
    EXPECT_EQ(component->DeclareProperty(L"value", nullptr), S_OK);
    EXPECT_EQ(component->DeclareProperty(L"value", nullptr), S_FALSE);

    EXPECT_EQ(component->BindPropertyStorage(nullptr, 4, &storage, 4), E_POINTER);
    EXPECT_EQ(component->BindPropertyStorage(L"undeclared", 4, &storage, 4), E_INVALIDARG);
    EXPECT_EQ(component->BindPropertyStorage(L"value", 4, nullptr, 4), E_INVALIDARG);
    EXPECT_EQ(component->BindPropertyStorage(L"value", 4, &storage, 0), E_INVALIDARG);
    EXPECT_EQ(component->BindPropertyStorage(L"value", 4, &storage, -4), E_INVALIDARG);
    EXPECT_EQ(component->BindPropertyStorage(L"value", 4, &storage, 4097), E_INVALIDARG);
    EXPECT_EQ(component->BindPropertyStorage(L"value", 4, &storage, 4), S_OK);
    EXPECT_EQ(component->BindPropertyStorage(L"value", 4, nullptr, 0), S_OK);

    // A file holds at most 64 properties; the first is already declared.
    for (int i = 1; i < 64; ++i)
        EXPECT_EQ(component->DeclareProperty((L"p" + std::to_wstring(i)).c_str(), nullptr), S_OK) << i;
    EXPECT_EQ(component->DeclareProperty(L"one too many", nullptr), E_INVALIDARG);
}

TEST_F(BoundComponent, SnapshotsAreAStackOfEveryBoundValue)
{
    EXPECT_EQ(depth(), 0);
    ASSERT_EQ(component->SaveSnapshot(), S_OK);
    number = 2;
    pair[1] = 20.0;
    ASSERT_EQ(component->SaveSnapshot(), S_OK);
    number = 3;
    pair[0] = 30.0;
    ASSERT_EQ(component->SaveSnapshot(), S_OK);
    number = 4;
    EXPECT_EQ(depth(), 3);

    EXPECT_EQ(component->DropSnapshot(), S_OK);
    EXPECT_EQ(number, 4) << "dropping keeps the current values";
    EXPECT_EQ(component->RestoreSnapshot(), S_OK);
    EXPECT_EQ(number, 2);
    EXPECT_EQ(pair[0], 1.5);
    EXPECT_EQ(pair[1], 20.0);
    EXPECT_EQ(component->RestoreSnapshot(), S_OK);
    EXPECT_EQ(number, 1);
    EXPECT_EQ(pair[1], 2.5);
    EXPECT_EQ(depth(), 0);

    number = 9;
    EXPECT_EQ(component->RestoreSnapshot(), E_UNEXPECTED);
    EXPECT_EQ(component->DropSnapshot(), E_UNEXPECTED);
    EXPECT_EQ(number, 9);
    EXPECT_EQ(component->GetSnapshotDepth(nullptr), E_POINTER);
}

TEST_F(BoundComponent, ARestoreWritesOnlyWhereTheSameStorageIsStillBound)
{
    ASSERT_EQ(component->SaveSnapshot(), S_OK);
    number = 2;
    pair[0] = 7.0;
    LONG other[2] = {5, 6};
    // "number" now lives elsewhere over another size, "pair" is unbound.
    ASSERT_EQ(component->BindPropertyStorage(L"number", 4, other, sizeof other), S_OK);
    ASSERT_EQ(component->BindPropertyStorage(L"pair", 1, nullptr, 0), S_OK);
    EXPECT_EQ(component->RestoreSnapshot(), S_OK);
    EXPECT_EQ(number, 2);
    EXPECT_EQ(pair[0], 7.0);
    EXPECT_EQ(other[0], 5);
    EXPECT_EQ(other[1], 6);
}

TEST_F(BoundComponent, TheStreamFormIsTheSettingsFileAfterItsLength)
{
    ComPtr<IPersistStream> persist;
    ASSERT_EQ(component->QueryInterface(IID_IPersistStream, persist.putVoid()), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_OK) << "never saved";
    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()), S_OK);
    ASSERT_EQ(persist->Save(stream.get(), FALSE), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_OK) << "saved without clearing";
    std::string text = streamText(stream.get());
    std::vector<settingsfile::Entry> entries;
    ASSERT_TRUE(settingsfile::parse(text.data(), text.size(), entries));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "number");
    EXPECT_EQ(entries[0].typeCode, 4);
    EXPECT_EQ(entries[1].name, "pair");
    EXPECT_EQ(entries[1].bytes.size(), 16u);

    ASSERT_EQ(persist->Save(stream.get(), TRUE), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    number = 42;
    EXPECT_EQ(persist->IsDirty(), S_OK);

    LARGE_INTEGER start = {};
    ASSERT_EQ(stream->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(persist->Load(stream.get()), S_OK);
    EXPECT_EQ(number, 1);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);

    // A length beyond what any settings text may have is refused unread.
    ComPtr<IStream> huge;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, huge.put()), S_OK);
    DWORD length = 0xFFFFFFF0u;
    huge->Write(&length, sizeof length, nullptr);
    huge->Seek(start, STREAM_SEEK_SET, nullptr);
    number = 5;
    EXPECT_EQ(persist->Load(huge.get()), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    EXPECT_EQ(number, 5);

    EXPECT_EQ(persist->Load(nullptr), E_POINTER);
    EXPECT_EQ(persist->Save(nullptr, TRUE), E_POINTER);
    EXPECT_EQ(persist->GetSizeMax(nullptr), E_POINTER);
    EXPECT_EQ(persist->GetClassID(nullptr), E_POINTER);
}

TEST(Component, PagesAreNamedOnlyWhenAPageClientSuppliesThem)
{
    ComApartment com;
    ComPtr<IPrelvane> component = newComponent();
    ComPtr<ISpecifyPropertyPages> specify;
    ASSERT_EQ(component->QueryInterface(IID_ISpecifyPropertyPages, specify.putVoid()), S_OK);
    EXPECT_EQ(specify->GetPages(nullptr), E_POINTER);

    CAUUID pages = {5, reinterpret_cast<GUID*>(1)};
    ASSERT_EQ(specify->GetPages(&pages), S_OK);
    EXPECT_EQ(pages.cElems, 0u);
    EXPECT_EQ(pages.pElems, nullptr);

    CountedPageClient pageClient;
    ASSERT_EQ(component->SetPageClient(&pageClient, FALSE), S_OK);
    ASSERT_EQ(specify->GetPages(&pages), S_OK);
    EXPECT_EQ(pages.cElems, 0u);

    ASSERT_EQ(component->SetPageClient(&pageClient, TRUE), S_OK);
    ASSERT_EQ(specify->GetPages(&pages), S_OK);
    ASSERT_EQ(pages.cElems, 1u);
    EXPECT_TRUE(IsEqualCLSID(pages.pElems[0], CLSID_PrelvanePropertyPage));
    CoTaskMemFree(pages.pElems);
    component->SetPageClient(nullptr, FALSE);
}

TEST(Component, TheComponentHoldsOneReferenceOnEachClientUntilReplacedOrGone)
{
    ComApartment com;
    CountedPropertiesClient first;
    CountedPropertiesClient second;
    CountedPageClient pages;
    {
        ComPtr<IPrelvane> component = newComponent();
        ASSERT_EQ(component->SetClient(&first), S_OK);
        ASSERT_EQ(component->SetPageClient(&pages, TRUE), S_OK);
        EXPECT_EQ(first.references, 1);
        EXPECT_EQ(pages.references, 1);
        ASSERT_EQ(component->SetClient(&second), S_OK);
        EXPECT_EQ(first.references, 0);
        EXPECT_EQ(second.references, 1);
        ASSERT_EQ(component->SetPageClient(&pages, TRUE), S_OK);
        EXPECT_EQ(pages.references, 1);
    }
    EXPECT_EQ(second.references, 0);
    EXPECT_EQ(pages.references, 0);
}

TEST(Component, SaveCountCountsEverySaveRequest)
{
    ComApartment com;
    ComPtr<IPrelvane> component = newComponent();
    LONG saves = -1;
    EXPECT_EQ(component->GetSaveCount(&saves), S_OK);
    EXPECT_EQ(saves, 0);
    EXPECT_EQ(component->SaveSettings(), S_FALSE) << "no file named";
    EXPECT_EQ(component->SaveSettings(), S_FALSE);
    EXPECT_EQ(component->GetSaveCount(&saves), S_OK);
    EXPECT_EQ(saves, 2);
    EXPECT_EQ(component->GetSaveCount(nullptr), E_POINTER);
}

TEST(ComponentServer, EntryPointsHandOutBothClassesAndKeepTheModuleWhileObjectsLive)
{
    ComApartment com;
    HMODULE server = LoadLibraryA("Prelvane.dll");
    ASSERT_NE(server, nullptr);
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    auto getClassObject =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(server, "DllGetClassObject")));
    auto canUnloadNow =
        reinterpret_cast<CanUnloadNow>(reinterpret_cast<void*>(GetProcAddress(server, "DllCanUnloadNow")));
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnloadNow, nullptr);
    EXPECT_NE(GetProcAddress(server, "DllRegisterServer"), nullptr);
    EXPECT_NE(GetProcAddress(server, "DllUnregisterServer"), nullptr);

    void* refused = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(CLSID_TallowmarkSignaturePad, IID_IClassFactory, &refused), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(refused, nullptr);

    EXPECT_EQ(canUnloadNow(), S_OK);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(CLSID_Prelvane, IID_IClassFactory, factory.putVoid()), S_OK);
    ComPtr<IClassFactory> pageFactory;
    ASSERT_EQ(getClassObject(CLSID_PrelvanePropertyPage, IID_IClassFactory, pageFactory.putVoid()), S_OK);
    EXPECT_EQ(canUnloadNow(), S_OK) << "class objects alone do not hold the module";

    RecordingSink outer;
    void* aggregated = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IUnknown, &aggregated), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(aggregated, nullptr);
    {
        ComPtr<IPrelvane> component;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPrelvane, component.putVoid()), S_OK);
        ComPtr<IPropertyPage> page;
        ASSERT_EQ(pageFactory->CreateInstance(nullptr, IID_IPropertyPage, page.putVoid()), S_OK);
        EXPECT_EQ(canUnloadNow(), S_FALSE);
        component.reset();
        EXPECT_EQ(canUnloadNow(), S_FALSE);
    }
    EXPECT_EQ(canUnloadNow(), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(canUnloadNow(), S_OK);
    factory.reset();
    pageFactory.reset();
    FreeLibrary(server);
}

namespace {

std::string registryString(const std::string& key, const char* name)
{
    char value[1024] = "";
    DWORD size = sizeof value;
    if (RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return "<missing>";
    return value;
}

std::string classKey(REFCLSID clsid)
{
    wchar_t text[40];
    StringFromGUID2(clsid, text, 40);
    return "CLSID\\" + std::string(text, text + wcslen(text));
}

// Registers the component again whatever the test did to its registration.
struct Reregistration {
    HMODULE server = LoadLibraryA("Prelvane.dll");
    ~Reregistration()
    {
        if (auto reg = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
                reinterpret_cast<void*>(GetProcAddress(server, "DllRegisterServer"))))
            reg();
        FreeLibrary(server);
    }
};

} // namespace

TEST(ComponentServer, RegistrationMakesBothClassesInProcessServersAndUnregistrationRemovesThem)
{
    ComApartment com;
    Reregistration restore;
    ASSERT_NE(restore.server, nullptr);
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto registerServer =
        reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(restore.server, "DllRegisterServer")));
    auto unregisterServer =
        reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(restore.server, "DllUnregisterServer")));
    char serverPath[MAX_PATH];
    GetModuleFileNameA(restore.server, serverPath, sizeof serverPath);

    ASSERT_EQ(registerServer(), S_OK);
    EXPECT_EQ(registryString(classKey(CLSID_Prelvane) + "\\InprocServer32", nullptr), serverPath);
    EXPECT_EQ(registryString(classKey(CLSID_Prelvane) + "\\InprocServer32", "ThreadingModel"), "Both");
    EXPECT_EQ(registryString(classKey(CLSID_PrelvanePropertyPage) + "\\InprocServer32", nullptr), serverPath);
    EXPECT_EQ(registryString(classKey(CLSID_PrelvanePropertyPage) + "\\InprocServer32", "ThreadingModel"),
              "Apartment");

    ASSERT_EQ(unregisterServer(), S_OK);
    EXPECT_EQ(registryString(classKey(CLSID_Prelvane), nullptr), "<missing>");
    EXPECT_EQ(registryString(classKey(CLSID_PrelvanePropertyPage), nullptr), "<missing>");
    ComPtr<IPrelvane> component;
    EXPECT_EQ(CoCreateInstance(CLSID_Prelvane, nullptr, CLSCTX_INPROC_SERVER, IID_IPrelvane, component.putVoid()),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(unregisterServer(), S_OK) << "unregistering twice is no error";

    ASSERT_EQ(registerServer(), S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_Prelvane, nullptr, CLSCTX_INPROC_SERVER, IID_IPrelvane, component.putVoid()),
              S_OK);
}
