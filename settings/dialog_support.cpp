// What the settings page and its dialogs share.
#include "settings_dialogs.h"

SignaturePad* windowObject(HWND window)
{
    return reinterpret_cast<SignaturePad*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

void moveBesidePointer(HWND dialog)
{
    constexpr int pointerOffset = 32;
    POINT cursor;
    GetCursorPos(&cursor);
    SetWindowPos(dialog, nullptr, cursor.x + pointerOffset, cursor.y + pointerOffset, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);
}
