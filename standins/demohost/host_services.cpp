// The host's services object.
#include "host_services.h"

#include <cstdio>

#include "pad_host.h"
#include "text.h"

STDMETHODIMP HostServices::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_ITallowmarkServices)
        return E_NOINTERFACE;
    *object = static_cast<ITallowmarkServices*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP HostServices::GetHostWindow(HWND* window)
{
    if (!window)
        return E_POINTER;
    *window = host.frameWindow();
    return S_OK;
}

STDMETHODIMP HostServices::GetActivePadModule(BSTR* moduleName)
{
    if (!moduleName)
        return E_POINTER;
    *moduleName = SysAllocString(host.moduleFile().c_str());
    return *moduleName ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP HostServices::SetStatusText(LPCWSTR text)
{
    if (!text)
        return E_POINTER;
    printf("Pad: %s\n", narrow(text).c_str());
    return S_OK;
}

STDMETHODIMP HostServices::Refresh()
{
    return S_OK;
}

STDMETHODIMP HostServices::ChangeSignaturePad(LPCWSTR moduleName)
{
    if (!moduleName || !moduleName[0])
        return E_INVALIDARG;
    host.requestPadChange(moduleName);
    return S_OK;
}
