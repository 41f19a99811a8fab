// The two modal dialogs that the settings page opens, each with the
// SignaturePad object as its creation parameter.
#pragma once

#include <windows.h>

INT_PTR CALLBACK originPointDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK inkDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
