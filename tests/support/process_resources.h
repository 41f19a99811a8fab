// What a process holds, counted from outside the code under test: its open
// handles, its threads and the memory blocks one module has taken from the
// C runtime. Stress tests compare these before and after many cycles.
#pragma once

#include <windows.h>

#include <atomic>
#include <ostream>

struct ResourceCounts {
    long handles = -1;      // -1: could not be counted
    long threads = -1;
    bool operator==(const ResourceCounts& other) const
    {
        return handles == other.handles && threads == other.threads;
    }
};
void PrintTo(const ResourceCounts& counts, std::ostream* os);

// Handles open in this process, from the system's handle list (under Wine 8
// GetProcessHandleCount answers 0 whatever the process holds).
long processHandleCount();
// Threads of this process, from a Toolhelp snapshot.
long processThreadCount();
ResourceCounts resourceCounts();
// The counts once they equal `expected`, or the last ones taken when they
// have not after the wait: a thread that has ended leaves the process's list
// a moment after its handle signals.
ResourceCounts settledCounts(const ResourceCounts& expected, DWORD timeoutMs = 5000);
// The counts once the process has `threads` threads, or the last ones taken.
ResourceCounts countsWithThreads(long threads, DWORD timeoutMs = 5000);

// Counts the blocks that one module allocates through its imports of the C
// runtime (malloc, calloc, realloc, _strdup) and frees through free, from
// construction to destruction. One instance at a time.
class ModuleAllocations {
public:
    explicit ModuleAllocations(HMODULE module);
    ~ModuleAllocations();
    ModuleAllocations(const ModuleAllocations&) = delete;
    ModuleAllocations& operator=(const ModuleAllocations&) = delete;

    // True when the module's malloc and free imports were found and redirected.
    bool installed() const;
    // Blocks allocated and not freed since construction; negative when more
    // blocks allocated before it were freed than new ones kept.
    long long live() const;
    // Blocks allocated since construction.
    long long allocated() const;

private:
    HMODULE module;
    int patchedSlots = 0;
};
