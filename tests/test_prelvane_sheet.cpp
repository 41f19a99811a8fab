// The properties component's settings sheet and property page, driven by
// window messages under the display: the sheet built from a page client's
// descriptions, the property page class on its own, and the page in a
// container's property frame. The page client here is the test's own, with
// an in-memory dialog template.
#include "testing.h"

#include <commctrl.h>
#include <olectl.h>
#include <cstring>

namespace {

constexpr int editId = 4001;
constexpr int buttonId = 4002;

// A page template in memory: an edit control and a push button.
class PageTemplate {
public:
    PageTemplate()
    {
        addDword(WS_CHILD | DS_CONTROL);
        addDword(0);
        words.push_back(2);                                     // controls
        addRectangle(0, 0, 200, 100);
        words.insert(words.end(), {0, 0, 0});                   // no menu, default class, no title
        addControl(0x0081, editId, WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, L"", 10, 10);
        addControl(0x0080, buttonId, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, L"Change", 10, 40);
    }

    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words.data()); }

private:
    void addDword(DWORD value)
    {
        words.push_back(LOWORD(value));
        words.push_back(HIWORD(value));
    }
    void addRectangle(short x, short y, short cx, short cy) { words.insert(words.end(), {WORD(x), WORD(y), WORD(cx), WORD(cy)}); }
    void addControl(WORD classAtom, WORD id, DWORD style, const wchar_t* text, short x, short y)
    {
        if (words.size() % 2)
            words.push_back(0);                                 // items start on a DWORD
        addDword(style);
        addDword(0);
        addRectangle(x, y, 80, 14);
        words.push_back(id);
        words.insert(words.end(), {0xFFFF, classAtom});
        for (; *text; ++text)
            words.push_back(static_cast<WORD>(*text));
        words.push_back(0);
        words.push_back(0);                                     // no creation data
    }

    std::vector<WORD> words;
};

// What the page's dialog procedure received, in order.
struct PageLog {
    std::vector<std::string> events;
};

INT_PTR CALLBACK testPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        // As in a property sheet, lParam is the page record holding our lParam.
        auto* record = reinterpret_cast<const PROPSHEETPAGEA*>(lParam);
        SetWindowLongPtrA(page, GWLP_USERDATA, record->lParam);
        reinterpret_cast<PageLog*>(record->lParam)->events.push_back("init");
        return TRUE;
    }
    auto* log = reinterpret_cast<PageLog*>(GetWindowLongPtrA(page, GWLP_USERDATA));
    if (!log)
        return FALSE;
    if (message == WM_NOTIFY) {
        auto* notification = reinterpret_cast<const PSHNOTIFY*>(lParam);
        switch (notification->hdr.code) {
        case PSN_SETACTIVE: log->events.push_back("setactive"); break;
        case PSN_KILLACTIVE: log->events.push_back("killactive"); break;
        case PSN_APPLY: log->events.push_back(notification->lParam ? "apply and close" : "apply"); break;
        case PSN_RESET: log->events.push_back("reset"); break;
        default: break;
        }
    } else if (message == WM_COMMAND && LOWORD(wParam) == buttonId && HIWORD(wParam) == BN_CLICKED) {
        log->events.push_back("clicked");
    }
    return FALSE;
}

class TestPageClient : public IPrelvanePageClient {
public:
    LONG references = 0;
    LONG pageCount = 1;
    DWORD recordSize = 104;
    HRESULT describeResult = S_OK;
    bool withTemplate = true;
    DLGPROC procedure = testPageProc;
    PageTemplate pageTemplate;
    PageLog log;

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        *object = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IPrelvanePageClient))
            return E_NOINTERFACE;
        *object = static_cast<IPrelvanePageClient*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--references); }
    STDMETHODIMP OnSheetCreated() override { return S_OK; }
    STDMETHODIMP OnSheetDestroyed() override { return S_OK; }
    STDMETHODIMP OnPageActivated() override { return S_OK; }
    STDMETHODIMP OnPageDeactivated() override { return S_OK; }
    STDMETHODIMP OnApply() override { return S_OK; }
    STDMETHODIMP QueryPageFlags(LONG, LONG*) override { return S_OK; }
    STDMETHODIMP OnHelp() override { return S_OK; }
    STDMETHODIMP OnCancel() override { return S_OK; }
    STDMETHODIMP OnClose() override { return S_OK; }
    STDMETHODIMP DescribeSheet(void* sheetHeader) override
    {
        auto* header = static_cast<PROPSHEETHEADERA*>(sheetHeader);
        header->dwFlags = PSH_PROPSHEETPAGE | PSH_NOCONTEXTHELP;
        header->hInstance = GetModuleHandleA(nullptr);
        header->pszCaption = "Test Sheet";
        header->pfnCallback = nullptr;
        return S_OK;
    }
    STDMETHODIMP CountPages(LONG* count) override
    {
        *count = pageCount;
        return S_OK;
    }
    STDMETHODIMP DescribePage(void* page) override
    {
        if (FAILED(describeResult))
            return describeResult;
        auto* record = static_cast<PROPSHEETPAGEA*>(page);
        record->dwSize = recordSize;
        record->dwFlags = PSP_DLGINDIRECT | PSP_USETITLE;
        record->hInstance = GetModuleHandleA(nullptr);
        record->pResource = withTemplate ? pageTemplate.get() : nullptr;
        record->pszTitle = "Test Page";
        record->pfnDlgProc = procedure;
        record->lParam = reinterpret_cast<LPARAM>(&log);
        record->pfnCallback = nullptr;
        return S_OK;
    }
    STDMETHODIMP OnPagesCreated() override { return S_OK; }
};

// An object whose settings page the test's page client describes and whose
// pages and persistence are a component's.
class TestObject : public IUnknown {
public:
    TestObject(TestPageClient& pageClient, IPrelvane* component) : pageClient(pageClient), component(component) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        *object = nullptr;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        if (IsEqualIID(riid, IID_IPrelvanePageClient))
            return pageClient.QueryInterface(riid, object);
        if (component && IsEqualIID(riid, IID_ISpecifyPropertyPages))
            return component->QueryInterface(riid, object);
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

private:
    TestPageClient& pageClient;
    IPrelvane* component;
};

class TestSite : public IPropertyPageSite {
public:
    std::vector<DWORD> statusChanges;
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        *object = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IPropertyPageSite))
            return E_NOINTERFACE;
        *object = static_cast<IPropertyPageSite*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP OnStatusChange(DWORD flags) override
    {
        statusChanges.push_back(flags);
        return S_OK;
    }
    STDMETHODIMP GetLocaleID(LCID* locale) override
    {
        *locale = LOCALE_USER_DEFAULT;
        return S_OK;
    }
    STDMETHODIMP GetPageContainer(IUnknown** container) override
    {
        *container = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP TranslateAccelerator(MSG*) override { return S_FALSE; }
};

// A top-level window for sheets and pages to belong to.
class FrameWindow {
public:
    FrameWindow()
        : window(CreateWindowExA(0, "STATIC", "Test Frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 500, 400,
                                 nullptr, nullptr, nullptr, nullptr))
    {
    }
    ~FrameWindow() { DestroyWindow(window); }
    FrameWindow(const FrameWindow&) = delete;
    FrameWindow& operator=(const FrameWindow&) = delete;

    HWND window;
};

class SettingsSheet : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoCreateInstance(CLSID_Prelvane, nullptr, CLSCTX_INPROC_SERVER, IID_IPrelvane, component.putVoid()),
                  S_OK);
        ASSERT_NE(frame.window, nullptr);
    }

    // Shows the sheet while `drive` works it from another thread; false when
    // no sheet appeared.
    bool showSheet(const std::function<void(HWND)>& drive, HRESULT expected = S_OK)
    {
        WindowWatcher watcher("Test Sheet", [&](HWND sheet) {
            if (sheet)
                drive(sheet);
        });
        EXPECT_EQ(component->ShowSettingsSheet(frame.window, nullptr), expected);
        return watcher.found();
    }

    // Expects the call to show nothing, closing whatever it might show.
    void expectNoSheet(HRESULT expected)
    {
        WindowWatcher watcher("Test Sheet", [](HWND sheet) {
            if (sheet)
                PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        }, 300);
        EXPECT_EQ(component->ShowSettingsSheet(frame.window, nullptr), expected);
        EXPECT_FALSE(watcher.found());
    }

    ComApartment com;
    ComPtr<IPrelvane> component;
    TestPageClient pageClient;
    FrameWindow frame;
};

std::string tabText(HWND tabs, int index)
{
    char text[128] = "";
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(tabs, TCM_GETITEMA, index, reinterpret_cast<LPARAM>(&item));
    return text;
}

} // namespace

TEST_F(SettingsSheet, OkClosesTheSheetBuiltFromThePageClientAndAppliesThePage)
{
    ASSERT_EQ(component->SetPageClient(&pageClient, TRUE), S_OK);
    HWND owner = nullptr;
    bool pageHasItsControls = false;
    std::string title;
    EXPECT_TRUE(showSheet([&](HWND sheet) {
        owner = GetWindow(sheet, GW_OWNER);
        auto page = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
        pageHasItsControls = GetDlgItem(page, editId) && GetDlgItem(page, buttonId);
        title = tabText(reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETTABCONTROL, 0, 0)), 0);
        PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
    }));
    EXPECT_EQ(owner, frame.window);
    EXPECT_TRUE(pageHasItsControls);
    EXPECT_EQ(title, "Test Page");
    EXPECT_EQ(pageClient.log.events, (std::vector<std::string>{"init", "setactive", "killactive", "apply and close"}));
    EXPECT_EQ(pageClient.references, 1) << "the component still holds the page client";
}

TEST_F(SettingsSheet, CancelResetsThePageAndEveryPageTheClientCountsIsShown)
{
    pageClient.pageCount = 2;
    ASSERT_EQ(component->SetPageClient(&pageClient, TRUE), S_OK);
    int tabs = 0;
    EXPECT_TRUE(showSheet([&](HWND sheet) {
        tabs = TabCtrl_GetItemCount(reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETTABCONTROL, 0, 0)));
        PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    }));
    EXPECT_EQ(tabs, 2);
    EXPECT_EQ(pageClient.log.events, (std::vector<std::string>{"init", "setactive", "reset"}));
}

TEST_F(SettingsSheet, NothingIsShownWithoutPagesTheComponentCanBuild)
{
    expectNoSheet(E_UNEXPECTED);
    ASSERT_EQ(component->SetPageClient(&pageClient, FALSE), S_OK);
    expectNoSheet(E_UNEXPECTED);

    ASSERT_EQ(component->SetPageClient(&pageClient, TRUE), S_OK);
    for (LONG count : {0L, -1L, 17L}) {
        pageClient.pageCount = count;
        expectNoSheet(E_UNEXPECTED);
    }
    pageClient.pageCount = 1;
    pageClient.describeResult = E_ACCESSDENIED;
    expectNoSheet(E_ACCESSDENIED);
    pageClient.describeResult = S_OK;
    pageClient.recordSize = 12;
    expectNoSheet(E_INVALIDARG);
    pageClient.recordSize = 1000;
    expectNoSheet(E_INVALIDARG);
    pageClient.recordSize = 104;
    pageClient.procedure = nullptr;
    expectNoSheet(E_INVALIDARG);
    pageClient.procedure = testPageProc;
    pageClient.withTemplate = false;
    expectNoSheet(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_TRUE(pageClient.log.events.empty());
}

// The property page class alone, driven as a container's frame drives it.
TEST_F(SettingsSheet, ThePropertyPageShowsTheObjectsPageAndEndsItAsASheetWould)
{
    ComPtr<IPropertyPage> page;
    ASSERT_EQ(CoCreateInstance(CLSID_PrelvanePropertyPage, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                               page.putVoid()),
              S_OK);
    RECT area = {5, 5, 405, 305};
    PROPPAGEINFO info = {};
    EXPECT_EQ(page->GetPageInfo(&info), E_UNEXPECTED);
    EXPECT_EQ(page->Activate(frame.window, &area, TRUE), E_UNEXPECTED);

    TestObject withoutPages(pageClient, nullptr);
    RecordingSink notAnObject;
    IUnknown* foreign = &notAnObject;
    EXPECT_EQ(page->SetObjects(1, &foreign), E_NOINTERFACE);
    IUnknown* object = &withoutPages;
    ASSERT_EQ(page->SetObjects(1, &object), S_OK);
    EXPECT_EQ(pageClient.references, 1);
    TestSite site;
    ASSERT_EQ(page->SetPageSite(&site), S_OK);

    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    EXPECT_EQ(std::wstring(info.pszTitle), L"Test Page");
    LONG baseUnits = GetDialogBaseUnits();
    EXPECT_EQ(info.size.cx, MulDiv(200, LOWORD(baseUnits), 4));
    EXPECT_EQ(info.size.cy, MulDiv(100, HIWORD(baseUnits), 8));
    CoTaskMemFree(info.pszTitle);

    // Opened, changed, applied, closed: the page ends as on a sheet's OK.
    ASSERT_EQ(page->Activate(frame.window, &area, TRUE), S_OK);
    HWND dialog = FindWindowExA(frame.window, nullptr, nullptr, nullptr);
    ASSERT_NE(dialog, nullptr);
    ASSERT_NE(GetDlgItem(dialog, editId), nullptr);
    EXPECT_EQ(page->Show(SW_SHOW), S_OK);
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    SendMessageA(GetDlgItem(dialog, buttonId), BM_CLICK, 0, 0);
    EXPECT_EQ(page->IsPageDirty(), S_OK);
    EXPECT_EQ(site.statusChanges, std::vector<DWORD>{PROPPAGESTATUS_DIRTY | PROPPAGESTATUS_VALIDATE});
    EXPECT_EQ(page->Apply(), S_OK);
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    EXPECT_EQ(page->Deactivate(), S_OK);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(pageClient.log.events, (std::vector<std::string>{"init", "setactive", "clicked", "killactive", "apply",
                                                               "apply and close"}));

    // Opened, changed, closed without applying: the page ends as on Cancel.
    pageClient.log.events.clear();
    ASSERT_EQ(page->Activate(frame.window, &area, TRUE), S_OK);
    dialog = FindWindowExA(frame.window, nullptr, nullptr, nullptr);
    SetDlgItemTextA(dialog, editId, "changed");
    EXPECT_EQ(page->IsPageDirty(), S_OK) << "an edit changes the page";
    EXPECT_EQ(page->Deactivate(), S_OK);
    EXPECT_EQ(pageClient.log.events, (std::vector<std::string>{"init", "reset"}));
    EXPECT_EQ(page->Deactivate(), E_UNEXPECTED);

    EXPECT_EQ(page->TranslateAccelerator(nullptr), S_FALSE);
    ASSERT_EQ(page->SetObjects(0, nullptr), S_OK);
    EXPECT_EQ(pageClient.references, 0);
}

// A container shows the object's pages in a property frame of its own: the
// frame creates the component's property page, which shows the page the
// object's page client describes.
TEST_F(SettingsSheet, AContainersPropertyFrameShowsTheSamePage)
{
    ASSERT_EQ(component->SetPageClient(&pageClient, TRUE), S_OK);
    TestObject object(pageClient, component.get());
    ComPtr<ISpecifyPropertyPages> specify;
    ASSERT_EQ(object.QueryInterface(IID_ISpecifyPropertyPages, specify.putVoid()), S_OK);
    CAUUID pages = {};
    ASSERT_EQ(specify->GetPages(&pages), S_OK);
    ASSERT_EQ(pages.cElems, 1u);

    bool pageShown = false;
    IUnknown* objects[] = {&object};
    {
        // The frame's caption and owner are the container's business: it is
        // the one dialog window of the process.
        auto isDialog = [](HWND window) {
            char className[16] = "";
            GetClassNameA(window, className, sizeof className);
            return strcmp(className, "#32770") == 0;
        };
        WindowWatcher watcher(isDialog, [&](HWND frameSheet) {
            if (!frameSheet)
                return;
            HWND page = reinterpret_cast<HWND>(SendMessageA(frameSheet, PSM_GETCURRENTPAGEHWND, 0, 0));
            HWND edit = FindWindowExA(FindWindowExA(page, nullptr, nullptr, nullptr), nullptr, "Edit", nullptr);
            pageShown = edit && GetDlgCtrlID(edit) == editId;
            if (edit)
                PostMessageA(GetDlgItem(GetParent(edit), buttonId), BM_CLICK, 0, 0);
            PostMessageA(frameSheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
        });
        EXPECT_EQ(OleCreatePropertyFrame(frame.window, 0, 0, L"Test Object", 1, objects, pages.cElems, pages.pElems,
                                         LOCALE_USER_DEFAULT, 0, nullptr),
                  S_OK);
        EXPECT_TRUE(watcher.found());
    }
    CoTaskMemFree(pages.pElems);
    EXPECT_TRUE(pageShown);
    // Whether the frame applies the changed page on OK is the container's
    // choice (Wine's frame never calls Apply); either way the page ends
    // once, as on a sheet's OK or as on its Cancel.
    std::vector<std::string>& events = pageClient.log.events;
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 3),
              (std::vector<std::string>{"init", "setactive", "clicked"}));
    std::vector<std::string> ending(events.begin() + 3, events.end());
    EXPECT_TRUE(ending == std::vector<std::string>{"reset"} ||
                ending == (std::vector<std::string>{"killactive", "apply", "apply and close"}))
        << ::testing::PrintToString(ending);
    EXPECT_EQ(pageClient.references, 1) << "the frame's page released the page client";
}
