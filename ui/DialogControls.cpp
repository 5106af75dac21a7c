// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DialogControls.h"

#include <QFocusEvent>
#include <QPaintEvent>
#include <QPainter>
#include <utility>

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
    SetImage(QImage());
    setPixmap(bitmap);
    if (!bitmap.isNull()) {
        resize(bitmap.deviceIndependentSize().toSize());
    }
}

QImage CBitmapStatic::SetImage(QImage image) {
    if (!pixmap().isNull()) setPixmap(QPixmap());
    if (!image.isNull()) resize(image.deviceIndependentSize().toSize());
    std::swap(m_image, image);
    // The image covers the whole control: nothing beneath it needs painting first.
    setAttribute(Qt::WA_OpaquePaintEvent, !m_image.isNull());
    update();
    return image;
}

void CBitmapStatic::paintEvent(QPaintEvent* pEvent) {
    if (m_image.isNull()) {
        QLabel::paintEvent(pEvent);
        return;
    }
    QPainter painter(this);
    const QRect rcDirty = pEvent->rect();
    painter.drawImage(rcDirty.topLeft(), m_image, rcDirty);
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
