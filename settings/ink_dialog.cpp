// The Ink dialog: the ink's weight in a number field with arrows from 1 to
// 16, and its colour in a swatch with a "..." button that opens the colour
// chooser. A chosen colour is stored at once and Cancel puts the colour of
// the moment of opening back; the weight is stored by Ok only.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <cstdlib>

#include "signature_pad.h"
#include "handles.h"
#include "module.h"
#include "settings_dialogs.h"
#include "settings_resources.h"

namespace {

constexpr int lowestArrowWeight = 1;
constexpr int highestArrowWeight = 16;
constexpr int arrowsWidth = 30;

// Shared by every opening of the dialog.
COLORREF savedInkColor = 0;        // the colour at opening, for Cancel
WNDPROC previousSwatchProc = nullptr;

// The swatch is a disabled edit field that paints its client area in the
// ink's colour; its own procedure keeps the border.
LRESULT CALLBACK swatchProc(HWND swatch, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_PAINT)
        return CallWindowProcA(previousSwatchProc, swatch, message, wParam, lParam);
    UniqueGdiObject brush(CreateSolidBrush(windowObject(swatch)->inkColor));
    PaintScope paint(swatch);
    FillRect(paint.get(), &paint.invalidArea(), static_cast<HBRUSH>(brush.get()));
    return 0;
}

// Puts the up-down arrows just right of the weight field, exactly as tall as
// it: the field's rectangle is taken relative to the dialog's outer corner
// and the frames' share of the difference is taken off again.
void createWeightArrows(HWND dialog, HWND weightField)
{
    RECT dialogRect;
    RECT field;
    GetWindowRect(dialog, &dialogRect);
    GetWindowRect(weightField, &field);
    OffsetRect(&field, -dialogRect.left, -dialogRect.top);
    int fieldWidth = field.right - field.left;
    int fieldHeight = field.bottom - field.top;
    RECT adjusted = field;
    AdjustWindowRect(&adjusted, static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE)), FALSE);
    int adjustedWidth = adjusted.right - adjusted.left;
    int adjustedHeight = adjusted.bottom - adjusted.top;

    HWND arrows = CreateWindowExA(0, UPDOWN_CLASSA, "", WS_CHILD | WS_VISIBLE | UDS_SETBUDDYINT,
                                  field.right + 2 + fieldWidth - adjustedWidth,
                                  field.top + 2 + fieldHeight - adjustedHeight, arrowsWidth, fieldHeight, dialog,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_INK_WEIGHT_ARROWS)),
                                  moduleHandle, nullptr);
    SendMessageA(arrows, UDM_SETRANGE, 0, MAKELPARAM(highestArrowWeight, lowestArrowWeight));
    auto* pad = windowObject(dialog);
    SendMessageA(arrows, UDM_SETPOS, 0, LOWORD(pad->inkWeight));
    SendMessageA(arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(weightField), 0);
}

void initializeDialog(HWND dialog, LPARAM object)
{
    SetWindowLongPtrA(dialog, GWLP_USERDATA, object);
    SignaturePad* pad = windowObject(dialog);
    HWND swatch = GetDlgItem(dialog, IDC_INK_SWATCH);
    SetWindowLongPtrA(swatch, GWLP_USERDATA, object);
    previousSwatchProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(swatch, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(swatchProc)));
    EnableWindow(swatch, FALSE);

    char weight[16];
    wsprintfA(weight, "%ld", static_cast<long>(pad->inkWeight));
    HWND weightField = GetDlgItem(dialog, IDC_INK_WEIGHT);
    SetWindowTextA(weightField, weight);
    createWeightArrows(dialog, weightField);
    savedInkColor = pad->inkColor;

    moveBesidePointer(dialog);
}

// Read like atol (leading blanks, a sign, the digits up to the first other
// character, 0 when none), but a number too large for the weight is held at
// the nearest limit rather than left undefined. Arrows' range is not applied.
void storeWeight(HWND dialog)
{
    char text[32] = "";
    GetDlgItemTextA(dialog, IDC_INK_WEIGHT, text, sizeof text);
    windowObject(dialog)->inkWeight = strtol(text, nullptr, 10);
}

// Each opening of the chooser starts from the same blank custom colours.
void chooseColor(HWND dialog)
{
    SignaturePad* pad = windowObject(dialog);
    COLORREF customColors[16];
    for (COLORREF& color : customColors)
        color = 0xFFFFFFFF;
    CHOOSECOLORA chooser = {};
    chooser.lStructSize = sizeof chooser;
    chooser.hwndOwner = dialog;
    chooser.hInstance = reinterpret_cast<HWND>(moduleHandle);
    chooser.rgbResult = pad->inkColor;
    chooser.lpCustColors = customColors;
    chooser.Flags = CC_RGBINIT | CC_FULLOPEN;
    if (!ChooseColorA(&chooser))
        return;
    pad->inkColor = chooser.rgbResult;
    InvalidateRect(GetDlgItem(dialog, IDC_INK_SWATCH), nullptr, TRUE);
}

} // namespace

// Only Ok and Cancel end the dialog: the commands that Enter and Escape send
// are ignored.
INT_PTR CALLBACK inkDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        initializeDialog(dialog, lParam);
    } else if (message == WM_COMMAND) {
        switch (LOWORD(wParam)) {
        case IDC_INK_OK:
            storeWeight(dialog);
            EndDialog(dialog, IDC_INK_OK);
            break;
        case IDC_INK_CANCEL:
            windowObject(dialog)->inkColor = savedInkColor;
            EndDialog(dialog, IDC_INK_CANCEL);
            break;
        case IDC_INK_CHOOSE_COLOR:
            chooseColor(dialog);
            break;
        }
    }
    return FALSE;
}
