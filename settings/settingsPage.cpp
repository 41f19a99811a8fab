// Placeholder until the settings page lands.
#include "settingsPage.h"

INT_PTR CALLBACK settingsPageProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}
