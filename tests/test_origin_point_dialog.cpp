// The Origin Point dialog, opened from the real settings sheet: the picture
// of the pad, the XOR marker moved with posted mouse messages, Ok and Cancel,
// and the marker's state carried from one opening to the next.
#include "settings_sheet.h"

namespace {

constexpr int originPointButton = 808;
constexpr int okButton = 901;
constexpr int cancelButton = 902;
constexpr COLORREF ringColor = RGB(127, 127, 127);    // grey pen XOR white
constexpr COLORREF blank = RGB(255, 255, 255);

const char instructions[] =
    "Click the mouse to pick up the origin point, then, \rmove the mouse and click again to set the point.\r"
    "Or, double click the desired location.";

class OriginPointDialog : public SettingsTest {
protected:
    // Runs steps on the Origin Point dialog opened from a new sheet; the
    // sheet is then closed with OK.
    void withDialog(const std::function<void(HWND dialog, HWND picture)>& steps)
    {
        EXPECT_EQ(showSettingsSheet(pad.get(), [&](const SettingsSheet& sheet) {
            postClick(sheet.page, originPointButton);
            HWND dialog = waitForDialog(sheet.pageThread, "Origin Point");
            ASSERT_TRUE(dialog) << "the Origin Point dialog did not open";
            HWND picture = FindWindowExA(dialog, nullptr, "PadImage", nullptr);
            ASSERT_TRUE(picture);
            // The first paint draws the marker at the stored origin and fills
            // the picture: a click made before it would be painted over.
            LONG originX = pad->OriginPointX(), originY = pad->OriginPointY();
            ASSERT_TRUE(waitUntil([&] {
                return pixelAt(picture, originX + 7, originY) == ringColor && !GetUpdateRect(picture, nullptr, FALSE);
            })) << "the picture was never painted";
            steps(dialog, picture);
            EXPECT_TRUE(waitForClosed(dialog)) << "the dialog stayed open";
            pressSheetButton(sheet, PSBTN_OK);
        }), S_OK);
    }
};

void mouse(HWND picture, UINT message, int x, int y)
{
    postAndFlush(picture, message, message == WM_LBUTTONDOWN ? MK_LBUTTON : 0, MAKELPARAM(x, y));
}

void click(HWND picture, int x, int y) { mouse(picture, WM_LBUTTONDOWN, x, y); }
void move(HWND picture, int x, int y) { mouse(picture, WM_MOUSEMOVE, x, y); }

// The ring passes through the points 8 left of and 7 below its centre.
bool markerAt(HWND picture, int x, int y)
{
    return pixelAt(picture, x - 8, y) == ringColor && pixelAt(picture, x, y + 7) == ringColor;
}

bool noMarkerAt(HWND picture, int x, int y)
{
    return pixelAt(picture, x - 8, y) == blank && pixelAt(picture, x, y + 7) == blank;
}

void press(HWND dialog, int button)
{
    postClick(dialog, button);
}

} // namespace

TEST_F(OriginPointDialog, OpensBesideThePointerAroundAOnePixelPerUnitPictureWithTheMarkerAtTheOrigin)
{
    withDialog([&](HWND dialog, HWND picture) {
        DWORD style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE));
        EXPECT_EQ(style & 0xD0C00044, 0xD0C00044u);
        EXPECT_EQ(style & WS_SYSMENU, 0u);
        EXPECT_TRUE(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
        EXPECT_EQ(dialogItemText(dialog, -1), instructions);

        RECT outer;
        GetWindowRect(dialog, &outer);
        EXPECT_EQ(outer.left, parkedPointer.x + 32);
        EXPECT_EQ(outer.top, parkedPointer.y + 32);
        EXPECT_EQ(outer.right - outer.left, padWidth + 24);
        EXPECT_EQ(outer.bottom - outer.top, padHeight + 122);

        RECT image = clientRectOf(picture);
        EXPECT_EQ(image.left, 8);
        EXPECT_EQ(image.top, 64);
        EXPECT_EQ(image.right - image.left, padWidth);
        EXPECT_EQ(image.bottom - image.top, padHeight);
        EXPECT_EQ(GetClassLongA(picture, GCL_STYLE), CS_BYTEALIGNCLIENT | CS_BYTEALIGNWINDOW);

        RECT ok = clientRectOf(GetDlgItem(dialog, okButton));
        RECT cancel = clientRectOf(GetDlgItem(dialog, cancelButton));
        LONG buttonWidth = ok.right - ok.left;
        LONG buttonHeight = ok.bottom - ok.top;
        EXPECT_EQ(ok.left, 4);
        EXPECT_EQ(ok.top, padHeight + 90 - buttonHeight);
        EXPECT_EQ(cancel.left, buttonWidth + 12);
        EXPECT_EQ(cancel.top, ok.top);
        EXPECT_EQ(windowText(GetDlgItem(dialog, okButton)), "Ok");
        EXPECT_EQ(windowText(GetDlgItem(dialog, cancelButton)), "Cancel");

        // Origin 0, 0: only the quarter of the ring inside the picture shows.
        EXPECT_TRUE(waitUntil([&] { return pixelAt(picture, 7, 0) == ringColor; }));
        EXPECT_EQ(pixelAt(picture, 0, 7), ringColor);
        EXPECT_EQ(pixelAt(picture, 3, 3), blank);
        press(dialog, okButton);
    });
    EXPECT_EQ(pad->OriginPointX(), 0);
    EXPECT_EQ(pad->OriginPointY(), 0);
}

TEST_F(OriginPointDialog, AClickPicksTheMarkerUpItFollowsTheMouseAndTheNextClickPutsItDown)
{
    withDialog([&](HWND dialog, HWND picture) {
        move(picture, 150, 100);                    // not picked up: nothing drawn
        click(picture, 50, 60);                     // pick up
        EXPECT_TRUE(markerAt(picture, 50, 60));
        EXPECT_TRUE(noMarkerAt(picture, 150, 100));
        EXPECT_EQ(pixelAt(picture, 7, 0), blank);   // taken from the origin
        move(picture, 120, 90);
        EXPECT_TRUE(markerAt(picture, 120, 90));
        EXPECT_TRUE(noMarkerAt(picture, 50, 60));
        click(picture, 120, 90);                    // put down: stays drawn
        EXPECT_TRUE(markerAt(picture, 120, 90));
        move(picture, 200, 150);                    // resting again
        EXPECT_TRUE(markerAt(picture, 120, 90));
        EXPECT_TRUE(noMarkerAt(picture, 200, 150));
        press(dialog, okButton);
    });
    EXPECT_EQ(pad->OriginPointX(), 120);
    EXPECT_EQ(pad->OriginPointY(), 90);
}

TEST_F(OriginPointDialog, LeavingThePictureErasesTheMarkerAndTheNextMoveDrawsItUnderThePointer)
{
    withDialog([&](HWND dialog, HWND picture) {
        click(picture, 60, 60);
        move(picture, 70, 65);
        ASSERT_TRUE(markerAt(picture, 70, 65));
        mouse(picture, WM_MOUSELEAVE, 0, 0);
        EXPECT_TRUE(noMarkerAt(picture, 70, 65));
        move(picture, 250, 40);
        EXPECT_TRUE(markerAt(picture, 250, 40));
        click(picture, 250, 40);
        press(dialog, okButton);
    });
    EXPECT_EQ(pad->OriginPointX(), 250);
    EXPECT_EQ(pad->OriginPointY(), 40);
}

TEST_F(OriginPointDialog, ADoubleClickStoresThePoint)
{
    withDialog([&](HWND dialog, HWND picture) {
        click(picture, 30, 45);
        click(picture, 30, 45);
        EXPECT_TRUE(markerAt(picture, 30, 45));
        press(dialog, okButton);
    });
    EXPECT_EQ(pad->OriginPointX(), 30);
    EXPECT_EQ(pad->OriginPointY(), 45);
}

TEST_F(OriginPointDialog, ARepaintDrawsTheMarkerAtTheStoredOriginNotAtThePutDownPoint)
{
    withDialog([&](HWND dialog, HWND picture) {
        click(picture, 90, 90);
        click(picture, 90, 90);
        RedrawWindow(picture, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        EXPECT_TRUE(noMarkerAt(picture, 90, 90));
        EXPECT_EQ(pixelAt(picture, 7, 0), ringColor);
        press(dialog, okButton);
    });
}

TEST_F(OriginPointDialog, CancelStoresNothingButTheStateCarriesToTheNextOpening)
{
    withDialog([&](HWND dialog, HWND picture) {
        click(picture, 70, 80);
        click(picture, 70, 80);
        press(dialog, cancelButton);
    });
    EXPECT_EQ(pad->OriginPointX(), 0);
    EXPECT_EQ(pad->OriginPointY(), 0);

    // The put-down point is still chosen: Ok alone stores it.
    withDialog([&](HWND dialog, HWND) { press(dialog, okButton); });
    EXPECT_EQ(pad->OriginPointX(), 70);
    EXPECT_EQ(pad->OriginPointY(), 80);

    // Closed while picked up: at the next opening it follows the first move.
    withDialog([&](HWND dialog, HWND picture) {
        click(picture, 40, 40);
        press(dialog, cancelButton);
    });
    withDialog([&](HWND dialog, HWND picture) {
        ASSERT_TRUE(waitUntil([&] { return markerAt(picture, 70, 80); }));   // painted at the origin point
        move(picture, 160, 120);
        EXPECT_TRUE(markerAt(picture, 160, 120));
        EXPECT_TRUE(noMarkerAt(picture, 70, 80));
        click(picture, 160, 120);
        press(dialog, okButton);
    });
    EXPECT_EQ(pad->OriginPointX(), 160);
    EXPECT_EQ(pad->OriginPointY(), 120);
}

TEST_F(OriginPointDialog, EnterAndEscapeLeaveTheDialogOpen)
{
    withDialog([&](HWND dialog, HWND picture) {
        postAndFlush(dialog, WM_KEYDOWN, VK_RETURN, 0);
        postAndFlush(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
        postAndFlush(GetDlgItem(dialog, okButton), WM_KEYDOWN, VK_ESCAPE, 0);
        EXPECT_TRUE(IsWindowVisible(dialog));
        click(picture, 20, 30);
        EXPECT_TRUE(markerAt(picture, 20, 30));
        press(dialog, cancelButton);
    });
}

TEST_F(OriginPointDialog, BeforeLoadThePadsSizeIsUnknownAndThePictureHasNoArea)
{
    ComPtr<ISignaturePad> unloaded = control().create();
    ASSERT_TRUE(unloaded);
    EXPECT_EQ(showSettingsSheet(unloaded.get(), [&](const SettingsSheet& sheet) {
        postClick(sheet.page, originPointButton);
        HWND dialog = waitForDialog(sheet.pageThread, "Origin Point");
        ASSERT_TRUE(dialog);
        RECT outer;
        GetWindowRect(dialog, &outer);
        EXPECT_EQ(outer.right - outer.left, 24);
        EXPECT_EQ(outer.bottom - outer.top, 122);
        RECT ok = clientRectOf(GetDlgItem(dialog, okButton));
        EXPECT_EQ(ok.top, 90 - (ok.bottom - ok.top));
        postClick(dialog, okButton);
        EXPECT_TRUE(waitForClosed(dialog));
        pressSheetButton(sheet, PSBTN_CANCEL);
    }), S_OK);
    EXPECT_EQ(unloaded->OriginPointX(), 0);
}
