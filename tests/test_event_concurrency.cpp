// Events fired from other threads at full speed while the host's thread
// advises, unadvises and counts references on the same object.
#include "connection_testing.h"

#include <map>
#include <memory>
#include <random>

namespace {

using Events = std::vector<RecordingSink::Event>;

// A firing thread repeats four deliveries, numbered from 0 on: pen down,
// pen point, pen up, option. Point and option carry their number.
enum DeliveryKind { DownDelivery, PointDelivery, UpDelivery, OptionDelivery, KindCount };
constexpr float pointInkWeight = 0.5f;

void fireNumbered(ISignaturePad* pad, EmbeddedContainer* container, long number)
{
    switch (number % KindCount) {
    case DownDelivery:
        container->fire_PenDown(number, number);
        break;
    case PointDelivery:
        container->fire_PenPoint(number, -number, pointInkWeight);
        break;
    case UpDelivery:
        container->fire_PenUp(number, number);
        break;
    default:
        pad->FireOption(number);
        break;
    }
}

// One thread's events to one sink must be whole deliveries with consecutive
// numbers: the sink was in every snapshot from its Advise to its Unadvise.
::testing::AssertionResult wellFormed(const Events& events)
{
    int lastKind = -1;
    long lastNumber = -1;   // -1 while no delivery has shown its number
    for (size_t i = 0; i < events.size(); ++i) {
        const RecordingSink::Event& event = events[i];
        int kind;
        long number = -1;
        if (event == penDown() || event == penUp()) {
            if (i + 1 == events.size() || !(events[i + 1] == penPoint(0, 0)))
                return ::testing::AssertionFailure() << "no zero point after event " << i;
            kind = event == penDown() ? DownDelivery : UpDelivery;
            ++i;
        } else if (event.kind == RecordingSink::Event::PenPoint && event.inkWeight == pointInkWeight &&
                   event.y == -event.x) {
            kind = PointDelivery;
            number = event.x;
        } else if (event.kind == RecordingSink::Event::OptionSelected) {
            kind = OptionDelivery;
            number = event.x;
        } else {
            return ::testing::AssertionFailure() << "unexpected event " << i;
        }
        if (number >= 0 && number % KindCount != kind)
            return ::testing::AssertionFailure() << "event " << i << " carries the wrong number";
        if (lastKind >= 0 && kind != (lastKind + 1) % KindCount)
            return ::testing::AssertionFailure() << "a delivery is missing before event " << i;
        if (number >= 0 && lastNumber >= 0 && number != lastNumber + 1)
            return ::testing::AssertionFailure() << "deliveries skipped before event " << i;
        lastKind = kind;
        lastNumber = number >= 0 ? number : (lastNumber >= 0 ? lastNumber + 1 : -1);
    }
    return ::testing::AssertionSuccess();
}

std::map<DWORD, Events> byThread(const Events& events)
{
    std::map<DWORD, Events> threads;
    for (const RecordingSink::Event& event : events)
        threads[event.threadId].push_back(event);
    return threads;
}

// Stops the firing threads however the test ends, before they are waited for.
struct StopOnExit {
    std::atomic<bool>& stop;
    ~StopOnExit() { stop = true; }
};

// A sink advised once; some unadvise themselves from inside an event.
struct Guest {
    ReactingSink sink;
    std::atomic<DWORD> cookie{0};
    std::atomic<int> unadvised{0};
    std::atomic<bool> triedSelf{false};
    bool advised = false;
    bool unadvisesItself = false;
};

} // namespace

TEST(Concurrency, EventsFiredAtFullSpeedWhileTheHostAdvisesAndUnadvises)
{
    ComApartment com;
    constexpr int guestCount = 1500;
    constexpr size_t liveGuests = 5;
    constexpr long deliveriesPerOperation = 25;
    constexpr long operationTarget = 2000;
    std::vector<std::unique_ptr<Guest>> guests;
    for (int i = 0; i < guestCount; ++i)
        guests.push_back(std::make_unique<Guest>());

    ComPtr<ISignaturePad> pad = control().create();
    ASSERT_TRUE(pad);
    ComPtr<IConnectionPoint> point = pointOf(pad.get());
    ASSERT_TRUE(point);
    EmbeddedContainer* container = embedded(containerOf(pad.get()).get());
    ULONG hostCount = countOf(pad.get());

    for (int i = 0; i < guestCount; ++i) {
        Guest& guest = *guests[i];
        guest.unadvisesItself = i % 3 == 0;
        if (!guest.unadvisesItself)
            continue;
        guest.sink.reaction = [&guest, &point](const RecordingSink::Event&) {
            DWORD cookie = guest.cookie;
            if (cookie && !guest.triedSelf.exchange(true) && point->Unadvise(cookie) == S_OK)
                ++guest.unadvised;
        };
    }

    std::atomic<bool> stop{false};
    std::atomic<long> fired[2] = {{0}, {0}};
    auto firing = [&](int thread) {
        return [&, thread] {
            for (long number = 0; !stop; ++number) {
                fireNumbered(pad.get(), container, number);
                fired[thread] = number + 1;
            }
        };
    };
    Worker first(firing(0));
    Worker second(firing(1));
    StopOnExit stopOnExit{stop};

    std::mt19937 random(20240611);
    std::vector<Guest*> live;
    int nextGuest = 0;
    long operations = 0;
    ULONGLONG deadline = GetTickCount64() + 10000;
    while (operations < operationTarget && nextGuest < guestCount && GetTickCount64() < deadline) {
        // Let the firing threads run between two changes of the table.
        long due = fired[0] + fired[1] + deliveriesPerOperation;
        while (fired[0] + fired[1] < due && GetTickCount64() < deadline)
            SwitchToThread();

        if (live.size() < liveGuests) {
            Guest& guest = *guests[nextGuest++];
            DWORD cookie = 0;
            ASSERT_EQ(point->Advise(&guest.sink, &cookie), S_OK);
            guest.cookie = cookie;
            guest.advised = true;
            live.push_back(&guest);
        } else {
            auto chosen = live.begin() + std::uniform_int_distribution<size_t>(0, live.size() - 1)(random);
            Guest& guest = **chosen;
            HRESULT hr = point->Unadvise(guest.cookie);
            if (hr == S_OK)
                ++guest.unadvised;
            else
                EXPECT_TRUE(guest.unadvisesItself && hr == CONNECT_E_NOCONNECTION) << std::hex << hr;
            live.erase(chosen);
        }
        ++operations;
        // The host's references change while the firing threads' snapshots change the same count.
        for (int i = 0; i < 10; ++i) {
            ComPtr<IConnectionPointContainer> held = containerOf(pad.get());
        }
    }
    stop = true;
    ASSERT_TRUE(first.join());
    ASSERT_TRUE(second.join());
    for (Guest* guest : live) {
        HRESULT hr = point->Unadvise(guest->cookie);
        if (hr == S_OK)
            ++guest->unadvised;
    }

    EXPECT_GE(fired[0], 1000);
    EXPECT_GE(fired[1], 1000);
    EXPECT_GT(operations, 100);
    EXPECT_EQ(countOf(pad.get()), hostCount);
    EXPECT_EQ(listedCookies(point.get()), std::vector<DWORD>{});
    point.reset();
    pad.reset();

    size_t delivered = 0;
    for (int i = 0; i < nextGuest; ++i) {
        Guest& guest = *guests[i];
        EXPECT_EQ(guest.sink.refCount, 0u) << "guest " << i;
        EXPECT_EQ(guest.unadvised, 1) << "guest " << i;
        Events events = guest.sink.events();
        delivered += events.size();
        for (const auto& [thread, threadEvents] : byThread(events))
            EXPECT_TRUE(wellFormed(threadEvents)) << "guest " << i << ", thread " << thread;
    }
    EXPECT_GT(delivered, 0u);
}

TEST(Concurrency, FiringThreadsHoldingTheirOwnReferencesEndWithOneDestruction)
{
    ComApartment com;
    constexpr long deliveriesPerThread = 20000;
    RecordingSink sinks[3];
    ISignaturePad* pad = control().create().detach();
    ASSERT_TRUE(pad);
    EmbeddedContainer* container = nullptr;
    {
        ComPtr<IConnectionPoint> point = pointOf(pad);
        ASSERT_TRUE(point);
        for (RecordingSink& sink : sinks)
            advise(point.get(), &sink);
        container = embedded(containerOf(pad).get());
    }

    auto firing = [&] {
        pad->AddRef();
        return [pad, container] {
            for (long number = 0; number < deliveriesPerThread; ++number)
                fireNumbered(pad, container, number);
            pad->Release();
        };
    };
    {
        Worker first(firing());
        Worker second(firing());
        // The host lets go at once: the last of the three references to go,
        // on whichever thread, destroys the object.
        pad->Release();
        ASSERT_TRUE(first.join());
        ASSERT_TRUE(second.join());
    }

    for (RecordingSink& sink : sinks) {
        EXPECT_EQ(sink.refCount, 0u);
        std::map<DWORD, Events> threads = byThread(sink.events());
        ASSERT_EQ(threads.size(), 2u);
        for (const auto& [thread, events] : threads) {
            // Pen down and pen up bring two events each, point and option one.
            EXPECT_EQ(events.size(), static_cast<size_t>(deliveriesPerThread / KindCount * 6));
            EXPECT_TRUE(wellFormed(events)) << "thread " << thread;
        }
    }
}
