// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog templates of Varnel: the About box and the main dialog.
#include "VarnelVersion.h"
#include "res/DialogTemplate.h"
#include "res/resource.h"

namespace {

using enum ControlKind;

constexpr uint32_t kEditStyle = WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL;
constexpr uint32_t kReadOnlyEditStyle = kEditStyle | ES_READONLY;
// The status line: read-only, and passed over by Tab.
constexpr uint32_t kStatusLineStyle = WS_BORDER | ES_AUTOHSCROLL | ES_READONLY;
constexpr uint32_t kTrackbarStyle = TBS_VERT | TBS_NOTICKS | WS_TABSTOP;

// "Varnel Version 1.0" for version 1.0: the version of the build.
constexpr char kVersionText[] = "Varnel Version " VARNEL_VERSION;

// clang-format off
constexpr ControlTemplate kAboutBoxControls[] = {
    {IDC_STATIC,     IconStatic,    nullptr,                     11, 17,  21, 20, 0,                           0, IDR_MAINFRAME},
    {IDC_STATIC,     Static,        kVersionText,                40, 10, 119,  8, SS_NOPREFIX | WS_GROUP,      0, 0},
    {IDC_STATIC,     Static,        "Time-lapse without flicker", 40, 25, 119,  8, WS_GROUP,                   0, 0},
    {IDOK,           DefPushButton, "OK",                       178,  7,  50, 14, WS_GROUP | WS_TABSTOP,       0, 0},
    {IDC_STATIC,     Static,        "Last Error: ",               7, 48,  35,  8, WS_GROUP,                    0, 0},
    {IDC_LAST_ERROR, Static,        "(None)",                    43, 48, 185, 11, WS_GROUP,                    WS_EX_STATICEDGE, 0},
};

constexpr ControlTemplate kVarnelDialogControls[] = {
    {IDC_INNOCUOUS,          DefPushButton,   "Innocuous",                 70, 389,  50,  14, WS_TABSTOP,         0, 0},
    {IDOK,                   PushButton,      "Exit",                       7, 389,  50,  14, WS_TABSTOP,         0, 0},
    {IDC_PICTURE,            BitmapStatic,    nullptr,                    151,  93,  15,  13, 0,                  0, 0},
    {IDC_INPUT_NAME,         Edit,            nullptr,                     83,  19, 198,  14, kEditStyle,         0, 0},
    {IDC_STATIC,             Static,          "Input File Name:",          29,  23,  52,   8, WS_GROUP,           0, 0},
    {IDC_OUTPUT_NAME,        Edit,            nullptr,                     83,  41, 203,  14, kEditStyle,         0, 0},
    {IDC_BROWSE_INPUT,       PushButton,      "Browse...",                293,  20,  50,  14, WS_TABSTOP,         0, 0},
    {IDC_BROWSE_OUTPUT,      PushButton,      "Browse...",                295,  43,  50,  14, WS_TABSTOP,         0, 0},
    {IDC_STATIC,             Static,          "Output File Name:",         20,  44,  58,   8, WS_GROUP,           0, 0},
    {IDC_PREV,               PushButton,      "< Prev",                   353,  20,  50,  14, WS_TABSTOP,         0, 0},
    {IDC_NEXT,               PushButton,      "Next >",                   410,  21,  50,  14, WS_TABSTOP,         0, 0},
    {IDC_FRAME_NUMBER,       Edit,            nullptr,                    359,  39,  40,  14, kEditStyle,         0, 0},
    {IDC_STATIC,             Static,          "Frame #",                  365,  56,  27,   8, WS_GROUP,           0, 0},
    {IDC_FRAME_TIME,         Edit,            nullptr,                    406,  39,  56,  14, kEditStyle,         0, 0},
    {IDC_STATIC,             Static,          "Frame Time",               411,  58,  38,   8, WS_GROUP,           0, 0},
    {IDC_FREEPLAY,           PushButton,      "FreePlay",                 470,  21,  50,  14, WS_TABSTOP,         0, 0},
    {IDC_IMAGE_MANIPULATION, AutoCheckBox,    "Image Manipulation On",     21,  70,  89,  10, WS_TABSTOP,         0, 0},
    {IDC_BEFORE,             Edit,            nullptr,                     43, 114,  82,  14, kReadOnlyEditStyle, 0, 0},
    {IDC_STATIC,             Static,          "Brightness:",               59, 102,  36,   8, WS_GROUP,           0, 0},
    {IDC_SKIP100,            PushButton,      "Skip 100",                 469,  41,  50,  14, WS_TABSTOP,         0, 0},
    {IDC_BRIGHTNESS_SLIDER,  Trackbar,        nullptr,                     15, 193,  19, 120, kTrackbarStyle,     0, 0},
    {IDC_BRIGHTNESS_MAX,     Edit,            nullptr,                      7, 178,  40,  14, kEditStyle,         0, 0},
    {IDC_BRIGHTNESS_MIN,     Edit,            nullptr,                      7, 314,  40,  14, kEditStyle,         0, 0},
    {IDC_BRIGHTNESS_VALUE,   Edit,            nullptr,                      7, 335,  40,  14, kEditStyle,         0, 0},
    {IDC_MINPIXVAL_SLIDER,   Trackbar,        nullptr,                     66, 193,  19, 120, kTrackbarStyle,     0, 0},
    {IDC_MINPIXVAL_MAX,      Edit,            nullptr,                     58, 178,  40,  14, kEditStyle,         0, 0},
    {IDC_MINPIXVAL_MIN,      Edit,            nullptr,                     58, 314,  40,  14, kEditStyle,         0, 0},
    {IDC_MINPIXVAL_VALUE,    Edit,            nullptr,                     58, 335,  40,  14, kEditStyle,         0, 0},
    {IDC_DARKFACTOR_SLIDER,  Trackbar,        nullptr,                    110, 193,  19, 120, kTrackbarStyle,     0, 0},
    {IDC_DARKFACTOR_MAX,     Edit,            nullptr,                    102, 178,  40,  14, kEditStyle,         0, 0},
    {IDC_DARKFACTOR_MIN,     Edit,            nullptr,                    102, 315,  40,  14, kEditStyle,         0, 0},
    {IDC_DARKFACTOR_VALUE,   Edit,            nullptr,                    102, 335,  40,  14, kEditStyle,         0, 0},
    {IDC_STATIC,             Static,          "Before:",                    7, 117,  24,   8, WS_GROUP,           0, 0},
    {IDC_AFTER,              Edit,            nullptr,                     43, 129,  82,  14, kReadOnlyEditStyle, 0, 0},
    {IDC_STATIC,             Static,          "After:",                     7, 132,  18,   8, WS_GROUP,           0, 0},
    {IDC_STATIC,             Static,          "Brightness",                 7, 167,  34,   8, WS_GROUP,           0, 0},
    {IDC_STATIC,             Static,          "Min. Pixval",               61, 167,  35,   8, WS_GROUP,           0, 0},
    {IDC_STATIC,             Static,          "Dark Factor",              103, 167,  38,   8, WS_GROUP,           0, 0},
    {IDC_DARK,               Edit,            nullptr,                     43, 145,  82,  14, kReadOnlyEditStyle, 0, 0},
    {IDC_STATIC,             Static,          "% Dark:",                    7, 148,  26,   8, WS_GROUP,           0, 0},
    {IDC_SHOW_WRITE,         AutoRadioButton, "Show Write",               535,  24,  53,  10, WS_GROUP,           0, 0},
    {IDC_SHOW_READ,          AutoRadioButton, "Show Read",                535,  38,  53,  10, 0,                  0, 0},
    {IDC_MARK_MIN_PIXEL,     AutoCheckBox,    "Mark Min Pixel crossings",  19,  85,  93,  10, WS_TABSTOP,         0, 0},
    {IDC_FOLLOW_SCENE,       AutoCheckBox,    "Follow the Scene",          19,  95,  93,   9, WS_TABSTOP,         0, 0},
    {IDC_STATUS,             Edit,            nullptr,                    130, 389, 493,  14, kStatusLineStyle,   0, 0},
};
// clang-format on

constexpr DialogTemplate kAboutBox = {
    IDD_ABOUTBOX,
    "About Varnel",
    235,
    82,
    "MS Sans Serif",
    8,
    DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU,
    0,
    kAboutBoxControls,
};

constexpr DialogTemplate kVarnelDialog = {
    IDD_VARNEL_DIALOG,
    "Varnel",
    630,
    410,
    "MS Sans Serif",
    8,
    DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU,
    WS_EX_APPWINDOW,
    kVarnelDialogControls,
};

}  // namespace

const DialogTemplate* FindDialogTemplate(int nId) {
    switch (nId) {
        case IDD_ABOUTBOX:
            return &kAboutBox;
        case IDD_VARNEL_DIALOG:
            return &kVarnelDialog;
        default:
            return nullptr;
    }
}
