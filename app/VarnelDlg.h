// SPDX-License-Identifier: GPL-3.0-or-later
// CVarnelDlg: the main window, the program's only working window.
#pragma once

#include <QIcon>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <memory>

#include "app/TemplateDlg.h"
#include "platform/wmf/wmsdk.h"

class CBitmapStatic;
class CCurveData;
class CCurveRecorder;
class CCurvesWnd;
class CEditBox;
class CFrameProcessor;
class CMediaReader;
class CMediaWriter;
class CPreviewPane;
class CScaledSlider;
class CTrackbar;
class QAbstractButton;
class QAction;
class QContextMenuEvent;
class QMenu;
class QPaintEvent;

// The main dialog (template IDD_VARNEL_DIALOG): the two file names, the frame controls, the
// switches, the three scaled sliders, the readouts and the preview.
//
// The "Brightness Curves" window (window menu) follows the frame steps, skips and seeks; it closes
// with the dialog.
//
// Ownership: the controls are the window's children. The reader, the writer, the processor,
// the preview and the three sliders are created when the window opens (OnInitDialog) and owned
// by the dialog; they are never replaced while the window is open. Closing the window (Exit,
// Escape, the window menu's or the frame's close) stops play, routes no further control events,
// ends an output still being written (the file is finished, not left corrupt) and releases the
// processor with its queued samples, the writer, the reader, the preview and the sliders.
//
// The status line (IDC_STATUS, read-only, at the foot) says what happened, and nothing modal
// pops up for it. A failure that the media objects record through RecordLastError while a name
// is committed or a frame step runs is shown as DescribeLastError gives it ("Could not begin
// writing file /proc/x.mp4: access denied (0x80070005)"); the first one since the last commit
// stays until a name is committed again, which clears it when that goes well. Otherwise the
// line shows where stepping is ("Frame N of about M", M the reader's expected count, "Frame N"
// when it has none or N is past it), and at the end of the input "Finished: K pictures written
// to OUT (D s)"; an output that got no picture is dropped, and the line says so. The end of the
// input is no failure.
//
// Text typed into the boxes reaches the media objects in the local 8-bit encoding, so names
// with accents open. Numbers are shown with "%d" and "%e"; the frame number is read with atof,
// a slider box that does not hold a finite number is put back (see CScaledSlider).
//
// "Fit Preview" (window menu, checkable) scales the preview to the picture area, from the picture
// control's corner to the dialog's right margin and the status line; the choice is kept in the
// user's settings (QSettings, organisation and application "Varnel").
class CVarnelDlg : public CTemplateDlg {
    Q_OBJECT
  public:
    // The window-menu command that opens the About box; any id that equals it once its four low
    // bits are cleared does.
    static constexpr unsigned int kAboutCommand = 0x0010;
    // The window-menu command that opens the "Brightness Curves" window, likewise.
    static constexpr unsigned int kCurvesCommand = 0x0020;
    // The window-menu command that switches "Fit Preview", likewise.
    static constexpr unsigned int kFitPreviewCommand = 0x0030;
    // The window-menu command that closes the window.
    static constexpr unsigned int kCloseCommand = 0xF060;
    // The play timer stands for the window timer of id 0, armed one-shot.
    static constexpr int kPlayTimerId = 0;
    static constexpr int kPlayTimerInterval = 33;  // milliseconds

    explicit CVarnelDlg(QWidget* pParent = nullptr);
    ~CVarnelDlg() override;

    // Window-menu commands (from the context menu of the dialog's background).
    void OnSysCommand(unsigned int nID, intptr_t lParam);
    // The icon shown while the minimised window is dragged.
    QIcon OnQueryDragIcon() const;

    // The file names.
    void OnBrowseInput();
    void OnBrowseOutput();
    void OnKillFocusInputName();
    void OnKillFocusOutputName();

    // The frame controls and switches.
    void OnNext();
    void OnFreePlay();
    void OnTimer(int nIDEvent);
    void OnSkip100();
    void OnKillFocusFrameNumber();
    void OnChangeFrameNumber();
    void OnShowWrite();
    void OnShowRead();
    void OnImageManipulation();
    void OnMarkMinPixel();
    // "Follow the Scene": deflicker with the default span. While it is on, the "Brightness"
    // slider shows the displayed frame's local target in its value box and on its trackbar (the
    // trackbar disabled, the box read-only) instead of the level it sets, which comes back when
    // the check box is cleared; Before and After are then the mean luminance of all pixels.
    void OnFollowScene();

    // The sliders.
    void PushSliderValues();
    void OnKillFocusBrightnessMax();
    void OnKillFocusBrightnessMin();
    void OnKillFocusBrightnessValue();
    void OnKillFocusMinPixvalMax();
    void OnKillFocusMinPixvalMin();
    void OnKillFocusMinPixvalValue();
    void OnKillFocusDarkFactorMax();
    void OnKillFocusDarkFactorMin();
    void OnKillFocusDarkFactorValue();
    // nSBCode and nPos are carried along as the notification gives them; every code is treated
    // alike. A sender that is none of the three trackbars gets the default handling (none).
    void OnVScroll(unsigned int nSBCode, unsigned int nPos, CTrackbar* pScrollBar);

    // Opens the "Brightness Curves" window, or brings it to the front.
    void OnBrightnessCurves();
    // The curves window once it has been opened, else null.
    CCurvesWnd* GetCurvesWnd() const { return m_pCurvesWnd; }

    // Switches "Fit Preview" and keeps the choice; IsFitPreview tells it.
    void OnFitPreview();
    bool IsFitPreview() const { return m_bFitPreview; }

    // Processor time of the parts of the last frame step, in milliseconds, for benchmarks:
    // reading the frame, the processor, the readouts with their repaints, the preview's
    // conversion, the curves' record.
    struct StepCost {
        double dRead = 0.0;
        double dProcess = 0.0;
        double dReadouts = 0.0;
        double dPreview = 0.0;
        double dCurves = 0.0;
    };
    const StepCost& GetLastStepCost() const { return m_lastStepCost; }

    // Continuous play is on (0 or 1), and whether the play timer has a tick pending.
    int GetFreePlay() const { return m_bFreePlay; }
    bool IsPlayTimerArmed() const { return m_timer.isActive(); }

    void done(int nResult) override;

  protected:
    bool OnInitDialog() override;
    void DoDataExchange(bool bSaveAndValidate) override;
    void paintEvent(QPaintEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;

  private:
    void ConnectControls();
    void OnPaint(QPaintEvent* pEvent);
    void ShowWindowMenu(const QPoint& ptGlobal);
    void OnWindowMenuTriggered(QAction* pAction);
    void OnTrackbarScrolled();
    void OnMenuKey();
    // A range box or the value box of a slider lost the focus: the slider re-reads its boxes,
    // then the three values go to the processor.
    void CommitSliderRange(CScaledSlider& slider);
    void CommitSliderValue(CScaledSlider& slider);
    // While the scene is followed, the "Brightness" slider shows the displayed frame's target.
    void ShowSceneTarget();
    bool IsFollowingScene() const;
    void OnPlayTimerTimeout();
    // The status line: the failure recorded since ClearLastError ("" when none), a step's kept
    // unless one is already, and ShowStatus puts the first of the input's, the output's and the
    // steps' failures, or else the progress, into the line.
    static QString RecordedFailure();
    void NoteFailure();
    void ShowStatus();
    // The end of the input reached by a frame step whose read gave hrRead: ends the output.
    void OnEndOfInput(HRESULT hrRead);
    QString FinishedText(int nSamples, double dDuration) const;
    // The frame step's progress text.
    QString ProgressText(int nFrame) const;
    // The area a fitted preview fills.
    QSize PictureArea() const;
    // Places the curves window beside the dialog.
    void PlaceCurvesWnd();
    // The framework's handling of window-menu commands other than the About box.
    void DefaultSysCommand(unsigned int nID);
    // The file chosen in a file dialog offering these name filters; empty when cancelled.
    QString BrowseForFile(const QStringList& filters);
    // Reads and releases nCount frames without processing or showing them; once a read fails
    // (the end of the input) the remaining advances move only the counter.
    void AdvanceWithoutShowing(int64_t nCount);
    // Sets the text of a readout and repaints it at once.
    void SetReadout(CEditBox* pEdit, const QString& text);
    // Tells the curves window, when open, that the frames moved on to nFrame.
    void FollowCurves(int nFrame);
    void SetTimer();
    void KillTimer();
    // Ends the routing of control events and timer ticks to the handlers.
    void StopRouting();
    void ReleaseMediaObjects();

    QAbstractButton* m_btnMarkMinPixel;
    QAbstractButton* m_btnShowWrite;
    CEditBox* m_editAfter;
    CEditBox* m_editDark;
    CEditBox* m_editMinPixvalMax;
    CTrackbar* m_sliderMinPixval;
    CEditBox* m_editMinPixvalValue;
    CEditBox* m_editMinPixvalMin;
    CEditBox* m_editDarkFactorMax;
    CTrackbar* m_sliderDarkFactor;
    CEditBox* m_editDarkFactorValue;
    CEditBox* m_editDarkFactorMin;
    CEditBox* m_editBrightnessMax;
    CEditBox* m_editBrightnessMin;
    CEditBox* m_editBrightnessValue;
    CTrackbar* m_sliderBrightness;
    CEditBox* m_editBefore;
    QAbstractButton* m_btnImageManipulation;
    CBitmapStatic* m_picture;
    CEditBox* m_editFrameTime;
    CEditBox* m_editFrameNumber;
    CEditBox* m_editOutputName;
    CEditBox* m_editInputName;
    QAbstractButton* m_btnFollowScene;
    CEditBox* m_editStatus;
    QIcon m_hIcon;
    std::unique_ptr<CMediaReader> m_pReader;
    std::unique_ptr<CMediaWriter> m_pWriter;
    std::unique_ptr<CFrameProcessor> m_pProcessor;
    std::unique_ptr<CPreviewPane> m_pPreview;
    std::unique_ptr<CScaledSlider> m_pBrightnessSlider;
    std::unique_ptr<CScaledSlider> m_pMinPixvalSlider;
    std::unique_ptr<CScaledSlider> m_pDarkFactorSlider;
    int m_bFreePlay;

    // The brightness curves: the figures of every frame processed, recorded whether or not the
    // window is open (a few numbers a frame), and the window once opened (a Qt child).
    std::unique_ptr<CCurveData> m_pCurveData;
    std::unique_ptr<CCurveRecorder> m_pCurveRecorder;
    CCurvesWnd* m_pCurvesWnd;

    // The status line's parts: the failures of the last input and output commits (each kept
    // until that name is committed again), the first failure of the steps since either, where
    // stepping is; and the figures the line takes from the files.
    QString m_strInputFailure;
    QString m_strOutputFailure;
    QString m_strStepFailure;
    QString m_strProgress;
    QString m_strOutputName;  // as committed last
    int m_nExpectedFrames;    // of the input committed last, 0 when unknown
    bool m_bOutputCommitted;
    bool m_bFitPreview;
    StepCost m_lastStepCost;

    // The window timer of id 0: single shot, 33 ms; arming it again restarts it.
    QTimer m_timer;
    // The window menu: "&Close", then the About item appended when the window opens, the curves
    // and the "Fit Preview" items.
    QMenu* m_pSysMenu;
    QAction* m_pFitPreviewAction;
};
