// The device session: finding, opening, starting, stopping and releasing the
// pad, the reader thread that pulls its input, and the input callback that
// turns pad reports into pen and option events for the host.
//
// The host's thread and the reader thread share stopRequested, readerThread,
// device and the pen state through atomics. The reader thread may also end up
// holding the last reference to the object, when a sink releases the host's
// last reference from inside an event: the object is then taken down on that
// thread at once, but its memory is freed only when the reader loop has ended.
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

// The pen state, one pair for the whole process: -1 while the pen is up.
std::atomic<LONG> lastPenX{-1};
std::atomic<LONG> lastPenY{-1};

// The object whose reader thread this is; null on every other thread.
thread_local SignaturePad* servedPad = nullptr;

// The library sets and clears the open flag on other threads.
bool isOpen(const scriptel_device* device)
{
    return *static_cast<const volatile uint8_t*>(&device->isOpen) != 0;
}

bool isOkButton(const scriptel_button_report* report)
{
    const scriptel_button* button = report->button;
    // At most three bytes are compared: "ok" and its terminator.
    return button && _strnicmp(button->name, "ok", 3) == 0;
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
    device = found;
    if (!found) {
        showLoadMessage(noPadMessage);
        return 1;
    }
    // A name too long for the field is cut to fit.
    lstrcpynA(deviceName, found->name ? found->name : "", sizeof deviceName);
    if (scriptel_open_device(found) != 1) {
        showLoadMessage(openFailedMessage);
        return 1;
    }

    scriptel_coordinate_range range = scriptel_get_coordinate_range(found);
    padWidth = range.width ? range.width : found->width;
    padHeight = range.height ? range.height : found->height;
    padToLcdScaleX = padWidth / scaleDivisor;
    padToLcdScaleY = (padToLcdScaleX * lcdScaleFactor) / lcdScaleDivisor;
    isLoaded = 1;
    LCDRefresh(0, 0, 0, 0, 0);
    scriptel_close_device(found);
    return 0;
}

LONG SignaturePad::Start()
{
    scriptel_device* pad = device;
    if (!pad)
        return 0;
    Stop();
    scriptel_open_device(pad);
    LCDRefresh(0, 0, 0, 0, 0);
    // Started from one of its own events: this thread goes on reading once
    // the event returns.
    if (onOwnReaderThread()) {
        stopRequested = false;
        return 0;
    }

    DWORD threadId;
    HANDLE thread = CreateThread(nullptr, readerStackCommit, readerThreadProc, this, CREATE_SUSPENDED, &threadId);
    if (!thread)
        return 0;
    readerHandle.reset(thread);
    readerThread = thread;
    ResumeThread(thread);
    return 0;
}

LONG SignaturePad::Stop()
{
    if (device || readerHandle)
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
    if (scriptel_device* pad = device)
        scriptel_clear_screen(pad);
}

void SignaturePad::showLoadMessage(UINT messageId)
{
    char text[1024] = "";
    LoadStringA(moduleHandle, messageId, text, sizeof text);
    MessageBoxA(nullptr, text, "Error", MB_OK | MB_ICONWARNING | MB_TOPMOST);
}

// Asks the reader thread to end and closes the pad, which sends a read in
// progress home. Waits for the thread, unless this is the thread itself:
// it then ends once the current event returns.
void SignaturePad::endReader()
{
    stopRequested = true;
    if (scriptel_device* pad = device)
        scriptel_close_device(pad);
    if (onOwnReaderThread() || !readerHandle)
        return;
    // Polled in steps, but left as soon as the thread has ended.
    while (WaitForSingleObject(readerHandle.get(), stopPollMs) == WAIT_TIMEOUT)
        continue;
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
    auto* pad = static_cast<SignaturePad*>(parameter);
    servedPad = pad;
    scriptel_device* first = pad->device;
    if (first)
        first->application = pad;
    pad->stopRequested = false;
    if (first)
        scriptel_register_input_callback(first, inputCallback);
    for (;;) {
        scriptel_device* current = pad->device;
        if (!current || !isOpen(current) || pad->stopRequested)
            break;
        scriptel_device_read(current);
    }
    pad->stopRequested = false;
    servedPad = nullptr;

    if (pad->freeWhenReaderEnds) {
        pad->readerThread = nullptr;
        pad->readerHandle.reset();
        delete pad;
        return 0;
    }
    pad->readerThread = nullptr;   // the thread's last access to the object
    return 0;
}

void __cdecl SignaturePad::inputCallback(scriptel_device* device, void* report, int type)
{
    auto* pad = static_cast<SignaturePad*>(device->application);
    // Only the object this reader thread serves is certain to be alive here,
    // and only while it still has a reference: one whose count has reached
    // zero is being taken down and gets no more events.
    if (!pad || pad != servedPad || !pad->tryAddRef())
        return;
    pad->handleReport(report, type);
    pad->Release();
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
            connectionPointContainer.fire_PenUp(x, y);
            lastPenX = lastPenY = -1;
            break;
        }
        if (lastPenX == -1)
            connectionPointContainer.fire_PenDown(x, y);
        else
            connectionPointContainer.fire_PenPoint(x, y, 0.0f);
        lastPenY = y;
        lastPenX = x;
        break;
    }
    case SCRIPTEL_REPORT_BUTTON:
        if (isOkButton(static_cast<const scriptel_button_report*>(report))) {
            connectionPointContainer.fire_OptionSelected(1);
        } else {
            connectionPointContainer.fire_OptionSelected(0);
            if (scriptel_device* pad = device)
                scriptel_clear_screen(pad);
        }
        lastPenX = lastPenY = -1;
        break;
    default:
        break;
    }
}
