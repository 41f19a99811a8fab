// The pad unplugged in the middle of a stroke, again and again: the reader
// thread closes the stroke with PenUp and ends by itself, Stop and Unload
// return, a Load without the pad says so, and once the pad is plugged back
// in a new Load finds it and capture goes on with a new stroke. Also with
// the host releasing its object right after the unplug.
#include "process_resources.h"
#include "stress_testing.h"

#include <cstdio>

namespace {

using Events = std::vector<RecordingSink::Event>;

constexpr const char* padName = "ST-1500 Unplugged";
constexpr const char noPadText[] = "There is no functional Scriptel signature pad connected.";
constexpr int rounds = 100;
constexpr int shortStroke = 10;     // contact reports of a stroke the pad loses before its pen-up
constexpr int longStroke = 3000;    // a stroke still being delivered when the pad goes
constexpr DWORD callBoundMs = 10000;

// The stroke of queueStroke(length, y) as a sink receives it: PenDown, every
// position after the first, then the pen-up.
Events wholeStroke(int length, LONG y)
{
    Events events{penDown(), penPoint(0, 0)};
    for (int x = 2; x < length; ++x)
        events.push_back(penPoint(x, y));
    events.push_back(penUp());
    events.push_back(penPoint(0, 0));
    return events;
}

} // namespace

class PadUnplugged : public ::testing::Test {
protected:
    // Threads the process had when the test began: its own, and gtest's or
    // Wine's left by earlier tests of the same program.
    const long threadsAtStart = processThreadCount();

    void SetUp() override { startVirtualPad(padName); }
    void TearDown() override { endVirtualPad(); }

    // Load that finds the pad without a message.
    void loadFindingThePad(ISignaturePad* pad)
    {
        LoadOutcome loaded = loadClosingMessages(pad);
        ASSERT_EQ(loaded.result, 0);
        ASSERT_TRUE(loaded.messages.empty()) << loaded.messages.front().text;
        EXPECT_STREQ(pad->DeviceName(), padName);
    }

    // Starts a stroke and unplugs the pad in its middle: in even rounds once
    // the reader has delivered a stroke without its pen-up and waits for
    // more, in odd rounds while it is still delivering a long stroke.
    // Returns the reader thread, which must then close the stroke and end by
    // itself.
    UniqueHandle unplugMidStroke(int round, ActingSink& sink)
    {
        sink.clear();
        if (round % 2 == 0) {
            for (int x = 1; x <= shortStroke; ++x)
                vpad_queue_pen(SCRIPTEL_REPORT_PEN, 1, static_cast<uint16_t>(x), 5);
            // Its last position, however the stroke began.
            EXPECT_TRUE(waitUntil(
                [&] {
                    Events events = sink.events();
                    return !events.empty() && events.back() == penPoint(shortStroke, 5);
                },
                5000, cyclePollMs));
        } else {
            for (int x = 1; x <= longStroke; ++x)
                vpad_queue_pen(SCRIPTEL_REPORT_PEN, 1, static_cast<uint16_t>(x), 6);
            EXPECT_TRUE(sink.waitForCount(1));
        }
        vpad_unplug();
        Events events = sink.events();
        UniqueHandle reader = events.empty() ? UniqueHandle() : openThread(events.front().threadId);
        EXPECT_TRUE(reader) << "no event came from the reader";
        if (reader) {
            EXPECT_EQ(WaitForSingleObject(reader.get(), callBoundMs), WAIT_OBJECT_0) << "the reader did not end";
        }
        EXPECT_EQ(vpad_device()->isOpen, 0);
        events = sink.events();
        EXPECT_GE(events.size(), 4u);
        if (events.size() >= 4) {
            EXPECT_EQ(events.front(), penDown());
            EXPECT_EQ(Events(events.end() - 2, events.end()), (Events{penUp(), penPoint(0, 0)}))
                << "the stroke the pad lost was closed";
            EXPECT_EQ(events.back().threadId, events.front().threadId);
        }
        return reader;
    }

    ComApartment com;
};

TEST_F(PadUnplugged, UnpluggedMidStrokeAndPluggedBackInAHundredTimes)
{
    ComPtr<ISignaturePad> pad = control().create();
    ASSERT_TRUE(pad);
    ActingSink sink;
    DWORD cookie = adviseSink(pad.get(), &sink);
    ASSERT_NE(cookie, 0u);
    // Checked without ASSERT_NO_FATAL_FAILURE, which starts a thread of gtest's for good.
    loadFindingThePad(pad.get());
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(pad->Start(), 0);

    int completed = 0;
    auto round = [&](int number) {
        UniqueHandle reader = unplugMidStroke(number, sink);
        if (!reader)
            return false;
        // The host, unaware, stops and unloads; Start without the pad reads nothing.
        EXPECT_TRUE(returnsWithin(callBoundMs, [&] { EXPECT_EQ(pad->Stop(), 0); }));
        EXPECT_TRUE(returnsWithin(callBoundMs, [&] { EXPECT_EQ(pad->Unload(), 0); }));
        EXPECT_EQ(pad->IsActive(), 0);
        EXPECT_TRUE(returnsWithin(callBoundMs, [&] {
            EXPECT_EQ(pad->Start(), 0);
            EXPECT_EQ(pad->Stop(), 0);
        }));
        // A Load meanwhile finds no pad and says so.
        LoadOutcome lost = loadClosingMessages(pad.get());
        EXPECT_EQ(lost.result, 1);
        EXPECT_EQ(lost.messages.size(), 1u);
        if (!lost.messages.empty()) {
            EXPECT_EQ(lost.messages.front().text, noPadText);
        }

        vpad_connect(padName);
        loadFindingThePad(pad.get());
        EXPECT_EQ(pad->Start(), 0);
        // The stroke the pad lost was closed: the next one is a stroke of its own.
        sink.clear();
        queueStroke(8, static_cast<uint16_t>(number + 1));
        EXPECT_EQ(vpad_wait_idle(callBoundMs), 1);
        Events expected = wholeStroke(8, number + 1);
        EXPECT_TRUE(sink.waitForCount(expected.size()));
        EXPECT_EQ(sink.events(), expected);
        ++completed;
        return !::testing::Test::HasFailure();
    };

    ASSERT_TRUE(round(0));
    // Counted once the warm-up's threads have gone; the object's reader runs on.
    ResourceCounts baseline = countsWithThreads(threadsAtStart + 1);
    ASSERT_EQ(baseline.threads, threadsAtStart + 1);
    ModuleAllocations allocations(control().module());
    ASSERT_TRUE(allocations.installed());
    ULONGLONG start = GetTickCount64();
    for (int number = 1; number <= rounds; ++number) {
        if (!round(number))
            break;
    }
    printf("[ figures  ] %d unplug/plug rounds in %llu ms\n", completed - 1, GetTickCount64() - start);
    EXPECT_EQ(completed, rounds + 1);
    // The host's thread, a reader starting and one ending.
    EXPECT_TRUE(backToBaseline(baseline, allocations, 3));

    pad.reset();
    EXPECT_EQ(sink.refCount, 0u);
}

TEST_F(PadUnplugged, ObjectsReleasedRightAfterTheUnplugAHundredTimes)
{
    ActingSink sink;
    int completed = 0;
    auto round = [&](int number) {
        ComPtr<ISignaturePad> pad = control().create();
        if (!pad || !adviseSink(pad.get(), &sink))
            return false;
        loadFindingThePad(pad.get());
        EXPECT_EQ(pad->Start(), 0);
        UniqueHandle reader = unplugMidStroke(number, sink);
        // The host lets go of a started object whose pad has gone.
        EXPECT_TRUE(returnsWithin(callBoundMs, [&] { pad.reset(); }));
        EXPECT_EQ(sink.refCount, 0u);
        vpad_connect(padName);
        ++completed;
        return reader && !::testing::Test::HasFailure();
    };

    ASSERT_TRUE(round(0));
    // Counted once the warm-up's threads have gone.
    ResourceCounts baseline = countsWithThreads(threadsAtStart);
    ASSERT_EQ(baseline.threads, threadsAtStart);
    ModuleAllocations allocations(control().module());
    ASSERT_TRUE(allocations.installed());
    ULONGLONG start = GetTickCount64();
    for (int number = 1; number <= rounds; ++number) {
        if (!round(number))
            break;
    }
    printf("[ figures  ] %d objects released after an unplug in %llu ms\n", completed - 1, GetTickCount64() - start);
    EXPECT_EQ(completed, rounds + 1);
    // The host's thread, a reader starting and one ending.
    EXPECT_TRUE(backToBaseline(baseline, allocations, 3));

    // A new object finds the pad again and captures.
    ComPtr<ISignaturePad> pad = control().create();
    ASSERT_TRUE(pad);
    ActingSink fresh;
    ASSERT_NE(adviseSink(pad.get(), &fresh), 0u);
    loadFindingThePad(pad.get());
    EXPECT_EQ(pad->Start(), 0);
    vpad_queue_pen(SCRIPTEL_REPORT_PEN, 0, 1, 1);
    EXPECT_TRUE(fresh.waitForCount(2));
    EXPECT_EQ(fresh.events(), (Events{penUp(), penPoint(0, 0)}));
}
