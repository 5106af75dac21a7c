// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's frame controls: the frame step, continuous play on the one-shot timer,
// "Skip 100", the forward seek of the "Frame #" box and the four switches.
#include <QAbstractButton>
#include <QCheckBox>
#include <climits>
#include <cmath>
#include <ctime>

#include "app/VarnelDlg.h"
#include "common/LastError.h"
#include "curves/CurveRecorder.h"
#include "media/MediaReader.h"
#include "media/MediaWriter.h"
#include "processor/FrameProcessor.h"
#include "processor/FrameStep.h"
#include "ui/DialogControls.h"
#include "ui/NumberText.h"
#include "ui/PreviewPane.h"

namespace {

constexpr int kSkipCount = 100;

// The check state of a button: 0 unchecked, 1 checked, 2 indeterminate.
int GetCheck(const QAbstractButton* pButton) {
    // Qt numbers the states otherwise: PartiallyChecked is 1 and Checked is 2.
    if (const auto* pCheckBox = qobject_cast<const QCheckBox*>(pButton)) {
        if (pCheckBox->checkState() == Qt::PartiallyChecked) return 2;
    }
    return pButton->isChecked() ? 1 : 0;
}

// A typed frame number, truncated toward zero. Numbers beyond the int range are clamped to it
// (converting them would be undefined); "nan" reads as no number, 0.
int TruncateFrameNumber(double dNumber) {
    if (std::isnan(dNumber)) return 0;
    if (dNumber >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (dNumber <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(dNumber);
}

// Processor time of the calling thread: each Lap gives the milliseconds since the last one.
class CCostClock {
  public:
    double Lap() {
        const double dNow = Now();
        const double dLap = dNow - m_dLast;
        m_dLast = dNow;
        return dLap;
    }

  private:
    static double Now() {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
    }
    double m_dLast = Now();
};

}  // namespace

void CVarnelDlg::OnNext() {
    // The readouts follow the step: each is set and repainted as soon as its figure is known.
    // The brightness curves record every frame processed.
    // What each part costs is kept for the benchmarks.
    struct Readouts {
        CVarnelDlg& dlg;
        StepCost& cost;
        CCostClock clock;
        int nFrame = 0;
        double dTime = 0.0;
        void OnFrameNumber(int nNumber) {
            clock.Lap();
            nFrame = nNumber;
            dlg.SetReadout(dlg.m_editFrameNumber, QString::number(nFrame));
            cost.dReadouts += clock.Lap();
        }
        void OnFrameTime(double dFrameTime) {
            cost.dRead += clock.Lap();
            dTime = dFrameTime;
            dlg.SetReadout(dlg.m_editFrameTime, FormatNumber("%e", dTime));
            cost.dReadouts += clock.Lap();
        }
        void OnDisplay(const FrameStepDisplay& display) {
            cost.dProcess += clock.Lap();
            dlg.SetReadout(dlg.m_editBefore, FormatNumber("%e", display.dBefore));
            dlg.SetReadout(dlg.m_editAfter, FormatNumber("%e", display.dAfter));
            dlg.SetReadout(dlg.m_editDark, FormatNumber("%e", display.dDarkFraction * 100.0));
            dlg.ShowSceneTarget();
            cost.dReadouts += clock.Lap();
            dlg.m_pPreview->ShowFrame(display.pFormat, display.pPixels);
            cost.dPreview += clock.Lap();
            dlg.m_pCurveRecorder->Record(*dlg.m_pProcessor, nFrame, dTime,
                                         GetCheck(dlg.m_btnImageManipulation) == 1);
        }
        // The picks that deflicker held, written at the end of the input.
        void OnFlushed() {
            dlg.m_pCurveRecorder->RecordWrites(*dlg.m_pProcessor,
                                               GetCheck(dlg.m_btnImageManipulation) == 1);
        }
    };
    m_lastStepCost = StepCost();
    Readouts readouts{*this, m_lastStepCost, CCostClock()};
    // The step's failures, as the media objects record them, go to the status line.
    ClearLastError();
    const HRESULT hr = StepFrame(*m_pReader, *m_pProcessor, readouts);
    if (FAILED(hr)) {
        OnEndOfInput(hr);
    } else {
        NoteFailure();
        m_strProgress = ProgressText(readouts.nFrame);
    }
    ShowStatus();
    FollowCurves(readouts.nFrame);
    m_lastStepCost.dCurves += readouts.clock.Lap();
}

void CVarnelDlg::OnEndOfInput(HRESULT hrRead) {
    m_bFreePlay = 0;
    // The end of the input is no failure; any other failed read is shown.
    if (hrRead == NS_E_NO_MORE_SAMPLES) ClearLastError();
    const bool bEnding = m_pWriter->IsWriting();
    m_pWriter->CloseOutput();
    NoteFailure();
    if (bEnding && !m_pWriter->IsWriting()) {
        m_strProgress = FinishedText(m_pWriter->GetFileSampleCount(), m_pWriter->GetFileDuration());
    } else if (hrRead == NS_E_NO_MORE_SAMPLES && !m_strProgress.startsWith(tr("Finished"))) {
        m_strProgress = tr("Finished: the input has ended; no output file is being written");
    }
}

void CVarnelDlg::OnFreePlay() {
    if (m_bFreePlay != 0) {
        m_bFreePlay = 0;  // the pending tick disarms the timer
        return;
    }
    m_bFreePlay = 1;
    SetTimer();
}

void CVarnelDlg::OnTimer(int /*nIDEvent*/) {
    KillTimer();
    if (m_bFreePlay != 0) {
        OnNext();
        SetTimer();  // also after a step that turned play off; that tick only disarms
    }
}

void CVarnelDlg::OnSkip100() { AdvanceWithoutShowing(kSkipCount); }

void CVarnelDlg::OnKillFocusFrameNumber() {
    const int nCurrent = m_pReader->GetFrameNumber();
    const QString text = m_editFrameNumber->text();
    const int nTarget = text.isEmpty() ? nCurrent : TruncateFrameNumber(ReadNumber(text));
    const int64_t nDifference = static_cast<int64_t>(nTarget) - nCurrent;
    if (nDifference <= 0) return;
    AdvanceWithoutShowing(nDifference);
}

void CVarnelDlg::OnChangeFrameNumber() {}

void CVarnelDlg::AdvanceWithoutShowing(int64_t nCount) {
    for (int64_t i = 0; i < nCount; ++i) {
        m_pReader->NextFrameNumber();
        INSSBuffer* pSample = nullptr;
        BITMAPINFOHEADER* pFormat = nullptr;
        const HRESULT hr = m_pReader->GetNextFrame(&pSample, &pFormat);
        if (pSample != nullptr) pSample->Release();
        if (FAILED(hr)) {
            // Every later read would fail the same way: the input has ended (or none is open).
            // The rest of the count only moves the counter, at once however large it is.
            m_pReader->SkipFrameNumbers(nCount - i - 1);
            break;
        }
    }
    FollowCurves(m_pReader->GetFrameNumber());
}

void CVarnelDlg::OnShowWrite() { m_pProcessor->SelectDisplay(GetCheck(m_btnShowWrite) & 3); }

void CVarnelDlg::OnShowRead() { OnShowWrite(); }

void CVarnelDlg::OnImageManipulation() {
    m_pProcessor->SetManipulation(GetCheck(m_btnImageManipulation) & 3);
}

void CVarnelDlg::OnMarkMinPixel() {
    m_pProcessor->SetMarkCrossings(GetCheck(m_btnMarkMinPixel) & 3);
}

void CVarnelDlg::SetReadout(CEditBox* pEdit, const QString& text) {
    pEdit->setText(text);
    pEdit->repaint();
}

void CVarnelDlg::SetTimer() { m_timer.start(); }

void CVarnelDlg::KillTimer() { m_timer.stop(); }

void CVarnelDlg::OnPlayTimerTimeout() { OnTimer(kPlayTimerId); }
