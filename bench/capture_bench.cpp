// Capture benchmark: pen reports from the virtual pad through the control's
// reader thread, input callback and event delivery to the host's sinks, and
// the control's delivery alone beside a plain one that takes a snapshot
// enumerator for every event, all measured in one run and printed side by
// side. Run it from the build's bin folder under Wine:
//
//     wine capture_bench.exe [reports]
#include "pad_session.h"
#include "exported_classes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

namespace {

constexpr int penType = SCRIPTEL_REPORT_PEN;
constexpr int latencySamples = 2000;
constexpr int restartRounds = 30;
constexpr DWORD idleMeasureMs = 5000;
constexpr DWORD deliveryTimeoutMs = 60000;
constexpr int deliveryRounds = 7;

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

// The delivery done plainly, as a reading of the connection point and its
// event firing: for every event a snapshot enumerator is allocated over a
// temporary array of the live connections, each sink gets a reference from
// the snapshot and another from each Next, and the snapshot holds the
// object. The table is guarded by a lock, since sinks are advised on another
// thread than the reader's.
class PlainObject : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override { return --references; }

    std::atomic<ULONG> references{1};
};

class PlainSnapshot final : public IEnumConnections {
public:
    PlainSnapshot(IUnknown* owner, const CONNECTDATA* records, ULONG recordCount)
        : owner(owner), entries(new (std::nothrow) CONNECTDATA[recordCount])
    {
        if (!entries)
            return;
        count = recordCount;
        for (ULONG i = 0; i < count; ++i) {
            entries[i] = records[i];
            entries[i].pUnk->AddRef();
        }
    }
    ~PlainSnapshot()
    {
        for (ULONG i = 0; i < count; ++i)
            entries[i].pUnk->Release();
        delete[] entries;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        *object = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IEnumConnections))
            return E_NOINTERFACE;
        *object = static_cast<IEnumConnections*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override
    {
        owner->AddRef();
        return ++references;
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        owner->Release();
        ULONG left = --references;
        if (left == 0)
            delete this;
        return left;
    }
    STDMETHODIMP Next(ULONG wanted, CONNECTDATA* connections, ULONG* fetched) override
    {
        ULONG copied = 0;
        while (copied < wanted && cursor < count) {
            connections[copied] = entries[cursor++];
            connections[copied++].pUnk->AddRef();
        }
        if (fetched)
            *fetched = copied;
        return copied ? S_OK : S_FALSE;
    }
    // Not used by a delivery.
    STDMETHODIMP Skip(ULONG) override { return E_NOTIMPL; }
    STDMETHODIMP Reset() override { return E_NOTIMPL; }
    STDMETHODIMP Clone(IEnumConnections**) override { return E_NOTIMPL; }

private:
    std::atomic<ULONG> references{0};
    IUnknown* owner;
    ULONG cursor = 0;
    ULONG count = 0;
    CONNECTDATA* entries;
};

class PlainConnectionPoint {
public:
    explicit PlainConnectionPoint(int sinkCount) : sinks(sinkCount), slots(sinkCount)
    {
        for (CountingSink& sink : sinks) {
            ExclusiveGuard guard(lock);
            sink.AddRef();
            slots[connectionCount] = {&sink, 400 + static_cast<DWORD>(connectionCount)};
            ++connectionCount;
        }
    }
    ~PlainConnectionPoint()
    {
        for (CONNECTDATA& slot : slots)
            slot.pUnk->Release();
    }

    HRESULT EnumConnections(IEnumConnections** enumerator)
    {
        *enumerator = nullptr;
        SharedGuard guard(lock);
        if (connectionCount == 0)
            return OLE_E_NOCONNECTION;
        std::unique_ptr<CONNECTDATA[]> live(new (std::nothrow) CONNECTDATA[connectionCount]);
        if (!live)
            return E_OUTOFMEMORY;
        LONG copied = 0;
        for (size_t i = 0; i < slots.size() && copied < connectionCount; ++i) {
            if (slots[i].dwCookie)
                live[copied++] = slots[i];
        }
        auto* snapshot = new (std::nothrow) PlainSnapshot(&object, live.get(), copied);
        if (!snapshot)
            return E_OUTOFMEMORY;
        return snapshot->QueryInterface(IID_IEnumConnections, reinterpret_cast<void**>(enumerator));
    }

    void firePenPoint(LONG x, LONG y, float inkWeight)
    {
        IEnumConnections* snapshot = nullptr;
        EnumConnections(&snapshot);
        if (!snapshot)
            return;
        CONNECTDATA connection;
        while (snapshot->Next(1, &connection, nullptr) == S_OK) {
            static_cast<ISignaturePadEvents*>(connection.pUnk)->PenPoint(x, y, inkWeight);
            connection.pUnk->Release();
        }
        snapshot->Release();
    }

    std::vector<CountingSink> sinks;

private:
    std::vector<CONNECTDATA> slots;
    LONG connectionCount = 0;
    SlimLock lock;
    PlainObject object;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Reports a second that `fire` delivers, one PenPoint each, on this thread.
template <typename Fire>
double deliveriesPerSecond(int reports, Fire fire)
{
    LONGLONG start = now();
    for (int i = 0; i < reports; ++i)
        fire(i & 0x3fff, 7, 0.0f);
    return reports / (microseconds(now() - start) / 1e6);
}

struct DeliveryRates {
    double control = 0.0;
    double plain = 0.0;
};

// The control's fire_PenPoint and the plain delivery to as many sinks,
// in alternating rounds: the median of each. Zero when a sink missed a point.
DeliveryRates compareDeliveries(int sinkCount, int reports)
{
    std::vector<CountingSink> sinks(sinkCount);
    ComPtr<ISignaturePad> pad = control().create();
    ComPtr<IConnectionPointContainer> container;
    if (!pad || pad->QueryInterface(IID_IConnectionPointContainer, container.putVoid()) != S_OK)
        return {};
    for (CountingSink& sink : sinks)
        adviseSink(pad.get(), &sink);
    auto* embedded = static_cast<SignaturePad::_IConnectionPointContainer*>(container.get());
    auto fireControl = [embedded](LONG x, LONG y, float inkWeight) { embedded->fire_PenPoint(x, y, inkWeight); };
    PlainConnectionPoint plain(sinkCount);
    auto firePlain = [&plain](LONG x, LONG y, float inkWeight) { plain.firePenPoint(x, y, inkWeight); };

    deliveriesPerSecond(reports / 10, fireControl);
    deliveriesPerSecond(reports / 10, firePlain);
    std::vector<double> controlRates, plainRates;
    for (int round = 0; round < deliveryRounds; ++round) {
        controlRates.push_back(deliveriesPerSecond(reports, fireControl));
        plainRates.push_back(deliveriesPerSecond(reports, firePlain));
    }
    long long expected = reports / 10 + static_cast<long long>(reports) * deliveryRounds;
    for (int i = 0; i < sinkCount; ++i) {
        if (sinks[i].points != expected || plain.sinks[i].points != expected)
            return {};
    }
    return {median(controlRates), median(plainRates)};
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

    printf("\ndelivery alone, PenPoint fired on one thread (median of %d rounds of %d reports), against a plain\n"
           "delivery that allocates a snapshot enumerator and adds and releases a reference on every sink per event:\n\n",
        deliveryRounds, reports);
    printf("%-6s %14s %14s %8s %16s %10s %16s\n", "sinks", "control/s", "plain/s", "ratio", "control ns/sink",
        "x direct", "plain ns/sink");
    for (int sinkCount : {1, 16}) {
        DeliveryRates rates = compareDeliveries(sinkCount, reports);
        if (rates.control <= 0 || rates.plain <= 0) {
            printf("a delivery missed a sink\n");
            return 1;
        }
        double controlNs = 1e9 / rates.control / sinkCount;
        double plainNs = 1e9 / rates.plain / sinkCount;
        printf("%-6d %14.0f %14.0f %8.2f %16.1f %10.1f %16.1f\n", sinkCount, rates.control, rates.plain,
            rates.control / rates.plain, controlNs, controlNs / directNs, plainNs);
    }

    // Pad libraries differ in how long a read waits: the latency, the idle
    // cost and the times of Start and Stop with each, side by side.
    printf("\nby how the pad library's read waits: latency from a report queued to its PenPoint (%d samples),\n"
           "the process's CPU while started with no input (%.1f s; Wine counts it in 10 ms ticks), and Start and\n"
           "Stop on a started object (%d rounds), in microseconds\n\n",
        latencySamples, idleMeasureMs / 1000.0, restartRounds);
    printf("%-16s %9s %9s %9s %12s %8s %11s %11s\n", "read waits", "median", "p99", "max", "idle CPU ms", "% core",
        "Start med", "Stop med");
    struct ReadMode {
        const char* name;
        int waitMs;
    };
    for (ReadMode mode : {ReadMode{"until input", -1}, ReadMode{"not at all", 0}, ReadMode{"up to 5 ms", 5}}) {
        vpad_set_read_wait(mode.waitMs);
        Bench bench(1);
        std::vector<double> latencies = bench.latencies(latencySamples);
        if (latencies.empty()) {
            printf("no latency sample arrived\n");
            return 1;
        }
        Figures latency = summarize(latencies);
        double idleMs = bench.idleCpuMs(idleMeasureMs);
        std::vector<double> starts, stops;
        bench.restartTimes(restartRounds, starts, stops);
        printf("%-16s %9.1f %9.1f %9.1f %12.0f %8.2f %11.0f %11.0f\n", mode.name, latency.median, latency.p99,
            latency.max, idleMs, idleMs / idleMeasureMs * 100.0, summarize(starts).median, summarize(stops).median);
    }
    return 0;
}
