// Module-wide state of the properties component's server.
#pragma once

#include <windows.h>

extern HINSTANCE serverModule;

// Every live object and every LockServer(TRUE) holds the module loaded.
void lockServer();
void unlockServer();

// The two classes the server makes.
HRESULT createPrelvane(REFIID riid, void** object);
HRESULT createPrelvanePropertyPage(REFIID riid, void** object);
