#include "allocation_failure.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

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

// Points every import of `name` in the module at `replacement`; returns how
// many import slots were changed and stores what they held in `previous`.
int redirectImport(HMODULE module, const char* name, void* replacement, void** previous)
{
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress)
        return 0;
    int changed = 0;
    for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); library->Name;
         ++library) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0)
                continue;
            DWORD oldProtection;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &oldProtection);
            *previous = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, oldProtection, &oldProtection);
            ++changed;
        }
    }
    return changed;
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
