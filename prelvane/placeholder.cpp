// Placeholder until the properties component lands.
#include <windows.h>
STDAPI DllRegisterServer() { return S_OK; }
STDAPI DllUnregisterServer() { return S_OK; }
