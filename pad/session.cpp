// The device session: finding, opening, starting, stopping and releasing the
// pad, the reader thread that pulls its input, and the input callback that
// turns pad reports into pen and option events for the host.
//
// Every object of the process shares the pad library's one device record.
// The object that started last owns the pad: the record's application slot
// names it, only its reader reads, and no other object closes the pad or
// clears its display while it is named there. One lock, sessionLock, covers
// the slot, the opening, closing and clearing of the pad and the starting
// and ending of readers. It is never held while a thread is waited for, a
// sink is called or a message is shown, so a sink may call the control from
// inside an event on any thread.
//
// The reader thread may end up holding the last reference to the object,
// when a sink releases the host's last reference from inside an event: the
// object is then taken down on that thread once the event has reached every
// sink, and its memory is freed when the reader loop has ended.
#include "signature_pad.h"

#include <cstring>

#include "module.h"

namespace {

constexpr double scaleDivisor = 65791.0;
constexpr double lcdScaleFactor = 1.25;
constexpr double lcdScaleDivisor = 4.4;
constexpr SIZE_T readerStackCommit = 4096;
constexpr DWORD stopPollMs = 100;
constexpr UINT noPadMessage = 1;
constexpr UINT openFailedMessage = 2;

SlimLock sessionLock;

// The object whose reader thread this is; null on every other thread.
thread_local SignaturePad* servedPad = nullptr;

// The library sets and clears the open flag on other threads.
bool isOpen(const scriptel_device* device)
{
    return *static_cast<const volatile uint8_t*>(&device->isOpen) != 0;
}

// Called with sessionLock held.
SignaturePad* padOwner(const scriptel_device* device)
{
    return static_cast<SignaturePad*>(device->application);
}

// Whether the object may close the pad or clear its display: it owns the
// pad, or no object does. Called with sessionLock held.
bool mayUsePad(const SignaturePad* pad, const scriptel_device* device)
{
    SignaturePad* owner = padOwner(device);
    return !owner || owner == pad;
}

bool isOkButton(const scriptel_button_report* report)
{
    const scriptel_button* button = report->button;
    // At most three bytes are read: "ok" and its terminator.
    return button && _strnicmp(button->name, "ok", 3) == 0;
}

UniqueHandle duplicateHandle(HANDLE handle)
{
    HANDLE copy = nullptr;
    HANDLE process = GetCurrentProcess();
    if (!DuplicateHandle(process, handle, process, &copy, SYNCHRONIZE, FALSE, 0))
        copy = nullptr;
    return UniqueHandle(copy);
}

// Polled in steps, but left as soon as the thread has ended.
void waitForThread(const UniqueHandle& thread)
{
    while (WaitForSingleObject(thread.get(), stopPollMs) == WAIT_TIMEOUT)
        continue;
}

} // namespace

LONG SignaturePad::Load(char* /* pszName */, HWND /* hwndClientHost */, void* pvITallowmarkServices)
{
    hostServices = static_cast<ITallowmarkServices*>(pvITallowmarkServices);
    if (isLoaded)
        return 0;
    emptyInkList();
    isActive = 1;

    scriptel_device* found = nullptr;
    scriptel_list_devices(&found);
    {
        ExclusiveGuard guard(sessionLock);
        // A record the library no longer lists is not held for this object.
        if (scriptel_device* previous = device; previous && previous != found && padOwner(previous) == this)
            previous->application = nullptr;
        device = found;
    }
    if (!found) {
        showLoadMessage(noPadMessage);
        return 1;
    }
    // A name too long for the field is cut to fit.
    lstrcpynA(deviceName, found->name ? found->name : "", sizeof deviceName);

    bool opened;
    {
        ExclusiveGuard guard(sessionLock);
        // Another object capturing keeps the pad open and its display as it is.
        bool shared = !mayUsePad(this, found);
        bool leaveOpen = shared && isOpen(found);
        opened = leaveOpen || scriptel_open_device(found) == 1;
        if (opened) {
            scriptel_coordinate_range range = scriptel_get_coordinate_range(found);
            padWidth = range.width ? range.width : found->width;
            padHeight = range.height ? range.height : found->height;
            padToLcdScaleX = padWidth / scaleDivisor;
            padToLcdScaleY = (padToLcdScaleX * lcdScaleFactor) / lcdScaleDivisor;
            isLoaded = 1;
            if (!shared)
                scriptel_clear_screen(found);
            if (!leaveOpen)
                scriptel_close_device(found);
        }
    }
    if (!opened) {
        showLoadMessage(openFailedMessage);
        return 1;
    }
    return 0;
}

LONG SignaturePad::Start()
{
    scriptel_device* pad = device;
    if (!pad)
        return 0;
    // The readers that must end before this one reads: this object's own and
    // the owner's. A reader thread never waits for one (two readers could
    // wait for each other), and a reader started from inside its own events
    // goes on reading once the event returns.
    bool waiting = servedPad == nullptr;
    UniqueHandle ownReader, ownerReader;
    {
        ExclusiveGuard guard(sessionLock);
        SignaturePad* owner = padOwner(pad);
        if (readerThread && !waiting) {
            if (stopIsFinal)
                return 0;   // a thread waits for this reader to end: that stands
            if (owner && owner != this)
                owner->requestEnd(false);
            scriptel_close_device(pad);
            pad->application = this;
            stopRequested = false;
            ++restarts;
            scriptel_open_device(pad);
            scriptel_clear_screen(pad);
            return 0;
        }
        // Owned from now on: the others leave the pad alone while this
        // object waits for the old readers.
        pad->application = this;
        ownReader = requestEnd(waiting);
        if (owner && owner != this)
            ownerReader = owner->requestEnd(waiting);
        scriptel_close_device(pad);
        if (!ownReader && !ownerReader) {
            launchReader(pad);
            return 0;
        }
    }
    if (ownReader)
        waitForThread(ownReader);
    if (ownerReader)
        waitForThread(ownerReader);

    ExclusiveGuard guard(sessionLock);
    // An object started meanwhile, on another host thread, owns the pad now;
    // or a sink of the old owner started this object from inside an event.
    if (padOwner(pad) == this && !readerThread)
        launchReader(pad);
    return 0;
}

LONG SignaturePad::Stop()
{
    endReader();
    return 0;
}

LONG SignaturePad::Unload()
{
    if (!isLoaded)
        return 0;
    LCDRefresh(0, 0, 0, 0, 0);
    ClearTablet();
    isLoaded = 0;
    if (isActive) {
        Stop();
        isActive = 0;
    }
    return 0;
}

void SignaturePad::ClearTablet()
{
    emptyInkList();
    LCDRefresh(0, 0, 0, 0, 0);
}

void SignaturePad::LCDRefresh(LONG /* mode */, LONG /* XPos */, LONG /* YPos */, LONG /* XSize */, LONG /* YSize */)
{
    scriptel_device* pad = device;
    if (!pad)
        return;
    ExclusiveGuard guard(sessionLock);
    if (mayUsePad(this, pad))
        scriptel_clear_screen(pad);
}

void SignaturePad::showLoadMessage(UINT messageId)
{
    char text[1024] = "";
    LoadStringA(moduleHandle, messageId, text, sizeof text);
    MessageBoxA(nullptr, text, "Error", MB_OK | MB_ICONWARNING | MB_TOPMOST);
}

// Called with sessionLock held, with no reader of this object running: the
// rest of Start, which opens and clears the pad for a new reader.
void SignaturePad::launchReader(scriptel_device* pad)
{
    stopRequested = false;
    stopIsFinal = false;
    scriptel_open_device(pad);
    scriptel_clear_screen(pad);

    // The thread's own reference on the module, which it gives back as it
    // exits: the host may release the object and let the module go while
    // the thread is still on its way out through the module's code.
    HMODULE module = nullptr;
    DWORD threadId;
    HANDLE thread = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&moduleHandle), &module))
        thread = CreateThread(nullptr, readerStackCommit, readerThreadProc, this, CREATE_SUSPENDED, &threadId);
    if (!thread) {
        // Without a reader the object owns nothing.
        if (module)
            FreeLibrary(module);
        pad->application = nullptr;
        return;
    }
    readerHandle.reset(thread);
    readerThread = thread;
    ResumeThread(thread);
}

// Called with sessionLock held. Asks the reader to end; `waiting` when the
// caller will wait for it, which no Start from inside its events can undo.
// Returns the thread to wait for, if the caller waits and one runs.
UniqueHandle SignaturePad::requestEnd(bool waiting)
{
    stopRequested = true;
    if (!waiting || !readerThread)
        return UniqueHandle();
    stopIsFinal = true;
    return duplicateHandle(readerHandle.get());
}

// Asks the reader thread to end and, when this object owns the pad or no
// object does, gives the pad up and closes it, which sends a read in
// progress home. Waits for the thread unless called on a reader thread: on
// its own, it ends once the current event returns.
void SignaturePad::endReader()
{
    UniqueHandle reader;
    {
        ExclusiveGuard guard(sessionLock);
        reader = requestEnd(servedPad == nullptr);
        if (scriptel_device* pad = device) {
            if (padOwner(pad) == this)
                pad->application = nullptr;
            if (mayUsePad(this, pad))
                scriptel_close_device(pad);
        }
    }
    if (!reader)
        return;
    waitForThread(reader);
    ExclusiveGuard guard(sessionLock);
    if (!readerThread)
        readerHandle.reset();
}

bool SignaturePad::onOwnReaderThread() const
{
    return servedPad == this;
}

// Destruction steps up to freeing the memory.
void SignaturePad::shutDown()
{
    // Unload stops the reader only for a loaded object; a reader started
    // after a Load that found the pad but could not open it runs regardless.
    bool unloadStopsReader = isLoaded != 0;
    Unload();
    if (!unloadStopsReader && readerHandle)
        endReader();
    tearDownSettings();
    emptyInkList();
}

DWORD WINAPI SignaturePad::readerThreadProc(void* parameter)
{
    static_cast<SignaturePad*>(parameter)->readReports();
    FreeLibraryAndExitThread(moduleHandle, 0);
}

void SignaturePad::readReports()
{
    servedPad = this;
    // Every capture starts with the pen up.
    lastPenX = lastPenY = -1;
    restartsSeen = restarts;
    if (scriptel_device* first = device)
        scriptel_register_input_callback(first, inputCallback);
    for (;;) {
        scriptel_device* current = device;
        if (current && isOpen(current) && !stopRequested) {
            scriptel_device_read(current);
            closeCutStroke();
            continue;
        }
        // The capture is over: the pad went, or the object stops.
        closeStroke();
        // Started again from inside those last events: read on.
        if (restartsSeen == restarts)
            break;
        restartsSeen = restarts;
    }
    servedPad = nullptr;

    if (freeWhenReaderEnds) {
        readerThread = nullptr;
        readerHandle.reset();
        delete this;
        return;
    }
    readerThread = nullptr;   // the thread's last access to the object
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
    if (beginDelivery()) {
        connectionPointContainer.fire_PenUp(x, y);
        endDelivery();
    }
}

// Each Start from inside the reader's own events begins a new capture.
void SignaturePad::closeCutStroke()
{
    unsigned made = restarts;
    if (restartsSeen == made)
        return;
    restartsSeen = made;
    closeStroke();
}

// Whether the object still takes events. A host's last Release on another
// thread meanwhile waits for this reader to end, so the object stays.
bool SignaturePad::beginDelivery()
{
    if (destroying || refCount == 0)
        return false;
    deliveringThread = GetCurrentThreadId();
    return true;
}

bool SignaturePad::deliveringOnThisThread() const
{
    return deliveringThread.load(std::memory_order_relaxed) == GetCurrentThreadId();
}

// When a sink gave the last reference back inside the event, the object goes
// now, on this thread, after the whole event, unless a reference was taken
// again meanwhile.
void SignaturePad::endDelivery()
{
    deliveringThread = 0;
    if (lastReleaseInDelivery) {
        lastReleaseInDelivery = false;
        if (refCount == 0)
            destroy();
    }
}

// The object is the one this reader thread serves: the application slot
// names the owner, which another thread may change under a reader that is
// about to end.
void __cdecl SignaturePad::inputCallback(scriptel_device* /* device */, void* report, int type)
{
    SignaturePad* pad = servedPad;
    // Nothing reaches a host once its object stops or is being taken down.
    if (!pad || pad->stopRequested)
        return;
    pad->closeCutStroke();
    if (!pad->beginDelivery())
        return;
    pad->handleReport(report, type);
    pad->endDelivery();
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
