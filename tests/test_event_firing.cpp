// Delivery of the pad's events to every advised sink, through the object's
// FireOption and the container's exported fire_ members.
#include "connection_testing.h"

namespace {

using Events = std::vector<RecordingSink::Event>;

// The object as a host holds it, with the container the pad's input calls.
struct EventSource {
    EventSource() : pad(control().create())
    {
        if (!pad)
            return;
        point = pointOf(pad.get());
        ComPtr<IConnectionPointContainer> held = containerOf(pad.get());
        container = embedded(held.get());
    }

    ComPtr<ISignaturePad> pad;
    ComPtr<IConnectionPoint> point;
    EmbeddedContainer* container = nullptr;   // lives as long as pad
};

// Which sink got which event, across sinks, in the order they came.
struct Journal {
    void watch(ReactingSink& sink, char name)
    {
        sink.reaction = [this, name](const RecordingSink::Event& event) { entries.emplace_back(name, event); };
    }
    std::vector<std::pair<char, RecordingSink::Event>> entries;
};

} // namespace

TEST(Delivery, WithoutSinksNothingIsCalled)
{
    ComApartment com;
    RecordingSink sink;
    EventSource source;
    ASSERT_TRUE(source.pad);
    EXPECT_EQ(source.pad->FireOption(3), 0);
    source.container->fire_PenDown(1, 2);

    DWORD cookie = advise(source.point.get(), &sink);
    EXPECT_EQ(source.point->Unadvise(cookie), S_OK);
    ULONG before = countOf(source.pad.get());
    source.container->fire_PenDown(1, 2);
    source.container->fire_PenPoint(3, 4, 1.0f);
    source.container->fire_PenUp(5, 6);
    source.container->fire_OptionSelected(1);
    EXPECT_EQ(source.pad->FireOption(3), 0);
    EXPECT_EQ(sink.count(), 0u);
    EXPECT_EQ(sink.refCount, 0u);
    EXPECT_EQ(countOf(source.pad.get()), before);
}

TEST(Delivery, PenDownReachesEachSinkInSlotOrderWithAZeroPoint)
{
    ComApartment com;
    ReactingSink a, b, c;
    Journal journal;
    journal.watch(a, 'A');
    journal.watch(b, 'B');
    journal.watch(c, 'C');
    EventSource source;
    ASSERT_TRUE(source.pad);
    DWORD cookieA = advise(source.point.get(), &a);
    advise(source.point.get(), &b);

    source.container->fire_PenDown(120, 340);
    using Entry = std::pair<char, RecordingSink::Event>;
    EXPECT_EQ(journal.entries, (std::vector<Entry>{{'A', penDown()}, {'A', penPoint(0, 0)},
                                                   {'B', penDown()}, {'B', penPoint(0, 0)}}));

    // C takes A's freed slot 0 and is served first, though advised last.
    EXPECT_EQ(source.point->Unadvise(cookieA), S_OK);
    advise(source.point.get(), &c);
    journal.entries.clear();
    source.container->fire_PenUp(7, 8);
    EXPECT_EQ(journal.entries, (std::vector<Entry>{{'C', penUp()}, {'C', penPoint(0, 0)},
                                                   {'B', penUp()}, {'B', penPoint(0, 0)}}));
}

TEST(Delivery, EachMemberMakesItsCallsOnTheCallingThread)
{
    ComApartment com;
    RecordingSink a, b;
    EventSource source;
    ASSERT_TRUE(source.pad);
    advise(source.point.get(), &a);
    advise(source.point.get(), &b);

    source.container->fire_PenDown(120, 340);
    source.container->fire_PenPoint(10, 20, 1.5f);
    source.container->fire_PenPoint(11, 22, 0.0f);
    source.container->fire_PenUp(11, 22);
    source.container->fire_OptionSelected(1);
    EXPECT_EQ(source.pad->FireOption(7), 0);

    Events expected{penDown(), penPoint(0, 0), penPoint(10, 20, 1.5f), penPoint(11, 22),
                    penUp(),   penPoint(0, 0), optionSelected(1),         optionSelected(7)};
    for (RecordingSink* sink : {&a, &b}) {
        EXPECT_EQ(sink->events(), expected);
        for (const RecordingSink::Event& event : sink->events())
            EXPECT_EQ(event.threadId, GetCurrentThreadId());
        EXPECT_EQ(sink->refCount, 1u);
    }

    // From another thread, the events arrive on that thread.
    a.clear();
    DWORD firingThread = 0;
    {
        Worker worker([&] { source.pad->FireOption(9); });
        ASSERT_TRUE(worker.join());
        firingThread = worker.id();
    }
    ASSERT_EQ(a.events(), (Events{optionSelected(9)}));
    EXPECT_EQ(a.events()[0].threadId, firingThread);
}

TEST(Delivery, AFailingSinkStillGetsItsWholeSequenceAndTheOthersAreServed)
{
    ComApartment com;
    RecordingSink failing, other;
    failing.eventResult = E_FAIL;
    EventSource source;
    ASSERT_TRUE(source.pad);
    advise(source.point.get(), &failing);
    advise(source.point.get(), &other);

    source.container->fire_PenDown(1, 1);
    EXPECT_EQ(source.pad->FireOption(2), 0);
    Events expected{penDown(), penPoint(0, 0), optionSelected(2)};
    EXPECT_EQ(failing.events(), expected);
    EXPECT_EQ(other.events(), expected);
}

TEST(Delivery, SinksUnadvisedDuringADeliveryStillGetItButNotTheNext)
{
    ComApartment com;
    ReactingSink first, second;
    EventSource source;
    ASSERT_TRUE(source.pad);
    DWORD firstCookie = advise(source.point.get(), &first);
    DWORD secondCookie = advise(source.point.get(), &second);
    ULONG secondCountInItsEvent = 0;
    first.reaction = [&](const RecordingSink::Event& event) {
        if (event.kind != RecordingSink::Event::PenDown)
            return;
        EXPECT_EQ(source.point->Unadvise(secondCookie), S_OK);
        EXPECT_EQ(source.point->Unadvise(firstCookie), S_OK);
    };
    second.reaction = [&](const RecordingSink::Event&) { secondCountInItsEvent = second.refCount; };

    source.container->fire_PenDown(1, 1);
    Events expected{penDown(), penPoint(0, 0)};
    EXPECT_EQ(first.events(), expected);
    EXPECT_EQ(second.events(), expected);
    // Only the delivery's own references kept the second sink alive.
    EXPECT_GE(secondCountInItsEvent, 1u);
    EXPECT_EQ(first.refCount, 0u);
    EXPECT_EQ(second.refCount, 0u);

    source.container->fire_PenUp(1, 1);
    EXPECT_EQ(first.events(), expected);
    EXPECT_EQ(second.events(), expected);
}

TEST(Delivery, ASinkAdvisedDuringADeliveryGetsTheNextOne)
{
    ComApartment com;
    ReactingSink first;
    RecordingSink late;
    EventSource source;
    ASSERT_TRUE(source.pad);
    advise(source.point.get(), &first);
    first.reaction = [&](const RecordingSink::Event& event) {
        if (event.kind == RecordingSink::Event::PenDown)
            advise(source.point.get(), &late);
    };

    source.container->fire_PenDown(1, 1);
    EXPECT_EQ(late.count(), 0u);
    source.container->fire_PenPoint(5, 6, 0.0f);
    EXPECT_EQ(late.events(), (Events{penPoint(5, 6)}));
    EXPECT_EQ(late.refCount, 1u);
}

TEST(Delivery, ASinkReleasingTheHostsLastReferenceDoesNotDestroyTheObjectUnderTheDelivery)
{
    ComApartment com;
    ReactingSink releasing, later;
    ISignaturePad* pad = control().create().detach();
    ASSERT_TRUE(pad);
    EmbeddedContainer* container = nullptr;
    {
        ComPtr<IConnectionPoint> point = pointOf(pad);
        ASSERT_TRUE(point);
        advise(point.get(), &releasing);
        advise(point.get(), &later);
        container = embedded(containerOf(pad).get());
    }
    ASSERT_EQ(countOf(pad), 1u);
    releasing.reaction = [&](const RecordingSink::Event& event) {
        if (event.kind == RecordingSink::Event::PenDown) {
            EXPECT_EQ(std::exchange(pad, nullptr)->Release(), 1u) << "the delivery holds the object";
        }
    };
    ULONG laterCountDuringDelivery = 0;
    later.reaction = [&](const RecordingSink::Event&) { laterCountDuringDelivery = releasing.refCount; };

    container->fire_PenDown(30, 40);
    Events expected{penDown(), penPoint(0, 0)};
    EXPECT_EQ(releasing.events(), expected);
    EXPECT_EQ(later.events(), expected);
    // The object still held its connection to the first sink while the
    // second one was served, and released it once the delivery ended.
    EXPECT_GE(laterCountDuringDelivery, 1u);
    EXPECT_EQ(releasing.refCount, 0u);
    EXPECT_EQ(later.refCount, 0u);
}

TEST(Delivery, FireOptionReturnsZeroWhenAnEventReleasesTheObject)
{
    ComApartment com;
    ReactingSink releasing;
    ISignaturePad* pad = control().create().detach();
    ASSERT_TRUE(pad);
    advise(pointOf(pad).get(), &releasing);
    releasing.reaction = [&](const RecordingSink::Event&) { std::exchange(pad, nullptr)->Release(); };

    ISignaturePad* held = pad;
    EXPECT_EQ(held->FireOption(5), 0);
    EXPECT_EQ(pad, nullptr);
    EXPECT_EQ(releasing.events(), (Events{optionSelected(5)}));
    EXPECT_EQ(releasing.refCount, 0u);
}
