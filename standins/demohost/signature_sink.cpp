// The host's event sink; see signature_sink.h for the threading rules.
#include "signature_sink.h"

#include <new>

ComPtr<SignatureSink> SignatureSink::create()
{
    ComPtr<SignatureSink> sink;
    sink.attach(new (std::nothrow) SignatureSink());
    if (sink && !sink->okEvent)
        sink.reset();
    return sink;
}

SignatureSink::SignatureSink() : okEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

STDMETHODIMP SignatureSink::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_ISignaturePadEvents)
        return E_NOINTERFACE;
    *object = static_cast<ISignaturePadEvents*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) SignatureSink::AddRef()
{
    return ++refCount;
}

STDMETHODIMP_(ULONG) SignatureSink::Release()
{
    ULONG count = --refCount;
    if (!count)
        delete this;
    return count;
}

STDMETHODIMP SignatureSink::PenDown()
{
    ExclusiveGuard guard(lock);
    if (!firstPenDown)
        firstPenDown = Clock::now();
    // A pen down without a pen up before it ends the open stroke.
    if (strokeOpen && captured.strokes.back().empty())
        captured.strokes.pop_back();
    captured.strokes.emplace_back();
    strokeOpen = true;
    skipNextPoint = true;
    return S_OK;
}

STDMETHODIMP SignatureSink::PenUp()
{
    ExclusiveGuard guard(lock);
    skipNextPoint = true;
    if (!strokeOpen)
        return S_OK;    // the pen hovering: the pad reports it lifted again
    strokeOpen = false;
    // The position where the pen touched down is not reported, so a touch
    // that never moved leaves an empty stroke: nothing to draw.
    if (captured.strokes.back().empty())
        captured.strokes.pop_back();
    if (firstPenDown)
        captured.durationMs = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - *firstPenDown).count());
    return S_OK;
}

STDMETHODIMP SignatureSink::PenPoint(LONG x, LONG y, float)
{
    ExclusiveGuard guard(lock);
    if (skipNextPoint) {
        skipNextPoint = false;
        return S_OK;
    }
    if (strokeOpen)
        captured.strokes.back().push_back(POINT{x, y});
    return S_OK;
}

STDMETHODIMP SignatureSink::OptionSelected(LONG optionNumber)
{
    if (optionNumber == 1) {
        SetEvent(okEvent.get());
        return S_OK;
    }
    // Any other button cleared the pad's display: the signer starts again.
    ExclusiveGuard guard(lock);
    captured = Signature();
    strokeOpen = false;
    skipNextPoint = false;
    firstPenDown.reset();
    return S_OK;
}

STDMETHODIMP SignatureSink::ItemSelected(LONG, BSTR)
{
    return S_OK;
}

Signature SignatureSink::signature() const
{
    SharedGuard guard(lock);
    return captured;
}
