// The Origin Point dialog: a blank picture of the pad, one pixel per pad
// unit, with a ring marker at the origin point. A click picks the marker up,
// it follows the mouse, a second click puts it down; Ok stores that point.
#include <windows.h>

#include "signature_pad.h"
#include "handles.h"
#include "module.h"
#include "settings_dialogs.h"
#include "settings_resources.h"

namespace {

constexpr char pictureClassName[] = "PadImage";
constexpr int markerRadius = 8;
constexpr COLORREF markerPenColor = RGB(128, 128, 128);
constexpr POINT noPoint = {-1, -1};

// Shared by every opening of the dialog: it carries the marker's state from
// one opening to the next.
bool markerPickedUp = false;
bool trackingLeave = false;
POINT markerPoint = noPoint;     // x == -1: no marker drawn
POINT chosenPoint = noPoint;     // the last put-down point; -1 in a coordinate: none

// Draws the marker in XOR mode: a grey ring whose black inside leaves the
// picture as it is. Drawing it twice at one point restores the picture.
void drawMarker(HDC dc, POINT at)
{
    UniqueGdiObject pen(CreatePen(PS_SOLID, 1, markerPenColor));
    UniqueGdiObject brush(CreateSolidBrush(RGB(0, 0, 0)));
    ScopedSelection penSelection(dc, pen.get());
    ScopedSelection brushSelection(dc, brush.get());
    SetROP2(dc, R2_XORPEN);
    Ellipse(dc, at.x - markerRadius, at.y - markerRadius, at.x + markerRadius, at.y + markerRadius);
}

void eraseMarker(HDC dc)
{
    if (markerPoint.x != -1)
        drawMarker(dc, markerPoint);
}

void moveMarker(HWND picture, POINT to)
{
    WindowDc dc(picture);
    eraseMarker(dc.get());
    markerPoint = to;
    drawMarker(dc.get(), markerPoint);
}

POINT messagePoint(LPARAM lParam)
{
    return {static_cast<LONG>(LOWORD(lParam)), static_cast<LONG>(HIWORD(lParam))};
}

void paintPicture(HWND picture)
{
    const SignaturePad* pad = windowObject(picture);
    PaintScope paint(picture);
    FillRect(paint.get(), &paint.invalidArea(), reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    POINT origin = {pad->originPoint.x, pad->originPoint.y};
    drawMarker(paint.get(), origin);
    markerPoint = origin;
}

void buttonDown(HWND picture, POINT at)
{
    if (markerPickedUp) {
        chosenPoint = at;
        markerPickedUp = false;
        return;
    }
    markerPickedUp = true;
    moveMarker(picture, at);
}

void mouseMove(HWND picture, POINT at)
{
    if ((at.x == markerPoint.x && at.y == markerPoint.y) || !markerPickedUp)
        return;
    if (!trackingLeave) {
        TRACKMOUSEEVENT request = {sizeof request, TME_LEAVE, picture, 0};
        TrackMouseEvent(&request);
        trackingLeave = true;
    }
    moveMarker(picture, at);
}

void mouseLeave(HWND picture)
{
    trackingLeave = false;
    if (!markerPickedUp)
        return;
    WindowDc dc(picture);
    eraseMarker(dc.get());
    markerPoint = noPoint;
}

LRESULT CALLBACK pictureProc(HWND picture, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        SetWindowLongPtrA(picture, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
        break;
    case WM_PAINT:
        paintPicture(picture);
        return 0;
    case WM_LBUTTONDOWN:
        buttonDown(picture, messagePoint(lParam));
        break;
    case WM_MOUSEMOVE:
        mouseMove(picture, messagePoint(lParam));
        break;
    case WM_MOUSELEAVE:
        mouseLeave(picture);
        break;
    }
    return DefWindowProcA(picture, message, wParam, lParam);
}

// Registered at every opening; from the second on the class exists already
// and the failure is of no consequence.
void registerPictureClass()
{
    WNDCLASSA pictureClass = {};
    pictureClass.style = CS_BYTEALIGNCLIENT | CS_BYTEALIGNWINDOW;
    pictureClass.lpfnWndProc = pictureProc;
    pictureClass.cbClsExtra = 32;
    pictureClass.cbWndExtra = 32;
    pictureClass.hInstance = moduleHandle;
    pictureClass.lpszClassName = pictureClassName;
    RegisterClassA(&pictureClass);
}

// Sizes the dialog around a picture of the pad, one pixel per pad unit, with
// the buttons below it, and opens it just below and right of the pointer.
void initializeDialog(HWND dialog, LPARAM object)
{
    SetWindowLongPtrA(dialog, GWLP_USERDATA, object);
    SignaturePad* pad = windowObject(dialog);
    int width = pad->LCDWidth();
    int height = pad->LCDHeight();

    registerPictureClass();
    CreateWindowExA(0, pictureClassName, "", WS_CHILD | WS_VISIBLE, 8, 64, width, height, dialog, nullptr,
                    moduleHandle, pad);

    HWND ok = GetDlgItem(dialog, IDC_ORIGIN_OK);
    RECT button;
    GetWindowRect(ok, &button);
    int buttonWidth = button.right - button.left;
    int buttonHeight = button.bottom - button.top;
    SetWindowPos(dialog, nullptr, 0, 0, width + 24, height + 122, SWP_NOMOVE | SWP_NOZORDER);
    int buttonTop = height + 90 - buttonHeight;
    SetWindowPos(ok, nullptr, 4, buttonTop, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SetWindowPos(GetDlgItem(dialog, IDC_ORIGIN_CANCEL), nullptr, buttonWidth + 12, buttonTop, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);

    moveBesidePointer(dialog);
}

void storeChosenPoint(HWND dialog)
{
    SignaturePad* pad = windowObject(dialog);
    if (chosenPoint.x != -1)
        pad->originPoint.x = chosenPoint.x;
    if (chosenPoint.y != -1)
        pad->originPoint.y = chosenPoint.y;
}

} // namespace

// Only Ok and Cancel end the dialog: the commands that Enter and Escape send
// are ignored.
INT_PTR CALLBACK originPointDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        initializeDialog(dialog, lParam);
    } else if (message == WM_COMMAND) {
        switch (LOWORD(wParam)) {
        case IDC_ORIGIN_OK:
            storeChosenPoint(dialog);
            EndDialog(dialog, IDC_ORIGIN_OK);
            break;
        case IDC_ORIGIN_CANCEL:
            EndDialog(dialog, IDC_ORIGIN_CANCEL);
            break;
        }
    }
    return FALSE;
}
