// The properties component's entry points: the module handle, the class
// objects and the unload test.
#include <windows.h>
#include <atomic>

#include "Prelvane_h.h"
#include "server.h"

HINSTANCE serverModule;

namespace {

std::atomic<LONG> serverLocks{0};

// One class object per class, static for the life of the module.
class ClassFactory final : public IClassFactory {
public:
    using Create = HRESULT (*)(REFIID riid, void** object);
    explicit ClassFactory(Create create) : create(create) {}

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
    // Static: references to the class object keep nothing alive.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return create(riid, object);
    }

    STDMETHODIMP LockServer(BOOL lock) override
    {
        if (lock)
            lockServer();
        else
            unlockServer();
        return S_OK;
    }

private:
    Create create;
};

ClassFactory prelvaneFactory(createPrelvane);
ClassFactory propertyPageFactory(createPrelvanePropertyPage);

} // namespace

void lockServer()
{
    ++serverLocks;
}

void unlockServer()
{
    --serverLocks;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        serverModule = instance;
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (IsEqualCLSID(clsid, CLSID_Prelvane))
        return prelvaneFactory.QueryInterface(riid, object);
    if (IsEqualCLSID(clsid, CLSID_PrelvanePropertyPage))
        return propertyPageFactory.QueryInterface(riid, object);
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow()
{
    return serverLocks == 0 ? S_OK : S_FALSE;
}
