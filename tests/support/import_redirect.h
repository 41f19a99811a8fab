// Points a loaded module's imports of one function elsewhere, so a test can
// watch or refuse what that module asks of the C runtime or the system.
#pragma once

#include <windows.h>

// Points every import of `name` in the module at `replacement`; returns how
// many import slots were changed and stores what they held in `previous`.
int redirectImport(HMODULE module, const char* name, void* replacement, void** previous);

// The same for as long as the object lives.
class RedirectedImport {
public:
    RedirectedImport(HMODULE module, const char* name, void* replacement);
    ~RedirectedImport();
    RedirectedImport(const RedirectedImport&) = delete;
    RedirectedImport& operator=(const RedirectedImport&) = delete;

    bool installed() const { return changed > 0; }
    // The function the imports named before.
    void* original() const { return previous; }

private:
    HMODULE module;
    const char* name;
    void* previous = nullptr;
    int changed = 0;
};
