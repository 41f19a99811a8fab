// SignaturePad::_IPrelvaneClient: the client object registered with the
// properties component.
#include "signature_pad.h"

STDMETHODIMP SignaturePad::_IPrelvaneClient::QueryInterface(REFIID riid, void** object)
{
    return queryClient(static_cast<IPrelvaneClient*>(this), IID_IPrelvaneClient, owner, riid, object);
}

STDMETHODIMP_(ULONG) SignaturePad::_IPrelvaneClient::AddRef()
{
    addReference();
    return 1;
}

STDMETHODIMP_(ULONG) SignaturePad::_IPrelvaneClient::Release()
{
    releaseReference();
    return 1;
}

STDMETHODIMP SignaturePad::_IPrelvaneClient::OnAttached() { return S_OK; }

// The values before loading are the object's field defaults: nothing to do.
STDMETHODIMP SignaturePad::_IPrelvaneClient::InitializeDefaults() { return ResetDefaults(); }

STDMETHODIMP SignaturePad::_IPrelvaneClient::ResetDefaults() { return S_OK; }
STDMETHODIMP SignaturePad::_IPrelvaneClient::IsModified() { return S_FALSE; }
STDMETHODIMP SignaturePad::_IPrelvaneClient::Validate() { return E_NOTIMPL; }
STDMETHODIMP SignaturePad::_IPrelvaneClient::OnSaved() { return S_OK; }
