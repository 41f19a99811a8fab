// Resource ids of the settings page, its two dialogs and their strings.
// Shared by settings.rc and the page and dialog procedures.
#pragma once

// Settings page.
#define IDD_SETTINGS_PAGE       800
#define IDC_PAD_WIDTH           802
#define IDC_ORIGIN_POINT        808
#define IDC_INK                 809
// One row per pad family, each served by its own pad module of the host.
#define IDC_PAD_ROW_QUILLMARK   810
#define IDC_PAD_ROW_PENWRIGHT   811
#define IDC_PAD_ROW_VELLUMTEK   812
#define IDC_PAD_ROW_SCRIPTEL    813     // this module's own row
#define IDC_PAD_ROW_CORVANNE    814
#define IDC_PAD_ROW_FIRST       IDC_PAD_ROW_QUILLMARK
#define IDC_PAD_ROW_LAST        IDC_PAD_ROW_CORVANNE
#define IDC_PAD_DESCRIPTION_1   815     // the first family's two description lines
#define IDC_PAD_DESCRIPTION_2   816
#define IDC_PAD_CHOICE_LABEL    830
#define IDC_PAD_CHANGE_NOTE     831
#define IDC_ADMIN_WARNING       832

#define IDS_PAD_CHANGE_NOTE     831
#define IDS_ADMIN_WARNING       832

// Origin Point dialog.
#define IDD_ORIGIN_POINT        900
#define IDC_ORIGIN_OK           901
#define IDC_ORIGIN_CANCEL       902

// Ink dialog.
#define IDD_INK                 1000
#define IDC_INK_OK              1001
#define IDC_INK_CANCEL          1002
#define IDC_INK_CHOOSE_COLOR    1003
#define IDC_INK_SWATCH          1004
#define IDC_INK_WEIGHT          1005
#define IDC_INK_WEIGHT_ARROWS   1006
