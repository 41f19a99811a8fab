#include "pad_session.h"

namespace {

ComPtr<IConnectionPoint> findConnectionPoint(IUnknown* object)
{
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    if (SUCCEEDED(object->QueryInterface(IID_IConnectionPointContainer, container.putVoid())))
        container->FindConnectionPoint(IID_ISignaturePadEvents, point.put());
    return point;
}

struct LoadCall {
    ISignaturePad* pad;
    void* services;
    LONG result;
};

DWORD WINAPI callLoad(void* parameter)
{
    auto* call = static_cast<LoadCall*>(parameter);
    call->result = call->pad->Load(nullptr, nullptr, call->services);
    return 0;
}

BOOL CALLBACK collectStaticText(HWND child, LPARAM parameter)
{
    char className[64] = "";
    GetClassNameA(child, className, sizeof className);
    std::string text = windowText(child);
    if (!lstrcmpiA(className, "Static") && !text.empty())
        *reinterpret_cast<std::string*>(parameter) = text;
    return TRUE;
}

} // namespace

DWORD adviseSink(IUnknown* object, IUnknown* sink)
{
    ComPtr<IConnectionPoint> point = findConnectionPoint(object);
    EXPECT_TRUE(point) << "the object has no connection point for ISignaturePadEvents";
    DWORD cookie = 0;
    if (point) {
        EXPECT_EQ(point->Advise(sink, &cookie), S_OK);
    }
    return cookie;
}

HRESULT unadviseSink(IUnknown* object, DWORD cookie)
{
    ComPtr<IConnectionPoint> point = findConnectionPoint(object);
    return point ? point->Unadvise(cookie) : E_NOINTERFACE;
}

std::string messageBoxText(HWND box)
{
    std::string text;
    EnumChildWindows(box, collectStaticText, reinterpret_cast<LPARAM>(&text));
    return text;
}

LoadOutcome loadClosingMessages(ISignaturePad* pad, void* services, DWORD timeoutMs)
{
    LoadOutcome outcome;
    LoadCall call{pad, services, -1};
    DWORD threadId = 0;
    UniqueHandle worker(CreateThread(nullptr, 0, callLoad, &call, 0, &threadId));
    EXPECT_TRUE(worker);
    if (!worker)
        return outcome;

    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (WaitForSingleObject(worker.get(), 10) == WAIT_TIMEOUT) {
        if (GetTickCount64() >= deadline) {
            ADD_FAILURE() << "Load has not returned after " << timeoutMs << " ms";
            // The worker stays blocked; the test process ends it.
            worker.release();
            return outcome;
        }
        HWND box = waitForWindow("Error", 0, threadId);
        if (box) {
            ShownMessage message;
            message.text = messageBoxText(box);
            message.owned = GetWindow(box, GW_OWNER) != nullptr;
            outcome.messages.push_back(message);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            // Not counted twice while it closes.
            for (int tries = 0; tries < 500 && IsWindow(box) && IsWindowVisible(box); ++tries)
                Sleep(10);
        }
    }
    outcome.returned = true;
    outcome.result = call.result;
    return outcome;
}

UniqueHandle openThread(DWORD threadId)
{
    return UniqueHandle(OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId));
}

bool hasEnded(const UniqueHandle& thread)
{
    return WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0;
}

size_t currentStackReservation()
{
    // The stack's allocation runs from its reservation's base to the top of
    // the region that holds a local of this frame.
    MEMORY_BASIC_INFORMATION region;
    char local = 0;
    VirtualQuery(&local, &region, sizeof region);
    auto base = reinterpret_cast<ULONG_PTR>(region.AllocationBase);
    auto top = reinterpret_cast<ULONG_PTR>(region.BaseAddress) + region.RegionSize;
    return static_cast<size_t>(top - base);
}

size_t defaultStackReservation()
{
    auto image = reinterpret_cast<const BYTE*>(GetModuleHandleA(nullptr));
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    return static_cast<size_t>(nt->OptionalHeader.SizeOfStackReserve);
}

void startVirtualPad(const char* name)
{
    vpad_reset();
    char wait[16] = "";
    if (GetEnvironmentVariableA("VPAD_READ_WAIT", wait, sizeof wait))
        vpad_set_read_wait(atoi(wait));
    vpad_connect(name);
}

void endVirtualPad()
{
    EXPECT_EQ(vpad_calls_inside_callback(), 0) << "library calls other than clearing the display made from inside the input callback";
    vpad_reset();
}

void PadSessionTest::SetUp()
{
    startVirtualPad(padName);
    pad = control().create();
    ASSERT_TRUE(pad);
    cookie = adviseSink(pad.get(), &sink);
    ASSERT_NE(cookie, 0u);
}

void PadSessionTest::TearDown()
{
    pad.reset();
    endVirtualPad();
}

void PadSessionTest::load()
{
    LoadOutcome outcome = loadClosingMessages(pad.get());
    ASSERT_TRUE(outcome.returned);
    ASSERT_EQ(outcome.result, 0);
    ASSERT_TRUE(outcome.messages.empty()) << outcome.messages.front().text;
}

void PadSessionTest::loadAndStart()
{
    ASSERT_NO_FATAL_FAILURE(load());
    EXPECT_EQ(pad->Start(), 0);
}

void PadSessionTest::waitIdle()
{
    ASSERT_EQ(vpad_wait_idle(5000), 1) << "the pad still has input after 5 s";
}

void PadSessionTest::captureAStrokeWithANewObject(ActingSink& next)
{
    pad = control().create();
    ASSERT_TRUE(pad);
    ASSERT_NE(adviseSink(pad.get(), &next), 0u);
    ASSERT_NO_FATAL_FAILURE(loadAndStart());
    vpad_queue_pen(SCRIPTEL_REPORT_PEN, 1, 30, 40);
    vpad_queue_pen(SCRIPTEL_REPORT_PEN, 0, 30, 40);
    waitIdle();
}

namespace {

constexpr UINT handedEvent = WM_APP + 1;
constexpr wchar_t handoffWindowClass[] = L"PadSessionHandoffWindow";

// What a handoff carries: the event, and for a posted one the signal its
// sender waits for.
struct HandoffRecord {
    const RecordingSink::Event* event;
    HANDLE done;
};

} // namespace

WindowHandoffSink::WindowHandoffSink(Handoff handoff) : handoff(handoff)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = handoffWindowClass;
    RegisterClassW(&windowClass);   // fails harmlessly once registered
    window = CreateWindowW(handoffWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           windowClass.hInstance, nullptr);
    EXPECT_TRUE(window);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    action = [this](const Event& event) { handOff(event); };
}

WindowHandoffSink::~WindowHandoffSink()
{
    DestroyWindow(window);
}

bool WindowHandoffSink::serveUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    // One message at a time, so that nothing is served once the condition holds.
    while (!condition()) {
        if (GetTickCount64() >= deadline)
            return false;
        MSG message;
        if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        else
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return true;
}

void WindowHandoffSink::handOff(const Event& event)
{
    waitingForWindow = true;
    UniqueHandle done;
    if (handoff == Handoff::PostAndWait)
        done.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HandoffRecord handed{&event, done.get()};
    if (!done) {
        SendMessageW(window, handedEvent, reinterpret_cast<WPARAM>(&handed), 0);
    } else {
        EXPECT_TRUE(PostMessageW(window, handedEvent, reinterpret_cast<WPARAM>(&handed), 0));
        WaitForSingleObject(done.get(), INFINITE);
    }
    waitingForWindow = false;
}

LRESULT CALLBACK WindowHandoffSink::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* sink = reinterpret_cast<WindowHandoffSink*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message != handedEvent || !sink)
        return DefWindowProcW(window, message, wParam, lParam);
    auto* handed = reinterpret_cast<const HandoffRecord*>(wParam);
    if (sink->onWindowThread)
        sink->onWindowThread(*handed->event);
    ++sink->served;
    if (handed->done)
        SetEvent(handed->done);
    return 0;
}

std::vector<long> callCounts()
{
    static const char* const libraryCalls[] = {
        "scriptel_list_devices", "scriptel_open_device", "scriptel_get_coordinate_range", "scriptel_clear_screen",
        "scriptel_close_device", "scriptel_register_input_callback", "scriptel_device_read",
    };
    std::vector<long> counts;
    for (const char* call : libraryCalls)
        counts.push_back(vpad_call_count(call));
    return counts;
}
