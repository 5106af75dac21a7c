// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's frame controls: the frame step, continuous play on the one-shot timer,
// "Skip 100", the forward seek of the "Frame #" box and the four switches.
#include <QAbstractButton>
#include <QCheckBox>
#include <climits>
#include <cmath>

#include "app/VarnelDlg.h"
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

}  // namespace

void CVarnelDlg::OnNext() {
    // The readouts follow the step: each is set and repainted as soon as its figure is known.
    // The brightness curves record every frame processed.
    struct Readouts {
        CVarnelDlg& dlg;
        int nFrame = 0;
        double dTime = 0.0;
        void OnFrameNumber(int nNumber) {
            nFrame = nNumber;
            dlg.SetReadout(dlg.m_editFrameNumber, QString::number(nFrame));
        }
        void OnFrameTime(double dFrameTime) {
            dTime = dFrameTime;
            dlg.SetReadout(dlg.m_editFrameTime, FormatNumber("%e", dTime));
        }
        void OnDisplay(const FrameStepDisplay& display) {
            dlg.SetReadout(dlg.m_editBefore, FormatNumber("%e", display.dBefore));
            dlg.SetReadout(dlg.m_editAfter, FormatNumber("%e", display.dAfter));
            dlg.SetReadout(dlg.m_editDark, FormatNumber("%e", display.dDarkFraction * 100.0));
            dlg.ShowSceneTarget();
            dlg.m_pPreview->ShowFrame(display.pFormat, display.pPixels);
            dlg.m_pCurveRecorder->Record(*dlg.m_pProcessor, nFrame, dTime,
                                         GetCheck(dlg.m_btnImageManipulation) == 1);
        }
        // The picks that deflicker held, written at the end of the input.
        void OnFlushed() {
            dlg.m_pCurveRecorder->RecordWrites(*dlg.m_pProcessor,
                                               GetCheck(dlg.m_btnImageManipulation) == 1);
        }
    } readouts{*this};
    if (FAILED(StepFrame(*m_pReader, *m_pProcessor, readouts))) {
        m_bFreePlay = 0;
        m_pWriter->CloseOutput();
    }
    FollowCurves(readouts.nFrame);
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
