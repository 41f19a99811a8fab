// Prelvane: the settings sheet, built from the page client's descriptions,
// and the property page it names to containers.
#include "prelvane.h"

#include <commctrl.h>

namespace {

// More pages than any settings sheet has: a page client asking for more is
// not believed.
constexpr LONG maxSheetPages = 16;

// Pages made for a sheet; destroyed unless the sheet took them over.
class SheetPages {
public:
    SheetPages() = default;
    SheetPages(const SheetPages&) = delete;
    SheetPages& operator=(const SheetPages&) = delete;
    ~SheetPages()
    {
        for (HPROPSHEETPAGE page : pages)
            DestroyPropertySheetPage(page);
    }

    void add(HPROPSHEETPAGE page) { pages.push_back(page); }
    HPROPSHEETPAGE* data() { return pages.data(); }
    UINT count() const { return static_cast<UINT>(pages.size()); }
    // The property sheet destroys its pages when it ends.
    void handOver() { pages.clear(); }

private:
    std::vector<HPROPSHEETPAGE> pages;
};

} // namespace

const BYTE* pageTemplate(const PROPSHEETPAGEA& page)
{
    if (page.dwFlags & PSP_DLGINDIRECT)
        return reinterpret_cast<const BYTE*>(page.pResource);
    HRSRC resource = FindResourceA(page.hInstance, page.pszTemplate, MAKEINTRESOURCEA(5) /* RT_DIALOG */);
    HGLOBAL loaded = resource ? LoadResource(page.hInstance, resource) : nullptr;
    return loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
}

// A page without a template or a procedure cannot be shown: a sheet would
// stand empty, a frame without its page.
HRESULT describePage(IPrelvanePageClient* pageClient, PageRecord& record)
{
    ZeroMemory(&record, sizeof record);
    record.page.dwSize = sizeof record.page;
    HRESULT result = pageClient->DescribePage(&record.page);
    if (FAILED(result))
        return result;
    if (record.page.dwSize < PROPSHEETPAGEA_V1_SIZE || record.page.dwSize > sizeof record || !record.page.pfnDlgProc)
        return E_INVALIDARG;
    if (!pageTemplate(record.page))
        return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
    return S_OK;
}

STDMETHODIMP Prelvane::ShowSettingsSheet(HWND parent, IUnknown* /* object: its pages reach it through their records */)
{
    ComPtr<IPrelvanePageClient> pages = sheetPageClient();
    if (!pages)
        return E_UNEXPECTED;

    // The sheet's own controls and the up-down controls its pages use.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    PROPSHEETHEADERA header = {};
    header.dwSize = sizeof header;
    HRESULT result = pages->DescribeSheet(&header);
    if (FAILED(result))
        return result;
    LONG pageCount = 0;
    result = pages->CountPages(&pageCount);
    if (FAILED(result))
        return result;
    if (pageCount < 1 || pageCount > maxSheetPages)
        return E_UNEXPECTED;

    SheetPages sheetPages;
    for (LONG i = 0; i < pageCount; ++i) {
        PageRecord record;
        result = describePage(pages.get(), record);
        if (FAILED(result))
            return result;
        HPROPSHEETPAGE page = CreatePropertySheetPageA(&record.page);
        if (!page)
            return E_FAIL;
        sheetPages.add(page);
    }

    // The pages are handed over as handles, and the sheet is always modal.
    header.dwSize = sizeof header;
    header.dwFlags &= ~static_cast<DWORD>(PSH_PROPSHEETPAGE | PSH_MODELESS | PSH_USEPSTARTPAGE);
    header.hwndParent = parent;
    header.nPages = sheetPages.count();
    header.nStartPage = 0;
    header.phpage = sheetPages.data();

    ComPtr<IPrelvane> keepAlive = holdReference<IPrelvane>(this);
    INT_PTR shown = PropertySheetA(&header);
    sheetPages.handOver();
    return shown < 0 ? E_FAIL : S_OK;
}

STDMETHODIMP Prelvane::GetPages(CAUUID* pages)
{
    if (!pages)
        return E_POINTER;
    pages->cElems = 0;
    pages->pElems = nullptr;
    if (!sheetPageClient())
        return S_OK;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems)
        return E_OUTOFMEMORY;
    pages->pElems[0] = CLSID_PrelvanePropertyPage;
    pages->cElems = 1;
    return S_OK;
}
