// Capture benchmark: pen reports from the virtual pad through the control's
// reader thread, input callback and event delivery to the host's sinks, all
// measured in one run and printed side by side. Run it from the build's bin
// folder under Wine:
//
//     wine capture_bench.exe [reports]
#include "pad_session.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

constexpr int penType = SCRIPTEL_REPORT_PEN;
constexpr int latencySamples = 2000;
constexpr int restartRounds = 30;
constexpr DWORD idleMeasureMs = 5000;
constexpr DWORD deliveryTimeoutMs = 60000;

LONGLONG ticksPerSecond()
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

LONGLONG now()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

double microseconds(LONGLONG ticks)
{
    static const double frequency = static_cast<double>(ticksPerSecond());
    return ticks * 1e6 / frequency;
}

// Counts pen points; stamps the arrival of each when asked to.
class CountingSink : public ISignaturePadEvents {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_ISignaturePadEvents))
            return E_NOINTERFACE;
        *object = static_cast<ISignaturePadEvents*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override { return --references; }
    STDMETHODIMP PenDown() override { return S_OK; }
    STDMETHODIMP PenUp() override { return S_OK; }
    STDMETHODIMP PenPoint(LONG x, LONG, float) override
    {
        if (stampArrivals) {
            arrival.store(now(), std::memory_order_relaxed);
            lastX.store(x, std::memory_order_release);
        }
        points.fetch_add(1, std::memory_order_release);
        return S_OK;
    }
    STDMETHODIMP OptionSelected(LONG) override { return S_OK; }
    STDMETHODIMP ItemSelected(LONG, BSTR) override { return S_OK; }

    std::atomic<ULONG> references{0};
    std::atomic<long long> points{0};
    std::atomic<LONG> lastX{-1};
    std::atomic<LONGLONG> arrival{0};
    bool stampArrivals = false;
};

bool waitForPoints(const CountingSink& sink, long long count)
{
    ULONGLONG deadline = GetTickCount64() + deliveryTimeoutMs;
    while (sink.points.load(std::memory_order_acquire) < count) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(0);
    }
    return true;
}

struct Figures {
    double median;
    double p99;
    double max;
};

Figures summarize(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t p99 = std::min(values.size() - 1, values.size() * 99 / 100);
    return {values[values.size() / 2], values[p99], values.back()};
}

// Cost of one direct virtual call of the sink's PenPoint, in ns.
double directCallNs(CountingSink& sink, int calls)
{
    ISignaturePadEvents* volatile target = &sink;
    LONGLONG start = now();
    for (int i = 0; i < calls; ++i)
        target->PenPoint(i & 0xffff, 7, 0.0f);
    double ns = microseconds(now() - start) * 1000.0 / calls;
    sink.points = 0;
    return ns;
}

class Bench {
public:
    explicit Bench(int sinkCount) : sinks(sinkCount)
    {
        pad = control().create();
        for (CountingSink& sink : sinks)
            adviseSink(pad.get(), &sink);
        LoadOutcome outcome = loadClosingMessages(pad.get());
        loaded = outcome.returned && outcome.result == 0;
        if (loaded)
            pad->Start();
    }
    ~Bench()
    {
        pad.reset();
    }

    // Reports per second through the whole path. Batch: everything is
    // queued while the object is stopped and Start's reader takes it in one
    // go. Streamed: queued while the reader is running.
    double reportsPerSecond(int reports, bool batch)
    {
        CountingSink& counted = sinks.front();
        long long target = counted.points + reports;
        if (batch)
            pad->Stop();
        LONGLONG start = now();
        if (batch) {
            queueStroke(reports);
            start = now();
            pad->Start();
        } else {
            queueStroke(reports);
        }
        if (!waitForPoints(counted, target))
            return 0.0;
        return reports / (microseconds(now() - start) / 1e6);
    }

    // From a report queued to its PenPoint at the sink, one report at a time
    // with the reader waiting for input in between, in microseconds.
    std::vector<double> latencies(int samples)
    {
        CountingSink& stamped = sinks.front();
        stamped.stampArrivals = true;
        std::vector<double> result;
        vpad_queue_pen(penType, 1, 1, 1);
        waitForPoints(stamped, stamped.points + 1);
        for (int i = 0; i < samples; ++i) {
            LONG x = 100 + i % 30000;
            long long expected = stamped.points + 1;
            LONGLONG queued = now();
            vpad_queue_pen(penType, 1, static_cast<uint16_t>(x), 2);
            if (!waitForPoints(stamped, expected) || stamped.lastX.load(std::memory_order_acquire) != x)
                break;
            result.push_back(microseconds(stamped.arrival.load(std::memory_order_relaxed) - queued));
            Sleep(1);
        }
        stamped.stampArrivals = false;
        return result;
    }

    // CPU time of the whole process while started with no input, as a share
    // of one core.
    // The process's CPU time is counted in clock ticks of 10 ms under Wine.
    double idleCpuMs(DWORD ms)
    {
        vpad_wait_idle(5000);
        ULONGLONG busyBefore = processCpu100ns();
        Sleep(ms);
        return (processCpu100ns() - busyBefore) / 10000.0;
    }

    void restartTimes(int rounds, std::vector<double>& starts, std::vector<double>& stops)
    {
        for (int i = 0; i < rounds; ++i) {
            LONGLONG start = now();
            pad->Start();
            starts.push_back(microseconds(now() - start));
            Sleep(5);   // the new reader is waiting for input
            start = now();
            pad->Stop();
            stops.push_back(microseconds(now() - start));
            pad->Start();
            Sleep(5);
        }
    }

    bool loaded = false;

private:
    static ULONGLONG processCpu100ns()
    {
        FILETIME created, exited, kernel, user;
        GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
        auto value = [](const FILETIME& time) {
            return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
        };
        return value(kernel) + value(user);
    }

    // A stroke of contact reports, one pen point each once the pen is down.
    void queueStroke(int reports)
    {
        for (int i = 0; i < reports; ++i)
            vpad_queue_pen(penType, 1, static_cast<uint16_t>(i & 0x3fff), static_cast<uint16_t>(i >> 14));
    }

    std::vector<CountingSink> sinks;
    ComPtr<ISignaturePad> pad;
};

} // namespace

int main(int argc, char** argv)
{
    int reports = argc > 1 ? std::max(1000, atoi(argv[1])) : 400000;
    ComInitialization com;
    vpad_connect("ST-1500 Bench");

    CountingSink direct;
    double directNs = directCallNs(direct, 20000000);
    printf("Capture benchmark, %d reports per throughput run\n\n", reports);
    printf("direct virtual call of PenPoint:      %8.1f ns\n\n", directNs);

    printf("%-8s %-10s %14s %14s %12s\n", "sinks", "queued", "reports/s", "ns/report", "x direct");
    for (int sinkCount : {1, 16}) {
        Bench bench(sinkCount);
        if (!bench.loaded) {
            printf("the control did not load the virtual pad\n");
            return 1;
        }
        bench.reportsPerSecond(reports / 10, true);   // warm-up
        for (bool batch : {true, false}) {
            double rate = bench.reportsPerSecond(reports, batch);
            double ns = rate > 0 ? 1e9 / rate : 0.0;
            printf("%-8d %-10s %14.0f %14.1f %12.1f\n", sinkCount, batch ? "batch" : "streamed", rate, ns, ns / directNs);
        }
    }

    Bench bench(1);
    std::vector<double> latencies = bench.latencies(latencySamples);
    if (latencies.empty()) {
        printf("no latency sample arrived\n");
        return 1;
    }
    Figures latency = summarize(latencies);
    printf("\nlatency, report queued to PenPoint (%zu samples): median %.1f us, 99th percentile %.1f us, max %.1f us\n",
        latencies.size(), latency.median, latency.p99, latency.max);

    double idleMs = bench.idleCpuMs(idleMeasureMs);
    printf("idle CPU while started: %.0f ms in %.1f s, %.2f %% of one core\n", idleMs, idleMeasureMs / 1000.0,
        idleMs / idleMeasureMs * 100.0);

    std::vector<double> starts, stops;
    bench.restartTimes(restartRounds, starts, stops);
    Figures start = summarize(starts);
    Figures stop = summarize(stops);
    printf("Start on a started object (%d rounds): median %.0f us, max %.0f us\n", restartRounds, start.median, start.max);
    printf("Stop on a started object (%d rounds):  median %.0f us, max %.0f us\n", restartRounds, stop.median, stop.max);
    return 0;
}
