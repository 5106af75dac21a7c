// SPDX-License-Identifier: GPL-3.0-or-later
// Dialog templates as data: what a Windows resource script says about a dialog, control for
// control, in dialog units. The templates themselves live in Templates.cpp; CDialogBuilder
// (ui/DialogBuilder.h) turns one into widgets.
#pragma once

#include <cstdint>
#include <span>

// Window styles. The values are those of the Windows headers, so a template reads as it would
// in a resource script.
constexpr uint32_t WS_POPUP = 0x80000000u;
constexpr uint32_t WS_VISIBLE = 0x10000000u;
constexpr uint32_t WS_CAPTION = 0x00C00000u;
constexpr uint32_t WS_BORDER = 0x00800000u;
constexpr uint32_t WS_SYSMENU = 0x00080000u;
constexpr uint32_t WS_GROUP = 0x00020000u;
constexpr uint32_t WS_MINIMIZEBOX = 0x00020000u;  // on a dialog frame, not on a control
constexpr uint32_t WS_TABSTOP = 0x00010000u;
constexpr uint32_t WS_MAXIMIZEBOX = 0x00010000u;  // on a dialog frame, not on a control

// Extended window styles.
constexpr uint32_t WS_EX_STATICEDGE = 0x00020000u;
constexpr uint32_t WS_EX_APPWINDOW = 0x00040000u;

// Dialog styles.
constexpr uint32_t DS_MODALFRAME = 0x0080u;
constexpr uint32_t DS_SETFONT = 0x0040u;

// Control styles of the kinds below.
constexpr uint32_t ES_READONLY = 0x0800u;
constexpr uint32_t ES_AUTOHSCROLL = 0x0080u;
constexpr uint32_t SS_NOPREFIX = 0x0080u;
constexpr uint32_t TBS_VERT = 0x0002u;
constexpr uint32_t TBS_NOTICKS = 0x0010u;

// What a control is. The kind stands for the window class together with its type style
// (BS_DEFPUSHBUTTON, BS_AUTOCHECKBOX, BS_AUTORADIOBUTTON, SS_BITMAP, SS_ICON).
enum class ControlKind {
    PushButton,
    DefPushButton,  // the dialog's default button
    AutoCheckBox,
    AutoRadioButton,
    Edit,
    Static,        // text
    IconStatic,    // shows an icon resource at the icon's size
    BitmapStatic,  // shows a bitmap at the bitmap's own size from its top-left corner
    Trackbar,
};

// One control. pszCaption is null for controls without a caption (edits, trackbars, bitmaps);
// nImage is the icon resource of an IconStatic and 0 otherwise.
struct ControlTemplate {
    int nId;
    ControlKind kind;
    const char* pszCaption;
    int x;
    int y;
    int cx;
    int cy;
    uint32_t dwStyle;
    uint32_t dwExStyle;
    int nImage;
};

// One dialog: caption, client size in dialog units, font, frame styles and the controls in
// template order (which is also the tab order).
struct DialogTemplate {
    int nId;
    const char* pszCaption;
    int cx;
    int cy;
    const char* pszFaceName;
    int nPointSize;
    uint32_t dwStyle;
    uint32_t dwExStyle;
    std::span<const ControlTemplate> controls;
};

// The template of the given id (IDD_ABOUTBOX, IDD_VARNEL_DIALOG), or null when there is none.
const DialogTemplate* FindDialogTemplate(int nId);
