// What a process holds, counted from outside the code under test: its open
// handles, its threads and the memory blocks one module has taken from the
// C runtime. Stress tests compare these before and after many cycles.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "handles.h"

struct ResourceCounts {
    long handles = -1;      // -1: could not be counted
    long threads = -1;
};

// Handles open in this process, from the system's handle list (under Wine 8
// GetProcessHandleCount answers 0 whatever the process holds).
long processHandleCount();
// Threads of this process, from a Toolhelp snapshot.
long processThreadCount();
// The counts once the process has `threads` threads, or the last ones taken
// when it has not after the wait: a thread that has ended leaves the
// process's list a moment after its handle signals.
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
    // Runs `action` on the thread that frees `block`, just before it goes.
    // One block is watched at a time, until another is or this object goes.
    void watchFree(const void* block, std::function<void()> action);

private:
    HMODULE module;
    int patchedSlots = 0;
};

// Whether the process is back where the baseline found it once it is down to
// the baseline's threads: no handle and no block of the module's gone
// missing, and none kept beyond `threadRecords` of each.
//
// In the MinGW build the thread library (winpthreads) gives each thread that
// touches a thread_local variable (the virtual pad's, on the control's reader
// threads; the control itself uses a native slot) a record of 480 bytes with
// an event, and keeps the records of ended threads for reuse. When more such
// threads run at once than before, the pool grows by a record: so the process
// may keep up to one handle (and, in the module that has the variable, one
// block) for each reader that ran at the same time, never one per object or
// per cycle.
::testing::AssertionResult backToBaseline(const ResourceCounts& baseline, const ModuleAllocations& allocations,
    long threadRecords);

// This test program run again as a second process that runs one test only
// (`--gtest_filter`), with `role` in the environment variable
// TALLOWMARK_TEST_ROLE. The destructor waits for it and ends it when it
// does not finish.
class TestChildProcess {
public:
    TestChildProcess(const char* testName, const std::string& role);
    ~TestChildProcess();
    TestChildProcess(const TestChildProcess&) = delete;
    TestChildProcess& operator=(const TestChildProcess&) = delete;

    bool started() const { return static_cast<bool>(process); }
    // The exit code, or STILL_ACTIVE when it did not end within the wait.
    DWORD exitCode(DWORD timeoutMs = 60000);

private:
    UniqueHandle process;
};

// The role a TestChildProcess gave this process; empty in a test run.
std::string testChildRole();

// A named event that one process of a test sets and another waits for.
UniqueHandle testEvent(const std::string& name);
