// SPDX-License-Identifier: GPL-3.0-or-later
#include "curves/CurveChart.h"

#include <QCategoryAxis>
#include <QFileInfo>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPen>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <vector>

#include "curves/CurveData.h"

const char* const CCurveChart::kBeforeName = "Brightness read";
const char* const CCurveChart::kWrittenName = "Brightness written";
const char* const CCurveChart::kPicksName = "Frames written";
const char* const CCurveChart::kTargetName = "Target";
const char* const CCurveChart::kDarkName = "Dark pixels (%)";
const char* const CCurveChart::kCutsName = "Cuts";

namespace {

constexpr double kBrightnessTop = 255.0;
constexpr double kDarkTop = 100.0;
constexpr int kTimeLabels = 8;

// The series' colours: fixed, so that the window and the pictures look alike.
const QColor kBeforeColour(0x1f, 0x77, 0xb4);
const QColor kWrittenColour(0x2c, 0xa0, 0x2c);
const QColor kPicksColour(0xd6, 0x27, 0x28);
const QColor kTargetColour(0xff, 0x7f, 0x0e);
const QColor kDarkColour(0x8c, 0x8c, 0x8c);
const QColor kCursorColour(0x40, 0x40, 0x40);
const QColor kCutsColour(0x94, 0x67, 0xbd);

QLineSeries* MakeLine(const char* pszName, const QColor& colour, qreal dWidth,
                      Qt::PenStyle style = Qt::SolidLine) {
    auto* pSeries = new QLineSeries;
    pSeries->setName(QString::fromUtf8(pszName));
    QPen pen(colour, dWidth, style);
    pen.setCosmetic(true);
    pSeries->setPen(pen);
    return pSeries;
}

// A vertical axis from 0 to dTop in five steps.
QValueAxis* MakeValueAxis(const QString& strTitle, double dTop) {
    auto* pAxis = new QValueAxis;
    pAxis->setTitleText(strTitle);
    pAxis->setRange(0.0, dTop);
    pAxis->setTickCount(6);
    pAxis->setLabelFormat(QStringLiteral("%.0f"));
    return pAxis;
}

// A time in the input as a label: seconds below a minute, else minutes and seconds, with the
// decimals that the spacing of the labels needs.
QString TimeLabel(double dSeconds, double dSpacing) {
    const int nDecimals = dSpacing >= 1.0 ? 0 : dSpacing >= 0.1 ? 1 : 2;
    if (dSeconds < 60.0) return QStringLiteral("%1 s").arg(dSeconds, 0, 'f', nDecimals);
    const long nMinutes = static_cast<long>(dSeconds / 60.0);
    const double dRest = dSeconds - 60.0 * static_cast<double>(nMinutes);
    const QString strSeconds =
        QStringLiteral("%1").arg(dRest, nDecimals > 0 ? 3 + nDecimals : 2, 'f', nDecimals, '0');
    if (nMinutes < 60) return QStringLiteral("%1:%2").arg(nMinutes).arg(strSeconds);
    return QStringLiteral("%1:%2:%3")
        .arg(nMinutes / 60)
        .arg(nMinutes % 60, 2, 10, QLatin1Char('0'))
        .arg(strSeconds);
}

}  // namespace

CCurveChart::CCurveChart()
    : m_pFrameAxis(new QValueAxis),
      m_pTimeAxis(new QCategoryAxis),
      m_pBrightnessAxis(MakeValueAxis(QStringLiteral("Brightness (luminance)"), kBrightnessTop)),
      m_pDarkAxis(MakeValueAxis(QString::fromUtf8(kDarkName), kDarkTop)),
      m_pBefore(MakeLine(kBeforeName, kBeforeColour, 1.0)),
      m_pWritten(MakeLine(kWrittenName, kWrittenColour, 1.5)),
      m_pPicks(new QScatterSeries),
      m_pTarget(MakeLine(kTargetName, kTargetColour, 1.5, Qt::DashLine)),
      m_pDark(MakeLine(kDarkName, kDarkColour, 1.0)),
      m_pCuts(MakeLine(kCutsName, kCutsColour, 1.0, Qt::DashLine)),
      m_pCursor(MakeLine("", kCursorColour, 1.0, Qt::DotLine)),
      m_nCurrentFrame(0) {
    setAnimationOptions(QChart::NoAnimation);
    setDropShadowEnabled(false);  // a blur redone at every redraw
    legend()->setAlignment(Qt::AlignBottom);

    m_pPicks->setName(QString::fromUtf8(kPicksName));
    m_pPicks->setMarkerShape(QScatterSeries::MarkerShapeCircle);
    m_pPicks->setMarkerSize(6.0);
    m_pPicks->setColor(kPicksColour);
    m_pPicks->setBorderColor(kPicksColour);

    m_pFrameAxis->setTitleText(QStringLiteral("Frame"));
    m_pFrameAxis->setLabelFormat(QStringLiteral("%.0f"));
    m_pFrameAxis->setRange(0.0, 1.0);
    m_pTimeAxis->setTitleText(QStringLiteral("Input time"));
    m_pTimeAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    m_pTimeAxis->setGridLineVisible(false);
    m_pTimeAxis->setRange(0.0, 1.0);
    m_pDarkAxis->setGridLineVisible(false);

    addAxis(m_pFrameAxis, Qt::AlignBottom);
    addAxis(m_pTimeAxis, Qt::AlignTop);
    addAxis(m_pBrightnessAxis, Qt::AlignLeft);
    addAxis(m_pDarkAxis, Qt::AlignRight);
    // Drawn in this order: the dark pixels at the back, the picks in front.
    for (QXYSeries* pSeries :
         {static_cast<QXYSeries*>(m_pDark), static_cast<QXYSeries*>(m_pTarget),
          static_cast<QXYSeries*>(m_pBefore), static_cast<QXYSeries*>(m_pWritten),
          static_cast<QXYSeries*>(m_pPicks), static_cast<QXYSeries*>(m_pCuts),
          static_cast<QXYSeries*>(m_pCursor)}) {
        addSeries(pSeries);
        pSeries->attachAxis(m_pFrameAxis);
        pSeries->attachAxis(pSeries == m_pDark ? m_pDarkAxis : m_pBrightnessAxis);
    }
    for (QLegendMarker* pMarker : legend()->markers(m_pCursor)) pMarker->setVisible(false);
    for (QLegendMarker* pMarker : legend()->markers(m_pCuts)) pMarker->setVisible(false);

    // The time labels stand over the frames they name, whatever moves the frame axis.
    connect(m_pFrameAxis, &QValueAxis::rangeChanged, m_pTimeAxis,
            [this](qreal dMin, qreal dMax) { m_pTimeAxis->setRange(dMin, dMax); });
}

void CCurveChart::ShowRange(const CCurveData& data, double dFirst, double dLast, int nColumns,
                            bool bKeepVertical) {
    if (!(dLast > dFirst)) dLast = dFirst + 1.0;
    const CurveSeriesPoints points = ThinCurves(data, dFirst, dLast, nColumns);
    m_pBefore->replace(points.before);
    m_pWritten->replace(points.written);
    m_pPicks->replace(points.picks);
    m_pTarget->replace(points.target);
    m_pDark->replace(points.dark);
    QList<QPointF> cutLines;
    for (const QPointF& cut : points.cuts) {
        cutLines << cut << QPointF(cut.x(), kBrightnessTop) << cut;
    }
    m_pCuts->replace(cutLines);
    for (QLegendMarker* pMarker : legend()->markers(m_pCuts)) {
        pMarker->setVisible(!cutLines.isEmpty());
    }
    m_pFrameAxis->setRange(dFirst, dLast);
    if (!bKeepVertical) {
        m_pBrightnessAxis->setRange(0.0, kBrightnessTop);
        m_pDarkAxis->setRange(0.0, kDarkTop);
    }
    RelabelTime(data, dFirst, dLast);
    PlaceCursor();
}

void CCurveChart::SetCurrentFrame(int nFrame) {
    if (nFrame == m_nCurrentFrame) return;
    m_nCurrentFrame = nFrame;
    PlaceCursor();
}

void CCurveChart::PlaceCursor() {
    if (m_nCurrentFrame <= 0) {
        m_pCursor->clear();
        return;
    }
    m_pCursor->replace({QPointF(m_nCurrentFrame, m_pBrightnessAxis->min()),
                        QPointF(m_nCurrentFrame, m_pBrightnessAxis->max())});
}

void CCurveChart::SetHeadline(const QString& strFirst, const QString& strSecond) {
    QString strTitle = QStringLiteral("<b>%1</b>").arg(strFirst.toHtmlEscaped());
    if (!strSecond.isEmpty()) {
        strTitle += QStringLiteral("<br><small>%1</small>").arg(strSecond.toHtmlEscaped());
    }
    setTitle(strTitle);
}

void CCurveChart::RelabelTime(const CCurveData& data, double dFirst, double dLast) {
    for (const QString& strLabel : m_pTimeAxis->categoriesLabels()) m_pTimeAxis->remove(strLabel);
    m_pTimeAxis->setStartValue(dFirst);
    if (data.Empty()) return;
    // Labels at the frames nearest to evenly spaced places, each once and in order.
    const double dStep = (dLast - dFirst) / kTimeLabels;
    size_t iPrevious = data.Size();
    std::vector<size_t> indices;
    for (int n = 0; n <= kTimeLabels; ++n) {
        const size_t i = data.Nearest(dFirst + n * dStep);
        const double dFrame = data.At(i).nFrame;
        if (i == iPrevious || dFrame < dFirst || dFrame > dLast) continue;
        indices.push_back(i);
        iPrevious = i;
    }
    if (indices.empty()) return;
    const double dSpacing = indices.size() > 1
                                ? (data.At(indices.back()).dTime - data.At(indices.front()).dTime) /
                                      static_cast<double>(indices.size() - 1)
                                : 1.0;
    QString strPrevious;
    for (size_t i : indices) {
        const QString strLabel = TimeLabel(data.At(i).dTime, dSpacing);
        if (strLabel == strPrevious || m_pTimeAxis->categoriesLabels().contains(strLabel)) continue;
        m_pTimeAxis->append(strLabel, data.At(i).nFrame);
        strPrevious = strLabel;
    }
}

QString PrintableText(const QString& strText) {
    QString strPrintable = strText;
    for (QChar& c : strPrintable) {
        if (c.category() == QChar::Other_Control) c = u'?';
    }
    return strPrintable;
}

QString CurveTitleNames(const QString& strInput, const QString& strOutput) {
    const auto name = [](const QString& strPath) {
        return strPath.isEmpty() ? QStringLiteral("(none)")
                                 : PrintableText(QFileInfo(strPath).fileName());
    };
    return QStringLiteral("%1 \u2192 %2").arg(name(strInput), name(strOutput));
}

QString CurveTitleOptions(double dBrightness, double dMinPixval, double dDarkFactor,
                          bool bManipulate, bool bMarkCrossings, double dDeflicker) {
    QString strOptions = dDeflicker > 0.0
                             ? QStringLiteral("deflicker over %1 s").arg(dDeflicker, 0, 'g', 6)
                             : QStringLiteral("brightness %1").arg(dBrightness, 0, 'g', 6);
    strOptions += QStringLiteral(", min. pixval %1, dark factor %2")
                      .arg(dMinPixval, 0, 'g', 6)
                      .arg(dDarkFactor, 0, 'g', 6);
    strOptions +=
        bManipulate ? QStringLiteral(", manipulation on") : QStringLiteral(", manipulation off");
    if (bMarkCrossings) strOptions += QStringLiteral(", crossings marked");
    return strOptions;
}
