// Sessions by the thousand with pen input flowing: Start and Stop on one
// object, Stop racing a Start that a sink makes from inside an event, and
// objects made, loaded, started and released one after another.
// Afterwards the process holds what it held before: its handles and threads,
// the memory blocks the control took from the C runtime, and the references
// counted on the sinks, the object and the class factory.
#include "process_resources.h"
#include "stress_testing.h"

#include <cstdio>

namespace {

constexpr int cycles = 1000;
constexpr DWORD eventWaitMs = 5000;

ULONG countOf(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

// The class factory's own count, less the reference taken to look at it.
LONG factoryCount()
{
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(control().getClassObject(CLSID_TallowmarkSignaturePad, IID_IClassFactory, factory.putVoid()), S_OK);
    if (!factory)
        return -1;
    factory->AddRef();
    return static_cast<LONG>(factory->Release()) - 1;
}

// Waits until the sink has counted more events than it had.
bool moreEventsThan(const CountingSink& sink, long long before)
{
    return waitUntil([&] { return sink.total() > before; }, eventWaitMs, cyclePollMs);
}

void printTiming(const char* what, int count, ULONGLONG startMs)
{
    printf("[ figures  ] %d %s in %llu ms\n", count, what, GetTickCount64() - startMs);
}

} // namespace

class SessionCycles : public ::testing::Test {
protected:
    // Threads the process had when the test began: its own, and gtest's or
    // Wine's left by earlier tests of the same program.
    const long threadsAtStart = processThreadCount();

    void SetUp() override { startVirtualPad("ST-1500 Stress"); }
    void TearDown() override { endVirtualPad(); }

    // A new object with the sink advised, loaded. Failures are reported
    // without ASSERT_NO_FATAL_FAILURE, which starts a thread of gtest's for good.
    static bool createAndLoad(ComPtr<ISignaturePad>& pad, CountingSink& sink, DWORD& cookie)
    {
        pad = control().create();
        if (!pad)
            return false;
        cookie = adviseSink(pad.get(), &sink);
        EXPECT_NE(cookie, 0u);
        LoadOutcome loaded = loadClosingMessages(pad.get());
        EXPECT_EQ(loaded.result, 0);
        return cookie != 0 && loaded.result == 0;
    }

    ComApartment com;
};

TEST_F(SessionCycles, StartAndStopAThousandTimesWithPenInputFlowing)
{
    ComPtr<ISignaturePad> pad;
    CountingSink sink;
    DWORD cookie = 0;
    ASSERT_TRUE(createAndLoad(pad, sink, cookie));
    ULONG hostCount = countOf(pad.get());

    PenFeeder feeder;
    // Each cycle waits for input from its own reader before it stops it.
    auto cycle = [&] {
        long long before = sink.total();
        EXPECT_EQ(pad->Start(), 0);
        bool flowed = moreEventsThan(sink, before);
        EXPECT_EQ(pad->Stop(), 0);
        return flowed;
    };
    // A first cycle lets the runtimes set up what they keep for the life of
    // the process.
    ASSERT_TRUE(cycle());
    // Counted once the warm-up's threads have gone; the pen feeder runs on.
    ResourceCounts baseline = countsWithThreads(threadsAtStart + 1);
    ASSERT_EQ(baseline.threads, threadsAtStart + 1);
    ModuleAllocations allocations(control().module());
    ASSERT_TRUE(allocations.installed());
    ASSERT_GT(baseline.handles, 0);
    ASSERT_GT(baseline.threads, 0);

    ULONGLONG start = GetTickCount64();
    int flowing = 0;
    for (int i = 0; i < cycles; ++i) {
        if (!cycle())
            break;
        ++flowing;
    }
    printTiming("Start/Stop cycles", flowing, start);
    EXPECT_EQ(flowing, cycles) << "a started reader delivered nothing";
    EXPECT_EQ(vpad_device()->isOpen, 0);

    // The host's thread, a reader starting and one ending.
    EXPECT_TRUE(backToBaseline(baseline, allocations, 3));
    EXPECT_GE(allocations.allocated(), cycles) << "every cycle's deliveries allocate their snapshots";
    feeder.stop();

    EXPECT_EQ(countOf(pad.get()), hostCount);
    EXPECT_EQ(sink.unpaired(), 0);
    EXPECT_GE(sink.count(CountingSink::Down), 1);
    EXPECT_GE(sink.count(CountingSink::Point), cycles);
    EXPECT_EQ(sink.refCount, 1u);
    EXPECT_EQ(unadviseSink(pad.get(), cookie), S_OK);
    EXPECT_EQ(sink.refCount, 0u);
}

// A sink starts the object again from inside its events while the host's
// thread stops it: the host's Stop always ends the reader.
TEST_F(SessionCycles, StopRacingASinksStartAThousandTimes)
{
    ComPtr<ISignaturePad> pad;
    CountingSink sink;
    DWORD cookie = 0;
    ASSERT_TRUE(createAndLoad(pad, sink, cookie));
    ISignaturePad* object = pad.get();
    std::atomic<long long> restarts{0};
    sink.reaction = [&](CountingSink::Kind kind) {
        if (kind == CountingSink::Point && sink.count(CountingSink::Point) % 4 == 0) {
            object->Start();
            ++restarts;
        }
    };

    PenFeeder feeder;
    int stopped = 0;
    ULONGLONG start = GetTickCount64();
    for (int i = 0; i < cycles; ++i) {
        long long before = sink.total();
        EXPECT_EQ(pad->Start(), 0);
        if (!moreEventsThan(sink, before))
            break;
        if (!returnsWithin(10000, [&] { EXPECT_EQ(pad->Stop(), 0); }))
            break;
        // Whichever came first, the sink's Start does not outlive the Stop.
        EXPECT_EQ(vpad_device()->isOpen, 0) << "cycle " << i;
        ++stopped;
    }
    printTiming("Stops racing a sink's Start", stopped, start);
    feeder.stop();
    EXPECT_EQ(stopped, cycles);
    EXPECT_GT(restarts, 0);
    EXPECT_EQ(vpad_device()->isOpen, 0);
    EXPECT_EQ(sink.unpaired(), 0);
    EXPECT_EQ(unadviseSink(pad.get(), cookie), S_OK);
}

TEST_F(SessionCycles, AThousandObjectsMadeLoadedStartedAndReleasedWithPenInputFlowing)
{
    CountingSink sink;
    PenFeeder feeder;
    // Every other object is released while its reader runs, without Stop.
    auto cycle = [&](int i) {
        ComPtr<ISignaturePad> pad = control().create();
        if (!pad)
            return false;
        if (!adviseSink(pad.get(), &sink))
            return false;
        LoadOutcome loaded = loadClosingMessages(pad.get());
        EXPECT_EQ(loaded.result, 0);
        EXPECT_TRUE(loaded.messages.empty());
        long long before = sink.total();
        EXPECT_EQ(pad->Start(), 0);
        bool flowed = moreEventsThan(sink, before);
        if (i % 2) {
            EXPECT_EQ(pad->Stop(), 0);
        }
        pad.reset();
        // The reader may hold the last reference for the event under way:
        // the object then goes when that event returns.
        bool gone = waitUntil([&] { return sink.refCount == 0; }, eventWaitMs, cyclePollMs);
        EXPECT_TRUE(gone) << "object " << i << " still holds the sink";
        return flowed && gone;
    };
    ASSERT_TRUE(cycle(0));
    // Counted once the warm-up's threads have gone; the pen feeder runs on.
    ResourceCounts baseline = countsWithThreads(threadsAtStart + 1);
    ASSERT_EQ(baseline.threads, threadsAtStart + 1);
    ModuleAllocations allocations(control().module());
    ASSERT_TRUE(allocations.installed());
    LONG factory = factoryCount();

    ULONGLONG start = GetTickCount64();
    int completed = 0;
    for (int i = 1; i <= cycles; ++i) {
        if (!cycle(i))
            break;
        ++completed;
    }
    printTiming("create/Load/Start/release cycles", completed, start);
    EXPECT_EQ(completed, cycles);
    EXPECT_EQ(vpad_device()->isOpen, 0);

    // The host's thread, a reader starting and one ending.
    EXPECT_TRUE(backToBaseline(baseline, allocations, 3));
    EXPECT_GE(allocations.allocated(), cycles) << "every object is allocated";
    EXPECT_EQ(factoryCount(), factory);
    feeder.stop();
    EXPECT_EQ(sink.unpaired(), 0);
    EXPECT_GE(sink.count(CountingSink::Point), cycles);
}
