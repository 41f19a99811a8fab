// The connection table under load: a million pen reports read by the reader
// thread while the host's thread advises and unadvises sinks without pause,
// with sinks that fail every event, sinks that unadvise themselves or other
// sinks from inside an event, and a sink that releases the host's last
// references to the object from inside an event; and a million reports with
// the table left alone, delivered without a heap allocation.
#include "process_resources.h"
#include "stress_testing.h"

#include <cstdio>
#include <memory>
#include <random>

namespace {

constexpr int strokeLength = 100;
constexpr int strokesPerBatch = 100;
constexpr int batches = 100;
constexpr long long reports = static_cast<long long>(strokeLength) * strokesPerBatch * batches;
constexpr long long strokes = reports / strokeLength;
constexpr int churnSinks = 24;
constexpr long operationsPerBatch = 500;
constexpr DWORD batchWaitMs = 30000;

ULONG countOf(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

ComPtr<IConnectionPoint> connectionPointOf(ISignaturePad* pad)
{
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(pad->QueryInterface(IID_IConnectionPointContainer, container.putVoid()), S_OK);
    if (container) {
        EXPECT_EQ(container->FindConnectionPoint(IID_ISignaturePadEvents, point.put()), S_OK);
    }
    return point;
}

// A sink of the pool that the host advises and unadvises. Whoever takes its
// cookie out of `cookie` (the host, itself or another sink) unadvises it, so
// every Unadvise is expected to succeed.
struct ChurnSink : CountingSink {
    enum Role { Plain, UnadvisesItself, UnadvisesAnother };

    std::atomic<DWORD> cookie{0};
    Role role = Plain;
    ChurnSink* victim = nullptr;
    std::atomic<long> advises{0};
    std::atomic<long> unadvisedByHost{0};
    std::atomic<long> unadvisedFromEvents{0};
    std::atomic<long> failedUnadvises{0};
};

// Unadvises the sink whose cookie it can take; false when it was not advised.
bool takeAndUnadvise(IConnectionPoint* point, ChurnSink& sink, std::atomic<long>& counter, std::atomic<long>& failures)
{
    DWORD cookie = sink.cookie.exchange(0);
    if (!cookie)
        return false;
    if (point->Unadvise(cookie) == S_OK)
        ++counter;
    else
        ++failures;
    return true;
}

// The sinks every report reaches: their counts are exact.
void expectEveryReport(const CountingSink& sink, const char* name)
{
    EXPECT_EQ(sink.count(CountingSink::Down), strokes) << name;
    EXPECT_EQ(sink.count(CountingSink::Up), strokes) << name;
    EXPECT_EQ(sink.count(CountingSink::ZeroPoint), 2 * strokes) << name;
    EXPECT_EQ(sink.count(CountingSink::Point), reports - 2 * strokes) << name;
    EXPECT_EQ(sink.unpaired(), 0) << name;
    EXPECT_EQ(sink.irregular(), 0) << name;
}

class SessionFixture : public ::testing::Test {
protected:
    // Threads the process had when the test began: its own, and gtest's or
    // Wine's left by earlier tests of the same program.
    const long threadsAtStart = processThreadCount();

    void SetUp() override { startVirtualPad("ST-1500 Stress"); }
    void TearDown() override { endVirtualPad(); }

    // A new object, loaded.
    ComPtr<ISignaturePad> loadedObject()
    {
        ComPtr<ISignaturePad> pad = control().create();
        EXPECT_TRUE(pad);
        if (pad) {
            LoadOutcome loaded = loadClosingMessages(pad.get());
            EXPECT_EQ(loaded.result, 0);
        }
        return pad;
    }

    // A new object, loaded and started.
    ComPtr<ISignaturePad> startedObject()
    {
        ComPtr<ISignaturePad> pad = loadedObject();
        if (pad) {
            EXPECT_EQ(pad->Start(), 0);
        }
        return pad;
    }

    ComApartment com;
};

} // namespace

class SinkChurn : public SessionFixture {};

TEST_F(SinkChurn, AMillionReportsWhileTheHostAdvisesAndUnadvisesWithoutPause)
{
    // A first object lets the runtimes set up what they keep for the life of the process.
    {
        ComPtr<ISignaturePad> warmUp = startedObject();
    }
    // Counted once the warm-up's threads have gone.
    ResourceCounts baseline = countsWithThreads(threadsAtStart);
    ASSERT_EQ(baseline.threads, threadsAtStart);
    ModuleAllocations allocations(control().module());
    ASSERT_TRUE(allocations.installed());

    ComPtr<ISignaturePad> pad = startedObject();
    ASSERT_TRUE(pad);
    ComPtr<IConnectionPoint> point = connectionPointOf(pad.get());
    ASSERT_TRUE(point);
    CountingSink steady, failing, unexpected;
    failing.eventResult = E_FAIL;
    unexpected.eventResult = E_UNEXPECTED;
    for (CountingSink* sink : {&steady, &failing, &unexpected}) {
        DWORD cookie = 0;
        ASSERT_EQ(point->Advise(sink, &cookie), S_OK);
    }

    std::vector<std::unique_ptr<ChurnSink>> pool;
    for (int i = 0; i < churnSinks; ++i)
        pool.push_back(std::make_unique<ChurnSink>());
    IConnectionPoint* eventPoint = point.get();
    for (int i = 0; i < churnSinks; ++i) {
        ChurnSink& sink = *pool[i];
        sink.role = static_cast<ChurnSink::Role>(i % 3);
        sink.victim = pool[(i + 1) % churnSinks].get();
        if (sink.role == ChurnSink::Plain)
            continue;
        // Every 50th event it receives, on the reader thread.
        sink.reaction = [&sink, eventPoint](CountingSink::Kind) {
            if (sink.total() % 50 != 0)
                return;
            ChurnSink& target = sink.role == ChurnSink::UnadvisesItself ? sink : *sink.victim;
            takeAndUnadvise(eventPoint, target, target.unadvisedFromEvents, target.failedUnadvises);
        };
    }

    // The reports go in batches, each read to the end before the next. The
    // host changes the table alongside, a share of its changes for each
    // batch, so that they spread over the whole run however the threads are
    // scheduled.
    std::atomic<int> batchesQueued{0};
    std::atomic<int> batchesRead{0};
    std::atomic<long> operations{0};
    ULONGLONG start = GetTickCount64();
    {
        std::atomic<bool> fed{false};
        TestThread feeder([&] {
            for (int batch = 0; batch < batches; ++batch) {
                if (!waitUntil([&] { return operations >= batch * operationsPerBatch; }, batchWaitMs, cyclePollMs))
                    break;
                for (int stroke = 0; stroke < strokesPerBatch; ++stroke)
                    queueStroke(strokeLength, static_cast<uint16_t>(stroke + 1));
                ++batchesQueued;
                if (!vpad_wait_idle(batchWaitMs))
                    break;
                ++batchesRead;
            }
            fed = true;
        });

        std::mt19937 random(9);
        while (!fed) {
            if (operations >= (batchesQueued + 1) * operationsPerBatch) {
                SwitchToThread();
                continue;
            }
            ChurnSink& sink = *pool[std::uniform_int_distribution<int>(0, churnSinks - 1)(random)];
            if (!takeAndUnadvise(point.get(), sink, sink.unadvisedByHost, sink.failedUnadvises)) {
                DWORD cookie = 0;
                ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
                ++sink.advises;
                sink.cookie = cookie;
            }
            // The host's references change while the reader's snapshots change the same count.
            ComPtr<IConnectionPointContainer> container;
            EXPECT_EQ(pad->QueryInterface(IID_IConnectionPointContainer, container.putVoid()), S_OK);
            ++operations;
        }
        ASSERT_TRUE(feeder.join());
    }
    printf("[ figures  ] %lld reports read in %llu ms while the host made %ld advise/unadvise operations\n", reports,
        GetTickCount64() - start, operations.load());
    ASSERT_EQ(batchesRead, batches) << "the reader has not read every batch in time";

    expectEveryReport(steady, "steady sink");
    expectEveryReport(failing, "sink failing with E_FAIL");
    expectEveryReport(unexpected, "sink failing with E_UNEXPECTED");
    EXPECT_GE(operations, (batches - 1) * operationsPerBatch);
    long long churnEvents = 0;
    long fromEvents = 0;
    for (const auto& sink : pool) {
        EXPECT_EQ(sink->unpaired(), 0);
        EXPECT_EQ(sink->failedUnadvises, 0);
        churnEvents += sink->total();
        fromEvents += sink->unadvisedFromEvents;
    }
    EXPECT_GT(churnEvents, 0);
    EXPECT_GT(fromEvents, 0) << "no sink was unadvised from inside an event";

    // The host's last references go from inside an event: the object is
    // destroyed on the reader thread and releases every sink still advised.
    ISignaturePad* lastPad = pad.detach();
    IConnectionPoint* lastPoint = point.detach();
    EXPECT_EQ(countOf(lastPad), 2u);
    std::atomic<bool> released{false};
    steady.reaction = [&](CountingSink::Kind kind) {
        if (kind == CountingSink::Point && !released.exchange(true)) {
            lastPoint->Release();
            lastPad->Release();
        }
    };
    queueStroke(strokeLength, 1);
    EXPECT_TRUE(waitUntil([&] { return steady.refCount == 0; })) << "the object was not destroyed";
    EXPECT_TRUE(released);
    EXPECT_EQ(steady.count(CountingSink::Point), reports - 2 * strokes + 1) << "no event after the one under way";
    EXPECT_EQ(failing.refCount, 0u);
    EXPECT_EQ(unexpected.refCount, 0u);
    for (const auto& sink : pool)
        EXPECT_EQ(sink->refCount, 0u);
    EXPECT_EQ(vpad_device()->isOpen, 0);

    // The host's thread, a reader starting and one ending.
    EXPECT_TRUE(backToBaseline(baseline, allocations, 3));
}

class LastReferenceInsideEvents : public SessionFixture {};

TEST_F(LastReferenceInsideEvents, ObjectsReleasedFromInsideEveryKindOfEventFourHundredTimes)
{
    constexpr int rounds = 100;
    // The input of one cycle: a pen-up that starts it with the pen up
    // whatever came before, a stroke of three contact reports and its
    // pen-up, a button. What a sink receives, whole deliveries, up to and
    // including the one under way when the last reference went:
    struct Trigger {
        CountingSink::Kind kind;
        int occurrence;
        long long eventsThrough;
    };
    const Trigger triggers[] = {
        {CountingSink::Down, 1, 4},     // Up Zero, Down Zero
        {CountingSink::Point, 1, 5},    // ... Point(2)
        {CountingSink::Up, 2, 8},       // ... Point(3), Up Zero
        {CountingSink::Option, 1, 9},   // ... Option
    };
    auto queueCycleInput = [] {
        vpad_queue_pen(SCRIPTEL_REPORT_PEN, 0, 9, 9);
        queueStroke(4, 7);
        vpad_queue_button("ok");
        queueStroke(4, 8);
    };

    // The input is queued before Start, so the reader takes it in one batch:
    // whatever follows the event under way goes with the object.
    auto cycle = [&](const Trigger& trigger) {
        ComPtr<ISignaturePad> pad = loadedObject();
        if (!pad)
            return false;
        // The releasing sink sits between two others in slot order.
        CountingSink before, releaser, after;
        for (CountingSink* sink : {&before, &releaser, &after}) {
            if (!adviseSink(pad.get(), sink))
                return false;
        }
        ISignaturePad* lastReference = pad.detach();
        std::atomic<int> seen{0};
        releaser.reaction = [&](CountingSink::Kind kind) {
            if (kind == trigger.kind && ++seen == trigger.occurrence)
                lastReference->Release();
        };
        queueCycleInput();
        EXPECT_EQ(lastReference->Start(), 0);
        bool gone = waitUntil(
            [&] { return before.refCount + releaser.refCount + after.refCount == 0; }, 5000, cyclePollMs);
        EXPECT_TRUE(gone) << "the object still holds its sinks";
        EXPECT_EQ(vpad_wait_idle(5000), 1);
        for (CountingSink* sink : {&before, &releaser, &after}) {
            EXPECT_EQ(sink->total(), trigger.eventsThrough) << "trigger " << trigger.kind;
            EXPECT_EQ(sink->unpaired(), 0);
        }
        return gone && after.total() == trigger.eventsThrough;
    };

    ASSERT_TRUE(cycle(triggers[0]));
    // Counted once the warm-up's threads have gone.
    ResourceCounts baseline = countsWithThreads(threadsAtStart);
    ASSERT_EQ(baseline.threads, threadsAtStart);
    ModuleAllocations allocations(control().module());
    ASSERT_TRUE(allocations.installed());
    ULONGLONG start = GetTickCount64();
    int completed = 0;
    for (int round = 0; round < rounds; ++round) {
        for (const Trigger& trigger : triggers) {
            if (!cycle(trigger))
                break;
            ++completed;
        }
        if (completed != (round + 1) * 4)
            break;
    }
    printf("[ figures  ] %d objects released from inside their events in %llu ms\n", completed,
        GetTickCount64() - start);
    EXPECT_EQ(completed, rounds * 4);
    EXPECT_EQ(vpad_device()->isOpen, 0);
    // The host's thread, a reader starting and one ending.
    EXPECT_TRUE(backToBaseline(baseline, allocations, 3));
}

class SteadyDelivery : public SessionFixture {};

TEST_F(SteadyDelivery, AMillionReportsToAdvisedSinksMakeNoHeapAllocation)
{
    // More sinks than a snapshot enumerator keeps in itself.
    CountingSink sinks[6];
    ComPtr<ISignaturePad> pad = startedObject();
    ASSERT_TRUE(pad);
    for (CountingSink& sink : sinks)
        ASSERT_NE(adviseSink(pad.get(), &sink), 0u);
    // The first delivery after the last Advise lists the sinks once for all.
    queueStroke(strokeLength, 1);
    ASSERT_EQ(vpad_wait_idle(batchWaitMs), 1);

    ModuleAllocations allocations(control().module());
    ASSERT_TRUE(allocations.installed());
    for (int batch = 0; batch < batches; ++batch) {
        for (int stroke = 0; stroke < strokesPerBatch; ++stroke)
            queueStroke(strokeLength, static_cast<uint16_t>(stroke + 1));
        ASSERT_EQ(vpad_wait_idle(batchWaitMs), 1) << "batch " << batch;
    }
    EXPECT_EQ(allocations.allocated(), 0) << "blocks allocated for " << reports << " reports";

    for (const CountingSink& sink : sinks) {
        EXPECT_EQ(sink.count(CountingSink::Down), strokes + 1);
        EXPECT_EQ(sink.count(CountingSink::Up), strokes + 1);
        EXPECT_EQ(sink.count(CountingSink::Point), reports + strokeLength - 2 * (strokes + 1));
        EXPECT_EQ(sink.irregular(), 0);
        EXPECT_EQ(sink.unpaired(), 0);
    }
    pad.reset();
    for (const CountingSink& sink : sinks)
        EXPECT_EQ(sink.refCount, 0u);
}
