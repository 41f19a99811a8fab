#include "stress_testing.h"

STDMETHODIMP CountingSink::PenDown()
{
    counted(Down);
    return eventResult;
}

STDMETHODIMP CountingSink::PenUp()
{
    counted(Up);
    return eventResult;
}

STDMETHODIMP CountingSink::PenPoint(LONG x, LONG y, float inkWeight)
{
    counted(x == 0 && y == 0 && inkWeight == 0.0f ? ZeroPoint : Point, x);
    return eventResult;
}

STDMETHODIMP CountingSink::OptionSelected(LONG /* optionNumber */)
{
    counted(Option);
    return eventResult;
}

STDMETHODIMP CountingSink::ItemSelected(LONG /* controlId */, BSTR /* selectedItem */)
{
    ++irregularEvents;   // never fired
    return eventResult;
}

long long CountingSink::total() const
{
    long long sum = 0;
    for (const auto& count : counts)
        sum += count;
    return sum;
}

void CountingSink::counted(Kind kind, LONG x)
{
    ++counts[kind];
    if (zeroPointDue && kind != ZeroPoint)
        ++unpairedEvents;
    switch (kind) {
    case Down:
        if (penIsDown)
            ++irregularEvents;
        penIsDown = true;
        lastX = 1;
        zeroPointDue = true;
        break;
    case Up:
        if (!penIsDown)
            ++irregularEvents;
        penIsDown = false;
        zeroPointDue = true;
        break;
    case ZeroPoint:
        zeroPointDue = false;
        break;
    case Point:
        if (!penIsDown || x != lastX + 1)
            ++irregularEvents;
        lastX = x;
        break;
    default:
        break;
    }
    if (reaction)
        reaction(kind);
}

TestThread::TestThread(std::function<void()> body)
    : body(std::move(body)), handle(CreateThread(nullptr, 0, run, this, 0, nullptr))
{
    EXPECT_TRUE(handle) << GetLastError();
}

TestThread::~TestThread()
{
    if (handle && !join()) {
        ADD_FAILURE() << "a test thread hangs";
        fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
    }
}

bool TestThread::join(DWORD timeoutMs)
{
    return !handle || WaitForSingleObject(handle.get(), timeoutMs) == WAIT_OBJECT_0;
}

DWORD WINAPI TestThread::run(void* self)
{
    static_cast<TestThread*>(self)->body();
    return 0;
}

void queueStroke(int length, uint16_t y)
{
    for (int i = 0; i < length; ++i)
        vpad_queue_pen(SCRIPTEL_REPORT_PEN, i + 1 < length, static_cast<uint16_t>(i + 1), y);
}

PenFeeder::PenFeeder(int strokeLength)
    : strokeLength(strokeLength),
      thread([this] {
          for (uint16_t stroke = 1; !stopping; stroke = static_cast<uint16_t>(stroke % 60000 + 1)) {
              queueStroke(this->strokeLength, stroke);
              reports += this->strokeLength;
              Sleep(1);
          }
      })
{
}

void PenFeeder::stop()
{
    stopping = true;
    EXPECT_TRUE(thread.join()) << "the pen feeder hangs";
}

bool returnsWithin(DWORD timeoutMs, std::function<void()> call)
{
    TestThread thread(std::move(call));
    return thread.join(timeoutMs);
}
