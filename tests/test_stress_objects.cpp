// Several objects started at once in one process, on the one pad. They share
// its device record and the record's single application slot: the object
// started last owns the pad, every report reaches it exactly once, and what
// the others do leaves its capture running. Nothing may crash, deliver a
// report twice, cut a delivery short or leak, whatever the order of Start,
// Stop and release, on one host thread or on several.
#include "process_resources.h"
#include "stress_testing.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr size_t objectCount = 4;
constexpr int strokeLength = 20;

// The reports a sink was handed: each report becomes exactly one PenDown,
// PenUp or positioned PenPoint.
long long reportsDelivered(const CountingSink& sink)
{
    return sink.count(CountingSink::Down) + sink.count(CountingSink::Up) + sink.count(CountingSink::Point);
}

class SeveralObjects : public ::testing::Test {
protected:
    // Threads the process had when the test began: its own, and gtest's or
    // Wine's left by earlier tests of the same program.
    const long threadsAtStart = processThreadCount();

    void SetUp() override { startVirtualPad("ST-1500 Shared"); }
    void TearDown() override { endVirtualPad(); }

    ComApartment com;
};

} // namespace

TEST_F(SeveralObjects, FourObjectsStartedTogetherOnOneHostThreadAHundredTimes)
{
    constexpr int rounds = 100;
    constexpr int strokesPerRound = 50;
    std::array<CountingSink, objectCount> sinks;
    long long queued = 0;
    // How often each object, by its place in the order of Start, was handed input.
    std::array<int, objectCount> served = {};
    // Reader threads still running once the round's input has been read.
    long readersRunning = 0;

    auto round = [&](int number) {
        long threadsBefore = processThreadCount();
        std::array<ComPtr<ISignaturePad>, objectCount> pads;
        std::array<long long, objectCount> before;
        for (size_t i = 0; i < objectCount; ++i) {
            pads[i] = control().create();
            if (!pads[i] || !adviseSink(pads[i].get(), &sinks[i]))
                return false;
            LoadOutcome loaded = loadClosingMessages(pads[i].get());
            EXPECT_EQ(loaded.result, 0);
            before[i] = reportsDelivered(sinks[i]);
        }
        for (auto& pad : pads)
            EXPECT_EQ(pad->Start(), 0);
        for (int stroke = 0; stroke < strokesPerRound; ++stroke)
            queueStroke(strokeLength, static_cast<uint16_t>(stroke + 1));
        queued += strokesPerRound * strokeLength;
        EXPECT_EQ(vpad_wait_idle(5000), 1);

        readersRunning += processThreadCount() - threadsBefore;
        for (size_t i = 0; i < objectCount; ++i)
            served[i] += reportsDelivered(sinks[i]) > before[i];

        // Released in an order that changes from round to round, while input
        // still comes: the capture ends when the last started goes.
        for (int stroke = 0; stroke < 5; ++stroke)
            queueStroke(strokeLength, 1);
        queued += 5 * strokeLength;
        std::array<size_t, objectCount> order = {0, 1, 2, 3};
        std::rotate(order.begin(), order.begin() + number % objectCount, order.end());
        if (number % 2)
            std::reverse(order.begin(), order.end());
        for (size_t i : order) {
            pads[i].reset();
            EXPECT_TRUE(waitUntil([&] { return sinks[i].refCount == 0; }, 5000, cyclePollMs)) << "object " << i;
        }
        return !::testing::Test::HasFailure();
    };

    ASSERT_TRUE(round(0));
    // Counted once the warm-up's threads have gone.
    ResourceCounts baseline = countsWithThreads(threadsAtStart);
    ASSERT_EQ(baseline.threads, threadsAtStart);
    ModuleAllocations allocations(control().module());
    ASSERT_TRUE(allocations.installed());
    ULONGLONG start = GetTickCount64();
    int completed = 0;
    for (int number = 1; number <= rounds && round(number); ++number)
        ++completed;
    long long delivered = 0;
    for (const CountingSink& sink : sinks) {
        EXPECT_EQ(sink.unpaired(), 0);
        delivered += reportsDelivered(sink);
    }
    printf("[ figures  ] %d rounds of %zu objects started together in %llu ms; %lld of %lld reports delivered; "
           "objects handed input, by their place in the order of Start: %d %d %d %d of %d rounds; reader threads "
           "running after the input: %.2f a round\n",
        completed, objectCount, GetTickCount64() - start, delivered, queued, served[0], served[1], served[2],
        served[3], rounds + 1, static_cast<double>(readersRunning) / (rounds + 1));
    EXPECT_LE(delivered, queued) << "a report reached more than one object";
    EXPECT_GT(delivered, 0);
    EXPECT_EQ(served[objectCount - 1], rounds + 1) << "the last started gets the input";
    EXPECT_EQ(served[0] + served[1] + served[2], 0) << "and no other";
    EXPECT_EQ(completed, rounds);
    EXPECT_EQ(vpad_device()->isOpen, 0);
    // The host's thread, the round's four readers and the last round's, ending.
    EXPECT_TRUE(backToBaseline(baseline, allocations, 2 * objectCount + 1));
}

// Two and then four objects started, the last on the test's thread, the
// others on a second host thread, which then stops, clears, unloads, loads
// and releases them, and makes, loads and releases more, while 100,000
// reports in strokes come: every one reaches the last started, once.
TEST_F(SeveralObjects, EveryReportReachesTheObjectStartedLastWhateverTheOthersDo)
{
    constexpr int strokes = 5000;
    constexpr long long reports = static_cast<long long>(strokes) * strokeLength;
    for (size_t objects : {size_t(2), objectCount}) {
        std::atomic<int> stage{0};      // 1: the others started, 2: the owner started, 3: input read
        std::atomic<long long> disturbances{0};
        std::array<CountingSink, objectCount> others;
        TestThread otherHost([&] {
            ComApartment apartment;
            std::vector<ComPtr<ISignaturePad>> pads;
            for (size_t i = 0; i + 1 < objects; ++i) {
                pads.push_back(control().create());
                if (!pads.back() || !adviseSink(pads.back().get(), &others[i]))
                    return;
                EXPECT_EQ(loadClosingMessages(pads.back().get()).result, 0);
                EXPECT_EQ(pads.back()->Start(), 0);
            }
            stage = 1;
            if (!waitUntil([&] { return stage >= 2; }))
                return;
            while (stage < 3) {
                ComPtr<ISignaturePad> pad;
                if (!pads.empty()) {
                    pad = std::move(pads.back());
                    pads.pop_back();
                } else {
                    pad = control().create();
                }
                pad->Stop();
                pad->ClearTablet();
                pad->LCDRefresh(0, 0, 0, 0, 0);
                pad->Unload();
                EXPECT_EQ(loadClosingMessages(pad.get()).result, 0);
                pad->Stop();
                pad.reset();
                ++disturbances;
            }
        });
        ASSERT_TRUE(waitUntil([&] { return stage >= 1; }, 10000));
        ComPtr<ISignaturePad> owner = control().create();
        ASSERT_TRUE(owner);
        CountingSink sink;
        ASSERT_NE(adviseSink(owner.get(), &sink), 0u);
        ASSERT_EQ(loadClosingMessages(owner.get()).result, 0);
        ASSERT_EQ(owner->Start(), 0);
        long clears = vpad_call_count("scriptel_clear_screen");
        long closes = vpad_call_count("scriptel_close_device");
        stage = 2;

        ULONGLONG start = GetTickCount64();
        for (int stroke = 0; stroke < strokes; ++stroke) {
            queueStroke(strokeLength, static_cast<uint16_t>(stroke % 60000 + 1));
            // Short batches, each after a round of the others' calls.
            if (stroke % 50 == 49) {
                ASSERT_EQ(vpad_wait_idle(10000), 1);
                long long batch = stroke / 50;
                ASSERT_TRUE(waitUntil([&] { return disturbances >= batch / 4; }, 10000));
            }
        }
        ASSERT_EQ(vpad_wait_idle(10000), 1);
        // At least the objects started before the owner have had their turn.
        EXPECT_TRUE(waitUntil([&] { return disturbances >= static_cast<long long>(objects - 1); }, 10000));
        stage = 3;
        ASSERT_TRUE(otherHost.join());
        printf("[ figures  ] %zu objects: %lld of %lld reports reached the last started in %llu ms, %lld reached the "
               "others, while the other host thread made %lld rounds of calls on the others\n",
            objects, reportsDelivered(sink), reports, GetTickCount64() - start,
            reportsDelivered(others[0]) + reportsDelivered(others[1]) + reportsDelivered(others[2]),
            disturbances.load());

        EXPECT_EQ(sink.count(CountingSink::Down), strokes);
        EXPECT_EQ(sink.count(CountingSink::Up), strokes);
        EXPECT_EQ(reportsDelivered(sink), reports);
        EXPECT_EQ(sink.irregular(), 0);
        EXPECT_EQ(sink.unpaired(), 0);
        for (const CountingSink& other : others) {
            EXPECT_EQ(other.total(), 0);
            EXPECT_EQ(other.refCount, 0u);
        }
        EXPECT_EQ(vpad_call_count("scriptel_clear_screen"), clears) << "the others cleared the owner's display";
        EXPECT_EQ(vpad_call_count("scriptel_close_device"), closes) << "the others closed the owner's pad";
        EXPECT_EQ(vpad_device()->isOpen, 1);

        // The owner stops: the pad closes.
        EXPECT_EQ(owner->Stop(), 0);
        EXPECT_EQ(vpad_device()->isOpen, 0);
        owner.reset();
        EXPECT_EQ(sink.refCount, 0u);
    }
}

TEST_F(SeveralObjects, FourHostThreadsEachStartingAndReleasingItsOwnObjectsAtOnce)
{
    constexpr int roundsPerThread = 50;
    struct Host {
        CountingSink sink;
        std::atomic<int> rounds{0};
        std::atomic<int> failedLoads{0};
    };
    std::array<Host, objectCount> hosts;

    // Each host thread keeps making, loading and starting an object, lets it
    // run a moment, stops it or not, and releases it.
    auto hostThread = [](Host& host, int seed) {
        return [&host, seed] {
            ComApartment apartment;
            for (int round = 0; round < roundsPerThread; ++round) {
                ComPtr<ISignaturePad> pad = control().create();
                if (!pad || !adviseSink(pad.get(), &host.sink))
                    return;
                if (loadClosingMessages(pad.get()).result != 0)
                    ++host.failedLoads;
                pad->Start();
                Sleep((round + seed) % 3);
                if ((round + seed) % 2)
                    pad->Stop();
                pad.reset();
                if (!waitUntil([&] { return host.sink.refCount == 0; }, 5000, cyclePollMs))
                    return;
                ++host.rounds;
            }
        };
    };

    auto runHosts = [&](int seedBase) {
        PenFeeder feeder(strokeLength);
        std::vector<std::unique_ptr<TestThread>> threads;
        for (size_t i = 0; i < objectCount; ++i)
            threads.push_back(std::make_unique<TestThread>(hostThread(hosts[i], seedBase + static_cast<int>(i))));
        for (auto& thread : threads)
            EXPECT_TRUE(thread->join(60000));
        threads.clear();
        feeder.stop();
        return feeder.queued();
    };

    long long queued = runHosts(0);
    // Counted once the warm-up's threads have gone.
    ResourceCounts baseline = countsWithThreads(threadsAtStart);
    ASSERT_EQ(baseline.threads, threadsAtStart);
    ModuleAllocations allocations(control().module());
    ASSERT_TRUE(allocations.installed());
    for (Host& host : hosts)
        host.rounds = 0;
    ULONGLONG start = GetTickCount64();
    queued += runHosts(1);

    long long delivered = 0;
    for (Host& host : hosts) {
        EXPECT_EQ(host.rounds, roundsPerThread);
        EXPECT_EQ(host.sink.refCount, 0u);
        EXPECT_EQ(host.sink.unpaired(), 0);
        // A Load may meet the pad held open by another object: it still finds and opens it.
        EXPECT_EQ(host.failedLoads, 0);
        delivered += reportsDelivered(host.sink);
    }
    printf("[ figures  ] %zu host threads, %d objects each, in %llu ms; %lld of %lld reports delivered\n",
        objectCount, roundsPerThread, GetTickCount64() - start, delivered, queued);
    EXPECT_LE(delivered, queued) << "a report reached more than one object";
    EXPECT_GT(delivered, 0);
    EXPECT_EQ(vpad_device()->isOpen, 0);
    // Four host threads, each with a reader starting and one ending.
    EXPECT_TRUE(backToBaseline(baseline, allocations, 3 * objectCount));
}

// A sink of A starts B from inside an event; a sink of B lets the host's last
// reference to A go while A's reader still delivers the PenUp that closes A's
// stroke: A is freed only once its own reader has ended (by that reader, as
// its last act), whichever thread let it go, and B captures.
TEST_F(SeveralObjects, AnObjectReleasedOnAnotherObjectsReaderGoesOnlyOnceItsOwnReaderHasEnded)
{
    ModuleAllocations allocations(control().module());
    ASSERT_TRUE(allocations.installed());
    constexpr int rounds = 50;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        CountingSink first;
        CountingSink second;
        ComPtr<ISignaturePad> a = control().create();
        ComPtr<ISignaturePad> b = control().create();
        ASSERT_TRUE(a && b);
        ASSERT_NE(adviseSink(a.get(), &first), 0u);
        ASSERT_NE(adviseSink(b.get(), &second), 0u);
        ASSERT_EQ(loadClosingMessages(a.get()).result, 0);
        ASSERT_EQ(loadClosingMessages(b.get()).result, 0);
        a->Start();

        ISignaturePad* lastReferenceToA = a.detach();
        std::atomic<DWORD> readerOfA{0};
        std::atomic<bool> freedUnderItsReader{false};
        allocations.watchFree(lastReferenceToA, [&] {
            UniqueHandle reader = openThread(readerOfA);
            if (GetCurrentThreadId() != readerOfA && !hasEnded(reader))
                freedUnderItsReader = true;
        });
        std::atomic<bool> released{false};
        first.reaction = [&](CountingSink::Kind kind) {
            if (kind == CountingSink::Down) {
                readerOfA = GetCurrentThreadId();
                b->Start();
            }
            if (kind == CountingSink::Up) {
                EXPECT_TRUE(waitUntil([&] { return released.load(); }, 5000, cyclePollMs));
                Sleep(20);   // the release is carried out meanwhile
            }
        };
        second.reaction = [&](CountingSink::Kind kind) {
            if (kind == CountingSink::Down) {
                lastReferenceToA->Release();
                released = true;
            }
        };
        vpad_queue_pen(SCRIPTEL_REPORT_PEN, 1, 1, 1);
        ASSERT_TRUE(waitUntil([&] { return first.count(CountingSink::Up) == 1; }, 5000, cyclePollMs))
            << "B started and A's stroke closed";
        vpad_queue_pen(SCRIPTEL_REPORT_PEN, 1, 1, 5);
        vpad_queue_pen(SCRIPTEL_REPORT_PEN, 0, 1, 5);
        EXPECT_TRUE(waitUntil([&] { return first.refCount == 0; }, 5000, cyclePollMs)) << "A went";
        EXPECT_FALSE(freedUnderItsReader) << "A was freed while its reader still ran";
        EXPECT_TRUE(waitUntil([&] { return second.count(CountingSink::Up) == 1; }, 5000, cyclePollMs));
        EXPECT_EQ(second.unpaired(), 0);
        b.reset();
        EXPECT_EQ(second.refCount, 0u);
        allocations.watchFree(nullptr, nullptr);
    }
}
