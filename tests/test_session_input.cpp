// Pen and button reports from the virtual pad to the host's sink: strokes,
// buttons, report type codes, strokes cut short by the end of a capture, and
// the reader thread the events arrive on.
#include "pad_session.h"

#include <set>
#include <string>

namespace {

using Event = RecordingSink::Event;
using Events = std::vector<Event>;

constexpr int penType = SCRIPTEL_REPORT_PEN;
constexpr size_t handlerStackUse = 256 * 1024;

// Touches handlerStackUse bytes of stack below the caller's frame.
__declspec(noinline) void useDeepStack()
{
    volatile char block[handlerStackUse];
    block[0] = block[handlerStackUse - 1] = 1;
}

} // namespace

class PenInputTest : public PadSessionTest {
protected:
    void SetUp() override
    {
        PadSessionTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(loadAndStart());
    }

    // Delivers what was queued and returns the events it produced.
    Events deliver()
    {
        waitIdle();
        Events events = sink.events();
        sink.clear();
        return events;
    }
};

TEST_F(PenInputTest, StrokeBecomesPenDownPointsAndPenUp)
{
    vpad_queue_pen(penType, 1, 10, 20);
    vpad_queue_pen(penType, 1, 11, 21);
    vpad_queue_pen(penType, 1, 12, 22);
    vpad_queue_pen(penType, 0, 12, 22);
    EXPECT_EQ(deliver(), (Events{penDown(), penPoint(0, 0), penPoint(11, 21), penPoint(12, 22), penUp(), penPoint(0, 0)}));

    // The next contact starts a new stroke.
    vpad_queue_pen(penType, 1, 300, 400);
    vpad_queue_pen(penType, 0, 300, 400);
    EXPECT_EQ(deliver(), (Events{penDown(), penPoint(0, 0), penUp(), penPoint(0, 0)}));
}

TEST_F(PenInputTest, PenUpWhileThePenIsUpIsDeliveredAgain)
{
    vpad_queue_pen(penType, 0, 5, 6);
    vpad_queue_pen(penType, 0, 5, 6);
    EXPECT_EQ(deliver(), (Events{penUp(), penPoint(0, 0), penUp(), penPoint(0, 0)}));
}

TEST_F(PenInputTest, CoordinatesAreWidenedAsUnsignedValues)
{
    vpad_queue_pen(penType, 1, 1, 1);
    vpad_queue_pen(penType, 1, 65535, 40000);
    vpad_queue_pen(penType, 1, 0, 0);
    vpad_queue_pen(penType, 0, 0, 0);
    EXPECT_EQ(deliver(), (Events{penDown(), penPoint(0, 0), penPoint(65535, 40000), penPoint(0, 0), penUp(), penPoint(0, 0)}));
}

TEST_F(PenInputTest, TypeTwoAndWidenedTypeCodesAreReadByTheirLowEightBits)
{
    vpad_queue_pen(SCRIPTEL_REPORT_PEN_EXTENDED, 1, 10, 20);
    vpad_queue_pen(257, 1, 11, 21);
    vpad_queue_pen(0x7fffff02, 1, 12, 22);
    vpad_queue_pen(258, 0, 12, 22);
    EXPECT_EQ(deliver(), (Events{penDown(), penPoint(0, 0), penPoint(11, 21), penPoint(12, 22), penUp(), penPoint(0, 0)}));

    vpad_queue_report(SCRIPTEL_REPORT_BUTTON + 256);
    EXPECT_EQ(deliver(), (Events{optionSelected(0)}));
}

TEST_F(PenInputTest, OtherTypeCodesChangeNothing)
{
    vpad_queue_pen(penType, 1, 10, 20);
    for (int type : {0, 3, 252, 254, 255, 256, 259, -1})
        vpad_queue_report(type);
    vpad_queue_pen(penType, 1, 11, 21);
    vpad_queue_pen(penType, 0, 11, 21);
    EXPECT_EQ(deliver(), (Events{penDown(), penPoint(0, 0), penPoint(11, 21), penUp(), penPoint(0, 0)}))
        << "the ignored reports left the pen down";
    EXPECT_EQ(calls("scriptel_clear_screen"), 2) << "only Load and Start cleared the display";
}

TEST_F(PenInputTest, OkButtonInAnyLetterCaseSelectsOptionOneAndLeavesTheDisplay)
{
    long clears = calls("scriptel_clear_screen");
    for (const char* name : {"ok", "OK", "Ok", "oK"})
        vpad_queue_button(name);
    EXPECT_EQ(deliver(), (Events{optionSelected(1), optionSelected(1), optionSelected(1), optionSelected(1)}));
    EXPECT_EQ(calls("scriptel_clear_screen"), clears);
}

TEST_F(PenInputTest, AnyOtherButtonSelectsOptionZeroAndClearsTheDisplay)
{
    long clears = calls("scriptel_clear_screen");
    for (const char* name : {"cancel", "okay", "o", "", "k"})
        vpad_queue_button(name);
    EXPECT_EQ(deliver(), (Events{optionSelected(0), optionSelected(0), optionSelected(0), optionSelected(0), optionSelected(0)}));
    EXPECT_EQ(calls("scriptel_clear_screen"), clears + 5);
}

TEST_F(PenInputTest, ButtonEndsTheStrokeWithoutAPenUp)
{
    for (const char* name : {"ok", "clear"}) {
        vpad_queue_pen(penType, 1, 10, 20);
        vpad_queue_pen(penType, 1, 11, 21);
        vpad_queue_button(name);
        vpad_queue_pen(penType, 1, 30, 40);
        LONG option = name[0] == 'o' ? 1 : 0;
        EXPECT_EQ(deliver(), (Events{penDown(), penPoint(0, 0), penPoint(11, 21), optionSelected(option), penDown(), penPoint(0, 0)}))
            << "button " << name;
        vpad_queue_pen(penType, 0, 30, 40);
        deliver();
    }
}

TEST_F(PenInputTest, EventsArriveOnTheReaderThreadWhichStopEnds)
{
    vpad_queue_pen(penType, 1, 10, 20);
    vpad_queue_pen(penType, 0, 10, 20);
    vpad_queue_button("ok");
    Events events = deliver();
    ASSERT_EQ(events.size(), 5u);
    std::set<DWORD> threads;
    for (const Event& event : events)
        threads.insert(event.threadId);
    ASSERT_EQ(threads.size(), 1u) << "every event comes from one thread";
    DWORD reader = *threads.begin();
    EXPECT_NE(reader, GetCurrentThreadId());
    UniqueHandle thread = openThread(reader);
    ASSERT_TRUE(thread);
    EXPECT_FALSE(hasEnded(thread));

    EXPECT_EQ(pad->Stop(), 0);
    EXPECT_TRUE(hasEnded(thread)) << "Stop returns once the reader thread has ended";
    EXPECT_EQ(vpad_device()->isOpen, 0);
}

TEST_F(PenInputTest, HandlerRunsWithTheProgramsNormalStack)
{
    size_t reservation = 0;
    sink.action = [&](const Event& event) {
        if (event.kind != Event::PenDown)
            return;
        reservation = currentStackReservation();
        useDeepStack();
    };
    vpad_queue_pen(penType, 1, 10, 20);
    vpad_queue_pen(penType, 0, 10, 20);
    EXPECT_EQ(deliver().size(), 4u) << "the handler that used " << handlerStackUse << " bytes of stack returned";
    EXPECT_GE(reservation, defaultStackReservation());
}

TEST_F(PenInputTest, ButtonRecordsWithALongNameOrNoneAreReadSafely)
{
    std::string longName = "ok" + std::string(300, 'k');
    vpad_queue_button(longName.c_str());
    vpad_queue_button(nullptr);
    EXPECT_EQ(deliver(), (Events{optionSelected(0), optionSelected(0)}));
}

// Stop or Unload with the pen down: the stroke ends for the host with PenUp
// on the reader thread before the call returns, and the next capture, of
// this object or a new one, starts with the pen up.
TEST_F(PenInputTest, StrokeCutShortByStopOrUnloadIsClosedAndTheNextOneStartsWithPenDown)
{
    for (bool unload : {false, true}) {
        vpad_queue_pen(penType, 1, 10, 20);
        vpad_queue_pen(penType, 1, 11, 21);
        Events started = deliver();
        ASSERT_EQ(started, (Events{penDown(), penPoint(0, 0), penPoint(11, 21)}));
        EXPECT_EQ(unload ? pad->Unload() : pad->Stop(), 0);
        Events closed = sink.events();
        sink.clear();
        ASSERT_EQ(closed, (Events{penUp(), penPoint(0, 0)})) << (unload ? "Unload" : "Stop");
        EXPECT_EQ(closed[0].threadId, started[0].threadId) << "on the reader thread";

        if (unload) {
            ASSERT_NO_FATAL_FAILURE(load());
        }
        EXPECT_EQ(pad->Start(), 0);
        vpad_queue_pen(penType, 1, 30, 40);
        vpad_queue_pen(penType, 1, 31, 41);
        vpad_queue_pen(penType, 0, 31, 41);
        EXPECT_EQ(deliver(), (Events{penDown(), penPoint(0, 0), penPoint(31, 41), penUp(), penPoint(0, 0)}));
    }

    // Released with the pen down: nothing more reaches the host, and a new
    // object's first stroke starts with PenDown.
    vpad_queue_pen(penType, 1, 10, 20);
    EXPECT_EQ(deliver(), (Events{penDown(), penPoint(0, 0)}));
    pad.reset();
    EXPECT_EQ(sink.count(), 0u);
    ActingSink second;
    ASSERT_NO_FATAL_FAILURE(captureAStrokeWithANewObject(second));
    EXPECT_EQ(second.events(), (Events{penDown(), penPoint(0, 0), penUp(), penPoint(0, 0)}));
    EXPECT_EQ(sink.count(), 0u);
    pad.reset();
    EXPECT_EQ(second.refCount, 0u);
}
