#include "allocation_failure.h"
#include "import_redirect.h"

#include <atomic>
#include <cstdlib>

namespace {

using Malloc = void*(__cdecl*)(size_t);

Malloc realMalloc = nullptr;
// Counts down to the refused allocation; negative when none is due.
std::atomic<long long> allocationsBeforeFailure{-1};
std::atomic<long long> refused{0};

void* __cdecl refusingMalloc(size_t size)
{
    if (allocationsBeforeFailure.load() >= 0 && allocationsBeforeFailure.fetch_sub(1) == 0) {
        ++refused;
        return nullptr;
    }
    return realMalloc(size);
}

} // namespace

AllocationFailure::AllocationFailure(HMODULE module) : module(module)
{
    refused = 0;
    void* previous = nullptr;
    patchedSlots = redirectImport(module, "malloc", reinterpret_cast<void*>(refusingMalloc), &previous);
    if (patchedSlots)
        realMalloc = reinterpret_cast<Malloc>(previous);
}

AllocationFailure::~AllocationFailure()
{
    allocationsBeforeFailure = -1;
    void* ours = nullptr;
    if (patchedSlots)
        redirectImport(module, "malloc", reinterpret_cast<void*>(realMalloc), &ours);
}

void AllocationFailure::failAfter(int successes)
{
    allocationsBeforeFailure = successes;
}

long long AllocationFailure::failures() const
{
    return refused;
}
