// Placeholder until the connection points land.
#include "SignaturePad.h"

SignaturePad::_IConnectionPointContainer::_IConnectionPointContainer(SignaturePad* owner) : owner(owner) {}
STDMETHODIMP SignaturePad::_IConnectionPointContainer::QueryInterface(REFIID riid, void** object) { return owner->QueryInterface(riid, object); }
STDMETHODIMP_(ULONG) SignaturePad::_IConnectionPointContainer::AddRef() { return owner->AddRef(); }
STDMETHODIMP_(ULONG) SignaturePad::_IConnectionPointContainer::Release() { return owner->Release(); }
STDMETHODIMP SignaturePad::_IConnectionPointContainer::EnumConnectionPoints(IEnumConnectionPoints**) { return E_NOTIMPL; }
STDMETHODIMP SignaturePad::_IConnectionPointContainer::FindConnectionPoint(REFIID, IConnectionPoint**) { return E_NOTIMPL; }
void SignaturePad::_IConnectionPointContainer::fire_OptionSelected(long) {}
void SignaturePad::_IConnectionPointContainer::fire_PenDown(long, long) {}
void SignaturePad::_IConnectionPointContainer::fire_PenPoint(long, long, float) {}
void SignaturePad::_IConnectionPointContainer::fire_PenUp(long, long) {}

SignaturePad::_IConnectionPoint::_IConnectionPoint(SignaturePad* owner)
    : owner(owner), nextCookie(400), slotCapacity(16), connectionCount(0), slots(nullptr) {}
SignaturePad::_IConnectionPoint::~_IConnectionPoint() {}
STDMETHODIMP SignaturePad::_IConnectionPoint::QueryInterface(REFIID riid, void** object) { return owner->QueryInterface(riid, object); }
STDMETHODIMP_(ULONG) SignaturePad::_IConnectionPoint::AddRef() { return owner->AddRef(); }
STDMETHODIMP_(ULONG) SignaturePad::_IConnectionPoint::Release() { return owner->Release(); }
STDMETHODIMP SignaturePad::_IConnectionPoint::GetConnectionInterface(IID*) { return E_NOTIMPL; }
STDMETHODIMP SignaturePad::_IConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer**) { return E_NOTIMPL; }
STDMETHODIMP SignaturePad::_IConnectionPoint::Advise(IUnknown*, DWORD*) { return E_NOTIMPL; }
STDMETHODIMP SignaturePad::_IConnectionPoint::Unadvise(DWORD) { return E_NOTIMPL; }
STDMETHODIMP SignaturePad::_IConnectionPoint::EnumConnections(IEnumConnections**) { return E_NOTIMPL; }

LONG SignaturePad::FireOption(LONG optionNumber)
{
    connectionPointContainer.fire_OptionSelected(optionNumber);
    return 0;
}
