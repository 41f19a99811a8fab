// SignaturePad::_IPrelvanePageClient: the page client from whose
// descriptions the properties component builds the settings sheet.
#include "signature_pad.h"

#include <commctrl.h>

#include "module.h"
#include "settings_page.h"

namespace {

constexpr WORD settingsPageTemplate = 800;
// The 64-bit page record up to and including hbmHeader.
constexpr DWORD pageRecordSize = 104;

} // namespace

STDMETHODIMP SignaturePad::_IPrelvanePageClient::QueryInterface(REFIID riid, void** object)
{
    return queryClient(static_cast<IPrelvanePageClient*>(this), IID_IPrelvanePageClient, owner, riid, object);
}

STDMETHODIMP_(ULONG) SignaturePad::_IPrelvanePageClient::AddRef()
{
    addReference();
    return 1;
}

STDMETHODIMP_(ULONG) SignaturePad::_IPrelvanePageClient::Release()
{
    releaseReference();
    return 1;
}

STDMETHODIMP SignaturePad::_IPrelvanePageClient::OnSheetCreated() { return S_OK; }
STDMETHODIMP SignaturePad::_IPrelvanePageClient::OnSheetDestroyed() { return S_OK; }
STDMETHODIMP SignaturePad::_IPrelvanePageClient::OnPageActivated() { return S_OK; }
STDMETHODIMP SignaturePad::_IPrelvanePageClient::OnPageDeactivated() { return S_OK; }
STDMETHODIMP SignaturePad::_IPrelvanePageClient::OnApply() { return S_OK; }

STDMETHODIMP SignaturePad::_IPrelvanePageClient::QueryPageFlags(LONG /* pageIndex */, LONG* flags)
{
    if (!flags)
        return E_POINTER;
    *flags = 1;
    return S_OK;
}

STDMETHODIMP SignaturePad::_IPrelvanePageClient::OnHelp() { return S_OK; }
STDMETHODIMP SignaturePad::_IPrelvanePageClient::OnCancel() { return S_OK; }
STDMETHODIMP SignaturePad::_IPrelvanePageClient::OnClose() { return S_OK; }

STDMETHODIMP SignaturePad::_IPrelvanePageClient::DescribeSheet(void* sheetHeader)
{
    if (!sheetHeader)
        return E_POINTER;
    auto* header = static_cast<PROPSHEETHEADERA*>(sheetHeader);
    header->dwFlags = PSH_PROPSHEETPAGE | PSH_NOCONTEXTHELP;
    header->hInstance = moduleHandle;
    header->hIcon = nullptr;
    header->pszCaption = " Properties";
    header->pfnCallback = nullptr;
    return S_OK;
}

STDMETHODIMP SignaturePad::_IPrelvanePageClient::CountPages(LONG* pageCount)
{
    if (!pageCount)
        return E_POINTER;
    *pageCount = 1;
    return S_OK;
}

// The page belongs to the object: once the object is gone there is no page
// to describe.
STDMETHODIMP SignaturePad::_IPrelvanePageClient::DescribePage(void* page)
{
    if (!page)
        return E_POINTER;
    if (!owner)
        return E_UNEXPECTED;
    auto* record = static_cast<PROPSHEETPAGEA*>(page);
    record->dwSize = pageRecordSize;
    record->dwFlags = PSP_USETITLE;
    record->hInstance = moduleHandle;
    record->pszTemplate = MAKEINTRESOURCEA(settingsPageTemplate);
    record->pszTitle = owner->padDisplayName;
    record->pfnDlgProc = settingsPageProc;
    record->lParam = reinterpret_cast<LPARAM>(owner);
    record->pfnCallback = nullptr;
    return S_OK;
}

STDMETHODIMP SignaturePad::_IPrelvanePageClient::OnPagesCreated() { return S_OK; }
