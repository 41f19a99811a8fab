// The object's connection point container, and the delivery of the pad's
// events to every advised sink.
#include "signature_pad.h"

#include <olectl.h>

namespace {

// Calls every sink advised when the delivery starts, lowest slot first, each
// with its whole sequence before the next one gets anything. No lock is held
// while a sink runs, so a sink may advise, unadvise or release the object.
template <typename CallSink>
void deliver(SignaturePad::_IConnectionPoint& connectionPoint, CallSink callSink)
{
    IEnumConnections* snapshot = nullptr;
    connectionPoint.EnumConnections(&snapshot);
    if (!snapshot)
        return;
    CONNECTDATA connection;
    while (snapshot->Next(1, &connection, nullptr) == S_OK) {
        callSink(static_cast<ISignaturePadEvents*>(connection.pUnk));
        connection.pUnk->Release();
    }
    // The snapshot holds a reference on the object: when a sink has dropped
    // the host's last one, this destroys the object, so nothing of it is
    // touched afterwards.
    snapshot->Release();
}

} // namespace

SignaturePad::_IConnectionPointContainer::_IConnectionPointContainer(SignaturePad* owner) : owner(owner) {}

SignaturePad::_IConnectionPointContainer::_IConnectionPointContainer(const _IConnectionPointContainer& other) = default;

SignaturePad::_IConnectionPointContainer&
SignaturePad::_IConnectionPointContainer::operator=(const _IConnectionPointContainer&)
{
    return *this;
}

SignaturePad::_IConnectionPointContainer::~_IConnectionPointContainer() = default;

STDMETHODIMP SignaturePad::_IConnectionPointContainer::QueryInterface(REFIID riid, void** object)
{
    return owner->QueryInterface(riid, object);
}

STDMETHODIMP_(ULONG) SignaturePad::_IConnectionPointContainer::AddRef()
{
    return owner->AddRef();
}

STDMETHODIMP_(ULONG) SignaturePad::_IConnectionPointContainer::Release()
{
    return owner->Release();
}

STDMETHODIMP SignaturePad::_IConnectionPointContainer::EnumConnectionPoints(IEnumConnectionPoints** enumerator)
{
    if (!enumerator)
        return E_POINTER;
    *enumerator = nullptr;
    IConnectionPoint* point = &owner->connectionPoint;
    _IEnumConnectionPoints* points = _IEnumConnectionPoints::create(owner, &point, 1, 0);
    if (!points)
        return E_OUTOFMEMORY;
    return points->QueryInterface(IID_IEnumConnectionPoints, reinterpret_cast<void**>(enumerator));
}

STDMETHODIMP SignaturePad::_IConnectionPointContainer::FindConnectionPoint(REFIID riid, IConnectionPoint** point)
{
    if (!point)
        return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(riid, IID_ISignaturePadEvents))
        return CONNECT_E_NOCONNECTION;
    return owner->connectionPoint.QueryInterface(IID_IConnectionPoint, reinterpret_cast<void**>(point));
}

void SignaturePad::_IConnectionPointContainer::fire_OptionSelected(long optionNumber)
{
    deliver(owner->connectionPoint, [optionNumber](ISignaturePadEvents* sink) { sink->OptionSelected(optionNumber); });
}

// The position where the stroke starts or ends is not passed on: the point
// that follows PenDown and PenUp is always the zero point.
void SignaturePad::_IConnectionPointContainer::fire_PenDown(long, long)
{
    deliver(owner->connectionPoint, [](ISignaturePadEvents* sink) {
        sink->PenDown();
        sink->PenPoint(0, 0, 0.0f);
    });
}

void SignaturePad::_IConnectionPointContainer::fire_PenPoint(long x, long y, float inkWeight)
{
    deliver(owner->connectionPoint, [x, y, inkWeight](ISignaturePadEvents* sink) { sink->PenPoint(x, y, inkWeight); });
}

void SignaturePad::_IConnectionPointContainer::fire_PenUp(long, long)
{
    deliver(owner->connectionPoint, [](ISignaturePadEvents* sink) {
        sink->PenUp();
        sink->PenPoint(0, 0, 0.0f);
    });
}

// Delivered on the calling thread; the object may be gone when this returns.
LONG SignaturePad::FireOption(LONG optionNumber)
{
    connectionPointContainer.fire_OptionSelected(optionNumber);
    return 0;
}
