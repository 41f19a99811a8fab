// The settings page through the real sheet: ShowProperties opens it on the
// test's thread and a second thread drives it with window messages.
#include "settings_sheet.h"
#include "pad_settings.h"
#include "process_resources.h"

#include <colordlg.h>
#include <commctrl.h>
#include <algorithm>
#include <cstdlib>

namespace {

constexpr int padWidthField = 802;
constexpr int originPointButton = 808;
constexpr int inkButton = 809;
constexpr int firstRow = 810;
constexpr int penwrightRow = 811;
constexpr int scriptelRow = 813;
constexpr int corvanneRow = 814;
constexpr int lastRow = 814;
constexpr int secondDescription = 816;
constexpr int padChoiceLabel = 830;
constexpr int padChangeNote = 831;
constexpr int adminWarning = 832;
constexpr int noId = -1;
constexpr int originOkButton = 901;
constexpr int originCancelButton = 902;
constexpr int inkOkButton = 1001;
constexpr int inkCancelButton = 1002;
constexpr int inkChooseColorButton = 1003;
constexpr int inkWeightField = 1005;

const char padChangeNoteText[] =
    "Note: When you change the active signature pad and re-sign documents signed with a different pad you should "
    "choose \"Forget\" on the signing control panel to re-specify the location to sign.\nIf you change the pad, "
    "any other settings made above will not be saved.";
const char adminWarningText[] =
    "Changing the Signature pad requires administrative privileges.\nPlease run Tallowmark \"As Administrator\" to "
    "change the signature pad.";

class SettingsPage : public SettingsTest {
protected:
    // Sets the width text and closes the sheet with OK.
    void setWidthAndPressOk(const char* text) { setWidthAndPressOk(pad.get(), text); }
    void setWidthAndPressOk(ISignaturePad* object, const char* text)
    {
        EXPECT_EQ(showSettingsSheet(object, [&](const SettingsSheet& sheet) {
            SetDlgItemTextA(sheet.page, padWidthField, text);
            pressSheetButton(sheet, PSBTN_OK);
        }), S_OK);
    }
};

// Another object of the module changes the ink weight alone.
PadSettings inkWeightChanged()
{
    PadSettings settings;
    settings.inkWeight = 8;
    return settings;
}

// Run again as the second process of a case, the fixture makes nothing and
// removes nothing: the first process owns the settings file.
class SettingsPageTwoProcesses : public SettingsPage {
protected:
    void SetUp() override
    {
        if (testChildRole().empty())
            SettingsPage::SetUp();
    }
    void TearDown() override
    {
        if (testChildRole().empty())
            SettingsPage::TearDown();
    }
};

bool checked(HWND page, int id)
{
    return SendDlgItemMessageA(page, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::vector<int> controlIds(HWND page, bool enabledOnly)
{
    std::vector<int> ids;
    for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!enabledOnly || IsWindowEnabled(child))
            ids.push_back(GetDlgCtrlID(child));
    }
    return ids;
}

std::vector<int> everyControl(HWND page) { return controlIds(page, false); }
std::vector<int> enabledControls(HWND page) { return controlIds(page, true); }

// Renames rows just before the page procedure sees WM_INITDIALOG, so that
// several captions hold the product name "Scriptel".
LRESULT CALLBACK renameRowsBeforeInit(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code >= 0 && call->message == WM_INITDIALOG && GetDlgItem(call->hwnd, scriptelRow)) {
        SetDlgItemTextA(call->hwnd, penwrightRow, "Scriptel Classic serial pads");
        SetDlgItemTextA(call->hwnd, corvanneRow, "Scriptel ProScript pads");
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::vector<COLORREF> pixelsOf(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    std::vector<COLORREF> pixels;
    WindowDc dc(window);
    for (int y = 0; y < client.bottom; ++y) {
        for (int x = 0; x < client.right; ++x)
            pixels.push_back(GetPixel(dc.get(), x, y));
    }
    return pixels;
}

} // namespace

TEST_F(SettingsPage, TemplateHoldsTheDescribedControlsInOrder)
{
    struct Expected {
        int id;
        const char* className;
        int x, y, width, height;
        DWORD type;           // low bits: the static's or button's kind
        DWORD style;          // further bits that must be set
        const char* text;     // null: checked separately
    };
    const Expected expected[] = {
        {noId, "Static", 10, 16, 80, 14, SS_LEFT, WS_GROUP, "This pad should occupy"},
        {padWidthField, "Edit", 90, 12, 32, 12, 0, WS_TABSTOP | ES_CENTER, " 4.25"},
        {noId, "Static", 126, 16, 160, 14, SS_LEFT, WS_GROUP, "inches in width on the document"},
        {noId, "Static", 10, 30, 240, 24, SS_LEFT, WS_GROUP,
         "Note: The pad width setting effectively changes the zoom factor of the pad over the document."},
        {noId, "Static", 10, 54, 224, 30, SS_LEFT, WS_GROUP,
         "The \"Origin Point\" is a point inside the rectangle of the pad which you can use to set the origin of "
         "the signature. Click Origin Point to set this value"},
        {originPointButton, "Button", 10, 84, 48, 14, BS_PUSHBUTTON, WS_TABSTOP, "Origin Point"},
        {noId, "Static", 64, 90, 142, 12, SS_LEFT, WS_GROUP, "Press Ink to set the width and color of lines"},
        {inkButton, "Button", 208, 84, 32, 14, BS_PUSHBUTTON, WS_TABSTOP, "Ink"},
        {padChoiceLabel, "Static", 10, 110, 224, 12, SS_LEFT, WS_GROUP, "Choose your active signature pad"},
        {810, "Button", 16, 124, 256, 12, BS_AUTORADIOBUTTON, 0, nullptr},
        {811, "Button", 16, 162, 256, 12, BS_AUTORADIOBUTTON, 0, nullptr},
        {812, "Button", 16, 176, 256, 12, BS_AUTORADIOBUTTON, 0, nullptr},
        {813, "Button", 16, 190, 256, 12, BS_AUTORADIOBUTTON, 0, "Scriptel"},
        {814, "Button", 16, 204, 256, 12, BS_AUTORADIOBUTTON, 0, nullptr},
        {815, "Static", 32, 138, 256, 12, SS_LEFT, WS_GROUP, nullptr},
        {816, "Static", 32, 150, 256, 12, SS_LEFT, WS_GROUP, nullptr},
        {adminWarning, "Static", 10, 250, 256, 32, SS_LEFT, WS_GROUP, ""},
        {padChangeNote, "Static", 10, 284, 236, 44, SS_LEFT, WS_GROUP, padChangeNoteText},
    };
    EXPECT_EQ(showSettingsSheet(pad.get(), [&](const SettingsSheet& sheet) {
        EXPECT_EQ(windowText(sheet.sheet), " Properties");
        HWND tabs = reinterpret_cast<HWND>(SendMessageA(sheet.sheet, PSM_GETTABCONTROL, 0, 0));
        char title[128] = "";
        TCITEMA tab = {};
        tab.mask = TCIF_TEXT;
        tab.pszText = title;
        tab.cchTextMax = sizeof title;
        SendMessageA(tabs, TCM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tab));
        EXPECT_STREQ(title, "Scriptel ST-1500 LCD");
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(sheet.page, GWL_STYLE)) & (WS_CHILD | DS_SETFONT | DS_3DLOOK),
                  static_cast<DWORD>(WS_CHILD | DS_SETFONT | DS_3DLOOK));
        EXPECT_TRUE(GetWindowLongA(sheet.page, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);

        HWND child = GetWindow(sheet.page, GW_CHILD);
        for (const Expected& control : expected) {
            ASSERT_NE(child, nullptr) << "missing control " << control.id;
            SCOPED_TRACE(::testing::Message() << "control " << control.id << " " << windowText(child));
            EXPECT_EQ(GetDlgCtrlID(child), control.id);
            char name[64] = "";
            GetClassNameA(child, name, sizeof name);
            EXPECT_STREQ(name, control.className);
            RECT rect = clientRectOf(child);
            RECT units = dialogUnits(sheet.page, control.x, control.y, control.width, control.height);
            EXPECT_EQ(rect.left, units.left);
            EXPECT_EQ(rect.top, units.top);
            EXPECT_EQ(rect.right, units.right);
            EXPECT_EQ(rect.bottom, units.bottom);
            DWORD style = static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE));
            if (strcmp(control.className, "Edit") != 0) {
                EXPECT_EQ(style & 0x1F, control.type);
            }
            EXPECT_EQ(style & (WS_CHILD | control.style), WS_CHILD | control.style);
            // The dialog manager adds WS_EX_NOPARENTNOTIFY, and Wine's edit
            // control draws WS_BORDER as a client edge.
            EXPECT_EQ(GetWindowLongA(child, GWL_EXSTYLE) & ~(WS_EX_NOPARENTNOTIFY | WS_EX_CLIENTEDGE), 0);
            if (control.text) {
                EXPECT_EQ(windowText(child), control.text);
            } else {
                EXPECT_FALSE(windowText(child).empty());
                EXPECT_EQ(windowText(child).find("Scriptel"), std::string::npos);
            }
            child = GetWindow(child, GW_HWNDNEXT);
        }
        EXPECT_EQ(child, nullptr) << "unexpected control " << GetDlgCtrlID(child);
        pressSheetButton(sheet, PSBTN_CANCEL);
    }), S_OK);
}

TEST_F(SettingsPage, OpensWithTheWidthTheScriptelRowAndTwoSnapshotsAndCancelSavesNothing)
{
    long savesBefore = saveCount(properties.get());
    EXPECT_EQ(showSettingsSheet(pad.get(), [&](const SettingsSheet& sheet) {
        EXPECT_EQ(dialogItemText(sheet.page, padWidthField), " 4.25");
        for (int id = firstRow; id <= lastRow; ++id)
            EXPECT_EQ(checked(sheet.page, id), id == scriptelRow) << id;
        EXPECT_EQ(snapshotDepth(properties.get()), 2);
        EXPECT_EQ(enabledControls(sheet.page), everyControl(sheet.page));
        EXPECT_FALSE(isVisible(sheet.page, adminWarning));
        EXPECT_TRUE(isVisible(sheet.page, padChangeNote));
        pressSheetButton(sheet, PSBTN_CANCEL);
    }), S_OK);
    EXPECT_EQ(snapshotDepth(properties.get()), 0);
    EXPECT_EQ(saveCount(properties.get()), savesBefore);
    EXPECT_TRUE(services.padChanges().empty());
    EXPECT_EQ(pad->WidthInInches(), 4.25);
}

TEST_F(SettingsPage, OkWithTheActiveRowSavesOnceAndDropsBothSnapshots)
{
    long savesBefore = saveCount(properties.get());
    setWidthAndPressOk("4.5 inches");
    EXPECT_EQ(pad->WidthInInches(), 4.5);
    EXPECT_EQ(saveCount(properties.get()), savesBefore + 1);
    EXPECT_EQ(snapshotDepth(properties.get()), 0);
    EXPECT_TRUE(services.padChanges().empty());
}

// Another object made before the OK and released after it saves only what
// it changed itself; one that changed nothing writes nothing.
TEST_F(SettingsPage, AnOkSurvivesTheReleaseOfObjectsMadeBeforeIt)
{
    ComPtr<ISignaturePad> unchanged = control().create();
    ComPtr<ISignaturePad> changed = control().create();
    loadSettingsInto(changed.get(), inkWeightChanged());
    setWidthAndPressOk("5.75");
    std::string saved = readFile(settingsFileFor());
    unchanged.reset();
    EXPECT_EQ(readFile(settingsFileFor()), saved);
    changed.reset();
    PadSettings stored = readPadSettings(readFile(settingsFileFor()));
    EXPECT_EQ(stored.padWidthInches, 5.75);
    EXPECT_EQ(stored.inkWeight, 8);
}

// The same with the earlier object in a second process.
TEST_F(SettingsPageTwoProcesses, AnOkSurvivesTheReleaseOfAnObjectMadeBeforeItInAnotherProcess)
{
    std::string role = testChildRole();
    std::string run = role.empty() ? std::to_string(GetCurrentProcessId()) : role;
    UniqueHandle made = testEvent("page-ok-made-" + run);
    UniqueHandle release = testEvent("page-ok-release-" + run);
    ASSERT_TRUE(made && release);
    if (!role.empty()) {
        ComPtr<ISignaturePad> earlier = control().create();
        loadSettingsInto(earlier.get(), inkWeightChanged());
        SetEvent(made.get());
        EXPECT_EQ(WaitForSingleObject(release.get(), 60000), WAIT_OBJECT_0);
        return;
    }
    TestChildProcess other("SettingsPageTwoProcesses.AnOkSurvivesTheReleaseOfAnObjectMadeBeforeItInAnotherProcess",
                           run);
    ASSERT_TRUE(other.started());
    ASSERT_EQ(WaitForSingleObject(made.get(), 60000), WAIT_OBJECT_0) << "the second process made no object";
    setWidthAndPressOk("5.75");
    SetEvent(release.get());
    EXPECT_EQ(other.exitCode(), 0u);
    PadSettings stored = readPadSettings(readFile(settingsFileFor()));
    EXPECT_EQ(stored.padWidthInches, 5.75);
    EXPECT_EQ(stored.inkWeight, 8);
}

// An object made while another program held the file open has the defaults.
// While the file stays held its page's OK writes nothing; once it is free,
// the page reads it first, and its OK keeps every other stored setting.
class SettingsPageReadVariants : public SettingsPage, public ::testing::WithParamInterface<const char*> {};

TEST_P(SettingsPageReadVariants, AFileHeldOpenAtConstructionIsReadByThePageAndKeepsTheOtherSettings)
{
    PrelvaneReadVariant variant(GetParam());
    PadSettings stored;
    stored.padWidthInches = 5.5;
    stored.timeoutPeriod = 30.0;
    stored.inkWeight = 4;
    stored.originX = 75;
    stored.inkColor = RGB(0, 0, 160);
    const std::string storedText = settingsfile::format(settingsEntries(stored));
    writeTextFile(settingsFileFor(), storedText);
    UniqueFile holder(CreateFileA(settingsFileFor().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    ComPtr<ISignaturePad> madeWhileHeld = control().create();
    ComPtr<ISignaturePad> editedWhileHeld = control().create();
    EXPECT_EQ(editedWhileHeld->WidthInInches(), 4.25);
    EXPECT_EQ(editedWhileHeld->InkWeight(), 2);
    setWidthAndPressOk(editedWhileHeld.get(), "7");
    holder.reset();
    EXPECT_EQ(readFile(settingsFileFor()), storedText);

    EXPECT_EQ(showSettingsSheet(madeWhileHeld.get(), [&](const SettingsSheet& sheet) {
        EXPECT_EQ(dialogItemText(sheet.page, padWidthField), " 5.50");
        EXPECT_EQ(madeWhileHeld->InkWeight(), 4);
        SetDlgItemTextA(sheet.page, padWidthField, "6.25");
        pressSheetButton(sheet, PSBTN_OK);
    }), S_OK);
    PadSettings expected = stored;
    expected.padWidthInches = 6.25;
    std::string savedText = settingsfile::format(settingsEntries(expected));
    EXPECT_EQ(readFile(settingsFileFor()), savedText);

    // The width OK'd while the file was held is still the object's own
    // change: its next save keeps it over what the file holds.
    EXPECT_EQ(showSettingsSheet(editedWhileHeld.get(), [&](const SettingsSheet& sheet) {
        EXPECT_EQ(dialogItemText(sheet.page, padWidthField), " 7.00");
        EXPECT_EQ(editedWhileHeld->InkWeight(), 4);
        pressSheetButton(sheet, PSBTN_OK);
    }), S_OK);
    expected.padWidthInches = 7;
    EXPECT_EQ(readFile(settingsFileFor()), settingsfile::format(settingsEntries(expected)));
}

INSTANTIATE_TEST_SUITE_P(Components, SettingsPageReadVariants, ::testing::ValuesIn(prelvaneReadVariants));

TEST_F(SettingsPage, WidthTextIsReadLikeAtofWithoutARangeCheck)
{
    const struct {
        const char* text;
        double width;
    } cases[] = {
        {"inches: 5", 0.0}, {"  7.375xyz", 7.375}, {"-3", -3.0}, {"", 0.0}, {"1e2", 100.0}, {"12.5", 12.5},
    };
    for (const auto& example : cases) {
        setWidthAndPressOk(example.text);
        EXPECT_EQ(pad->WidthInInches(), example.width) << example.text;
    }
    EXPECT_EQ(showSettingsSheet(pad.get(), [&](const SettingsSheet& sheet) {
        EXPECT_EQ(dialogItemText(sheet.page, padWidthField), "12.50");
        pressSheetButton(sheet, PSBTN_CANCEL);
    }), S_OK);
}

TEST_F(SettingsPage, AVeryLargeWidthIsShownWholeAndReadBackUnchanged)
{
    setWidthAndPressOk("1e300");
    ASSERT_EQ(pad->WidthInInches(), 1e300);
    EXPECT_EQ(showSettingsSheet(pad.get(), [&](const SettingsSheet& sheet) {
        std::string shown = dialogItemText(sheet.page, padWidthField);
        EXPECT_EQ(shown.size(), 304u);      // 301 digits, the point and two decimals
        EXPECT_EQ(shown.substr(shown.size() - 3), ".00");
        EXPECT_EQ(strtod(shown.c_str(), nullptr), 1e300);
        pressSheetButton(sheet, PSBTN_APPLYNOW);
        pressSheetButton(sheet, PSBTN_OK);
    }), S_OK);
    EXPECT_EQ(pad->WidthInInches(), 1e300);
}

TEST_F(SettingsPage, AnotherRowLeavesOnlyThePadChoiceEnabledUntilTheActiveRowIsChosenAgain)
{
    EXPECT_EQ(showSettingsSheet(pad.get(), [&](const SettingsSheet& sheet) {
        SendDlgItemMessageA(sheet.page, penwrightRow, BM_CLICK, 0, 0);
        EXPECT_TRUE(checked(sheet.page, penwrightRow));
        EXPECT_FALSE(checked(sheet.page, scriptelRow));
        EXPECT_EQ(enabledControls(sheet.page),
                  (std::vector<int>{padChoiceLabel, 810, 811, 812, 813, 814, 815, 816, padChangeNote}));
        SendDlgItemMessageA(sheet.page, scriptelRow, BM_CLICK, 0, 0);
        EXPECT_EQ(enabledControls(sheet.page), everyControl(sheet.page));
        pressSheetButton(sheet, PSBTN_CANCEL);
    }), S_OK);
}

TEST_F(SettingsPage, OkWithAnotherRowAsksTheHostToSwitchAndDoesNotSave)
{
    long savesBefore = saveCount(properties.get());
    EXPECT_EQ(showSettingsSheet(pad.get(), [&](const SettingsSheet& sheet) {
        SetDlgItemTextA(sheet.page, padWidthField, "5.5");
        SendDlgItemMessageA(sheet.page, corvanneRow, BM_CLICK, 0, 0);
        pressSheetButton(sheet, PSBTN_OK);
    }), S_OK);
    EXPECT_EQ(services.padChanges(), std::vector<std::wstring>{L"CorvannePad.dll"});
    EXPECT_EQ(saveCount(properties.get()), savesBefore);
    EXPECT_EQ(snapshotDepth(properties.get()), 0);
    // The width stays in the object, to be saved when it goes.
    EXPECT_EQ(pad->WidthInInches(), 5.5);
}

TEST_F(SettingsPage, OkWithAnotherRowBeforeLoadSwitchesNothingAndDoesNotSave)
{
    ComPtr<ISignaturePad> unloaded = control().create();
    ComPtr<IPrelvane> itsProperties = propertiesOf(unloaded.get());
    ASSERT_TRUE(itsProperties);
    long savesBefore = saveCount(itsProperties.get());
    EXPECT_EQ(showSettingsSheet(unloaded.get(), [&](const SettingsSheet& sheet) {
        SendDlgItemMessageA(sheet.page, penwrightRow, BM_CLICK, 0, 0);
        pressSheetButton(sheet, PSBTN_OK);
    }), S_OK);
    EXPECT_TRUE(services.padChanges().empty());
    EXPECT_EQ(saveCount(itsProperties.get()), savesBefore);
    EXPECT_EQ(snapshotDepth(itsProperties.get()), 0);
}

TEST_F(SettingsPage, ApplyThenCancelReturnsTheWidthToItsValueAtOpening)
{
    long savesBefore = saveCount(properties.get());
    EXPECT_EQ(showSettingsSheet(pad.get(), [&](const SettingsSheet& sheet) {
        SetDlgItemTextA(sheet.page, padWidthField, "6.5");
        pressSheetButton(sheet, PSBTN_APPLYNOW);
        EXPECT_EQ(pad->WidthInInches(), 6.5);       // read on this thread while the page waits
        EXPECT_EQ(snapshotDepth(properties.get()), 2);
        EXPECT_EQ(saveCount(properties.get()), savesBefore);
        pressSheetButton(sheet, PSBTN_CANCEL);
    }), S_OK);
    EXPECT_EQ(pad->WidthInInches(), 4.25);
    EXPECT_EQ(snapshotDepth(properties.get()), 0);
    EXPECT_EQ(saveCount(properties.get()), savesBefore);
}

TEST_F(SettingsPage, CancelReturnsTheOriginPointAndInkToTheirValuesAtOpening)
{
    EXPECT_EQ(showSettingsSheet(pad.get(), [&](const SettingsSheet& sheet) {
        postClick(sheet.page, originPointButton);
        HWND origin = waitForDialog(sheet.pageThread, "Origin Point");
        ASSERT_TRUE(origin);
        HWND picture = FindWindowExA(origin, nullptr, "PadImage", nullptr);
        postAndFlush(picture, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(33, 44));
        postAndFlush(picture, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(33, 44));
        postClick(origin, originOkButton);
        ASSERT_TRUE(waitForClosed(origin));
        EXPECT_EQ(pad->OriginPointX(), 33);

        postClick(sheet.page, inkButton);
        HWND ink = waitForDialog(sheet.pageThread, "Ink");
        ASSERT_TRUE(ink);
        SetDlgItemTextA(ink, inkWeightField, "9");
        postClick(ink, inkOkButton);
        ASSERT_TRUE(waitForClosed(ink));
        EXPECT_EQ(pad->InkWeight(), 9);
        pressSheetButton(sheet, PSBTN_CANCEL);
    }), S_OK);
    EXPECT_EQ(pad->OriginPointX(), 0);
    EXPECT_EQ(pad->OriginPointY(), 0);
    EXPECT_EQ(pad->InkWeight(), 2);
}

TEST_F(SettingsPage, TheFirstRowNamingTheProductWinsAndTheScriptelRowNamesThisModule)
{
    UniqueHook hook(SetWindowsHookExA(WH_CALLWNDPROC, renameRowsBeforeInit, nullptr, GetCurrentThreadId()));
    ASSERT_TRUE(hook);
    long savesBefore = saveCount(properties.get());
    EXPECT_EQ(showSettingsSheet(pad.get(), [&](const SettingsSheet& sheet) {
        EXPECT_TRUE(checked(sheet.page, penwrightRow));
        EXPECT_FALSE(checked(sheet.page, scriptelRow));
        EXPECT_FALSE(checked(sheet.page, corvanneRow));
        pressSheetButton(sheet, PSBTN_OK);
    }), S_OK);
    EXPECT_EQ(saveCount(properties.get()), savesBefore + 1);
    EXPECT_TRUE(services.padChanges().empty());

    // The Penwright row is now the active one: the Scriptel row is a change.
    EXPECT_EQ(showSettingsSheet(pad.get(), [&](const SettingsSheet& sheet) {
        SendDlgItemMessageA(sheet.page, scriptelRow, BM_CLICK, 0, 0);
        pressSheetButton(sheet, PSBTN_OK);
    }), S_OK);
    EXPECT_EQ(services.padChanges(), std::vector<std::wstring>{L"SignaturePad.dll"});
    EXPECT_EQ(saveCount(properties.get()), savesBefore + 1);
}

TEST_F(SettingsPage, AUserWhoIsNotAnAdministratorSeesTheNoticeInRedAndCannotChangeThePad)
{
    NonAdministratorThread user;
    ASSERT_TRUE(user.active()) << "cannot run the page's thread without the Administrators group";
    long savesBefore = saveCount(properties.get());
    EXPECT_EQ(showSettingsSheet(pad.get(), [&](const SettingsSheet& sheet) {
        EXPECT_TRUE(isVisible(sheet.page, adminWarning));
        EXPECT_EQ(dialogItemText(sheet.page, adminWarning), adminWarningText);
        EXPECT_FALSE(isVisible(sheet.page, padChangeNote));
        for (int id = firstRow; id <= secondDescription; ++id)
            EXPECT_FALSE(isEnabled(sheet.page, id)) << id;
        for (int id : {padWidthField, originPointButton, inkButton, padChoiceLabel})
            EXPECT_TRUE(isEnabled(sheet.page, id)) << id;
        EXPECT_TRUE(checked(sheet.page, scriptelRow));

        // Repainting a part draws the same text in the same place. The
        // sheet may still be painting itself when it appears, so the whole
        // label is painted until it shows the same twice, and the check is
        // made up to three times; a misplaced text fails every time.
        HWND label = GetDlgItem(sheet.page, adminWarning);
        RECT client;
        GetClientRect(label, &client);
        RECT lowerPart = {client.left, 7, client.right, client.bottom};
        bool samePicture = false;
        for (int attempt = 0; attempt < 3 && !samePicture; ++attempt) {
            std::vector<COLORREF> whole;
            for (int paint = 0; paint < 20; ++paint) {
                RedrawWindow(label, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
                std::vector<COLORREF> again = pixelsOf(label);
                if (again == whole)
                    break;
                whole = std::move(again);
            }
            EXPECT_NE(std::count(whole.begin(), whole.end(), RGB(255, 0, 0)), 0) << "no red text";
            RedrawWindow(label, &lowerPart, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
            samePicture = pixelsOf(label) == whole;
        }
        EXPECT_TRUE(samePicture) << "a partial repaint moved the text";

        SetDlgItemTextA(sheet.page, padWidthField, "3.75");
        pressSheetButton(sheet, PSBTN_OK);
    }), S_OK);
    EXPECT_EQ(pad->WidthInInches(), 3.75);
    EXPECT_EQ(saveCount(properties.get()), savesBefore + 1);
    EXPECT_TRUE(services.padChanges().empty());
}

// Pictures of the sheet and its dialogs for the documentation, taken when
// TALLOWMARK_SCREENSHOTS names the folder to write them to
// (docs/screenshots/capture.sh does).
class Screenshots : public SettingsTest {
protected:
    void SetUp() override
    {
        char path[MAX_PATH] = "";
        if (!GetEnvironmentVariableA("TALLOWMARK_SCREENSHOTS", path, sizeof path))
            GTEST_SKIP() << "TALLOWMARK_SCREENSHOTS is not set";
        folder = path;
        SettingsTest::SetUp();
    }

    static void repaint(HWND window)
    {
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    }

    void save(HWND window, const char* name)
    {
        Sleep(500);     // the display catches up with the window's painting
        std::string path = folder + "\\" + name;
        EXPECT_TRUE(saveWindowImage(window, path)) << path;
        EXPECT_TRUE(fileExists(path)) << path;
    }

    std::string folder;
};

TEST_F(Screenshots, SettingsSheetOriginPointAndInkDialogs)
{
    EXPECT_EQ(showSettingsSheet(pad.get(), [&](const SettingsSheet& sheet) {
        repaint(sheet.sheet);
        save(sheet.sheet, "settings-sheet.png");

        postClick(sheet.page, originPointButton);
        HWND origin = waitForDialog(sheet.pageThread, "Origin Point");
        ASSERT_TRUE(origin);
        repaint(origin);    // a repaint draws the marker at the origin: before it is picked up
        HWND picture = FindWindowExA(origin, nullptr, "PadImage", nullptr);
        postAndFlush(picture, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(150, 90));
        save(origin, "origin-point-dialog.png");
        postClick(origin, originCancelButton);
        ASSERT_TRUE(waitForClosed(origin));

        postClick(sheet.page, inkButton);
        HWND ink = waitForDialog(sheet.pageThread, "Ink");
        ASSERT_TRUE(ink);
        postClick(ink, inkChooseColorButton);
        HWND chooser = waitForDialog(sheet.pageThread, "Color");
        ASSERT_TRUE(chooser);
        SetDlgItemInt(chooser, COLOR_RED, 0, FALSE);
        SetDlgItemInt(chooser, COLOR_GREEN, 0, FALSE);
        SetDlgItemInt(chooser, COLOR_BLUE, 160, FALSE);
        PostMessageA(chooser, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(waitForClosed(chooser));
        SetDlgItemTextA(ink, inkWeightField, "3");
        repaint(ink);
        save(ink, "ink-dialog.png");
        postClick(ink, inkCancelButton);
        ASSERT_TRUE(waitForClosed(ink));
        pressSheetButton(sheet, PSBTN_CANCEL);
    }), S_OK);

    NonAdministratorThread user;
    ASSERT_TRUE(user.active());
    EXPECT_EQ(showSettingsSheet(pad.get(), [&](const SettingsSheet& sheet) {
        repaint(sheet.sheet);
        save(sheet.sheet, "settings-sheet-not-administrator.png");
        pressSheetButton(sheet, PSBTN_CANCEL);
    }), S_OK);
}
