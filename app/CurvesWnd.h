// SPDX-License-Identifier: GPL-3.0-or-later
// CCurvesWnd: the "Brightness Curves" window beside the main dialog.
#pragma once

#include <QChartView>
#include <QString>
#include <QTimer>
#include <QWidget>

class CCurveChart;
class CCurveData;
class QRadioButton;

// The chart's view: the rubber band zooms in (the right button back out), the wheel zooms the
// frame axis around the pointer, a double click asks for the default view, and hovering over the
// plot tells the frame under the pointer.
class CCurveView : public QChartView {
    Q_OBJECT
  public:
    explicit CCurveView(CCurveChart* pChart, QWidget* pParent = nullptr);

  signals:
    void resetRequested();
    // dFrame is the frame number under the pointer, at ptGlobal on the screen.
    void pointed(double dFrame, const QPoint& ptGlobal);

  protected:
    void wheelEvent(QWheelEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
};

// A non-modal window titled "Brightness Curves" that draws the curves of the data as they grow.
// Follow (after each frame step, skip or seek) asks for a redraw; redraws are coalesced by a
// single-shot timer, so the window draws at most about ten times a second however fast frames
// come, and a hidden window does not draw at all. It shows the last kRecentFrames frames up to
// the current one, or the whole run; a zoom holds its frame range, while new frames arrive,
// until a double click or a change of view.
//
// The window reads the data, which its owner keeps and changes only between Follow calls; it
// holds nothing of the frames but the thinned points on screen. It is a child window of its
// owner (Qt parent), so it stays usable beside a modal owner and dies with it; closing it only
// hides it.
class CCurvesWnd : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRecentFrames = 600;
    static constexpr int kRedrawInterval = 100;  // milliseconds

    CCurvesWnd(const CCurveData* pData, QWidget* pOwner);

    // Where a window whose frame is `wanted` large goes beside the owner's frame `rcOwner` on
    // the screen's free area `rcScreen`, never over the owner: to its right where it fits, else
    // to its left, else on the wider of the two sides, narrowed to it; when neither side has
    // kNarrowest pixels, below the owner, else above it, shortened likewise. Only when no side
    // has room (or no screen is known) does it stay to the right at its size. Top edges line up
    // with the owner's where the screen allows.
    static constexpr int kNarrowest = 320;
    static QRect PlaceBeside(const QRect& rcOwner, const QSize& wanted, const QRect& rcScreen);

    // The data changed or the current frame moved: redraw within kRedrawInterval.
    void Follow(int nCurrentFrame);
    void SetHeadline(const QString& strFirst, const QString& strSecond);
    // The whole run (true) or the last kRecentFrames frames; either drops a zoom.
    void SetWholeRun(bool bWholeRun);
    bool IsWholeRun() const;
    bool IsZoomed() const { return m_bZoomed; }
    bool IsRedrawPending() const { return m_redrawTimer.isActive(); }
    // Draws at once what a pending redraw would draw.
    void RedrawNow();
    CCurveChart* Chart() const { return m_pChart; }

  protected:
    void showEvent(QShowEvent* pEvent) override;

  private:
    void OnFrameRangeChanged(qreal dMin, qreal dMax);
    void ResetZoom();
    void OnPointed(double dFrame, const QPoint& ptGlobal);

    const CCurveData* m_pData;
    CCurveChart* m_pChart;
    CCurveView* m_pView;
    QRadioButton* m_btnRecent;
    QRadioButton* m_btnWholeRun;
    QTimer m_redrawTimer;
    int m_nCurrentFrame;
    QString m_strHeadline;
    // While the window itself sets the frame range, a change of it is no zoom.
    bool m_bDrawing;
    bool m_bZoomed;
    double m_dZoomFirst;
    double m_dZoomLast;
};
