// The object's one connection point, for ISignaturePadEvents, with its table
// of advised sinks. A slot is free when its cookie is 0; a live slot holds
// one reference on its sink.
#include "signature_pad.h"

#include <olectl.h>

#include <algorithm>
#include <climits>
#include <new>
#include <utility>

namespace {

// The table starts with this many slots and grows by as many.
constexpr LONG slotGrowth = 16;
constexpr DWORD firstCookie = 400;

CONNECTDATA* newTable(LONG capacity)
{
    return new (std::nothrow) CONNECTDATA[capacity]();
}

} // namespace

SignaturePad::_IConnectionPoint::_IConnectionPoint(SignaturePad* owner)
    : owner(owner), nextCookie(firstCookie), slotCapacity(0), connectionCount(0), slots(newTable(slotGrowth))
{
    if (slots)
        slotCapacity = slotGrowth;
}

SignaturePad::_IConnectionPoint::_IConnectionPoint(const _IConnectionPoint& other)
    : owner(other.owner), nextCookie(0), slotCapacity(0), connectionCount(0), slots(nullptr)
{
    SharedGuard guard(other.tableLock);
    nextCookie = other.nextCookie;
    slots = newTable(other.slotCapacity);
    if (!slots)
        return;
    slotCapacity = other.slotCapacity;
    connectionCount = other.connectionCount;
    // Under the other's lock, for the reason given in EnumConnections.
    for (LONG i = 0; i < slotCapacity; ++i) {
        slots[i] = other.slots[i];
        if (slots[i].pUnk)
            slots[i].pUnk->AddRef();
    }
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
    }
    // The copy now holds the sinks this table held and releases them, with no lock held.
    return *this;
}

SignaturePad::_IConnectionPoint::~_IConnectionPoint()
{
    for (LONG i = 0; i < slotCapacity; ++i) {
        if (slots[i].pUnk)
            slots[i].pUnk->Release();
    }
    delete[] slots;
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
    DWORD issued = 0;
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
            nextCookie = issued + 1;
            ++connectionCount;
        }
    }
    if (!issued) {
        events->Release();
        return E_OUTOFMEMORY;
    }
    *cookie = issued;
    return S_OK;
}

STDMETHODIMP SignaturePad::_IConnectionPoint::Unadvise(DWORD cookie)
{
    if (cookie == 0)
        return E_INVALIDARG;
    IUnknown* sink;
    {
        ExclusiveGuard guard(tableLock);
        int slot = findSlot(cookie);
        if (slot < 0)
            return CONNECT_E_NOCONNECTION;
        sink = slots[slot].pUnk;
        slots[slot].pUnk = nullptr;
        slots[slot].dwCookie = 0;
        --connectionCount;
    }
    sink->Release();
    return S_OK;
}

STDMETHODIMP SignaturePad::_IConnectionPoint::EnumConnections(IEnumConnections** enumerator)
{
    if (!enumerator)
        return E_POINTER;
    *enumerator = nullptr;
    _IEnumerateConnections* snapshot;
    {
        // The snapshot adds its references to the sinks while the lock still
        // holds the table's: once it is dropped, an Unadvise could release a
        // slot's reference, perhaps the sink's last, before the snapshot had
        // its own. A sink's AddRef is the only sink call made under the lock.
        SharedGuard guard(tableLock);
        if (connectionCount == 0)
            return OLE_E_NOCONNECTION;
        snapshot = _IEnumerateConnections::create(static_cast<IConnectionPoint*>(this), slotCapacity, slots, 0);
    }
    if (!snapshot)
        return E_OUTOFMEMORY;
    return snapshot->QueryInterface(IID_IEnumConnections, reinterpret_cast<void**>(enumerator));
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
    CONNECTDATA* grown = newTable(slotCapacity + slotGrowth);
    if (!grown)
        return -1;
    std::copy(slots, slots + slotCapacity, grown);
    delete[] slots;
    slots = grown;
    int first = slotCapacity;
    slotCapacity += slotGrowth;
    return first;
}
