// Makes memory allocations of one loaded module fail on demand, by pointing
// its imports of the C runtime's malloc at a stand-in that can refuse.
#pragma once

#include <windows.h>

class AllocationFailure {
public:
    explicit AllocationFailure(HMODULE module);
    ~AllocationFailure();
    AllocationFailure(const AllocationFailure&) = delete;
    AllocationFailure& operator=(const AllocationFailure&) = delete;

    // True when the module's malloc imports were found and redirected.
    bool installed() const { return patchedSlots != 0; }
    // The allocation that follows `successes` more successful ones fails;
    // every other succeeds.
    void failAfter(int successes);
    // Allocations refused so far.
    long long failures() const;

private:
    HMODULE module;
    int patchedSlots = 0;
};
