// Helpers of the tests that drive a control's pad session through the
// virtual pad: advising sinks, Load with its message boxes closed, threads.
#pragma once

#include "scriptel.h"
#include "testing.h"
#include "virtualpad.h"

// The virtual pad as a test starts with it: reset, connected under `name`,
// and reading as this run chose (VPAD_READ_WAIT: the read's wait in
// milliseconds, 0 for none; unset, until input comes).
void startVirtualPad(const char* name);
// And as the test leaves it, reset: the control made no library call but a
// display clear from inside the input callback.
void endVirtualPad();

// Advises the sink on the object's connection point and returns its cookie,
// or 0 when that fails. Holds no reference on the object afterwards.
DWORD adviseSink(IUnknown* object, IUnknown* sink);
HRESULT unadviseSink(IUnknown* object, DWORD cookie);

// The text of a message box: its static text control.
std::string messageBoxText(HWND box);

// Load, called on a worker thread. Every "Error" message box it shows is
// closed with OK and its text kept, in order. Bounded: a Load that has not
// returned after the wait fails the test.
struct ShownMessage {
    std::string text;
    bool owned = false;
};
struct LoadOutcome {
    bool returned = false;
    LONG result = -1;
    std::vector<ShownMessage> messages;
};
LoadOutcome loadClosingMessages(ISignaturePad* pad, void* services = nullptr, DWORD timeoutMs = 10000);

// A handle that can be waited on for the thread's end.
UniqueHandle openThread(DWORD threadId);
bool hasEnded(const UniqueHandle& thread);

// The reservation of the calling thread's stack, and of new threads of this
// program by default.
size_t currentStackReservation();
size_t defaultStackReservation();

#include <functional>

// A recording sink that runs an action after recording each event, on the
// thread that delivered it.
class ActingSink : public RecordingSink {
public:
    std::function<void(const Event&)> action;

protected:
    void record(const Event& event) override
    {
        RecordingSink::record(event);
        if (action)
            action(event);
    }
};

// A host as UI frameworks make one: the thread that makes this sink owns a
// window, and the sink hands every event to that window's thread and waits
// for it there, by SendMessage or by posting a message and waiting until the
// handler signals (what a framework's synchronous "invoke" does). Events are
// recorded as they begin, before the handoff.
class WindowHandoffSink : public ActingSink {
public:
    enum class Handoff { Send, PostAndWait };

    explicit WindowHandoffSink(Handoff handoff);
    ~WindowHandoffSink() override;

    // Serves the window's messages, as the host's message loop would, until
    // the condition holds or the time is up; false when it still does not hold.
    bool serveUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000);
    void serveFor(DWORD milliseconds) { serveUntil([] { return false; }, milliseconds); }

    // Runs on the window's thread with each event handed to it.
    std::function<void(const Event&)> onWindowThread;
    // A handoff waits for the window right now.
    std::atomic<bool> waitingForWindow{false};
    // Handoffs the window has served.
    std::atomic<size_t> served{0};

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void handOff(const Event& event);

    Handoff handoff;
    HWND window = nullptr;
};

// How often the control made each library call it makes after start-up,
// in the order Load makes them, then the reader's two.
std::vector<long> callCounts();

// A test with the control, the virtual pad connected under a known name and
// a recording sink advised once the control exists.
class PadSessionTest : public ::testing::Test {
protected:
    static constexpr const char* padName = "ST-1500 Bench 7";

    void SetUp() override;
    void TearDown() override;

    // Load that must succeed without a message.
    void load();
    // Load, Start, and an advised sink.
    void loadAndStart();
    // Waits until the pad has delivered everything queued.
    void waitIdle();
    // Makes `pad` a new object with `next` advised, loads and starts it and
    // writes one stroke of two reports; the events reach `next`.
    void captureAStrokeWithANewObject(ActingSink& next);
    long calls(const char* call) const { return vpad_call_count(call); }

    ComApartment com;
    ActingSink sink;
    ComPtr<ISignaturePad> pad;
    DWORD cookie = 0;
};
