// The object's connection point container, and the delivery of the pad's
// events to every advised sink.
#include "reader.h"
#include "sink_list.h"

#include <olectl.h>

namespace {

// One delivery's calls of its sinks. On the object's own reader they stop,
// at the next call, once a Stop, Unload or Release has given up waiting for
// that reader: nothing reaches a sink after such a call has returned.
class SinkCalls {
public:
    explicit SinkCalls(SignaturePad::Reader* reader) : reader(reader) {}
    bool allowed() const { return !reader || reader->maySinkBeCalled(); }

private:
    SignaturePad::Reader* reader;
};

// Calls every sink advised when the delivery starts, lowest slot first, each
// with its whole sequence before the next one gets anything. The list of
// sinks is shared with other deliveries and holds every sink it names, so a
// sink unadvised meanwhile is still called. No lock is held while a sink
// runs, so a sink may advise, unadvise or release the object.
template <typename CallSink>
void deliver(SignaturePad* owner, CallSink callSink)
{
    // A sink may drop the host's last reference: the object then goes when
    // this one does, after the list has been let go of. On the object's own
    // reader the reader keeps the object instead, without a reference, so
    // that the host's last Release on its own thread still ends the capture
    // there and then.
    SignaturePad::Reader* reader = owner->ownReader();
    ComPtr<ISignaturePad> object;
    if (!reader) {
        owner->AddRef();
        object.attach(owner);
    }
    SharedSinks sinks;
    if (owner->connectionPoint.shareAdvisedSinks(sinks.put()) != S_OK)
        return;
    SinkCalls calls(reader);
    for (const CONNECTDATA& connection : *sinks)
        callSink(static_cast<ISignaturePadEvents*>(connection.pUnk), calls);
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
    deliver(owner, [optionNumber](ISignaturePadEvents* sink, const SinkCalls& calls) {
        if (calls.allowed())
            sink->OptionSelected(optionNumber);
    });
}

// The position where the stroke starts or ends is not passed on: the point
// that follows PenDown and PenUp is always the zero point.
void SignaturePad::_IConnectionPointContainer::fire_PenDown(long, long)
{
    deliver(owner, [](ISignaturePadEvents* sink, const SinkCalls& calls) {
        if (calls.allowed())
            sink->PenDown();
        if (calls.allowed())
            sink->PenPoint(0, 0, 0.0f);
    });
}

void SignaturePad::_IConnectionPointContainer::fire_PenPoint(long x, long y, float inkWeight)
{
    deliver(owner, [x, y, inkWeight](ISignaturePadEvents* sink, const SinkCalls& calls) {
        if (calls.allowed())
            sink->PenPoint(x, y, inkWeight);
    });
}

void SignaturePad::_IConnectionPointContainer::fire_PenUp(long, long)
{
    deliver(owner, [](ISignaturePadEvents* sink, const SinkCalls& calls) {
        if (calls.allowed())
            sink->PenUp();
        if (calls.allowed())
            sink->PenPoint(0, 0, 0.0f);
    });
}

// Delivered on the calling thread; the object may be gone when this returns.
LONG SignaturePad::FireOption(LONG optionNumber)
{
    connectionPointContainer.fire_OptionSelected(optionNumber);
    return 0;
}
