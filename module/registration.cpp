// Placeholder until self-registration lands.
#include <windows.h>
#include "module.h"

STDAPI DllRegisterServer() { completeModuleStartup(); return S_OK; }
STDAPI DllUnregisterServer() { completeModuleStartup(); return S_OK; }
