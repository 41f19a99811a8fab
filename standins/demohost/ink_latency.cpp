// Latency figures of the ink, gathered on the window's thread.
#include "ink_latency.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

LONGLONG inkClock()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

void InkLatency::drawn(const std::vector<LONGLONG>& arrivals)
{
    LONGLONG now = inkClock();
    for (LONGLONG arrival : arrivals)
        samples.push_back(now - arrival);
}

std::string InkLatency::summary() const
{
    if (samples.empty())
        return std::string();
    std::vector<LONGLONG> sorted = samples;
    std::sort(sorted.begin(), sorted.end());
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    double msPerTick = 1000.0 / static_cast<double>(frequency.QuadPart);
    size_t n = sorted.size();
    size_t p99 = std::min(n - 1, static_cast<size_t>(std::ceil(n * 0.99)) - 1);
    char text[128];
    snprintf(text, sizeof text, "median %.2f ms, 99th percentile %.2f ms over %lu points",
        sorted[n / 2] * msPerTick, sorted[p99] * msPerTick, static_cast<unsigned long>(n));
    return text;
}
