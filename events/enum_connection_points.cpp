// Enumerator over the container's connection points. Every reference on it
// is also one on its owner, and every point it lists holds one of its own.
#include "signature_pad.h"

#include <algorithm>
#include <new>

SignaturePad::_IEnumConnectionPoints* SignaturePad::_IEnumConnectionPoints::create(
    SignaturePad* owner, IConnectionPoint** items, LONG itemCount, LONG cursor)
{
    auto* enumerator = new (std::nothrow) _IEnumConnectionPoints(owner, items, itemCount, cursor);
    if (enumerator && !enumerator->items) {
        delete enumerator;
        return nullptr;
    }
    return enumerator;
}

SignaturePad::_IEnumConnectionPoints::_IEnumConnectionPoints(SignaturePad* owner, IConnectionPoint** list,
                                                             LONG listLength, LONG start)
    : refCount(0), itemCount(0), cursor(0), owner(owner), items(nullptr)
{
    copyItems(list, listLength);
    cursor = std::clamp(start, 0L, itemCount);
}

SignaturePad::_IEnumConnectionPoints::_IEnumConnectionPoints(const _IEnumConnectionPoints& other)
    : refCount(0), itemCount(0), cursor(other.cursor), owner(other.owner), items(nullptr)
{
    copyItems(other.items, other.itemCount);
}

SignaturePad::_IEnumConnectionPoints&
SignaturePad::_IEnumConnectionPoints::operator=(const _IEnumConnectionPoints& other)
{
    if (this != &other) {
        releaseItems();
        copyItems(other.items, other.itemCount);
        cursor = other.cursor;
    }
    return *this;
}

SignaturePad::_IEnumConnectionPoints::~_IEnumConnectionPoints()
{
    releaseItems();
}

void SignaturePad::_IEnumConnectionPoints::copyItems(IConnectionPoint* const* source, LONG count)
{
    LONG copied = count > 0 ? count : 0;
    items = new (std::nothrow) IConnectionPoint*[copied];
    if (!items)
        return;
    for (LONG i = 0; i < copied; ++i) {
        items[i] = source[i];
        if (items[i])
            items[i]->AddRef();
    }
    itemCount = copied;
}

void SignaturePad::_IEnumConnectionPoints::releaseItems()
{
    for (LONG i = 0; i < itemCount; ++i) {
        if (items[i])
            items[i]->Release();
    }
    delete[] items;
    items = nullptr;
    itemCount = 0;
}

STDMETHODIMP SignaturePad::_IEnumConnectionPoints::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IEnumConnectionPoints))
        return E_NOINTERFACE;
    *object = static_cast<IEnumConnectionPoints*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) SignaturePad::_IEnumConnectionPoints::AddRef()
{
    owner->AddRef();
    return ++refCount;
}

STDMETHODIMP_(ULONG) SignaturePad::_IEnumConnectionPoints::Release()
{
    owner->Release();
    ULONG count = --refCount;
    if (count == 0)
        delete this;
    return count;
}

STDMETHODIMP SignaturePad::_IEnumConnectionPoints::Next(ULONG count, IConnectionPoint** points, ULONG* fetched)
{
    if (!points)
        return E_POINTER;
    if (cursor >= itemCount) {
        if (fetched)
            *fetched = 0;
        return S_FALSE;
    }
    if (!fetched && count != 1)
        return E_POINTER;
    ULONG copied = 0;
    while (copied < count && cursor < itemCount) {
        IConnectionPoint* item = items[cursor++];
        if (item)
            item->AddRef();
        points[copied++] = item;
    }
    if (fetched)
        *fetched = copied;
    return S_OK;
}

STDMETHODIMP SignaturePad::_IEnumConnectionPoints::Skip(ULONG count)
{
    ULONG remaining = cursor < itemCount ? static_cast<ULONG>(itemCount - cursor) : 0;
    if (count <= remaining) {
        cursor += static_cast<LONG>(count);
        return S_OK;
    }
    cursor = itemCount;
    return S_FALSE;
}

STDMETHODIMP SignaturePad::_IEnumConnectionPoints::Reset()
{
    cursor = 0;
    return S_OK;
}

STDMETHODIMP SignaturePad::_IEnumConnectionPoints::Clone(IEnumConnectionPoints** enumerator)
{
    if (!enumerator)
        return E_POINTER;
    *enumerator = nullptr;
    _IEnumConnectionPoints* clone = create(owner, items, itemCount, cursor);
    if (!clone)
        return E_OUTOFMEMORY;
    return clone->QueryInterface(IID_IEnumConnectionPoints, reinterpret_cast<void**>(enumerator));
}
