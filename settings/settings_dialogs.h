// The two modal dialogs that the settings page opens, each with the
// SignaturePad object as its creation parameter, and what the page and the
// dialogs share.
#pragma once

#include <windows.h>

class SignaturePad;

INT_PTR CALLBACK originPointDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK inkDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The object the page, a dialog or one of their controls keeps in its user data.
SignaturePad* windowObject(HWND window);

// Moves a dialog, without resizing it, so that its top-left corner lies 32
// pixels right of and below the pointer.
void moveBesidePointer(HWND dialog);
