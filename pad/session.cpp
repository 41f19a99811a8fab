// The device session: finding, opening, starting, stopping and releasing the
// pad, and the starting and ending of the reader thread that pulls its input
// (reader.cpp).
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
// A Stop, Unload, Release or Start on the host's thread waits for the reader
// to end while serving the thread's messages, since a sink may wait for the
// host's window to handle one. When the reader stays held up in a sink all
// the same (the sink waits for the very message the caller is handling), the
// caller stops waiting: the reader ends by itself once the sink returns,
// delivers nothing more when it was a Stop, Unload or Release, and frees the
// object when that was the last Release.
//
// The pad library is not called from inside its own input callback, except
// to clear the display: what a sink asks for there (Stop, Unload, Start, the
// host's last Release) is done by the reader once the read has returned.
#include "reader.h"

#include <cstring>

#include "module.h"

namespace {

constexpr double scaleDivisor = 65791.0;
constexpr double lcdScaleFactor = 1.25;
constexpr double lcdScaleDivisor = 4.4;
constexpr SIZE_T readerStackCommit = 4096;
constexpr UINT noPadMessage = 1;
constexpr UINT openFailedMessage = 2;

SlimLock sessionLock;

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

} // namespace

LONG SignaturePad::Load(char* /* pszName */, HWND /* hwndClientHost */, void* pvITallowmarkServices)
{
    hostServices = static_cast<ITallowmarkServices*>(pvITallowmarkServices);
    if (isLoaded)
        return 0;
    // The library cannot be asked from inside its own read: Load there finds
    // nothing, without a message.
    if (Reader* calling = Reader::current(); calling && calling->insideEvent())
        return 1;
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
        bool leaveOpen = shared && isPadOpen(found);
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
    if (!pad || destroying)
        return 0;
    // A reader thread never waits for a reader: two could wait for each other.
    if (Reader* calling = Reader::current()) {
        startFromReaderThread(pad, calling);
        return 0;
    }

    ComPtr<ISignaturePad> self = holdWhileWaiting();
    ComPtr<Reader> own, previous;
    {
        ExclusiveGuard guard(sessionLock);
        if (stopWaits)
            return 0;   // a Stop, Unload or Release of this object waits for its reader: that stands
        // Owned from now on: the others leave the pad alone while this
        // object waits for the old readers.
        SignaturePad* owner = padOwner(pad);
        pad->application = this;
        own = requestEnd();
        if (owner && owner != this)
            previous = owner->requestEnd();
        startWhenReaderEnds = false;
        scriptel_close_device(pad);
        if (!own && !previous) {
            launchReader(pad);
            return 0;
        }
        for (Reader* ending : {own.get(), previous.get()}) {
            if (ending)
                ending->final = true;
        }
    }
    // A reader held up in a sink that waits for this thread does not read
    // again once it is free; the previous owner's is then not waited for,
    // and this object's own starts the capture itself when it has ended.
    if (previous && !previous->silenced())
        previous->waitForEnd(false);
    bool ownEnded = !own || (!own->silenced() && own->waitForEnd(false));

    ExclusiveGuard guard(sessionLock);
    // An object started meanwhile, on another host thread, owns the pad now;
    // or a Stop came from a message served while waiting.
    if (padOwner(pad) != this || stopWaits)
        return 0;
    if (readerThread) {
        startWhenReaderEnds = !ownEnded;
        return 0;
    }
    launchReader(pad);
    return 0;
}

// Start from a reader thread, inside events or not. A Start from inside the
// events of a reader that another thread waits for does nothing.
void SignaturePad::startFromReaderThread(scriptel_device* pad, Reader* calling)
{
    {
        ExclusiveGuard guard(sessionLock);
        if (readerThread && reader->final)
            return;
        SignaturePad* owner = padOwner(pad);
        pad->application = this;
        if (owner && owner != this)
            owner->requestEnd();
        stopRequested = false;
        startWhenReaderEnds = false;
        if (readerThread)
            restartPending = true;
        if (!calling->insideEvent()) {
            startCapture(pad);
            return;
        }
    }
    if (!calling->defer(Reader::Work::Start, this))
        restartPending = false;
}

void SignaturePad::startDeferred(bool held)
{
    {
        ExclusiveGuard guard(sessionLock);
        // Only the deferred work still held it: its host has let it go.
        if (held && refCount == 1)
            restartPending = false;
        else if (scriptel_device* pad = device)
            startCapture(pad);
    }
    if (held)
        Release();
}

// Called with sessionLock held, not inside an event: a new reader, or a new
// capture for the one running, unless the object was stopped or another took
// the pad since it asked.
void SignaturePad::startCapture(scriptel_device* pad)
{
    restartPending = false;
    if (padOwner(pad) != this || stopRequested)
        return;
    if (!readerThread) {
        launchReader(pad);
        return;
    }
    scriptel_close_device(pad);
    scriptel_open_device(pad);
    scriptel_clear_screen(pad);
    ++restarts;
}

void SignaturePad::closeUnlessOwned(scriptel_device* pad)
{
    ExclusiveGuard guard(sessionLock);
    if (!padOwner(pad))
        scriptel_close_device(pad);
}

LONG SignaturePad::Stop()
{
    ComPtr<ISignaturePad> self = holdWhileWaiting();
    endReader();
    return 0;
}

LONG SignaturePad::Unload()
{
    if (!isLoaded)
        return 0;
    ComPtr<ISignaturePad> self = holdWhileWaiting();
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
    restartPending = false;
    scriptel_open_device(pad);
    scriptel_clear_screen(pad);

    ComPtr<Reader> next;
    next.attach(Reader::create(this));
    if (!next || !next->launch(readerStackCommit)) {
        // Without a reader the object owns nothing, and the pad is not left open.
        pad->application = nullptr;
        scriptel_close_device(pad);
        return;
    }
    readerThread = next->thread.get();
    reader = std::move(next);
}

// Called with sessionLock held. Asks the reader to end; returns it while it runs.
ComPtr<SignaturePad::Reader> SignaturePad::requestEnd()
{
    stopRequested = true;
    ComPtr<Reader> running;
    if (readerThread) {
        reader->wake();
        reader->AddRef();
        running.attach(reader.get());
    }
    return running;
}

// Asks the reader thread to end and, when this object owns the pad or no
// object does, gives the pad up and closes it, which sends a read in
// progress home. Waits for the thread unless called on a reader thread: on
// its own, it ends once the current event returns.
void SignaturePad::endReader()
{
    Reader* calling = Reader::current();
    ComPtr<Reader> running;
    {
        ExclusiveGuard guard(sessionLock);
        startWhenReaderEnds = false;
        running = requestEnd();
        // One given up on with silence is not waited for again.
        if (calling || (running && running->silenced()))
            running.reset();
        if (running) {
            running->final = true;
            ++stopWaits;
        }
        if (scriptel_device* pad = device) {
            if (padOwner(pad) == this)
                pad->application = nullptr;
            if (mayUsePad(this, pad)) {
                if (calling && calling->insideEvent())
                    calling->defer(Reader::Work::Close, nullptr, pad);
                else
                    scriptel_close_device(pad);
            }
        }
    }
    if (!running)
        return;
    running->waitForEnd(true);
    ExclusiveGuard guard(sessionLock);
    --stopWaits;
}

// The reader's last act: it frees the object when the object went while it
// ran, or starts the next capture when a Start gave up waiting for it.
void SignaturePad::readerEnded()
{
    bool free;
    {
        ExclusiveGuard guard(sessionLock);
        readerThread = nullptr;
        free = freeWhenReaderEnds;
        scriptel_device* pad = device;
        if (!free && startWhenReaderEnds && pad && padOwner(pad) == this)
            launchReader(pad);
        startWhenReaderEnds = false;
    }
    if (free)
        delete this;
}

bool SignaturePad::freeOnceReaderEnds()
{
    ExclusiveGuard guard(sessionLock);
    freeWhenReaderEnds = readerThread != nullptr;
    return freeWhenReaderEnds;
}

ComPtr<ISignaturePad> SignaturePad::holdWhileWaiting()
{
    ComPtr<ISignaturePad> held;
    if (!destroying && refCount > 0) {
        AddRef();
        held.attach(this);
    }
    return held;
}

// Destruction steps up to freeing the memory.
void SignaturePad::shutDown()
{
    // Unload stops the reader only for a loaded object; a reader started
    // after a Load that found the pad but could not open it runs regardless.
    bool unloadStopsReader = isLoaded != 0;
    Unload();
    if (!unloadStopsReader && readerThread)
        endReader();
    tearDownSettings();
    emptyInkList();
}
