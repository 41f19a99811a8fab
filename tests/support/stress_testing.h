// Helpers of the stress tests: a sink that counts what it receives instead of
// recording it, so millions of events cost no memory; threads that keep pen
// input flowing or run a body with a bounded join; bounded waits.
#pragma once

#include "pad_session.h"

#include <atomic>
#include <functional>

// The polling interval of waits repeated in every cycle of a stress test.
constexpr DWORD cyclePollMs = 1;

// Counts every event by kind and checks the shape of what it receives. One
// thread delivers to it at a time (the reader of the object it is advised on).
class CountingSink : public TestSink {
public:
    enum Kind { Down, Up, Point, ZeroPoint, Option, KindCount };

    CountingSink() = default;
    CountingSink(const CountingSink&) = delete;
    CountingSink& operator=(const CountingSink&) = delete;
    virtual ~CountingSink() = default;

    STDMETHODIMP PenDown() override;
    STDMETHODIMP PenUp() override;
    STDMETHODIMP PenPoint(LONG x, LONG y, float inkWeight) override;
    STDMETHODIMP OptionSelected(LONG optionNumber) override;
    STDMETHODIMP ItemSelected(LONG controlId, BSTR selectedItem) override;

    long long count(Kind kind) const { return counts[kind]; }
    long long total() const;
    // Deliveries cut short: a PenDown or PenUp not followed by its zero
    // PenPoint. Never allowed.
    long long unpaired() const { return unpairedEvents; }
    // Departures from the strokes of PenFeeder when no report is lost: a
    // PenDown only with the pen up, PenUp and positions only with it down,
    // each position's x one more than the last (the stroke's first report,
    // whose position is not delivered, has x 1).
    long long irregular() const { return irregularEvents; }

    // What every event method returns; a failure must not stop delivery.
    HRESULT eventResult = S_OK;
    // Runs after each event has been counted, on the delivering thread.
    std::function<void(Kind)> reaction;

private:
    void counted(Kind kind, LONG x = 0);

    std::atomic<long long> counts[KindCount] = {};
    std::atomic<long long> unpairedEvents{0};
    std::atomic<long long> irregularEvents{0};
    // The delivering thread's view of the stroke.
    bool zeroPointDue = false;
    bool penIsDown = false;
    LONG lastX = 0;
};

// A thread running one body. Joined with a bound: a thread still running
// after it has hung, and the process ends as a failure, since the test
// cannot go on safely.
class TestThread {
public:
    explicit TestThread(std::function<void()> body);
    ~TestThread();
    TestThread(const TestThread&) = delete;
    TestThread& operator=(const TestThread&) = delete;

    bool join(DWORD timeoutMs = 30000);

private:
    static DWORD WINAPI run(void* self);

    std::function<void()> body;
    UniqueHandle handle;
};

// Queues one stroke of `length` reports: contact on all but the last, x from
// 1 on, y the same throughout.
void queueStroke(int length, uint16_t y);

// Keeps pen input flowing from a thread of its own until it is stopped or
// destroyed: strokes of `strokeLength` reports, a short sleep after each so
// the pad's queue stays short.
class PenFeeder {
public:
    explicit PenFeeder(int strokeLength = 16);
    ~PenFeeder() { stop(); }
    PenFeeder(const PenFeeder&) = delete;
    PenFeeder& operator=(const PenFeeder&) = delete;

    void stop();
    long long queued() const { return reports; }

private:
    int strokeLength;
    std::atomic<bool> stopping{false};
    std::atomic<long long> reports{0};
    TestThread thread;
};

// Runs the call on a thread of its own and waits for it with a bound: false
// when it has not returned in time (and the process then ends as a failure
// once the thread's own bound has passed).
bool returnsWithin(DWORD timeoutMs, std::function<void()> call);
