// Points a loaded module's imports of one function elsewhere, so a test can
// watch or refuse what that module asks of the C runtime.
#pragma once

#include <windows.h>

// Points every import of `name` in the module at `replacement`; returns how
// many import slots were changed and stores what they held in `previous`.
int redirectImport(HMODULE module, const char* name, void* replacement, void** previous);
