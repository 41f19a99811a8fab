// The settings page: the dialog procedure of template 800, which the page
// client hands to the properties component in its page record.
#pragma once

#include <windows.h>

INT_PTR CALLBACK settingsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
