// The host's event sink; see signature_sink.h for the threading rules.
#include "signature_sink.h"

#include <new>

#include "ink_latency.h"

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
    {
        ExclusiveGuard guard(lock);
        if (skipNextPoint) {
            skipNextPoint = false;
            return S_OK;
        }
        if (!strokeOpen)
            return S_OK;
        captured.strokes.back().push_back(POINT{x, y});
        arrivals.push_back(inkClock());
    }
    post();
    return S_OK;
}

STDMETHODIMP SignatureSink::OptionSelected(LONG optionNumber)
{
    if (optionNumber == 1) {
        SetEvent(okEvent.get());
    } else {
        // Any other button cleared the pad's display: the signer starts again.
        ExclusiveGuard guard(lock);
        forget();
    }
    post();
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

void SignatureSink::forget()
{
    captured = Signature();
    arrivals.clear();
    strokeOpen = false;
    skipNextPoint = false;
    firstPenDown.reset();
    ++generation;
}

void SignatureSink::restart()
{
    {
        ExclusiveGuard guard(lock);
        forget();
        ResetEvent(okEvent.get());
    }
    post();
}

void SignatureSink::notify(HWND target, UINT targetMessage)
{
    message = targetMessage;
    window = target;
}

// Called without the lock: the window's thread may be waiting for it.
void SignatureSink::post() const
{
    HWND target = window;
    if (target && !messageWaiting.exchange(true))
        PostMessageW(target, message, 0, 0);
}

SignatureSink::InkChange SignatureSink::catchUp(Signature& copy, uint64_t& copyGeneration,
    std::vector<LONGLONG>* newArrivals) const
{
    // Cleared first: ink arriving from now on posts again.
    messageWaiting = false;
    SharedGuard guard(lock);
    if (copyGeneration != generation) {
        copy = captured;
        copyGeneration = generation;
        return InkChange::Restarted;
    }
    // Only the last stroke grows, and only a stroke without points is ever
    // taken back, so the copy lacks at most the tail from its last stroke on.
    InkChange change = InkChange::None;
    size_t pointsBefore = copy.pointCount();
    size_t from = copy.strokes.empty() ? 0 : copy.strokes.size() - 1;
    copy.strokes.resize(captured.strokes.size());
    for (size_t i = from; i < captured.strokes.size(); ++i) {
        const auto& source = captured.strokes[i];
        auto& target = copy.strokes[i];
        if (target.size() < source.size()) {
            target.insert(target.end(), source.begin() + static_cast<ptrdiff_t>(target.size()), source.end());
            change = InkChange::Added;
        }
    }
    copy.durationMs = captured.durationMs;
    if (newArrivals && change == InkChange::Added)
        newArrivals->assign(arrivals.begin() + static_cast<ptrdiff_t>(pointsBefore), arrivals.end());
    return change;
}

uint64_t SignatureSink::msSinceFirstStroke() const
{
    SharedGuard guard(lock);
    if (!firstPenDown)
        return 0;
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - *firstPenDown).count());
}
