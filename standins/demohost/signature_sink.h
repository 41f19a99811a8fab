// The host's ISignaturePadEvents sink: it turns the control's events into a
// Signature and tells the host's thread when the signer pressed "ok".
//
// The control calls the sink on the pad's reader thread, never on the thread
// that advised it, so every event method takes the sink's lock and the host's
// thread learns of "ok" through an event object. The sink never calls the
// control back from an event: the host's thread stops it.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <optional>

#include "SignaturePad_h.h"
#include "handles.h"
#include "signature.h"
#include "sync.h"

class SignatureSink final : public ISignaturePadEvents {
public:
    static ComPtr<SignatureSink> create();

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // ISignaturePadEvents
    STDMETHODIMP PenDown() override;
    STDMETHODIMP PenUp() override;
    STDMETHODIMP PenPoint(LONG x, LONG y, float inkWeight) override;
    STDMETHODIMP OptionSelected(LONG optionNumber) override;
    STDMETHODIMP ItemSelected(LONG controlId, BSTR selectedItem) override;

    // Signalled when the pad's "ok" button (option 1) arrives; manual reset.
    HANDLE okPressed() const { return okEvent.get(); }
    // A copy of everything captured so far.
    Signature signature() const;

private:
    using Clock = std::chrono::steady_clock;

    SignatureSink();
    ~SignatureSink() = default;

    std::atomic<ULONG> refCount{1};
    UniqueHandle okEvent;

    mutable SlimLock lock;
    Signature captured;
    bool strokeOpen = false;
    // The control follows PenDown and PenUp with a PenPoint(0, 0, 0.0) that is
    // no position of the pen.
    bool skipNextPoint = false;
    std::optional<Clock::time_point> firstPenDown;
};
