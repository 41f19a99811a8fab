// One capture's reader thread, and what it shares with its object and with
// the threads that wait for it to end.
#pragma once

#include "signature_pad.h"

// The library sets and clears the open flag on other threads.
inline bool isPadOpen(const scriptel_device* device)
{
    return *static_cast<const volatile uint8_t*>(&device->isOpen) != 0;
}

// Counted: a thread waiting for a reader (another object's, say) may still
// look at it after its object has gone. One reader at a time per object.
class SignaturePad::Reader {
public:
    // A reader for the object, not yet running; null when memory or an
    // event for it cannot be had.
    static Reader* create(SignaturePad* pad);
    // The reader whose thread this is, or null.
    static Reader* current();

    ULONG AddRef();
    ULONG Release();

    // Runs the reader on a new thread, created suspended and resumed once its
    // handle is stored; the thread holds the module until it exits. False
    // when no thread could be made.
    bool launch(SIZE_T stackCommit);

    // Ends a pause between reads at once: the capture is ending.
    void wake() const { SetEvent(wakeEvent.get()); }
    bool running() const { return WaitForSingleObject(thread.get(), 0) == WAIT_TIMEOUT; }

    // Waits for the thread to end, serving the calling thread's messages
    // meanwhile, since a sink may be waiting for this thread to handle one.
    // Gives up when the reader stays inside one call of a sink for a while
    // without that serving it: the sink then waits for something the calling
    // thread is itself inside. With `silence`, no sink hears from the reader
    // again once this returns. True when the thread ended.
    bool waitForEnd(bool silence);
    // Whether a waiter gave up on it with `silence`: such a reader only ends.
    bool silenced() const { return silent.load(); }

    // The reader's own thread around every event it delivers: false, with
    // nothing begun, when the object no longer takes events.
    bool beginDelivery();
    void endDelivery();
    // Before each call of a sink, on the reader's own thread.
    bool maySinkBeCalled()
    {
        if (silent.load())
            return false;
        sinkCalls.store(sinkCalls.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        return true;
    }

    // On the reader's thread: whether it is inside the pad library's input
    // callback or inside one of its own events. The library may not be
    // called from there but to clear the display: what a sink asks for that
    // needs it is done once the read has returned.
    bool insideEvent() const { return eventDepth > 0; }
    enum class Work { Close, Start, Destroy };
    // Close: the pad, unless an object owns it by then. Start: the capture of
    // `pad`, held meanwhile when it is another object's. Destroy: `pad`.
    // False when there was no memory to keep it.
    bool defer(Work work, SignaturePad* pad, scriptel_device* device = nullptr);

    SignaturePad* const pad;

private:
    struct DeferredWork {
        Work work;
        SignaturePad* pad;
        scriptel_device* device;
    };

    explicit Reader(SignaturePad* pad);
    ~Reader() = default;

    static DWORD WINAPI threadProc(void* parameter);
    static void __cdecl inputCallback(scriptel_device* device, void* report, int type);
    void run();
    void runDeferredWork();
    void pauseAfterEmptyRead(LONGLONG readStart);

    std::atomic<ULONG> references{1};
    // Under the session lock: a thread waits, or waited, for this reader to
    // end, so a Start from inside its events cannot take that back.
    bool final = false;
    UniqueHandle thread;
    UniqueHandle wakeEvent;                 // auto-reset
    std::atomic<bool> silent{false};
    // Whether the thread is inside a delivery, and how many sink calls it
    // has begun: a waiter tells a reader held up in a sink by them.
    std::atomic<bool> delivering{false};
    std::atomic<unsigned> sinkCalls{0};

    // Touched only by the reader's own thread.
    int eventDepth = 0;
    unsigned reportsHanded = 0;             // input callbacks the library made
    unsigned pauseUs = 0;                   // the next pause after a read that found nothing
    UniqueHandle pauseTimer;                // a fine-grained timer for the pauses, when there is one
    std::vector<DeferredWork> deferred;

    friend class SignaturePad;
};
