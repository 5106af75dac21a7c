// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ScaledSlider.h"

#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>
#include <cmath>

#include "ui/NumberText.h"

namespace {

constexpr int kPositions = 100;
constexpr char kNumberFormat[] = "%3.2e";

// The box's text and its repaint, at once rather than at the next paint event.
void ShowNumber(QLineEdit* pEdit, double dNumber) {
    pEdit->setText(FormatNumber(kNumberFormat, dNumber));
    pEdit->repaint();
}

// The position the trackbar can show for a computed one (see the class comment).
int ShownPosition(double dPosition, double dStep) {
    if (dStep == 0.0 || std::isnan(dPosition)) {
        return kPositions;
    }
    if (dPosition < 0.0) {
        return 0;
    }
    if (dPosition > kPositions) {
        return kPositions;
    }
    return static_cast<int>(dPosition);
}

}  // namespace

CScaledSlider::CScaledSlider()
    : m_pMaxEdit(nullptr),
      m_pMinEdit(nullptr),
      m_pValueEdit(nullptr),
      m_pTrackbar(nullptr),
      m_dMax(0.0),
      m_dMin(0.0),
      m_dValue(0.0),
      m_dStep(0.0),
      m_bEditRejected(false) {}

void CScaledSlider::Init(QLineEdit* pMaxEdit, QLineEdit* pMinEdit, QLineEdit* pValueEdit,
                         QSlider* pTrackbar, double dMax, double dMin, double dValue) {
    m_pMaxEdit = pMaxEdit;
    m_pMinEdit = pMinEdit;
    m_pValueEdit = pValueEdit;
    m_pTrackbar = pTrackbar;
    {
        const QSignalBlocker blocker(m_pTrackbar);
        m_pTrackbar->setRange(0, kPositions);
    }
    m_dMax = dMax;
    m_dMin = dMin;
    m_dValue = dValue;
    WidenRange();
    ShowRange();
    ShowValue();
    UpdatePosition();
}

double CScaledSlider::OnRangeEdited() {
    double dMax = m_dMax;
    double dMin = m_dMin;
    const QString maxText = m_pMaxEdit->text();
    const QString minText = m_pMinEdit->text();
    const bool bMaxBad = !maxText.isEmpty() && !ReadFiniteNumber(maxText, &dMax);
    const bool bMinBad = !minText.isEmpty() && !ReadFiniteNumber(minText, &dMin);
    m_bEditRejected = bMaxBad || bMinBad;
    if (m_bEditRejected) {
        if (bMaxBad) ShowNumber(m_pMaxEdit, m_dMax);
        if (bMinBad) ShowNumber(m_pMinEdit, m_dMin);
        return m_dValue;
    }
    m_dMax = dMax;
    m_dMin = dMin;
    ClampValue();
    return m_dValue;
}

double CScaledSlider::OnValueEdited() {
    const QString valueText = m_pValueEdit->text();
    m_bEditRejected = !valueText.isEmpty() && !ReadFiniteNumber(valueText, &m_dValue);
    if (m_bEditRejected) {
        ShowValue();
        return m_dValue;
    }
    WidenRange();
    UpdatePosition();
    return m_dValue;
}

double CScaledSlider::OnScrolled() {
    const int nPosition = m_pTrackbar->value();
    m_dValue = (kPositions - nPosition) * m_dStep + m_dMin;
    ShowValue();
    return m_dValue;
}

double CScaledSlider::GetValue() const { return m_dValue; }

void CScaledSlider::WidenRange() {
    if (!(m_dValue >= m_dMin)) {
        m_dMin = m_dValue;
        ShowRange();
        UpdatePosition();
    }
    if (m_dValue > m_dMax) {
        m_dMax = m_dValue;
        ShowRange();
        UpdatePosition();
    }
}

void CScaledSlider::ClampValue() {
    if (!(m_dValue >= m_dMin)) {
        m_dValue = m_dMin;
        ShowValue();
    }
    if (m_dValue > m_dMax) {
        m_dValue = m_dMax;
        ShowValue();
    }
    UpdatePosition();
}

void CScaledSlider::ShowRange() {
    ShowNumber(m_pMaxEdit, m_dMax);
    ShowNumber(m_pMinEdit, m_dMin);
}

void CScaledSlider::ShowValue() { ShowNumber(m_pValueEdit, m_dValue); }

void CScaledSlider::ShowInstead(double dShown) {
    ShowNumber(m_pValueEdit, dShown);
    ShowPosition(dShown);
}

void CScaledSlider::ShowOwnValue() {
    ShowValue();
    UpdatePosition();
}

void CScaledSlider::UpdatePosition() {
    m_dStep = (m_dMax - m_dMin) / 100.0;
    ShowPosition(m_dValue);
}

void CScaledSlider::ShowPosition(double dValue) {
    const double dPosition = kPositions - std::trunc((dValue - m_dMin) / m_dStep);
    // A position set by code is no scroll by the user.
    const QSignalBlocker blocker(m_pTrackbar);
    m_pTrackbar->setValue(ShownPosition(dPosition, m_dStep));
}
