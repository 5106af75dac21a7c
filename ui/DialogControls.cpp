// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DialogControls.h"

#include <QFocusEvent>

CEditBox::CEditBox(QWidget* pParent) : QLineEdit(pParent) {}

void CEditBox::focusOutEvent(QFocusEvent* pEvent) {
    QLineEdit::focusOutEvent(pEvent);
    if (pEvent->reason() != Qt::PopupFocusReason) {
        emit killFocus();
    }
}

CTrackbar::CTrackbar(Qt::Orientation orientation, QWidget* pParent)
    : QSlider(orientation, pParent) {
    setRange(0, 100);
    setSingleStep(1);
    setPageStep(20);
    setTickPosition(QSlider::NoTicks);
    if (orientation == Qt::Vertical) {
        setInvertedAppearance(true);
        setInvertedControls(true);
    }
    // Code that moves the position blocks these signals, so each one here is the user's move.
    connect(this, &QSlider::valueChanged, this, &CTrackbar::scrolled);
    connect(this, &QSlider::sliderReleased, this, &CTrackbar::scrolled);
}

CBitmapStatic::CBitmapStatic(QWidget* pParent) : QLabel(pParent) {
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setScaledContents(false);
    setContentsMargins(0, 0, 0, 0);
}

void CBitmapStatic::SetBitmap(const QPixmap& bitmap) {
    setPixmap(bitmap);
    if (!bitmap.isNull()) {
        resize(bitmap.deviceIndependentSize().toSize());
    }
}

CAutoRadioButton::CAutoRadioButton(const QString& caption, QWidget* pParent)
    : QRadioButton(caption, pParent) {
    setAutoExclusive(false);
}

void CAutoRadioButton::nextCheckState() { setChecked(true); }

CRadioGroup::CRadioGroup(QObject* pParent) : QButtonGroup(pParent) {
    setExclusive(false);
    connect(this, &QButtonGroup::buttonToggled, this, &CRadioGroup::OnButtonToggled);
}

void CRadioGroup::OnButtonToggled(QAbstractButton* pButton, bool bChecked) {
    if (!bChecked) {
        return;
    }
    for (QAbstractButton* pOther : buttons()) {
        if (pOther != pButton) {
            pOther->setChecked(false);
        }
    }
}
