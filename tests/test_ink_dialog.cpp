// The Ink dialog, opened from the real settings sheet: the weight field with
// its up-down arrows, the colour chooser answered by the test, the swatch,
// and Ok and Cancel.
#include "settings_sheet.h"

#include <colordlg.h>

namespace {

constexpr int inkButton = 809;
constexpr int okButton = 1001;
constexpr int cancelButton = 1002;
constexpr int chooseColorButton = 1003;
constexpr int swatchField = 1004;
constexpr int weightField = 1005;
constexpr int weightArrows = 1006;

class InkDialog : public SettingsTest {
protected:
    // Runs steps on the Ink dialog opened from a new sheet, which is then
    // closed with the given button.
    void withDialog(const std::function<void(const SettingsSheet& sheet, HWND dialog)>& steps,
                    int sheetButton = PSBTN_OK)
    {
        EXPECT_EQ(showSettingsSheet(pad.get(), [&](const SettingsSheet& sheet) {
            HWND dialog = openInk(sheet);
            ASSERT_TRUE(dialog) << "the Ink dialog did not open";
            steps(sheet, dialog);
            EXPECT_TRUE(waitForClosed(dialog)) << "the dialog stayed open";
            pressSheetButton(sheet, sheetButton);
        }), S_OK);
    }

    static HWND openInk(const SettingsSheet& sheet)
    {
        postClick(sheet.page, inkButton);
        return waitForDialog(sheet.pageThread, "Ink");
    }

    // Presses "...", answers the colour chooser with this colour and OK (or
    // Cancel), and waits until the chooser is gone.
    static void chooseColor(const SettingsSheet& sheet, HWND dialog, COLORREF color, bool accept = true)
    {
        postClick(dialog, chooseColorButton);
        HWND chooser = waitForDialog(sheet.pageThread, "Color");
        ASSERT_TRUE(chooser) << "the colour chooser did not open";
        SetDlgItemInt(chooser, COLOR_RED, GetRValue(color), FALSE);
        SetDlgItemInt(chooser, COLOR_GREEN, GetGValue(color), FALSE);
        SetDlgItemInt(chooser, COLOR_BLUE, GetBValue(color), FALSE);
        PostMessageA(chooser, WM_COMMAND, accept ? IDOK : IDCANCEL, 0);
        ASSERT_TRUE(waitForClosed(chooser));
    }

    static COLORREF chooserColorShown(HWND chooser)
    {
        return RGB(GetDlgItemInt(chooser, COLOR_RED, nullptr, FALSE),
                   GetDlgItemInt(chooser, COLOR_GREEN, nullptr, FALSE),
                   GetDlgItemInt(chooser, COLOR_BLUE, nullptr, FALSE));
    }
};

// Clicks the upper or lower half of the arrows.
void clickArrow(HWND dialog, bool up)
{
    HWND arrows = GetDlgItem(dialog, weightArrows);
    RECT client;
    GetClientRect(arrows, &client);
    LPARAM point = MAKELPARAM(client.right / 2, up ? client.bottom / 4 : client.bottom * 3 / 4);
    postAndFlush(arrows, WM_LBUTTONDOWN, MK_LBUTTON, point);
    postAndFlush(arrows, WM_LBUTTONUP, 0, point);
}

std::string weightShown(HWND dialog)
{
    return dialogItemText(dialog, weightField);
}

} // namespace

TEST_F(InkDialog, OpensBesideThePointerWithTheWeightItsArrowsAndTheSwatch)
{
    withDialog([&](const SettingsSheet&, HWND dialog) {
        DWORD style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE));
        EXPECT_EQ(style & 0xD0C00044, 0xD0C00044u);
        EXPECT_EQ(style & WS_SYSMENU, 0u);
        RECT outer;
        GetWindowRect(dialog, &outer);
        EXPECT_EQ(outer.left, parkedPointer.x + 32);
        EXPECT_EQ(outer.top, parkedPointer.y + 32);

        struct Expected {
            int id;
            const char* text;
            int x, y, width, height;
        };
        const Expected controls[] = {
            {-1, "Please choose the weight and color of the ink.", 8, 8, 176, 14},
            {-1, "Weight:", 8, 26, 24, 12},
            {weightField, "2", 34, 22, 24, 14},
            {-1, "Color:", 82, 26, 24, 12},
            {swatchField, "", 106, 22, 20, 14},
            {chooseColorButton, "...", 128, 22, 20, 14},
            {okButton, "Ok", 4, 44, 32, 14},
            {cancelButton, "Cancel", 40, 44, 32, 14},
        };
        HWND child = GetWindow(dialog, GW_CHILD);
        for (const Expected& control : controls) {
            ASSERT_NE(child, nullptr);
            SCOPED_TRACE(control.text);
            EXPECT_EQ(GetDlgCtrlID(child), control.id);
            EXPECT_EQ(windowText(child), control.text);
            RECT rect = clientRectOf(child);
            RECT units = dialogUnits(dialog, control.x, control.y, control.width, control.height);
            EXPECT_TRUE(EqualRect(&rect, &units));
            child = GetWindow(child, GW_HWNDNEXT);
        }
        EXPECT_TRUE(GetWindowLongA(GetDlgItem(dialog, weightField), GWL_STYLE) & ES_NUMBER);
        EXPECT_FALSE(isEnabled(dialog, swatchField));

        // The arrows follow the field: created last, buddied to it, 1 to 16.
        HWND arrows = GetDlgItem(dialog, weightArrows);
        ASSERT_EQ(child, arrows);
        char name[64] = "";
        GetClassNameA(arrows, name, sizeof name);
        EXPECT_STREQ(name, "msctls_updown32");
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(arrows, GWL_STYLE)), 0x50000002u);
        EXPECT_EQ(reinterpret_cast<HWND>(SendMessageA(arrows, UDM_GETBUDDY, 0, 0)), GetDlgItem(dialog, weightField));
        EXPECT_EQ(SendMessageA(arrows, UDM_GETRANGE, 0, 0), 0x00010010);
        EXPECT_EQ(LOWORD(SendMessageA(arrows, UDM_GETPOS, 0, 0)), 2);
        RECT field = clientRectOf(GetDlgItem(dialog, weightField));
        RECT client;
        GetClientRect(dialog, &client);
        MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&client), 2);
        LONG rightFrame = outer.right - client.right;
        LONG bottomFrame = outer.bottom - client.bottom;
        RECT placed = clientRectOf(arrows);
        EXPECT_EQ(placed.left, field.right + 2 - rightFrame);
        EXPECT_EQ(placed.top, field.top + 2 - bottomFrame);
        EXPECT_EQ(placed.bottom - placed.top, field.bottom - field.top);

        // The swatch shows the ink's colour (black) and no text.
        HWND swatch = GetDlgItem(dialog, swatchField);
        GetClientRect(swatch, &client);
        // The dialog paints after it opens: wait for the swatch's own paint.
        EXPECT_TRUE(waitUntil([&] {
            return pixelAt(swatch, 1, 1) == RGB(0, 0, 0)
                && pixelAt(swatch, client.right / 2, client.bottom / 2) == RGB(0, 0, 0);
        })) << "the swatch never showed black";
        postClick(dialog, cancelButton);
    });
}

TEST_F(InkDialog, ArrowsStepWithinOneToSixteenAndOkStoresTheShownWeight)
{
    withDialog([&](const SettingsSheet&, HWND dialog) {
        for (int click = 0; click < 3; ++click)
            clickArrow(dialog, true);
        EXPECT_EQ(weightShown(dialog), "5");
        EXPECT_EQ(pad->InkWeight(), 2);     // stored by Ok only
        postClick(dialog, okButton);
    });
    EXPECT_EQ(pad->InkWeight(), 5);

    withDialog([&](const SettingsSheet&, HWND dialog) {
        SetDlgItemTextA(dialog, weightField, "15");
        clickArrow(dialog, true);
        EXPECT_EQ(weightShown(dialog), "16");
        clickArrow(dialog, true);
        EXPECT_EQ(weightShown(dialog), "16");
        SetDlgItemTextA(dialog, weightField, "2");
        clickArrow(dialog, false);
        EXPECT_EQ(weightShown(dialog), "1");
        clickArrow(dialog, false);
        EXPECT_EQ(weightShown(dialog), "1");
        postClick(dialog, okButton);
    });
    EXPECT_EQ(pad->InkWeight(), 1);
}

TEST_F(InkDialog, TypedWeightsAreNotLimitedAndConvertLikeAtol)
{
    const struct {
        const char* text;
        LONG weight;
    } cases[] = {
        {"40", 40},
        {"7abc", 7},
        {"", 0},
        {"  -12", -12},
        {"                              12", 1},    // cut to its first 31 characters
        {"99999999999", 2147483647},                // held at the largest weight
    };
    withDialog([&](const SettingsSheet& sheet, HWND first) {
        HWND dialog = first;
        for (const auto& example : cases) {
            SCOPED_TRACE(example.text);
            SetDlgItemTextA(dialog, weightField, example.text);
            postClick(dialog, okButton);
            ASSERT_TRUE(waitForClosed(dialog));
            EXPECT_EQ(pad->InkWeight(), example.weight);
            dialog = openInk(sheet);
            ASSERT_TRUE(dialog);
        }
        postClick(dialog, cancelButton);
    });
}

TEST_F(InkDialog, AChosenColourIsStoredAtOnceAndCancelPutsTheColourOfOpeningBack)
{
    withDialog([&](const SettingsSheet& sheet, HWND dialog) {
        HWND swatch = GetDlgItem(dialog, swatchField);
        chooseColor(sheet, dialog, RGB(200, 10, 30));
        EXPECT_EQ(pad->InkColor(), RGB(200, 10, 30));
        EXPECT_TRUE(waitUntil([&] { return pixelAt(swatch, 2, 2) == RGB(200, 10, 30); }));

        // The chooser opens on the current colour; its Cancel changes nothing.
        postClick(dialog, chooseColorButton);
        HWND chooser = waitForDialog(sheet.pageThread, "Color");
        ASSERT_TRUE(chooser);
        EXPECT_EQ(chooserColorShown(chooser), RGB(200, 10, 30));
        PostMessageA(chooser, WM_COMMAND, IDCANCEL, 0);
        ASSERT_TRUE(waitForClosed(chooser));
        chooseColor(sheet, dialog, RGB(1, 2, 3), false);
        EXPECT_EQ(pad->InkColor(), RGB(200, 10, 30));
        EXPECT_EQ(pixelAt(swatch, 2, 2), RGB(200, 10, 30));

        postClick(dialog, cancelButton);
    });
    EXPECT_EQ(pad->InkColor(), RGB(0, 0, 0));
    EXPECT_EQ(pad->InkWeight(), 2);
}

TEST_F(InkDialog, TwoColoursInTurnThenOkKeepTheSecond)
{
    withDialog([&](const SettingsSheet& sheet, HWND dialog) {
        chooseColor(sheet, dialog, RGB(0, 128, 255));
        chooseColor(sheet, dialog, RGB(90, 60, 30));
        postClick(dialog, okButton);
    });
    EXPECT_EQ(pad->InkColor(), RGB(90, 60, 30));
}

TEST_F(InkDialog, EnterAndEscapeLeaveTheDialogOpen)
{
    withDialog([&](const SettingsSheet&, HWND dialog) {
        HWND field = GetDlgItem(dialog, weightField);
        SetDlgItemTextA(dialog, weightField, "");
        postAndFlush(field, WM_KEYDOWN, VK_RETURN, 0);
        postAndFlush(field, WM_KEYDOWN, VK_ESCAPE, 0);
        postAndFlush(dialog, WM_KEYDOWN, VK_RETURN, 0);
        postAndFlush(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
        postAndFlush(field, WM_CHAR, '8', 0);
        EXPECT_TRUE(IsWindowVisible(dialog));
        EXPECT_EQ(weightShown(dialog), "8");
        postClick(dialog, okButton);
    });
    EXPECT_EQ(pad->InkWeight(), 8);
}
