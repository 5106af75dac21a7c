// SPDX-License-Identifier: GPL-3.0-or-later
// CDialogBuilder: turns a dialog template (res/DialogTemplate.h) into Qt widgets.
//
//     CVarnelDlg::CVarnelDlg(QWidget* pParent) : QDialog(pParent) {
//         CDialogBuilder::Build(this, IDD_VARNEL_DIALOG);
//     }
//     ...
//     m_editInputName = GetDlgItem<CEditBox>(this, IDC_INPUT_NAME);
//     m_sliderBrightness = GetDlgItem<CTrackbar>(this, IDC_BRIGHTNESS_SLIDER);
//     m_picture = GetDlgItem<CBitmapStatic>(this, IDC_PICTURE);
//
// Build creates every control of the template as a child of the dialog, in template order, and
// sets the dialog's caption, font, fixed client size and frame. The dialog owns the controls (Qt
// parent); the builder keeps nothing. Build a template into a widget only once.
//
// Kinds become these classes (GetDlgItem<T> takes any base class of them, null when the control
// is of another class or there is no control of that id):
//   push button, default push button   QPushButton
//   automatic check box                QCheckBox
//   automatic radio button             CAutoRadioButton (a QRadioButton)
//   edit                               CEditBox (a QLineEdit; killFocus() when it loses focus)
//   static text                        QLabel
//   icon static, bitmap static         CBitmapStatic (a QLabel; SetBitmap shows a picture)
//   trackbar                           CTrackbar (a QSlider; scrolled() on the user's moves)
//
// What the styles become:
//   geometry      dialog units to pixels by the dialog font's base units: x * cx / 4, y * cy / 8,
//                 rounded to nearest; width and height from the mapped right and bottom edges.
//   tab order     template order. WS_TABSTOP: Tab and a click give the focus; without it a
//                 button, box or trackbar takes the focus only by a click, a static never.
//   WS_GROUP      starts a group; automatic radio buttons uncheck the others of their group.
//   default       the default push button is the QDialog's default: Enter in a box, a check box
//                 or a radio button clicks it. Every push button is auto-default, so Enter on a
//                 focused push button clicks that one. Escape rejects the QDialog.
//   IDOK, IDCANCEL  a push button of id 1 accepts the QDialog when clicked, id 2 rejects it.
//   edits         WS_BORDER gives a frame, ES_READONLY makes them read-only; they always scroll
//                 horizontally (ES_AUTOHSCROLL).
//   statics       text at the top left, words wrapped when two lines fit; '&' marks a
//                 mnemonic that moves the focus to the next control ("&&" shows one '&')
//                 unless SS_NOPREFIX, which shows the text as it is. WS_EX_STATICEDGE draws a
//                 sunken edge.
//   trackbars     TBS_VERT vertical with position 0 at the top; TBS_NOTICKS no tick marks.
//   captions      buttons and check boxes show '&' as a mnemonic, as Windows does.
//   the dialog    caption, client size mapped from dialog units and fixed (a modal frame does
//                 not resize), title bar with a close button and a window menu; minimise and
//                 maximise buttons only with WS_MINIMIZEBOX / WS_MAXIMIZEBOX. A top-level window
//                 without a parent already has a task-bar button on Linux (WS_EX_APPWINDOW).
//
// The font: the template's face ("MS Sans Serif") at its point size when installed, else
// "Microsoft Sans Serif", else "DejaVu Sans" (base units 7 x 13 at 96 dpi against 6 x 13 on
// Windows: the dialog is wider, and every caption fits), else the system's sans-serif font. Its
// base units are the Windows ones: cx = (width of "a..zA..Z" / 26 + 1) / 2, cy = the font's
// height.
#pragma once

#include <QFont>
#include <QList>
#include <QRect>
#include <QSize>
#include <QWidget>

#include "res/DialogTemplate.h"

class CDialogBuilder {
  public:
    // Builds template nTemplateId (IDD_ABOUTBOX, IDD_VARNEL_DIALOG) into pDialog. Returns false,
    // building nothing, when there is no template of that id.
    static bool Build(QWidget* pDialog, int nTemplateId);
    static void Build(QWidget* pDialog, const DialogTemplate& dlgTemplate);

    // The font of a template, and the base units (cx, cy) of a font.
    static QFont DialogFont(const DialogTemplate& dlgTemplate);
    static QSize BaseUnits(const QFont& font);
    // A rectangle in dialog units mapped to pixels with the given base units.
    static QRect MapDialogRect(const QRect& rcUnits, const QSize& baseUnits);
};

// Every control built into pDialog, in template order.
QList<QWidget*> GetDlgItems(const QWidget* pDialog);

// The id of a control built by CDialogBuilder; IDC_STATIC (-1) for labels and for widgets that
// the builder did not make.
int GetDlgCtrlID(const QWidget* pControl);

// The control of the given id as a T, or null when there is none or it is not a T. The labels
// share the id IDC_STATIC and are not found this way (use GetDlgItems).
QWidget* GetDlgItemWidget(const QWidget* pDialog, int nId);
template <class T = QWidget>
T* GetDlgItem(const QWidget* pDialog, int nId) {
    return qobject_cast<T*>(GetDlgItemWidget(pDialog, nId));
}
