// PrelvanePropertyPage: the settings page as an OLE property page, for
// containers that show an object's pages in a frame of their own
// (OleCreatePropertyFrame). It asks the object for its page client, creates
// the page the client describes, and turns the frame's calls into the
// notifications the page receives in a property sheet.
#include "prelvane.h"

#include <commctrl.h>
#include <olectl.h>
#include <cstring>
#include <new>

#include "server.h"

namespace {

// The size of the page's dialog template in dialog units.
SIZE templateSize(const PROPSHEETPAGEA& page)
{
    const BYTE* dialog = pageTemplate(page);
    WORD version = 0;
    WORD signature = 0;
    memcpy(&version, dialog, sizeof version);
    memcpy(&signature, dialog + 2, sizeof signature);
    // DLGTEMPLATEEX keeps cx and cy at bytes 22 and 24, DLGTEMPLATE at 14 and 16.
    size_t offset = version == 1 && signature == 0xFFFF ? 22 : 14;
    short cx = 0;
    short cy = 0;
    memcpy(&cx, dialog + offset, sizeof cx);
    memcpy(&cy, dialog + offset + 2, sizeof cy);
    return {cx, cy};
}

LPOLESTR taskMemoryCopy(const char* text)
{
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0)
        return nullptr;
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc(length * sizeof(WCHAR)));
    if (copy)
        MultiByteToWideChar(CP_ACP, 0, text, -1, copy, length);
    return copy;
}

} // namespace

class PrelvanePropertyPage final : public IPropertyPage {
public:
    PrelvanePropertyPage() { lockServer(); }
    PrelvanePropertyPage(const PrelvanePropertyPage&) = delete;
    PrelvanePropertyPage& operator=(const PrelvanePropertyPage&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IPropertyPage))
            return E_NOINTERFACE;
        *object = static_cast<IPropertyPage*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refCount; }
    STDMETHODIMP_(ULONG) Release() override
    {
        ULONG count = --refCount;
        if (count == 0)
            delete this;
        return count;
    }

    STDMETHODIMP SetPageSite(IPropertyPageSite* newSite) override
    {
        site = holdReference(newSite);
        return S_OK;
    }

    STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL /* modal */) override;
    STDMETHODIMP Deactivate() override;
    STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override;
    STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override;

    STDMETHODIMP Show(UINT command) override
    {
        if (!page)
            return E_UNEXPECTED;
        if (command != SW_HIDE)
            notify(PSN_SETACTIVE, 0);
        ShowWindow(page, static_cast<int>(command));
        return S_OK;
    }

    STDMETHODIMP Move(LPCRECT rect) override
    {
        if (!rect)
            return E_POINTER;
        if (!page)
            return E_UNEXPECTED;
        MoveWindow(page, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
        return S_OK;
    }

    STDMETHODIMP IsPageDirty() override { return dirty ? S_OK : S_FALSE; }
    STDMETHODIMP Apply() override;
    STDMETHODIMP Help(LPCOLESTR) override { return E_NOTIMPL; }

    STDMETHODIMP TranslateAccelerator(MSG* message) override
    {
        return page && message && IsDialogMessageA(page, message) ? S_OK : S_FALSE;
    }

private:
    ~PrelvanePropertyPage()
    {
        if (page)
            Deactivate();
        unlockServer();
    }

    LRESULT notify(UINT code, LPARAM parameter);
    void markDirty();
    static LRESULT CALLBACK watchControls(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR, DWORD_PTR data);

    std::atomic<ULONG> refCount{0};
    ComPtr<IPropertyPageSite> site;
    ComPtr<IPrelvanePageClient> pageClient;
    PageRecord record;      // the record the page was created from; lives as long as the page
    HWND page = nullptr;
    bool dirty = false;     // a control of the page changed since it opened or was applied
    bool applied = false;
    bool notifying = false;
};

STDMETHODIMP PrelvanePropertyPage::SetObjects(ULONG count, IUnknown** objects)
{
    if (count && (!objects || !objects[0]))
        return E_POINTER;
    ComPtr<IPrelvanePageClient> client;
    if (count) {
        HRESULT result = objects[0]->QueryInterface(IID_IPrelvanePageClient, client.putVoid());
        if (FAILED(result))
            return result;
    }
    pageClient = std::move(client);
    return S_OK;
}

STDMETHODIMP PrelvanePropertyPage::GetPageInfo(PROPPAGEINFO* info)
{
    if (!info)
        return E_POINTER;
    if (!pageClient)
        return E_UNEXPECTED;
    PageRecord described;
    HRESULT result = describePage(pageClient.get(), described);
    if (FAILED(result))
        return result;
    SIZE units = templateSize(described.page);

    char loadedTitle[256] = "";
    const char* title = "";
    if (described.page.dwFlags & PSP_USETITLE) {
        if (IS_INTRESOURCE(described.page.pszTitle)) {
            LoadStringA(described.page.hInstance, static_cast<UINT>(reinterpret_cast<UINT_PTR>(described.page.pszTitle)),
                        loadedTitle, sizeof loadedTitle);
            title = loadedTitle;
        } else if (described.page.pszTitle) {
            title = described.page.pszTitle;
        }
    }

    ZeroMemory(info, sizeof *info);
    info->cb = sizeof *info;
    info->pszTitle = taskMemoryCopy(title);
    if (!info->pszTitle)
        return E_OUTOFMEMORY;
    LONG baseUnits = GetDialogBaseUnits();
    info->size.cx = MulDiv(units.cx, LOWORD(baseUnits), 4);
    info->size.cy = MulDiv(units.cy, HIWORD(baseUnits), 8);
    return S_OK;
}

STDMETHODIMP PrelvanePropertyPage::Activate(HWND parent, LPCRECT rect, BOOL)
{
    if (!rect)
        return E_POINTER;
    if (!pageClient || page)
        return E_UNEXPECTED;
    HRESULT result = describePage(pageClient.get(), record);
    if (FAILED(result))
        return result;
    const PROPSHEETPAGEA& description = record.page;

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    // As in a sheet, the page's WM_INITDIALOG receives its record.
    LPARAM parameter = reinterpret_cast<LPARAM>(&record.page);
    page = description.dwFlags & PSP_DLGINDIRECT
               ? CreateDialogIndirectParamA(description.hInstance, description.pResource, parent,
                                            description.pfnDlgProc, parameter)
               : CreateDialogParamA(description.hInstance, description.pszTemplate, parent,
                                    description.pfnDlgProc, parameter);
    if (!page)
        return E_FAIL;
    SetWindowSubclass(page, watchControls, 0, reinterpret_cast<DWORD_PTR>(this));
    dirty = false;
    applied = false;
    MoveWindow(page, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, FALSE);
    return S_OK;
}

// The frame applies a changed page before it closes on OK, and closes without
// applying on Cancel. A page that was applied and not changed since ends as a
// sheet's page does on OK; any other ends as on Cancel.
STDMETHODIMP PrelvanePropertyPage::Deactivate()
{
    if (!page)
        return E_UNEXPECTED;
    if (applied && !dirty)
        notify(PSN_APPLY, TRUE);
    else
        notify(PSN_RESET, FALSE);
    RemoveWindowSubclass(page, watchControls, 0);
    DestroyWindow(page);
    page = nullptr;
    return S_OK;
}

// The frame's Apply is a sheet's Apply: the page takes its values and keeps
// its place to return to on Cancel.
STDMETHODIMP PrelvanePropertyPage::Apply()
{
    if (!page)
        return E_UNEXPECTED;
    if (notify(PSN_KILLACTIVE, 0) != FALSE || notify(PSN_APPLY, FALSE) != PSNRET_NOERROR)
        return E_FAIL;
    dirty = false;
    applied = true;
    return S_OK;
}

LRESULT PrelvanePropertyPage::notify(UINT code, LPARAM parameter)
{
    PSHNOTIFY notification = {};
    notification.hdr.hwndFrom = GetParent(page);
    notification.hdr.code = code;
    notification.lParam = parameter;
    // What the page changes in answer to a notification is not the user's change.
    bool wasNotifying = notifying;
    notifying = true;
    LRESULT result = SendMessageA(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&notification));
    notifying = wasNotifying;
    return result;
}

void PrelvanePropertyPage::markDirty()
{
    if (dirty)
        return;
    dirty = true;
    if (site)
        site->OnStatusChange(PROPPAGESTATUS_DIRTY | PROPPAGESTATUS_VALIDATE);
}

// Any edit, click or choice in one of the page's controls changes the page.
LRESULT CALLBACK PrelvanePropertyPage::watchControls(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                                     UINT_PTR, DWORD_PTR data)
{
    if (message == WM_COMMAND && lParam) {
        auto* self = reinterpret_cast<PrelvanePropertyPage*>(data);
        WORD code = HIWORD(wParam);
        if (!self->notifying && (code == EN_CHANGE || code == BN_CLICKED || code == CBN_SELCHANGE))
            self->markDirty();
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

HRESULT createPrelvanePropertyPage(REFIID riid, void** object)
{
    auto* page = new (std::nothrow) PrelvanePropertyPage();
    if (!page)
        return E_OUTOFMEMORY;
    page->AddRef();
    HRESULT result = page->QueryInterface(riid, object);
    page->Release();
    return result;
}
