// Start, Stop, Unload and destruction of a session with a running reader
// thread, from the host's thread and from inside the reader's own events.
#include "allocation_failure.h"
#include "pad_session.h"
#include "pad_settings.h"
#include "process_resources.h"

namespace {

using Event = RecordingSink::Event;
using Events = std::vector<Event>;

constexpr int penType = SCRIPTEL_REPORT_PEN;

} // namespace

class ReaderLifetimeTest : public PadSessionTest {
protected:
    // Sends one pen-up report, which leaves the pen up, waits until it has
    // been handled and returns a handle on the thread that delivered it.
    UniqueHandle readerFromOneEvent()
    {
        size_t before = sink.count();
        vpad_queue_pen(penType, 0, 10, 20);
        EXPECT_TRUE(sink.waitForCount(before + 2)) << "PenUp and its PenPoint";
        // The reader holds a reference on the object until its callback returns.
        waitIdle();
        Events events = sink.events();
        if (events.size() <= before)
            return UniqueHandle();
        return openThread(events[before].threadId);
    }
};

TEST_F(ReaderLifetimeTest, StartOnAStartedObjectEndsTheOldReaderBeforeOpeningAgain)
{
    ASSERT_NO_FATAL_FAILURE(loadAndStart());
    UniqueHandle first = readerFromOneEvent();
    ASSERT_TRUE(first);
    long opens = calls("scriptel_open_device");
    long closes = calls("scriptel_close_device");

    EXPECT_EQ(pad->Start(), 0);
    EXPECT_TRUE(hasEnded(first));
    EXPECT_EQ(calls("scriptel_open_device"), opens + 1);
    EXPECT_EQ(calls("scriptel_close_device"), closes + 1);
    EXPECT_EQ(vpad_device()->isOpen, 1);

    UniqueHandle second = readerFromOneEvent();
    ASSERT_TRUE(second);
    EXPECT_FALSE(hasEnded(second));
    EXPECT_NE(GetThreadId(second.get()), GetThreadId(first.get()));
}

TEST_F(ReaderLifetimeTest, StopEndsTheReaderAndClosesThePadUntilTheNextStart)
{
    ASSERT_NO_FATAL_FAILURE(loadAndStart());
    UniqueHandle reader = readerFromOneEvent();
    ASSERT_TRUE(reader);
    EXPECT_EQ(pad->Stop(), 0);
    EXPECT_TRUE(hasEnded(reader));
    EXPECT_EQ(vpad_device()->isOpen, 0);
    EXPECT_EQ(pad->IsActive(), 1);

    // Stopped: nothing reads the pad.
    waitIdle();
    sink.clear();
    vpad_queue_pen(penType, 0, 11, 21);
    EXPECT_FALSE(sink.waitForCount(1, 200));

    // Started again, the reader takes what the pad has kept.
    EXPECT_EQ(pad->Start(), 0);
    waitIdle();
    EXPECT_EQ(sink.events(), (Events{penUp(), penPoint(0, 0)}));
}

TEST_F(ReaderLifetimeTest, StopWithoutAReaderClosesThePadAndReturns)
{
    ASSERT_NO_FATAL_FAILURE(load());
    long closes = calls("scriptel_close_device");
    EXPECT_EQ(pad->Stop(), 0);
    EXPECT_EQ(calls("scriptel_close_device"), closes + 1);
    EXPECT_EQ(pad->Stop(), 0);
    EXPECT_EQ(calls("scriptel_close_device"), closes + 2);
}

TEST_F(ReaderLifetimeTest, UnloadOnAStartedObjectClearsTwiceAndEndsTheReader)
{
    ASSERT_NO_FATAL_FAILURE(loadAndStart());
    UniqueHandle reader = readerFromOneEvent();
    ASSERT_TRUE(reader);
    long clears = calls("scriptel_clear_screen");
    long closes = calls("scriptel_close_device");
    EXPECT_EQ(pad->Unload(), 0);
    EXPECT_TRUE(hasEnded(reader));
    EXPECT_EQ(calls("scriptel_clear_screen"), clears + 2);
    EXPECT_EQ(calls("scriptel_close_device"), closes + 1);
    EXPECT_EQ(pad->IsActive(), 0);
    EXPECT_EQ(vpad_device()->isOpen, 0);

    // Unloaded, then loaded and started again.
    ASSERT_NO_FATAL_FAILURE(loadAndStart());
    UniqueHandle next = readerFromOneEvent();
    EXPECT_TRUE(next);
}

TEST_F(ReaderLifetimeTest, ReleasingAStartedObjectEndsItsReaderAndReleasesTheSink)
{
    ASSERT_NO_FATAL_FAILURE(loadAndStart());
    UniqueHandle reader = readerFromOneEvent();
    ASSERT_TRUE(reader);
    long clears = calls("scriptel_clear_screen");
    pad.reset();
    EXPECT_TRUE(hasEnded(reader));
    EXPECT_EQ(sink.refCount, 0u);
    EXPECT_EQ(vpad_device()->isOpen, 0);
    EXPECT_EQ(calls("scriptel_clear_screen"), clears + 2) << "destruction unloads";
}

TEST_F(ReaderLifetimeTest, ReleasingAnObjectWhoseReaderRunsWithoutASuccessfulLoadEndsTheReader)
{
    vpad_set_open_result(0);
    LoadOutcome outcome = loadClosingMessages(pad.get());
    ASSERT_EQ(outcome.result, 1);
    ASSERT_EQ(outcome.messages.size(), 1u);
    vpad_set_open_result(1);
    EXPECT_EQ(pad->Start(), 0);
    UniqueHandle reader = readerFromOneEvent();
    ASSERT_TRUE(reader);

    // Not loaded: Unload leaves the reader alone.
    EXPECT_EQ(pad->Unload(), 0);
    EXPECT_FALSE(hasEnded(reader));
    EXPECT_EQ(pad->IsActive(), 1);

    pad.reset();
    EXPECT_TRUE(hasEnded(reader));
    EXPECT_EQ(sink.refCount, 0u);
    EXPECT_EQ(vpad_device()->isOpen, 0);
}

TEST_F(ReaderLifetimeTest, ReaderOfAPadThatDidNotOpenEndsByItself)
{
    vpad_set_open_result(0);
    LoadOutcome outcome = loadClosingMessages(pad.get());
    ASSERT_EQ(outcome.result, 1);
    EXPECT_EQ(pad->Start(), 0);
    EXPECT_TRUE(waitUntil([] { return vpad_call_count("scriptel_register_input_callback") == 1; }));
    EXPECT_EQ(calls("scriptel_device_read"), 0) << "the pad is not open: nothing is read";
    vpad_queue_pen(penType, 1, 10, 20);
    EXPECT_FALSE(sink.waitForCount(1, 200));
    EXPECT_EQ(pad->Stop(), 0);
}

TEST_F(ReaderLifetimeTest, LastReferenceDroppedInsideAnEventDestroysTheObjectOnTheReader)
{
    ASSERT_NO_FATAL_FAILURE(loadAndStart());
    UniqueHandle reader = readerFromOneEvent();
    ASSERT_TRUE(reader);
    sink.clear();
    ISignaturePad* lastReference = pad.detach();
    sink.action = [&](const Event& event) {
        if (event.kind == Event::PenDown)
            lastReference->Release();
    };
    long closes = calls("scriptel_close_device");
    vpad_queue_pen(penType, 1, 10, 20);
    vpad_queue_pen(penType, 1, 11, 21);
    vpad_queue_pen(penType, 0, 11, 21);

    ASSERT_TRUE(sink.waitForCount(1));
    ASSERT_TRUE(waitUntil([&] { return sink.refCount == 0; })) << "the object released its sink";
    EXPECT_EQ(WaitForSingleObject(reader.get(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(sink.events(), (Events{penDown(), penPoint(0, 0)})) << "the event under way was completed, no other";
    EXPECT_EQ(vpad_device()->isOpen, 0);
    EXPECT_EQ(calls("scriptel_close_device"), closes + 1);
}

// A sink may take a reference inside an event and hand it to another thread,
// which gives it back before the event is over: an ordinary reference, which
// neither ends the object nor stops its capture.
TEST_F(ReaderLifetimeTest, AReferenceTakenInsideAnEventMayBeGivenBackOnAnotherThreadAtOnce)
{
    ASSERT_NO_FATAL_FAILURE(loadAndStart());
    ISignaturePad* object = pad.get();
    sink.action = [&](const Event& event) {
        if (event.kind != Event::PenDown)
            return;
        object->AddRef();
        UniqueHandle releaser(CreateThread(nullptr, 0, [](void* target) -> DWORD {
            static_cast<ISignaturePad*>(target)->Release();
            return 0;
        }, object, 0, nullptr));
        EXPECT_EQ(WaitForSingleObject(releaser.get(), 5000), WAIT_OBJECT_0);
    };
    vpad_queue_pen(penType, 1, 10, 20);
    vpad_queue_pen(penType, 0, 10, 20);
    waitIdle();
    EXPECT_EQ(sink.events(), (Events{penDown(), penPoint(0, 0), penUp(), penPoint(0, 0)}));
    EXPECT_EQ(object->AddRef(), 2u);
    EXPECT_EQ(object->Release(), 1u);
    EXPECT_EQ(vpad_device()->isOpen, 1) << "still capturing";
}

TEST_F(ReaderLifetimeTest, StopFromInsideAnEventDoesNotWaitForItself)
{
    ASSERT_NO_FATAL_FAILURE(loadAndStart());
    UniqueHandle reader = readerFromOneEvent();
    ASSERT_TRUE(reader);
    sink.clear();
    ISignaturePad* object = pad.get();
    sink.action = [&](const Event& event) {
        if (event.kind == Event::PenDown)
            object->Stop();
    };
    vpad_queue_pen(penType, 1, 10, 20);
    vpad_queue_pen(penType, 1, 11, 21);
    if (!sink.waitForCount(2)) {
        pad.detach();   // a reader waiting for itself would block the release forever
        FAIL() << "Stop inside the event did not return";
    }
    EXPECT_EQ(WaitForSingleObject(reader.get(), 5000), WAIT_OBJECT_0);
    // The stroke is closed as the reader ends, once the event has returned.
    EXPECT_EQ(sink.events(), (Events{penDown(), penPoint(0, 0), penUp(), penPoint(0, 0)}));
    EXPECT_EQ(vpad_device()->isOpen, 0);
    EXPECT_EQ(pad->Stop(), 0);
}

TEST_F(ReaderLifetimeTest, UnloadFromInsideAnEventEndsTheSession)
{
    ASSERT_NO_FATAL_FAILURE(loadAndStart());
    ISignaturePad* object = pad.get();
    UniqueHandle reader;
    std::atomic<bool> unloaded{false};
    sink.action = [&](const Event& event) {
        if (event.kind == Event::OptionSelected) {
            reader = openThread(GetCurrentThreadId());
            object->Unload();
            unloaded = true;
        }
    };
    vpad_queue_button("ok");
    if (!waitUntil([&] { return unloaded.load(); }) || WaitForSingleObject(reader.get(), 5000) != WAIT_OBJECT_0) {
        pad.detach();
        FAIL() << "the reader did not end after Unload inside its event";
    }
    EXPECT_EQ(pad->IsActive(), 0);
    EXPECT_EQ(vpad_device()->isOpen, 0);
    pad.reset();
    EXPECT_EQ(sink.refCount, 0u);
}

TEST_F(ReaderLifetimeTest, StartFromInsideAnEventGoesOnReadingOnTheSameThread)
{
    ASSERT_NO_FATAL_FAILURE(loadAndStart());
    ISignaturePad* object = pad.get();
    sink.action = [&](const Event& event) {
        if (event.kind == Event::OptionSelected)
            object->Start();
    };
    long opens = calls("scriptel_open_device");
    vpad_queue_button("ok");
    ASSERT_TRUE(sink.waitForCount(1));
    EXPECT_TRUE(waitUntil([&] { return vpad_call_count("scriptel_open_device") == opens + 1; }));
    vpad_queue_pen(penType, 1, 10, 20);
    ASSERT_TRUE(sink.waitForCount(3)) << "the reader goes on after the restart";
    Events events = sink.events();
    EXPECT_EQ(events[1], penDown());
    EXPECT_EQ(events[1].threadId, events[0].threadId);
    UniqueHandle reader = openThread(events[0].threadId);
    EXPECT_EQ(pad->Stop(), 0);
    EXPECT_TRUE(hasEnded(reader));
}

// The host lets its last reference go on its own thread while the reader
// delivers an event: when Release returns, the reader has ended and the pad
// work of the destruction is done, so a new object made at once captures
// undisturbed.
TEST_F(ReaderLifetimeTest, LastReleaseDuringAnEventEndsTheCaptureBeforeItReturns)
{
    ASSERT_NO_FATAL_FAILURE(loadAndStart());
    std::atomic<bool> inEvent{false};
    sink.action = [&](const Event& event) {
        if (event.kind != Event::PenDown)
            return;
        inEvent = true;
        Sleep(50);   // keeps the event under way while the host releases
    };
    vpad_queue_pen(penType, 1, 10, 20);
    ASSERT_TRUE(waitUntil([&] { return inEvent.load(); }));
    UniqueHandle reader = openThread(sink.events().front().threadId);
    ASSERT_TRUE(reader);
    pad.reset();
    EXPECT_TRUE(hasEnded(reader));
    EXPECT_EQ(sink.refCount, 0u);
    EXPECT_EQ(sink.events(), (Events{penDown(), penPoint(0, 0)})) << "the event under way, and nothing after";
    EXPECT_EQ(vpad_device()->isOpen, 0);
    long clears = calls("scriptel_clear_screen");
    long closes = calls("scriptel_close_device");

    ActingSink next;
    ASSERT_NO_FATAL_FAILURE(captureAStrokeWithANewObject(next));
    EXPECT_EQ(next.events(), (Events{penDown(), penPoint(0, 0), penUp(), penPoint(0, 0)}));
    EXPECT_EQ(vpad_device()->isOpen, 1);
    EXPECT_EQ(calls("scriptel_clear_screen"), clears + 2) << "the new object's Load and Start only";
    EXPECT_EQ(calls("scriptel_close_device"), closes + 2) << "the new object's Load and Start only";
    pad.reset();
    EXPECT_EQ(next.refCount, 0u);
}

// A sink lets the host's last reference go from inside an event while a new
// object, started on the host's thread, takes the pad over: the old object
// goes on its reader thread without closing the pad or clearing the display
// of the new owner, which captures.
TEST_F(ReaderLifetimeTest, LateTeardownOnTheReaderLeavesAPadAnotherObjectTookAlone)
{
    ASSERT_NO_FATAL_FAILURE(loadAndStart());
    ISignaturePad* lastReference = pad.detach();
    std::atomic<bool> inEvent{false};
    std::atomic<bool> takenOver{false};
    long closesBefore = calls("scriptel_close_device");
    sink.action = [&](const Event& event) {
        if (event.kind != Event::PenDown)
            return;
        inEvent = true;
        // The new object's Start takes the pad over, then waits for this reader.
        takenOver = waitUntil([&] { return vpad_device()->application != lastReference; });
        lastReference->Release();
    };
    vpad_queue_pen(penType, 1, 10, 20);
    ASSERT_TRUE(waitUntil([&] { return inEvent.load(); }));

    ComPtr<ISignaturePad> next = control().create();
    ASSERT_TRUE(next);
    ActingSink nextSink;
    ASSERT_NE(adviseSink(next.get(), &nextSink), 0u);
    // Load meets the pad open for the capturing object: it leaves it so.
    LoadOutcome loaded = loadClosingMessages(next.get());
    ASSERT_EQ(loaded.result, 0);
    EXPECT_EQ(calls("scriptel_close_device"), closesBefore);
    long clears = calls("scriptel_clear_screen");
    EXPECT_EQ(next->Start(), 0);
    EXPECT_TRUE(takenOver);
    ASSERT_TRUE(waitUntil([&] { return sink.refCount == 0; })) << "the old object went";
    EXPECT_EQ(sink.events(), (Events{penDown(), penPoint(0, 0)}));
    EXPECT_EQ(calls("scriptel_clear_screen"), clears + 1) << "the new owner's Start only";
    EXPECT_EQ(calls("scriptel_close_device"), closesBefore + 1) << "the new owner's Start only";
    EXPECT_EQ(vpad_device()->isOpen, 1);

    vpad_queue_pen(penType, 1, 30, 40);
    vpad_queue_pen(penType, 0, 30, 40);
    EXPECT_TRUE(nextSink.waitForCount(4));
    EXPECT_EQ(nextSink.events(), (Events{penDown(), penPoint(0, 0), penUp(), penPoint(0, 0)}));
    next.reset();
    EXPECT_EQ(nextSink.refCount, 0u);
}

// Start on an object whose reader cannot be made leaves the pad closed and
// owned by no one; the next Start captures.
TEST_F(ReaderLifetimeTest, StartThatCannotMakeItsReaderLeavesThePadClosedAndUnowned)
{
    ASSERT_NO_FATAL_FAILURE(load());
    {
        AllocationFailure failure(control().module());
        ASSERT_TRUE(failure.installed());
        failure.failAfter(0);
        EXPECT_EQ(pad->Start(), 0);
        EXPECT_EQ(failure.failures(), 1);
    }
    EXPECT_EQ(vpad_device()->isOpen, 0);
    EXPECT_EQ(vpad_device()->application, nullptr);
    EXPECT_EQ(pad->Start(), 0);
    vpad_queue_pen(penType, 0, 10, 20);
    EXPECT_TRUE(sink.waitForCount(2));
}

// A host whose sink hands every event to the window of the test's thread and
// waits for it there, and calls the object on that thread; its pad library
// holds its device's lock across the input callback.
class WindowHostTest : public PadSessionTest {
protected:
    using Handoff = WindowHandoffSink::Handoff;
    enum Call { Stop, Unload, Release };

    static void call(ISignaturePad* object, int which)
    {
        if (which == Stop)
            object->Stop();
        else if (which == Unload)
            object->Unload();
        else
            object->Release();
    }

    // A new started object with `host` advised and a stroke under way: its
    // PenDown, zero point and (2, 2) served, and the sink waiting for the
    // window with (3, 3). Returns the host's one reference.
    static ISignaturePad* strokeUnderWay(WindowHandoffSink& host)
    {
        // Without what an earlier capture left unread, and with a library
        // whose calls from the host's thread wait for a callback under way.
        vpad_unplug();
        vpad_connect(nullptr);
        vpad_set_lock_across_callback(1);
        ComPtr<ISignaturePad> object = control().create();
        if (!object || !adviseSink(object.get(), &host) || loadClosingMessages(object.get()).result != 0)
            return nullptr;
        object->Start();
        // The rest of the stroke only once the window has served its start:
        // one serving pass may serve several handoffs sent in a row.
        vpad_queue_pen(penType, 1, 1, 1);
        vpad_queue_pen(penType, 1, 2, 2);
        EXPECT_TRUE(host.serveUntil([&] { return host.served == 3; }));
        vpad_queue_pen(penType, 1, 3, 3);
        vpad_queue_pen(penType, 1, 4, 4);
        EXPECT_TRUE(waitUntil([&] { return host.count() == 4 && host.waitingForWindow; }));
        return object.detach();
    }
};

// Stop, Unload and the last Release, called while the sink waits for the
// window in the middle of a stroke, serve the window while they wait, also
// when its handler calls the same object meanwhile (Start then does nothing,
// a second Stop returns, and the host's last Release leaves the object to
// the waiting call): every handoff is served, a stroke a Stop or Unload cuts
// is closed before it returns, nothing begins afterwards, and the object and
// its sink go. Called only from the handler of the sink's own event, which
// waits for it, they return without that event having ended, and it is the
// last the sink sees.
TEST_F(WindowHostTest, CallsMidStrokeReturnWhetherTheyServeTheWindowOrItsHandlerMakesThem)
{
    enum { None = -1, InnerStart = 3 };
    struct Calls {
        int outer;
        int inner;
    };
    const Calls cases[] = {{Stop, None}, {Unload, None}, {Release, None}, {Stop, InnerStart}, {Stop, Stop},
                           {Stop, Release}, {None, Stop}, {None, Unload}, {None, Release}};
    for (Handoff handoff : {Handoff::Send, Handoff::PostAndWait}) {
        for (Calls calls : cases) {
            SCOPED_TRACE(testing::Message() << "handoff " << int(handoff) << ", calls " << calls.outer << ", "
                                            << calls.inner);
            WindowHandoffSink host(handoff);
            ISignaturePad* object = strokeUnderWay(host);
            ASSERT_TRUE(object);
            bool innerCalled = calls.inner == None;
            host.onWindowThread = [&](const Event&) {
                if (innerCalled)
                    return;
                if (calls.inner == InnerStart)
                    object->Start();
                else
                    call(object, calls.inner);
                innerCalled = true;
            };
            if (calls.outer == None)
                ASSERT_TRUE(host.serveUntil([&] { return innerCalled; }));
            else
                call(object, calls.outer);
            EXPECT_TRUE(innerCalled);
            size_t atReturn = host.count();
            Events events = host.events();
            ASSERT_GE(events.size(), 2u);
            if (calls.inner == None) {
                Events last = calls.outer == Release ? Events{penPoint(2, 2), penPoint(3, 3)}
                                                     : Events{penUp(), penPoint(0, 0)};
                EXPECT_EQ(Events(events.end() - 2, events.end()), last) << "a release closes no stroke";
                EXPECT_EQ(host.served, atReturn) << "every handoff was served";
            } else if (calls.outer == None) {
                EXPECT_EQ(events.back(), penPoint(3, 3));
            }
            host.serveFor(200);
            EXPECT_EQ(host.count(), atReturn) << "nothing began after the call returned";
            if (calls.outer != Release && calls.inner != Release)
                object->Release();
            EXPECT_TRUE(waitUntil([&] { return host.refCount == 0; })) << "the object went";
            EXPECT_EQ(vpad_device()->isOpen, 0) << "not started again";
        }
    }
}

// Out of memory anywhere in construction: CreateInstance answers
// E_OUTOFMEMORY, the object's memory is given back and no settings file is
// written; with enough memory the object is made.
TEST(ConstructionOutOfMemory, GivesEOutOfMemoryLeaksNothingAndWritesNoSettingsFile)
{
    ComApartment com;
    const std::string settingsFile = settingsFileFor();
    DeleteFileA(settingsFile.c_str());
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(control().getClassObject(CLSID_TallowmarkSignaturePad, IID_IClassFactory, factory.putVoid()), S_OK);
    // A first object, and a first refusal, let the runtimes set up what they
    // keep for the thread (the C++ runtime's record of its first exception,
    // which the refused allocation raises inside the runtime).
    control().create().reset();
    DeleteFileA(settingsFile.c_str());
    {
        AllocationFailure failure(control().module());
        ASSERT_TRUE(failure.installed());
        failure.failAfter(0);
        ComPtr<ISignaturePad> refused;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISignaturePad, refused.putVoid()), E_OUTOFMEMORY);
    }
    int refused = 0;
    bool made = false;
    for (int successes = 0; successes < 20 && !made; ++successes) {
        ModuleAllocations allocations(control().module());
        ASSERT_TRUE(allocations.installed());
        HRESULT hr;
        ComPtr<ISignaturePad> pad;
        {
            AllocationFailure failure(control().module());
            ASSERT_TRUE(failure.installed());
            failure.failAfter(successes);
            hr = factory->CreateInstance(nullptr, IID_ISignaturePad, pad.putVoid());
            made = failure.failures() == 0;
        }
        if (made) {
            EXPECT_EQ(hr, S_OK);
            EXPECT_TRUE(pad);
            break;
        }
        ++refused;
        EXPECT_EQ(hr, E_OUTOFMEMORY) << "allocation " << successes;
        EXPECT_FALSE(pad);
        EXPECT_EQ(allocations.live(), 0) << "allocation " << successes;
        EXPECT_FALSE(fileExists(settingsFile)) << "allocation " << successes;
    }
    EXPECT_TRUE(made);
    EXPECT_GE(refused, 4) << "the object, its connection table and its two clients";
    DeleteFileA(settingsFile.c_str());
}
