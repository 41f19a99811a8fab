// The settings page's dialog procedure, handed to the properties component in
// the page description.
#pragma once

#include <windows.h>

INT_PTR CALLBACK settingsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
