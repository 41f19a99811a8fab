// The reader thread of a capture: it keeps reading the pad, turns each report
// into pen and option events for the host's sinks, and does what those sinks
// asked of the pad library once each read has returned.
//
// Libraries differ in how long a read waits: one blocks until input comes or
// the pad is closed, another returns at once when nothing is there, or fails
// at once after a fault while the pad still counts as open. A read that
// handed over nothing and came back sooner than the current pause is
// followed by the rest of that pause, which doubles from 1 ms to 4 ms while
// nothing comes: an idle library that does not wait costs next to nothing,
// and input still arrives within a few milliseconds. A read that blocks, or
// hands over input, is never followed by a pause.
#include "reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "module.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

constexpr unsigned firstPauseUs = 1000;
constexpr unsigned longestPauseUs = 4000;
// How long a waiter lets the reader stay inside one call of a sink, while
// it serves its own thread's messages, before it takes that sink to be
// waiting for something the waiter is itself inside.
constexpr ULONGLONG heldUpMs = 200;
constexpr DWORD waitSliceMs = 20;
// Work a read's events may leave; more is made room for as it comes.
constexpr size_t deferredCapacity = 8;

// The reader whose thread this is. A native slot rather than thread_local:
// looking at it on any other thread allocates nothing.
const DWORD readerSlot = TlsAlloc();

SignaturePad::Reader* readerOfThisThread()
{
    return static_cast<SignaturePad::Reader*>(TlsGetValue(readerSlot));
}

LONGLONG microsecondsSince(LONGLONG start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (now.QuadPart - start) * 1000000 / frequency.QuadPart;
}

LONGLONG performanceCount()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

bool isOkButton(const scriptel_button_report* report)
{
    const scriptel_button* button = report->button;
    // At most three bytes are read: "ok" and its terminator.
    return button && _strnicmp(button->name, "ok", 3) == 0;
}

// Serves the calling thread's messages, sent and posted, until none is left.
// A WM_QUIT is kept for the caller to post again once it has finished
// waiting; from then on only sent messages are served.
void serveMessages(bool& quit, WPARAM& quitCode)
{
    // Wide: the host's windows may be Unicode windows, whose text messages
    // an ANSI pass would narrow.
    MSG message;
    while (!quit && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quit = true;
            quitCode = message.wParam;
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (quit)
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

} // namespace

SignaturePad::Reader::Reader(SignaturePad* pad) : pad(pad) {}

SignaturePad::Reader* SignaturePad::Reader::create(SignaturePad* pad)
{
    if (readerSlot == TLS_OUT_OF_INDEXES)
        return nullptr;
    Reader* reader = new (std::nothrow) Reader(pad);
    if (!reader)
        return nullptr;
    ComPtr<Reader> made;
    made.attach(reader);
    reader->wakeEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!reader->wakeEvent)
        return nullptr;
    try {
        reader->deferred.reserve(deferredCapacity);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return made.detach();
}

SignaturePad::Reader* SignaturePad::Reader::current()
{
    return readerOfThisThread();
}

ULONG SignaturePad::Reader::AddRef()
{
    return ++references;
}

ULONG SignaturePad::Reader::Release()
{
    ULONG count = --references;
    if (count == 0)
        delete this;
    return count;
}

bool SignaturePad::Reader::launch(SIZE_T stackCommit)
{
    // The thread's own reference on the module, which it gives back as it
    // exits: the host may release the object and let the module go while the
    // thread is still on its way out through the module's code.
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&moduleHandle),
                            &module))
        return false;
    AddRef();
    HANDLE created = CreateThread(nullptr, stackCommit, threadProc, this, CREATE_SUSPENDED, nullptr);
    if (!created) {
        Release();
        FreeLibrary(module);
        return false;
    }
    thread.reset(created);
    ResumeThread(created);
    return true;
}

DWORD WINAPI SignaturePad::Reader::threadProc(void* parameter)
{
    auto* reader = static_cast<Reader*>(parameter);
    reader->run();
    reader->Release();
    FreeLibraryAndExitThread(moduleHandle, 0);
}

void SignaturePad::Reader::run()
{
    TlsSetValue(readerSlot, this);
    // Every capture starts with the pen up.
    pad->lastPenX = pad->lastPenY = -1;
    pad->restartsSeen = pad->restarts;
    if (scriptel_device* first = pad->device)
        scriptel_register_input_callback(first, inputCallback);
    for (;;) {
        scriptel_device* current = pad->device;
        if (current && isPadOpen(current) && !pad->stopRequested) {
            unsigned handed = reportsHanded;
            LONGLONG readStart = performanceCount();
            scriptel_device_read(current);
            runDeferredWork();
            pad->closeCutStroke();
            runDeferredWork();
            if (reportsHanded == handed)
                pauseAfterEmptyRead(readStart);
            else
                pauseUs = 0;
            continue;
        }
        // The capture is over: the pad went, or the object stops.
        pad->closeStroke();
        runDeferredWork();
        // Started again from inside those last events: read on.
        if (pad->restartsSeen == pad->restarts)
            break;
        pad->restartsSeen = pad->restarts;
    }
    TlsSetValue(readerSlot, nullptr);
    pad->readerEnded();
}

void SignaturePad::Reader::pauseAfterEmptyRead(LONGLONG readStart)
{
    pauseUs = pauseUs ? std::min(pauseUs * 2, longestPauseUs) : firstPauseUs;
    LONGLONG rest = pauseUs - microsecondsSince(readStart);
    if (rest <= 0)
        return;   // the read waited that long itself
    // The system's ordinary timer may be coarser than the pause; a waitable
    // timer asked for high resolution is not, where the system has one.
    if (!pauseTimer)
        pauseTimer.reset(CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                                TIMER_ALL_ACCESS));
    if (!pauseTimer)
        pauseTimer.reset(CreateWaitableTimerW(nullptr, FALSE, nullptr));
    LARGE_INTEGER due;
    due.QuadPart = -rest * 10;
    if (pauseTimer && SetWaitableTimer(pauseTimer.get(), &due, 0, nullptr, nullptr, FALSE)) {
        HANDLE handles[] = {wakeEvent.get(), pauseTimer.get()};
        WaitForMultipleObjects(ARRAYSIZE(handles), handles, FALSE, INFINITE);
        return;
    }
    WaitForSingleObject(wakeEvent.get(), static_cast<DWORD>((rest + 999) / 1000));
}

bool SignaturePad::Reader::waitForEnd(bool silence)
{
    HANDLE handle = thread.get();
    bool quit = false;
    WPARAM quitCode = 0;
    bool ended = false;
    unsigned callsSeen = sinkCalls.load();
    ULONGLONG heldSince = GetTickCount64();
    for (;;) {
        DWORD woke = MsgWaitForMultipleObjectsEx(1, &handle, waitSliceMs, quit ? QS_SENDMESSAGE : QS_ALLINPUT,
                                                 MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0) {
            ended = true;
            break;
        }
        if (woke == WAIT_OBJECT_0 + 1)
            serveMessages(quit, quitCode);
        else if (woke == WAIT_FAILED && WaitForSingleObject(handle, waitSliceMs) == WAIT_OBJECT_0) {
            ended = true;
            break;
        }
        unsigned calls = sinkCalls.load();
        if (!delivering.load() || calls != callsSeen) {
            callsSeen = calls;
            heldSince = GetTickCount64();
        } else if (GetTickCount64() - heldSince >= heldUpMs) {
            break;
        }
    }
    if (!ended && silence)
        silent.store(true);
    if (quit)
        PostQuitMessage(static_cast<int>(quitCode));
    return ended;
}

bool SignaturePad::Reader::beginDelivery()
{
    if (pad->destroying || pad->refCount == 0)
        return false;
    delivering.store(true);
    if (silent.load()) {
        delivering.store(false);
        return false;
    }
    return true;
}

void SignaturePad::Reader::endDelivery()
{
    delivering.store(false);
}

bool SignaturePad::Reader::defer(Work work, SignaturePad* target, scriptel_device* device)
{
    for (const DeferredWork& entry : deferred) {
        if (entry.work == work && entry.pad == target && entry.device == device)
            return true;   // asked for already; each is checked again when it is done
    }
    try {
        deferred.push_back({work, target, device});
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (work == Work::Start && target != pad)
        target->AddRef();
    return true;
}

void SignaturePad::Reader::runDeferredWork()
{
    // Done outside every event, so nothing is deferred while this runs.
    for (const DeferredWork& entry : deferred) {
        switch (entry.work) {
        case Work::Close:
            closeUnlessOwned(entry.device);
            break;
        case Work::Start:
            entry.pad->startDeferred(entry.pad != pad);
            break;
        case Work::Destroy:
            entry.pad->destroy();
            break;
        }
    }
    deferred.clear();
}

// The library calls this on the reader's thread, inside scriptel_device_read.
void __cdecl SignaturePad::Reader::inputCallback(scriptel_device* /* device */, void* report, int type)
{
    Reader* reader = readerOfThisThread();
    if (!reader)
        return;
    ++reader->reportsHanded;
    SignaturePad* pad = reader->pad;
    // Nothing reaches a host once its object stops, starts again or is being
    // taken down.
    if (pad->stopRequested || pad->restartPending)
        return;
    ++reader->eventDepth;
    pad->closeCutStroke();
    if (reader->beginDelivery()) {
        pad->handleReport(report, type);
        reader->endDelivery();
    }
    --reader->eventDepth;
}

SignaturePad::Reader* SignaturePad::ownReader() const
{
    Reader* calling = readerOfThisThread();
    return calling && calling->pad == this ? calling : nullptr;
}

void SignaturePad::handleReport(const void* report, int type)
{
    switch (type & 0xff) {
    case SCRIPTEL_REPORT_PEN:
    case SCRIPTEL_REPORT_PEN_EXTENDED: {
        auto* pen = static_cast<const scriptel_pen_report*>(report);
        LONG x = pen->x;
        LONG y = pen->y;
        if (!pen->contact) {
            lastPenX = lastPenY = -1;
            connectionPointContainer.fire_PenUp(x, y);
            break;
        }
        bool down = lastPenX == -1;
        lastPenY = y;
        lastPenX = x;
        if (down)
            connectionPointContainer.fire_PenDown(x, y);
        else
            connectionPointContainer.fire_PenPoint(x, y, 0.0f);
        break;
    }
    case SCRIPTEL_REPORT_BUTTON:
        lastPenX = lastPenY = -1;
        if (isOkButton(static_cast<const scriptel_button_report*>(report))) {
            connectionPointContainer.fire_OptionSelected(1);
        } else {
            connectionPointContainer.fire_OptionSelected(0);
            // Unless a sink has stopped the capture, or another object took the pad.
            scriptel_device* pad = device;
            if (pad && !stopRequested)
                scriptel_clear_screen(pad);
        }
        break;
    default:
        break;
    }
}

// A stroke the capture cut short ends for the host as it would on the pad,
// with a PenUp. Destruction closes none: nothing reaches a host once its
// last reference has gone.
void SignaturePad::closeStroke()
{
    if (lastPenX == -1)
        return;
    LONG x = lastPenX;
    LONG y = lastPenY;
    lastPenX = lastPenY = -1;
    Reader* reader = readerOfThisThread();
    ++reader->eventDepth;
    if (reader->beginDelivery()) {
        connectionPointContainer.fire_PenUp(x, y);
        reader->endDelivery();
    }
    --reader->eventDepth;
}

// Each restart of a running reader begins a new capture.
void SignaturePad::closeCutStroke()
{
    unsigned made = restarts;
    if (restartsSeen == made)
        return;
    restartsSeen = made;
    closeStroke();
}
