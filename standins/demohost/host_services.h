// The host's services object, handed to the control's Load. The control's
// settings page calls ChangeSignaturePad on it when an administrator picks
// another pad family.
#pragma once

#include <windows.h>

#include <atomic>

#include "TallowmarkServices_h.h"

class PadHost;

class HostServices : public ITallowmarkServices {
public:
    explicit HostServices(PadHost& host) : host(host) {}
    HostServices(const HostServices&) = delete;
    HostServices& operator=(const HostServices&) = delete;

    // IUnknown. The control keeps the pointer from Load without a reference
    // of its own, so this object is part of the PadHost and lives as long as
    // it, longer than any control it loads; the count is kept but never frees.
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++refCount; }
    STDMETHODIMP_(ULONG) Release() override { return --refCount; }

    // ITallowmarkServices
    STDMETHODIMP GetHostWindow(HWND* window) override;
    STDMETHODIMP GetActivePadModule(BSTR* moduleName) override;
    STDMETHODIMP SetStatusText(LPCWSTR text) override;
    STDMETHODIMP Refresh() override;
    STDMETHODIMP ChangeSignaturePad(LPCWSTR moduleName) override;

private:
    PadHost& host;
    std::atomic<ULONG> refCount{1};
};
