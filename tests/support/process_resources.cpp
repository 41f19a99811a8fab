#include "process_resources.h"
#include "import_redirect.h"

#include <tlhelp32.h>

#include <cstdlib>
#include <vector>

#include "handles.h"

namespace {

// The system's handle list as NtQuerySystemInformation gives it for
// SystemExtendedHandleInformation.
constexpr ULONG systemExtendedHandleInformation = 64;
constexpr LONG statusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

struct HandleEntry {
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR handleValue;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG handleAttributes;
    ULONG reserved;
};

struct HandleList {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};

using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

// The C runtime's allocation functions as the module imported them.
using Malloc = void*(__cdecl*)(size_t);
using Calloc = void*(__cdecl*)(size_t, size_t);
using Realloc = void*(__cdecl*)(void*, size_t);
using Free = void(__cdecl*)(void*);
using Strdup = char*(__cdecl*)(const char*);

Malloc realMalloc = nullptr;
Calloc realCalloc = nullptr;
Realloc realRealloc = nullptr;
Free realFree = nullptr;
Strdup realStrdup = nullptr;

std::atomic<long long> liveBlocks{0};
std::atomic<long long> allocatedBlocks{0};
std::atomic<const void*> watchedBlock{nullptr};
std::function<void()> watchedBlockFreed;

void counted(const void* block)
{
    if (block) {
        ++liveBlocks;
        ++allocatedBlocks;
    }
}

void* __cdecl countingMalloc(size_t size)
{
    void* block = realMalloc(size);
    counted(block);
    return block;
}

void* __cdecl countingCalloc(size_t count, size_t size)
{
    void* block = realCalloc(count, size);
    counted(block);
    return block;
}

// realloc of null allocates; realloc to size 0 frees and gives null.
void* __cdecl countingRealloc(void* block, size_t size)
{
    void* moved = realRealloc(block, size);
    if (!block)
        counted(moved);
    else if (size == 0 && !moved)
        --liveBlocks;
    return moved;
}

void __cdecl countingFree(void* block)
{
    if (block && block == watchedBlock.load())
        watchedBlockFreed();
    if (block)
        --liveBlocks;
    realFree(block);
}

char* __cdecl countingStrdup(const char* text)
{
    char* copy = realStrdup(text);
    counted(copy);
    return copy;
}

struct Redirection {
    const char* name;
    void* replacement;
    void** real;
};

const Redirection redirections[] = {
    {"malloc", reinterpret_cast<void*>(countingMalloc), reinterpret_cast<void**>(&realMalloc)},
    {"calloc", reinterpret_cast<void*>(countingCalloc), reinterpret_cast<void**>(&realCalloc)},
    {"realloc", reinterpret_cast<void*>(countingRealloc), reinterpret_cast<void**>(&realRealloc)},
    {"free", reinterpret_cast<void*>(countingFree), reinterpret_cast<void**>(&realFree)},
    {"_strdup", reinterpret_cast<void*>(countingStrdup), reinterpret_cast<void**>(&realStrdup)},
};

} // namespace

long processHandleCount()
{
    auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return -1;
    std::vector<BYTE> buffer(256 * 1024);
    LONG status;
    ULONG needed = 0;
    while ((status = query(systemExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                &needed)) == statusInfoLengthMismatch)
        buffer.resize(buffer.size() * 2);
    if (status < 0)
        return -1;
    const auto* list = reinterpret_cast<const HandleList*>(buffer.data());
    ULONG_PTR self = GetCurrentProcessId();
    long count = 0;
    for (ULONG_PTR i = 0; i < list->count; ++i) {
        if (list->entries[i].processId == self)
            ++count;
    }
    return count;
}

long processThreadCount()
{
    UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot)
        return -1;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    DWORD self = GetCurrentProcessId();
    long count = 0;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == self)
            ++count;
    }
    return count;
}

namespace {

ResourceCounts resourceCounts()
{
    ResourceCounts counts;
    // The snapshot's own handle is closed before the handles are counted.
    counts.threads = processThreadCount();
    counts.handles = processHandleCount();
    return counts;
}

} // namespace

ResourceCounts countsWithThreads(long threads, DWORD timeoutMs)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    ResourceCounts counts = resourceCounts();
    while (counts.threads != threads && GetTickCount64() < deadline) {
        Sleep(10);
        counts = resourceCounts();
    }
    return counts;
}

ModuleAllocations::ModuleAllocations(HMODULE module) : module(module)
{
    for (const Redirection& redirection : redirections)
        *redirection.real = nullptr;
    liveBlocks = 0;
    allocatedBlocks = 0;
    for (const Redirection& redirection : redirections)
        patchedSlots += redirectImport(module, redirection.name, redirection.replacement, redirection.real);
}

ModuleAllocations::~ModuleAllocations()
{
    watchedBlock = nullptr;
    void* ours = nullptr;
    for (const Redirection& redirection : redirections) {
        if (*redirection.real)
            redirectImport(module, redirection.name, *redirection.real, &ours);
    }
}

bool ModuleAllocations::installed() const
{
    return patchedSlots > 0 && realMalloc && realFree;
}

long long ModuleAllocations::live() const
{
    return liveBlocks;
}

long long ModuleAllocations::allocated() const
{
    return allocatedBlocks;
}

void ModuleAllocations::watchFree(const void* block, std::function<void()> action)
{
    watchedBlock = nullptr;
    watchedBlockFreed = std::move(action);
    watchedBlock = block;
}

::testing::AssertionResult backToBaseline(const ResourceCounts& baseline, const ModuleAllocations& allocations,
    long threadRecords)
{
    ResourceCounts counts = countsWithThreads(baseline.threads);
    long long live = allocations.live();
    long keptHandles = counts.handles - baseline.handles;
    if (counts.threads == baseline.threads && keptHandles >= 0 && keptHandles <= threadRecords && live >= 0 &&
        live <= threadRecords)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "threads " << counts.threads << " (were " << baseline.threads
                                         << "), handles " << counts.handles << " (were " << baseline.handles
                                         << "), live blocks of the module " << live << ", at most "
                                         << threadRecords << " kept allowed";
}

namespace {

const char roleVariable[] = "TALLOWMARK_TEST_ROLE";

} // namespace

TestChildProcess::TestChildProcess(const char* testName, const std::string& role)
{
    char program[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string commandLine = "\"" + std::string(program) + "\" --gtest_filter=" + testName;
    // The child inherits the variable; this process goes on without it.
    SetEnvironmentVariableA(roleVariable, role.c_str());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        CloseHandle(info.hThread);
        process.reset(info.hProcess);
    }
    SetEnvironmentVariableA(roleVariable, nullptr);
    EXPECT_TRUE(process) << commandLine;
}

TestChildProcess::~TestChildProcess()
{
    if (process && exitCode() == STILL_ACTIVE) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
    }
}

DWORD TestChildProcess::exitCode(DWORD timeoutMs)
{
    DWORD code = STILL_ACTIVE;
    if (process && WaitForSingleObject(process.get(), timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.get(), &code);
    return code;
}

std::string testChildRole()
{
    char role[256] = "";
    DWORD length = GetEnvironmentVariableA(roleVariable, role, sizeof role);
    return length < sizeof role ? std::string(role, length) : std::string();
}

UniqueHandle testEvent(const std::string& name)
{
    return UniqueHandle(CreateEventA(nullptr, TRUE, FALSE, ("Local\\tallowmark-test-" + name).c_str()));
}
