// The settings page: the width the pad covers on the document, the buttons
// that open the Origin Point and Ink dialogs, and the choice of the active
// pad family, which only an administrator may change.
#include "settings_page.h"

#include <commctrl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "signature_pad.h"
#include "handles.h"
#include "module.h"
#include "settings_dialogs.h"
#include "settings_resources.h"

namespace {

constexpr int padModuleNameLength = 64;
constexpr int padRowCount = IDC_PAD_ROW_LAST - IDC_PAD_ROW_FIRST + 1;

// For rows 810 to 814 in order, the file name of the pad module that serves
// the family. The Scriptel row's entry is this module's own file name, filled
// in on first use.
WCHAR padModuleTable[padRowCount][padModuleNameLength] = {
    L"QuillmarkPad.dll",
    L"PenwrightPad.dll",
    L"VellumtekPad.dll",
    L"",
    L"CorvannePad.dll",
};

// The id of the row that named this module when a settings page last opened.
int activePadRow = -1;

// Control 832's own procedure, which warningLabelProc passes everything on to.
WNDPROC previousLabelProc = nullptr;

// The rows and the first family's two description lines are read as one run.
constexpr int lastRowControl = IDC_PAD_DESCRIPTION_2;

// While another pad family is chosen only these stay enabled.
const int padChangeList[] = {
    IDC_PAD_ROW_QUILLMARK, IDC_PAD_ROW_PENWRIGHT, IDC_PAD_ROW_VELLUMTEK, IDC_PAD_ROW_SCRIPTEL,
    IDC_PAD_ROW_CORVANNE, IDC_PAD_DESCRIPTION_1, IDC_PAD_DESCRIPTION_2, IDC_PAD_CHOICE_LABEL,
    IDC_PAD_CHANGE_NOTE, 0,
};
const int noIds[] = {0};

// "%5.2lf" writes every digit of the whole part, 309 for the largest double:
// the width is shown and read back whole, so Apply never stores a cut number.
constexpr int widthTextSize = 320;

struct EnablingPass {
    const int* ids;
    BOOL listedEnabled;
};

BOOL CALLBACK applyEnablingPass(HWND window, LPARAM parameter)
{
    const auto* pass = reinterpret_cast<const EnablingPass*>(parameter);
    int id = static_cast<int>(GetWindowLongPtrA(window, GWLP_ID));
    bool listed = false;
    for (const int* entry = pass->ids; *entry && !listed; ++entry)
        listed = *entry == id;
    EnableWindow(window, listed ? pass->listedEnabled : !pass->listedEnabled);
    return TRUE;
}

// Enables every listed descendant of the page and disables every other.
void enablingPass(HWND page, const int* ids)
{
    EnablingPass pass{ids, TRUE};
    EnumChildWindows(page, applyEnablingPass, reinterpret_cast<LPARAM>(&pass));
}

// Disables every listed descendant of the page and enables every other.
void disablingPass(HWND page, const int* ids)
{
    EnablingPass pass{ids, FALSE};
    EnumChildWindows(page, applyEnablingPass, reinterpret_cast<LPARAM>(&pass));
}

// Whether the calling thread's token (its impersonation token when it has
// one) holds the built-in Administrators group.
bool isAdministrator()
{
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    UniqueSid administrators;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                                  0, 0, 0, 0, 0, 0, administrators.put()))
        return false;
    BOOL member = FALSE;
    return CheckTokenMembership(nullptr, administrators.get(), &member) && member;
}

// Puts this module's file name, without its folder, in the Scriptel row's
// entry; a name too long for the entry leaves it empty.
void fillOwnModuleName()
{
    const char* name = moduleFileName();
    WCHAR* entry = padModuleTable[IDC_PAD_ROW_SCRIPTEL - IDC_PAD_ROW_FIRST];
    if (!MultiByteToWideChar(CP_ACP, 0, name, -1, entry, padModuleNameLength))
        entry[0] = L'\0';
}

// The module that serves a row; null for ids that are not rows and for an
// entry left empty.
const WCHAR* padModuleName(int row)
{
    if (row < IDC_PAD_ROW_FIRST || row > IDC_PAD_ROW_LAST)
        return nullptr;
    const WCHAR* name = padModuleTable[row - IDC_PAD_ROW_FIRST];
    return name[0] ? name : nullptr;
}

// Selects the first row whose caption names this module's product and
// remembers it as the active row.
void selectActiveRow(HWND page, SignaturePad* pad)
{
    const char* product = pad->DeviceProductName();
    for (int id = IDC_PAD_ROW_FIRST; id <= lastRowControl; ++id) {
        char caption[128] = "";
        GetDlgItemTextA(page, id, caption, sizeof caption);
        if (strstr(caption, product)) {
            SendDlgItemMessageA(page, id, BM_SETCHECK, BST_CHECKED, 0);
            activePadRow = id;
            return;
        }
    }
}

// The first checked row, or 0 when none is.
int checkedRow(HWND page)
{
    for (int id = IDC_PAD_ROW_FIRST; id <= lastRowControl; ++id) {
        if (SendDlgItemMessageA(page, id, BM_GETCHECK, 0, 0))
            return id;
    }
    return 0;
}

void showPadWidth(HWND page, const SignaturePad* pad)
{
    char text[widthTextSize];
    snprintf(text, sizeof text, "%5.2lf", pad->padWidthInches);
    SetDlgItemTextA(page, IDC_PAD_WIDTH, text);
}

// Read like atof: leading blanks skipped, the number up to the first
// character that cannot continue it, 0.0 when there is none.
void readPadWidth(HWND page, SignaturePad* pad)
{
    char text[widthTextSize] = "";
    GetDlgItemTextA(page, IDC_PAD_WIDTH, text, sizeof text);
    pad->padWidthInches = strtod(text, nullptr);
}

void showStringResource(HWND page, int controlId, UINT stringId)
{
    char text[1024] = "";
    LoadStringA(moduleHandle, stringId, text, sizeof text);
    SetDlgItemTextA(page, controlId, text);
}

// The component keeps the page's saved copies of the settings. A page shown
// without a component (a host building the sheet from the page description
// itself) edits the fields only.
using SnapshotOperation = HRESULT (STDMETHODCALLTYPE IPrelvane::*)();

void repeatSnapshotOperation(SignaturePad* pad, SnapshotOperation operation, int count)
{
    for (int i = 0; pad->properties && i < count; ++i)
        (pad->properties->*operation)();
}

// Draws the administrator notice in red, then lets the static control do
// the rest. The text is laid out from the control's top-left corner whatever
// part of it is being repainted.
LRESULT CALLBACK warningLabelProc(HWND label, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT) {
        PaintScope paint(label);
        char text[1024] = "";
        GetWindowTextA(label, text, sizeof text);
        RECT client;
        GetClientRect(label, &client);
        ScopedSelection font(paint.get(), GetStockObject(DEFAULT_GUI_FONT));
        SetTextColor(paint.get(), RGB(255, 0, 0));
        SetBkColor(paint.get(), GetSysColor(COLOR_MENU));
        DrawTextA(paint.get(), text, -1, &client, 0);
    }
    return CallWindowProcA(previousLabelProc, label, message, wParam, lParam);
}

void initializePage(HWND page, SignaturePad* pad)
{
    SetWindowLongPtrA(page, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pad));
    fillOwnModuleName();
    // The page shows what the file holds now: another object may have saved
    // since this one read it, or it could not be read then.
    pad->rereadSettings();
    repeatSnapshotOperation(pad, &IPrelvane::SaveSnapshot, 2);
    selectActiveRow(page, pad);
    showPadWidth(page, pad);
    disablingPass(page, noIds);
    showStringResource(page, IDC_PAD_CHANGE_NOTE, IDS_PAD_CHANGE_NOTE);

    HWND warning = GetDlgItem(page, IDC_ADMIN_WARNING);
    if (isAdministrator()) {
        ShowWindow(warning, SW_HIDE);
        return;
    }
    previousLabelProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(warning, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(warningLabelProc)));
    showStringResource(page, IDC_ADMIN_WARNING, IDS_ADMIN_WARNING);
    for (int id = IDC_PAD_ROW_FIRST; id <= lastRowControl; ++id)
        EnableWindow(GetDlgItem(page, id), FALSE);
    ShowWindow(GetDlgItem(page, IDC_PAD_CHANGE_NOTE), SW_HIDE);
}

void handleCommand(HWND page, SignaturePad* pad, int id, HWND control)
{
    if (id >= IDC_PAD_ROW_FIRST && id <= lastRowControl) {
        if (SendMessageA(control, BM_GETCHECK, 0, 0) != BST_CHECKED)
            return;
        if (id == activePadRow)
            disablingPass(page, noIds);
        else
            enablingPass(page, padChangeList);
    } else if (id == IDC_ORIGIN_POINT) {
        DialogBoxParamA(moduleHandle, MAKEINTRESOURCEA(IDD_ORIGIN_POINT), page, originPointDialogProc,
                        reinterpret_cast<LPARAM>(pad));
    } else if (id == IDC_INK) {
        DialogBoxParamA(moduleHandle, MAKEINTRESOURCEA(IDD_INK), page, inkDialogProc,
                        reinterpret_cast<LPARAM>(pad));
    }
}

// OK (closing) saves the settings while the active row stays chosen (over
// what the file holds now, and never over a file that cannot be read), or asks
// the host to switch to the chosen row's module; Apply only moves the
// snapshot that Cancel returns to.
void applyPage(HWND page, SignaturePad* pad, bool closing)
{
    readPadWidth(page, pad);
    if (!closing) {
        repeatSnapshotOperation(pad, &IPrelvane::DropSnapshot, 1);
        repeatSnapshotOperation(pad, &IPrelvane::SaveSnapshot, 1);
        return;
    }
    int row = checkedRow(page);
    if (row == activePadRow) {
        pad->saveSettings();
    } else if (const WCHAR* module = padModuleName(row)) {
        if (pad->hostServices)
            pad->hostServices->ChangeSignaturePad(module);
    }
    repeatSnapshotOperation(pad, &IPrelvane::DropSnapshot, 2);
}

void handleNotification(HWND page, SignaturePad* pad, const NMHDR* header)
{
    switch (header->code) {
    case PSN_SETACTIVE:
        showPadWidth(page, pad);
        break;
    case PSN_APPLY:
        applyPage(page, pad, reinterpret_cast<const PSHNOTIFY*>(header)->lParam != 0);
        break;
    case PSN_RESET:
        repeatSnapshotOperation(pad, &IPrelvane::RestoreSnapshot, 2);
        break;
    }
}

} // namespace

INT_PTR CALLBACK settingsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        const auto* description = reinterpret_cast<const PROPSHEETPAGEA*>(lParam);
        initializePage(page, reinterpret_cast<SignaturePad*>(description->lParam));
        return FALSE;
    }
    SignaturePad* pad = windowObject(page);
    if (!pad)
        return FALSE;
    if (message == WM_COMMAND)
        handleCommand(page, pad, LOWORD(wParam), reinterpret_cast<HWND>(lParam));
    else if (message == WM_NOTIFY)
        handleNotification(page, pad, reinterpret_cast<const NMHDR*>(lParam));
    return FALSE;
}
