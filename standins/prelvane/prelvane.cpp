// Prelvane: identity and lifetime, the properties and their storage, the
// snapshot stack and the client objects.
#include "prelvane.h"

#include <cstring>
#include <new>

#include "server.h"

namespace {

// The UTF-8 form of a property name, or the empty string when the name is
// empty, too long for the settings file or not valid UTF-16.
std::string fileNameOf(const std::wstring& name)
{
    if (name.empty() || name.size() > settingsfile::maxNameSize)
        return std::string();
    char text[settingsfile::maxNameSize * 3];
    int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, name.c_str(), static_cast<int>(name.size()),
                                     text, sizeof text, nullptr, nullptr);
    if (length <= 0 || static_cast<size_t>(length) > settingsfile::maxNameSize)
        return std::string();
    return std::string(text, static_cast<size_t>(length));
}

} // namespace

HRESULT createPrelvane(REFIID riid, void** object)
{
    Prelvane* prelvane = new (std::nothrow) Prelvane();
    if (!prelvane)
        return E_OUTOFMEMORY;
    prelvane->AddRef();
    HRESULT result = prelvane->QueryInterface(riid, object);
    prelvane->Release();
    return result;
}

Prelvane::Prelvane() : refCount(0), saveCount(0), pagesFromPageClient(false)
{
    lockServer();
}

Prelvane::~Prelvane()
{
    unlockServer();
}

STDMETHODIMP Prelvane::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPrelvane))
        *object = static_cast<IPrelvane*>(this);
    else if (IsEqualIID(riid, IID_ISpecifyPropertyPages))
        *object = static_cast<ISpecifyPropertyPages*>(this);
    else if (IsEqualIID(riid, IID_IPersistStream) || IsEqualIID(riid, IID_IPersist))
        *object = static_cast<IPersistStream*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) Prelvane::AddRef()
{
    return ++refCount;
}

STDMETHODIMP_(ULONG) Prelvane::Release()
{
    ULONG count = --refCount;
    if (count == 0)
        delete this;
    return count;
}

Prelvane::Property* Prelvane::findProperty(LPCWSTR name)
{
    for (Property& property : properties)
        if (property.name == name)
            return &property;
    return nullptr;
}

STDMETHODIMP Prelvane::DeclareProperty(LPCWSTR name, void* /* reserved */)
{
    if (!name)
        return E_POINTER;
    ExclusiveGuard guard(lock);
    if (findProperty(name))
        return S_FALSE;
    Property property;
    property.name = name;
    property.fileName = fileNameOf(property.name);
    if (property.fileName.empty() || properties.size() == settingsfile::maxEntries)
        return E_INVALIDARG;
    properties.push_back(std::move(property));
    return S_OK;
}

// A null storage with a byte count of 0 unbinds the property: its owner is
// going away, and the component must not touch the storage again.
STDMETHODIMP Prelvane::BindPropertyStorage(LPCWSTR name, LONG typeCode, void* storage, LONG byteCount)
{
    if (!name)
        return E_POINTER;
    bool unbinding = !storage && byteCount == 0;
    if (!unbinding && (!storage || byteCount <= 0 || static_cast<size_t>(byteCount) > settingsfile::maxValueSize))
        return E_INVALIDARG;
    ExclusiveGuard guard(lock);
    Property* property = findProperty(name);
    if (!property)
        return E_INVALIDARG;
    property->typeCode = typeCode;
    property->storage = static_cast<BYTE*>(storage);
    property->byteCount = static_cast<size_t>(byteCount);
    return S_OK;
}

Prelvane::Values Prelvane::boundValues() const
{
    Values values(properties.size());
    for (size_t i = 0; i < properties.size(); ++i)
        if (properties[i].storage)
            values[i].assign(properties[i].storage, properties[i].storage + properties[i].byteCount);
    return values;
}

// A value goes back only into a property still bound over the same size.
void Prelvane::writeValues(const Values& values)
{
    for (size_t i = 0; i < values.size() && i < properties.size(); ++i)
        if (properties[i].storage && !values[i].empty() && values[i].size() == properties[i].byteCount)
            memcpy(properties[i].storage, values[i].data(), values[i].size());
}

STDMETHODIMP Prelvane::SaveSnapshot()
{
    ExclusiveGuard guard(lock);
    try {
        snapshots.push_back(boundValues());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

STDMETHODIMP Prelvane::RestoreSnapshot()
{
    ExclusiveGuard guard(lock);
    if (snapshots.empty())
        return E_UNEXPECTED;
    writeValues(snapshots.back());
    snapshots.pop_back();
    return S_OK;
}

STDMETHODIMP Prelvane::DropSnapshot()
{
    ExclusiveGuard guard(lock);
    if (snapshots.empty())
        return E_UNEXPECTED;
    snapshots.pop_back();
    return S_OK;
}

STDMETHODIMP Prelvane::GetSnapshotDepth(LONG* depth)
{
    if (!depth)
        return E_POINTER;
    ExclusiveGuard guard(lock);
    *depth = static_cast<LONG>(snapshots.size());
    return S_OK;
}

STDMETHODIMP Prelvane::GetSaveCount(LONG* saves)
{
    if (!saves)
        return E_POINTER;
    ExclusiveGuard guard(lock);
    *saves = saveCount;
    return S_OK;
}

STDMETHODIMP Prelvane::SetClient(IPrelvaneClient* newClient)
{
    ComPtr<IPrelvaneClient> held = holdReference(newClient);
    {
        ExclusiveGuard guard(lock);
        std::swap(client, held);
    }
    // The previous client, if any, is released here, outside the lock.
    return S_OK;
}

STDMETHODIMP Prelvane::SetPageClient(IPrelvanePageClient* newPageClient, boolean ownsPages)
{
    ComPtr<IPrelvanePageClient> held = holdReference(newPageClient);
    {
        ExclusiveGuard guard(lock);
        std::swap(pageClient, held);
        pagesFromPageClient = ownsPages != 0;
    }
    return S_OK;
}

ComPtr<IPrelvanePageClient> Prelvane::sheetPageClient()
{
    ExclusiveGuard guard(lock);
    return holdReference(pagesFromPageClient ? pageClient.get() : nullptr);
}
