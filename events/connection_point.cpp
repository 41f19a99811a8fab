// The object's one connection point, for ISignaturePadEvents, with its table
// of advised sinks. A slot is free when its cookie is 0; a live slot holds
// its sink through a SinkReference, the sink's one reference, which the
// lists that deliveries walk share.
#include "signature_pad.h"
#include "sink_list.h"

#include <olectl.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <new>
#include <utility>

namespace {

// The table starts with this many slots and grows by as many.
constexpr LONG slotGrowth = 16;
constexpr DWORD firstCookie = 400;

// Both arrays of a table of free slots, or neither.
bool newTable(LONG capacity, CONNECTDATA*& slots, SinkReference**& references)
{
    std::unique_ptr<CONNECTDATA[]> newSlots(new (std::nothrow) CONNECTDATA[capacity]());
    std::unique_ptr<SinkReference*[]> newReferences(new (std::nothrow) SinkReference*[capacity]());
    if (!newSlots || !newReferences)
        return false;
    slots = newSlots.release();
    references = newReferences.release();
    return true;
}

} // namespace

SignaturePad::_IConnectionPoint::_IConnectionPoint(SignaturePad* owner)
    : owner(owner), nextCookie(firstCookie), slotCapacity(0), connectionCount(0), slots(nullptr),
      slotReferences(nullptr), advisedSinks(nullptr)
{
    if (newTable(slotGrowth, slots, slotReferences))
        slotCapacity = slotGrowth;
}

SignaturePad::_IConnectionPoint::_IConnectionPoint(const _IConnectionPoint& other)
    : owner(other.owner), nextCookie(0), slotCapacity(0), connectionCount(0), slots(nullptr),
      slotReferences(nullptr), advisedSinks(nullptr)
{
    bool complete = true;
    {
        // Under the other's lock, which keeps its references while this copy
        // takes its own.
        SharedGuard guard(other.tableLock);
        nextCookie = other.nextCookie;
        if (!newTable(other.slotCapacity, slots, slotReferences))
            return;
        slotCapacity = other.slotCapacity;
        for (LONG i = 0; i < slotCapacity && complete; ++i) {
            if (!other.slots[i].dwCookie)
                continue;
            auto* sink = static_cast<ISignaturePadEvents*>(other.slots[i].pUnk);
            slotReferences[i] = SinkReference::create(sink);
            if (!slotReferences[i]) {
                complete = false;
                continue;
            }
            sink->AddRef();
            slots[i] = other.slots[i];
            ++connectionCount;
        }
    }
    if (!complete)
        releaseTable();
}

SignaturePad::_IConnectionPoint& SignaturePad::_IConnectionPoint::operator=(const _IConnectionPoint& other)
{
    if (this == &other)
        return *this;
    _IConnectionPoint copy(other);
    {
        ExclusiveGuard guard(tableLock);
        std::swap(nextCookie, copy.nextCookie);
        std::swap(slotCapacity, copy.slotCapacity);
        std::swap(connectionCount, copy.connectionCount);
        std::swap(slots, copy.slots);
        std::swap(slotReferences, copy.slotReferences);
        std::swap(advisedSinks, copy.advisedSinks);
    }
    // The copy now holds the sinks this table held and releases them, with no lock held.
    return *this;
}

SignaturePad::_IConnectionPoint::~_IConnectionPoint()
{
    releaseTable();
}

void SignaturePad::_IConnectionPoint::releaseTable()
{
    if (advisedSinks)
        advisedSinks->release();
    advisedSinks = nullptr;
    for (LONG i = 0; i < slotCapacity; ++i) {
        if (slotReferences[i])
            slotReferences[i]->release();
    }
    delete[] slotReferences;
    delete[] slots;
    slotReferences = nullptr;
    slots = nullptr;
    slotCapacity = 0;
    connectionCount = 0;
}

STDMETHODIMP SignaturePad::_IConnectionPoint::QueryInterface(REFIID riid, void** object)
{
    return owner->QueryInterface(riid, object);
}

STDMETHODIMP_(ULONG) SignaturePad::_IConnectionPoint::AddRef()
{
    return owner->AddRef();
}

STDMETHODIMP_(ULONG) SignaturePad::_IConnectionPoint::Release()
{
    return owner->Release();
}

STDMETHODIMP SignaturePad::_IConnectionPoint::GetConnectionInterface(IID* iid)
{
    if (!iid)
        return E_POINTER;
    *iid = IID_ISignaturePadEvents;
    return S_OK;
}

STDMETHODIMP SignaturePad::_IConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container)
{
    if (!container)
        return E_POINTER;
    return owner->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container));
}

STDMETHODIMP SignaturePad::_IConnectionPoint::Advise(IUnknown* sink, DWORD* cookie)
{
    if (!sink || !cookie)
        return E_POINTER;
    // Asked before the lock is taken: the sink's code never runs under it.
    ISignaturePadEvents* events = nullptr;
    HRESULT hr = sink->QueryInterface(IID_ISignaturePadEvents, reinterpret_cast<void**>(&events));
    if (hr == E_NOINTERFACE)
        return CONNECT_E_NOCONNECTION;
    if (FAILED(hr))
        return hr;
    if (!events)
        return CONNECT_E_CANNOTCONNECT;

    *cookie = 0;
    SinkReference* reference = SinkReference::create(events);
    if (!reference) {
        events->Release();
        return E_OUTOFMEMORY;
    }
    DWORD issued = 0;
    SharedSinks replaced;   // let go of after the lock
    {
        ExclusiveGuard guard(tableLock);
        int slot = getSlot();
        if (slot >= 0) {
            // Once the counter wraps, 0 (a free slot) and every cookie still
            // in use are passed over.
            issued = nextCookie;
            while (issued == 0 || findSlot(issued) >= 0)
                ++issued;
            slots[slot].pUnk = events;
            slots[slot].dwCookie = issued;
            slotReferences[slot] = reference;
            nextCookie = issued + 1;
            ++connectionCount;
            replaced.attach(std::exchange(advisedSinks, nullptr));
        }
    }
    if (!issued) {
        reference->release();
        return E_OUTOFMEMORY;
    }
    *cookie = issued;
    return S_OK;
}

STDMETHODIMP SignaturePad::_IConnectionPoint::Unadvise(DWORD cookie)
{
    if (cookie == 0)
        return E_INVALIDARG;
    SinkReference* reference;
    SharedSinks replaced;   // let go of after the lock
    {
        ExclusiveGuard guard(tableLock);
        int slot = findSlot(cookie);
        if (slot < 0)
            return CONNECT_E_NOCONNECTION;
        reference = std::exchange(slotReferences[slot], nullptr);
        slots[slot].pUnk = nullptr;
        slots[slot].dwCookie = 0;
        --connectionCount;
        replaced.attach(std::exchange(advisedSinks, nullptr));
    }
    // A delivery under way still holds the sink through its list.
    reference->release();
    return S_OK;
}

STDMETHODIMP SignaturePad::_IConnectionPoint::EnumConnections(IEnumConnections** enumerator)
{
    if (!enumerator)
        return E_POINTER;
    *enumerator = nullptr;
    // The list keeps every sink it names alive while the snapshot adds its
    // own references.
    SharedSinks sinks;
    HRESULT hr = shareAdvisedSinks(sinks.put());
    if (hr != S_OK)
        return hr;
    _IEnumerateConnections* snapshot =
        _IEnumerateConnections::create(static_cast<IConnectionPoint*>(this), sinks->size(), sinks->begin(), 0);
    if (!snapshot)
        return E_OUTOFMEMORY;
    return snapshot->QueryInterface(IID_IEnumConnections, reinterpret_cast<void**>(enumerator));
}

HRESULT SignaturePad::_IConnectionPoint::shareAdvisedSinks(SinkList** sinks)
{
    *sinks = nullptr;
    {
        SharedGuard guard(tableLock);
        if (advisedSinks) {
            advisedSinks->addRef();
            *sinks = advisedSinks;
            return S_OK;
        }
        if (connectionCount == 0)
            return OLE_E_NOCONNECTION;
    }
    // The first delivery since the table changed makes the list.
    ExclusiveGuard guard(tableLock);
    if (connectionCount == 0)
        return OLE_E_NOCONNECTION;
    if (!advisedSinks)
        advisedSinks = SinkList::create(slots, slotReferences, slotCapacity, connectionCount);
    if (!advisedSinks)
        return E_OUTOFMEMORY;
    advisedSinks->addRef();
    *sinks = advisedSinks;
    return S_OK;
}

int SignaturePad::_IConnectionPoint::findSlot(DWORD cookie)
{
    for (LONG i = 0; i < slotCapacity; ++i) {
        if (slots[i].dwCookie == cookie)
            return i;
    }
    return -1;
}

// The lowest free slot, or the first of 16 new ones; -1 when the table cannot grow.
int SignaturePad::_IConnectionPoint::getSlot()
{
    int free = findSlot(0);
    if (free >= 0)
        return free;
    if (slotCapacity > LONG_MAX - slotGrowth)
        return -1;
    CONNECTDATA* grownSlots;
    SinkReference** grownReferences;
    if (!newTable(slotCapacity + slotGrowth, grownSlots, grownReferences))
        return -1;
    std::copy(slots, slots + slotCapacity, grownSlots);
    std::copy(slotReferences, slotReferences + slotCapacity, grownReferences);
    delete[] slots;
    delete[] slotReferences;
    slots = grownSlots;
    slotReferences = grownReferences;
    int first = slotCapacity;
    slotCapacity += slotGrowth;
    return first;
}
