// Enumerator over a snapshot of the connection point's live connections: the
// sinks it lists stay alive, by its own references, for as long as it lives,
// and every reference on it is also one on the connection point.
#include "signature_pad.h"

#include <new>

SignaturePad::_IEnumerateConnections* SignaturePad::_IEnumerateConnections::create(
    IUnknown* owner, ULONG recordCount, const CONNECTDATA* records, ULONG cursor)
{
    auto* enumerator = new (std::nothrow) _IEnumerateConnections(owner, recordCount, records, cursor);
    if (enumerator && !enumerator->entries) {
        delete enumerator;
        return nullptr;
    }
    return enumerator;
}

SignaturePad::_IEnumerateConnections::_IEnumerateConnections(IUnknown* owner, ULONG recordCount,
                                                             const CONNECTDATA* records, ULONG cursor)
    : refCount(0), owner(owner), cursor(cursor), itemCount(0), entries(nullptr)
{
    copyEntries(records, recordCount);
}

SignaturePad::_IEnumerateConnections::_IEnumerateConnections(const _IEnumerateConnections& other)
    : refCount(0), owner(other.owner), cursor(other.cursor), itemCount(0), entries(nullptr)
{
    copyEntries(other.entries, other.itemCount);
}

SignaturePad::_IEnumerateConnections&
SignaturePad::_IEnumerateConnections::operator=(const _IEnumerateConnections& other)
{
    if (this != &other) {
        releaseEntries();
        copyEntries(other.entries, other.itemCount);
        cursor = other.cursor;
    }
    return *this;
}

SignaturePad::_IEnumerateConnections::~_IEnumerateConnections()
{
    releaseEntries();
}

void SignaturePad::_IEnumerateConnections::copyEntries(const CONNECTDATA* records, ULONG recordCount)
{
    ULONG live = 0;
    for (ULONG i = 0; i < recordCount; ++i) {
        if (records[i].dwCookie)
            ++live;
    }
    entries = live <= inlineCapacity ? inlineEntries : new (std::nothrow) CONNECTDATA[live];
    if (!entries)
        return;
    for (ULONG i = 0; itemCount < live; ++i) {
        if (!records[i].dwCookie)
            continue;
        entries[itemCount] = records[i];
        if (entries[itemCount].pUnk)
            entries[itemCount].pUnk->AddRef();
        ++itemCount;
    }
}

void SignaturePad::_IEnumerateConnections::releaseEntries()
{
    for (ULONG i = 0; i < itemCount; ++i) {
        if (entries[i].pUnk)
            entries[i].pUnk->Release();
    }
    if (entries != inlineEntries)
        delete[] entries;
    entries = nullptr;
    itemCount = 0;
}

STDMETHODIMP SignaturePad::_IEnumerateConnections::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IEnumConnections))
        return E_NOINTERFACE;
    *object = static_cast<IEnumConnections*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) SignaturePad::_IEnumerateConnections::AddRef()
{
    owner->AddRef();
    return ++refCount;
}

// The owner's Release may destroy the object, but never this enumerator,
// whose destruction touches nothing of the object.
STDMETHODIMP_(ULONG) SignaturePad::_IEnumerateConnections::Release()
{
    owner->Release();
    ULONG count = --refCount;
    if (count == 0)
        delete this;
    return count;
}

STDMETHODIMP SignaturePad::_IEnumerateConnections::Next(ULONG count, CONNECTDATA* connections, ULONG* fetched)
{
    if (!connections)
        return E_POINTER;
    ULONG copied = 0;
    while (copied < count && cursor < itemCount) {
        connections[copied] = entries[cursor++];
        if (connections[copied].pUnk)
            connections[copied].pUnk->AddRef();
        ++copied;
    }
    if (fetched)
        *fetched = copied;
    return copied ? S_OK : S_FALSE;
}

STDMETHODIMP SignaturePad::_IEnumerateConnections::Skip(ULONG count)
{
    ULONG remaining = cursor < itemCount ? itemCount - cursor : 0;
    if (count <= remaining) {
        cursor += count;
        return S_OK;
    }
    cursor = itemCount;
    return S_FALSE;
}

STDMETHODIMP SignaturePad::_IEnumerateConnections::Reset()
{
    cursor = 0;
    return S_OK;
}

STDMETHODIMP SignaturePad::_IEnumerateConnections::Clone(IEnumConnections** enumerator)
{
    if (!enumerator)
        return E_POINTER;
    *enumerator = nullptr;
    _IEnumerateConnections* clone = create(owner, itemCount, entries, cursor);
    if (!clone)
        return E_OUTOFMEMORY;
    return clone->QueryInterface(IID_IEnumConnections, reinterpret_cast<void**>(enumerator));
}
