// The class factory and DllGetClassObject.
#include <windows.h>

#include "module.h"
#include "signature_pad.h"

namespace {

// One static instance that is never deleted; its count is informational.
class Factory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
            return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }

    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refCount)); }

    // Never destroys the factory, whatever the count reaches.
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&refCount)); }

    // The object never aggregates: an outer object is ignored, not refused.
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        SignaturePad* pad = SignaturePad::create(outer);
        if (!pad)
            return E_OUTOFMEMORY;
        // Hold a reference across the query so that a refused interface
        // destroys the new object instead of leaking it.
        pad->AddRef();
        HRESULT hr = pad->QueryInterface(riid, object);
        pad->Release();
        return hr;
    }

    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    LONG refCount = 0;
};

Factory factory;

} // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object)
{
    completeModuleStartup();
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_TallowmarkSignaturePad))
        return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(riid, object);
}
