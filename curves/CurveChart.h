// SPDX-License-Identifier: GPL-3.0-or-later
// The brightness curves as one Qt chart, for the window and for pictures alike.
#pragma once

#include <QChart>
#include <QString>

#include "curves/CurveThinning.h"

class CCurveData;
class QCategoryAxis;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

// Over the frame number (bottom axis, with the input time of some frames as labels on the top
// axis): the brightness of every frame read, the brightness of every frame written, the frames
// written marked on the first curve, the target brightness, the cuts that start a new shot
// (deflicker) as vertical lines, and on a second axis the dark pixels in percent; a thin vertical
// line may mark the current frame. Brightness runs 0..255 and dark pixels 0..100 % unless ShowRange
// is told to keep the vertical ranges (a zoom).
//
// The chart owns its series and axes (Qt parents); it holds no frame data of its own beyond the
// thinned points it draws. Like any QGraphicsWidget it needs a QApplication.
class CCurveChart : public QChart {
    Q_OBJECT
  public:
    // The series' names, as the legend shows them.
    static const char* const kBeforeName;
    static const char* const kWrittenName;
    static const char* const kPicksName;
    static const char* const kTargetName;
    static const char* const kDarkName;
    static const char* const kCutsName;

    CCurveChart();

    // Draws the frames dFirst..dLast of data thinned to nColumns columns, and relabels the time
    // axis. bKeepVertical leaves the vertical ranges as they are.
    void ShowRange(const CCurveData& data, double dFirst, double dLast, int nColumns,
                   bool bKeepVertical = false);
    // The vertical line at the current frame; 0 or less hides it.
    void SetCurrentFrame(int nFrame);
    // The title: a first line, and a smaller second one when not empty.
    void SetHeadline(const QString& strFirst, const QString& strSecond);

    QValueAxis* FrameAxis() const { return m_pFrameAxis; }
    QLineSeries* BeforeSeries() const { return m_pBefore; }

  private:
    void RelabelTime(const CCurveData& data, double dFirst, double dLast);
    void PlaceCursor();

    QValueAxis* m_pFrameAxis;
    QCategoryAxis* m_pTimeAxis;
    QValueAxis* m_pBrightnessAxis;
    QValueAxis* m_pDarkAxis;
    QLineSeries* m_pBefore;
    QLineSeries* m_pWritten;
    QScatterSeries* m_pPicks;
    QLineSeries* m_pTarget;
    QLineSeries* m_pDark;
    QLineSeries* m_pCuts;
    QLineSeries* m_pCursor;
    int m_nCurrentFrame;
};

// The text with each control character shown as '?', as `ls` shows names: such characters draw
// as nothing useful, and XML does not allow them.
QString PrintableText(const QString& strText);
// The two title lines for a run: the input and output file names (printable), and the options.
QString CurveTitleNames(const QString& strInput, const QString& strOutput);
// dDeflicker is the span of deflicker that follows the scene in seconds; 0 when it is off.
QString CurveTitleOptions(double dBrightness, double dMinPixval, double dDarkFactor,
                          bool bManipulate, bool bMarkCrossings, double dDeflicker);
