// SPDX-License-Identifier: GPL-3.0-or-later
#include "curves/CurveRecorder.h"

#include "curves/CurveData.h"
#include "processor/FrameProcessor.h"

CCurveRecorder::CCurveRecorder(CCurveData* pData)
    : m_pData(pData), m_nIndexOffset(0), m_nLastWritten(0) {}

void CCurveRecorder::Record(const CFrameProcessor& processor, int nFrame, double dTime,
                            bool bManipulating) {
    const FrameFigures latest = processor.GetLatestFigures();
    m_pData->Append(nFrame, dTime, latest.dBefore, latest.dDarkFraction, latest.dTarget);
    m_nIndexOffset = static_cast<int64_t>(m_pData->Size()) - 1 - latest.nNumber;
    RecordWrites(processor, bManipulating);
}

void CCurveRecorder::RecordWrites(const CFrameProcessor& processor, bool bManipulating) {
    const int nCut = processor.LastCutFrame();
    if (nCut != 0 && nCut != m_nLastCut) {
        m_nLastCut = nCut;
        const int64_t nIndex = nCut + m_nIndexOffset;
        if (nIndex >= 0) m_pData->SetCut(static_cast<size_t>(nIndex));
    }
    const FrameFigures written = processor.GetLastWrittenFigures();
    if (written.nNumber != 0 && written.nNumber != m_nLastWritten) {
        m_nLastWritten = written.nNumber;
        const int64_t nIndex = written.nNumber + m_nIndexOffset;
        // A frame written for the first time; one recorded before the data was cleared (a new
        // input) has no point any more.
        if (nIndex >= 0) {
            m_pData->SetWritten(static_cast<size_t>(nIndex),
                                bManipulating ? written.dAfter : written.dBefore, written.dTarget);
        }
    }
}
