// The host's ISignaturePadEvents sink: it turns the control's events into a
// Signature and tells the host's thread when the signer pressed "ok".
//
// The control calls the sink on the pad's reader thread, never on the thread
// that advised it, so every event method takes the sink's lock and the host's
// thread learns of "ok" through an event object, and a window of the host's
// thread of new ink through a posted message. The sink never calls the
// control back from an event: the host's thread stops it.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <vector>

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

    // After this, new ink and the pad's buttons post `message` to `window`.
    // One message at a time is waiting: catchUp lets the next one through.
    void notify(HWND window, UINT message);
    enum class InkChange { None, Added, Restarted };
    // Brings a copy of the signature up to date. Added: points were only
    // appended, to its strokes or in new ones. Restarted: the pad was cleared
    // since the copy was made (its other button, or restart); the copy is
    // replaced whole. `generation` is the caller's, 0 for a new copy. When
    // points were added and `arrivals` is given, it receives the moments
    // (inkClock) the sink received each of them.
    InkChange catchUp(Signature& copy, uint64_t& generation, std::vector<LONGLONG>* arrivals = nullptr) const;
    // The host's own "clear": forgets the signature and an "ok" not acted on.
    void restart();
    // Time since the signature's first pen down, 0 before it.
    uint64_t msSinceFirstStroke() const;

private:
    using Clock = std::chrono::steady_clock;

    SignatureSink();
    ~SignatureSink() = default;
    void forget();      // with the lock held
    void post() const;

    std::atomic<ULONG> refCount{1};
    UniqueHandle okEvent;

    mutable SlimLock lock;
    Signature captured;
    bool strokeOpen = false;
    // The control follows PenDown and PenUp with a PenPoint(0, 0, 0.0) that is
    // no position of the pen.
    bool skipNextPoint = false;
    std::optional<Clock::time_point> firstPenDown;
    uint64_t generation = 1;    // counts the clearings
    std::vector<LONGLONG> arrivals; // of the signature's points, in order

    std::atomic<HWND> window{nullptr};
    UINT message = 0;
    mutable std::atomic<bool> messageWaiting{false};
};
