// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CurvesWnd.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "curves/CurveChart.h"
#include "curves/CurveData.h"

namespace {

// Each notch of the wheel narrows (or widens) the frame range by this factor.
constexpr double kWheelZoomStep = 0.8;
// The narrowest frame range a zoom reaches.
constexpr double kNarrowestRange = 10.0;

QString Figure(float fValue) {
    return std::isnan(fValue) ? QStringLiteral("-") : QString::number(fValue, 'f', 1);
}

}  // namespace

CCurveView::CCurveView(CCurveChart* pChart, QWidget* pParent) : QChartView(pChart, pParent) {
    setRubberBand(QChartView::RectangleRubberBand);
    // Drawn without smoothing: it halves the time of a redraw, which FreePlay pays for (the
    // pictures varnel-batch writes are smoothed).
    setRenderHint(QPainter::Antialiasing, false);
    setMouseTracking(true);
}

void CCurveView::wheelEvent(QWheelEvent* pEvent) {
    auto* pAxis = static_cast<CCurveChart*>(chart())->FrameAxis();
    const double dNotches = pEvent->angleDelta().y() / 120.0;
    if (dNotches == 0.0) return;
    const double dFactor = std::pow(kWheelZoomStep, dNotches);
    const double dAt = chart()->mapToValue(pEvent->position()).x();
    const double dMin = pAxis->min();
    const double dMax = pAxis->max();
    if (dFactor < 1.0 && dMax - dMin <= kNarrowestRange) return;
    const double dCentre = std::clamp(dAt, dMin, dMax);
    pAxis->setRange(dCentre - (dCentre - dMin) * dFactor, dCentre + (dMax - dCentre) * dFactor);
    pEvent->accept();
}

void CCurveView::mouseDoubleClickEvent(QMouseEvent* pEvent) {
    emit resetRequested();
    pEvent->accept();
}

void CCurveView::mouseMoveEvent(QMouseEvent* pEvent) {
    QChartView::mouseMoveEvent(pEvent);
    if (pEvent->buttons() != Qt::NoButton) return;
    if (!chart()->plotArea().contains(pEvent->position())) {
        QToolTip::hideText();
        return;
    }
    emit pointed(chart()->mapToValue(pEvent->position()).x(), pEvent->globalPosition().toPoint());
}

CCurvesWnd::CCurvesWnd(const CCurveData* pData, QWidget* pOwner)
    : QWidget(pOwner, Qt::Window),
      m_pData(pData),
      m_pChart(new CCurveChart),
      m_pView(new CCurveView(m_pChart, this)),
      m_btnRecent(new QRadioButton(tr("Last %1 frames").arg(kRecentFrames), this)),
      m_btnWholeRun(new QRadioButton(tr("Whole run"), this)),
      m_nCurrentFrame(0),
      m_bDrawing(false),
      m_bZoomed(false),
      m_dZoomFirst(0.0),
      m_dZoomLast(0.0) {
    setWindowTitle(QStringLiteral("Brightness Curves"));
    // Opening the window leaves the keyboard with the dialog.
    setAttribute(Qt::WA_ShowWithoutActivating);
    resize(900, 520);

    auto* pHint =
        new QLabel(tr("Drag or turn the wheel to zoom; double-click for the whole view"), this);
    pHint->setEnabled(false);
    auto* pTop = new QHBoxLayout;
    pTop->addWidget(m_btnRecent);
    pTop->addWidget(m_btnWholeRun);
    pTop->addStretch();
    pTop->addWidget(pHint);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pTop);
    pLayout->addWidget(m_pView, 1);
    m_btnRecent->setChecked(true);

    m_redrawTimer.setSingleShot(true);
    m_redrawTimer.setInterval(kRedrawInterval);
    connect(&m_redrawTimer, &QTimer::timeout, this, &CCurvesWnd::RedrawNow);
    connect(m_btnWholeRun, &QRadioButton::toggled, this, &CCurvesWnd::SetWholeRun);
    connect(m_pView, &CCurveView::resetRequested, this, &CCurvesWnd::ResetZoom);
    connect(m_pView, &CCurveView::pointed, this, &CCurvesWnd::OnPointed);
    connect(m_pChart->FrameAxis(), &QValueAxis::rangeChanged, this,
            &CCurvesWnd::OnFrameRangeChanged);
}

QRect CCurvesWnd::PlaceBeside(const QRect& rcOwner, const QSize& wanted, const QRect& rcScreen) {
    QRect rc(QPoint(rcOwner.right() + 1, rcOwner.top()), wanted);
    if (rcScreen.isEmpty()) return rc;
    // Lines up with the owner's top (or left) edge, moved back onto the screen along that axis.
    auto clampTo = [](int nStart, int nLength, int nLow, int nHigh) {
        return std::max(nLow, std::min(nStart, nHigh - nLength + 1));
    };
    const int nRight = rcScreen.right() - rcOwner.right();
    const int nLeft = rcOwner.left() - rcScreen.left();
    const int nBelow = rcScreen.bottom() - rcOwner.bottom();
    const int nAbove = rcOwner.top() - rcScreen.top();
    const int cx = std::min(wanted.width(), std::max(nRight, nLeft));
    const int cy = std::min(wanted.height(), rcScreen.height());
    if (std::max(nRight, nLeft) >= std::min(wanted.width(), kNarrowest)) {
        const int y = clampTo(rcOwner.top(), cy, rcScreen.top(), rcScreen.bottom());
        const int x = (nRight >= wanted.width() || nRight >= nLeft) ? rcOwner.right() + 1
                                                                    : rcOwner.left() - cx;
        return QRect(x, y, cx, cy);
    }
    const int cyRoom = std::max(nBelow, nAbove);
    if (cyRoom <= 0) return rc;
    const int cxSpan = std::min(wanted.width(), rcScreen.width());
    const int cySpan = std::min(wanted.height(), cyRoom);
    const int x = clampTo(rcOwner.left(), cxSpan, rcScreen.left(), rcScreen.right());
    const int y =
        nBelow >= cySpan || nBelow >= nAbove ? rcOwner.bottom() + 1 : rcOwner.top() - cySpan;
    return QRect(x, y, cxSpan, cySpan);
}

void CCurvesWnd::Follow(int nCurrentFrame) {
    m_nCurrentFrame = nCurrentFrame;
    // Not restarted by further calls: the first one sets when the next redraw comes.
    if (isVisible() && !m_redrawTimer.isActive()) m_redrawTimer.start();
}

void CCurvesWnd::SetHeadline(const QString& strFirst, const QString& strSecond) {
    const QString strHeadline = strFirst + QLatin1Char('\n') + strSecond;
    if (strHeadline == m_strHeadline) return;
    m_strHeadline = strHeadline;
    m_pChart->SetHeadline(strFirst, strSecond);
}

bool CCurvesWnd::IsWholeRun() const { return m_btnWholeRun->isChecked(); }

void CCurvesWnd::SetWholeRun(bool bWholeRun) {
    if (m_btnWholeRun->isChecked() != bWholeRun) {
        (bWholeRun ? m_btnWholeRun : m_btnRecent)->setChecked(true);  // toggles back here
        return;
    }
    ResetZoom();
}

void CCurvesWnd::ResetZoom() {
    m_bZoomed = false;
    RedrawNow();
}

void CCurvesWnd::showEvent(QShowEvent* pEvent) {
    QWidget::showEvent(pEvent);
    RedrawNow();
}

void CCurvesWnd::RedrawNow() {
    m_redrawTimer.stop();
    if (!isVisible()) return;
    const bool bEmpty = m_pData->Empty();
    const double dLastFrame =
        std::max<double>(bEmpty ? 1 : m_pData->Points().back().nFrame, m_nCurrentFrame);
    double dFirst = 1.0;
    double dLast = dLastFrame;
    if (m_bZoomed) {
        dFirst = m_dZoomFirst;
        dLast = m_dZoomLast;
    } else if (IsWholeRun()) {
        dFirst = bEmpty ? 1.0 : m_pData->At(0).nFrame;
    } else {
        dLast = std::max<double>(dLastFrame, kRecentFrames);
        dFirst = dLast - kRecentFrames + 1;
    }
    const int nColumns = std::max(100, static_cast<int>(m_pChart->plotArea().width()));
    QScopedValueRollback<bool> drawing(m_bDrawing, true);
    m_pChart->SetCurrentFrame(m_nCurrentFrame);
    m_pChart->ShowRange(*m_pData, dFirst, dLast, nColumns, m_bZoomed);
}

void CCurvesWnd::OnFrameRangeChanged(qreal dMin, qreal dMax) {
    if (m_bDrawing) return;
    // A zoom by the user: the points are thinned again for the new range, once it has settled.
    m_bZoomed = true;
    m_dZoomFirst = dMin;
    m_dZoomLast = dMax;
    QMetaObject::invokeMethod(this, &CCurvesWnd::RedrawNow, Qt::QueuedConnection);
}

void CCurvesWnd::OnPointed(double dFrame, const QPoint& ptGlobal) {
    if (m_pData->Empty()) return;
    const CurvePoint& point = m_pData->At(m_pData->Nearest(dFrame));
    const QString strTip = tr("Frame %1 at %2 s\nread %3, written %4\ntarget %5, dark %6 %")
                               .arg(point.nFrame)
                               .arg(point.dTime, 0, 'f', 3)
                               .arg(Figure(point.fBefore), Figure(point.fAfter),
                                    Figure(point.fTarget), Figure(point.fDarkFraction * 100.0f));
    QToolTip::showText(ptGlobal, strTip, m_pView);
}
