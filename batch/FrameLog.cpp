// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/FrameLog.h"

#include <utility>

CFrameLog::CFrameLog(Sink sink)
    : m_sink(std::move(sink)),
      m_nLastWrittenFrame(0),
      m_bWrittenMark(false),
      m_nFramesRead(0),
      m_nFramesPicked(0),
      m_nSamplesWritten(0),
      m_cnsLastOutputTime(0) {}

void CFrameLog::AddFrame(int nFrame, double dTime, const INSSBuffer* pSample) {
    PendingFrame pending;
    pending.record.nFrame = nFrame;
    pending.record.dTime = dTime;
    pending.pSample = pSample;
    m_pending.push_back(std::move(pending));
    ++m_nFramesRead;
}

void CFrameLog::SetMeasurement(double dBefore, double dDarkFraction, double dTarget) {
    if (m_pending.empty()) return;
    m_pending.back().record.dBefore = dBefore;
    m_pending.back().record.dDarkFraction = dDarkFraction;
    m_pending.back().record.dTarget = dTarget;
}

bool CFrameLog::OnWritten(const INSSBuffer* pSample, QWORD cnsTime) {
    ++m_nSamplesWritten;
    m_cnsLastOutputTime = cnsTime;
    m_bWrittenMark = true;
    // Newest first: an older record with the same address belongs to a sample already released,
    // whose memory the runtime may have handed out again.
    for (auto it = m_pending.rbegin(); it != m_pending.rend(); ++it) {
        if (it->pSample != pSample) continue;
        FrameRecord& record = it->record;
        if (!record.bPicked) {
            record.bPicked = true;
            ++m_nFramesPicked;
        }
        record.outputTimes.push_back(cnsTime);
        m_nLastWrittenFrame = record.nFrame;
        return true;
    }
    return false;
}

bool CFrameLog::TakeWrittenMark() { return std::exchange(m_bWrittenMark, false); }

void CFrameLog::SetAfterOfLastWritten(double dAfter, double dTarget) {
    for (PendingFrame& pending : m_pending) {
        if (pending.record.nFrame != m_nLastWrittenFrame) continue;
        pending.record.dAfter = dAfter;
        pending.record.dTarget = dTarget;
    }
}

void CFrameLog::MarkCut(int nBack) {
    if (nBack < 0 || static_cast<size_t>(nBack) >= m_pending.size()) return;
    m_pending[m_pending.size() - 1 - static_cast<size_t>(nBack)].record.bCut = true;
}

void CFrameLog::Retire() {
    while (!m_pending.empty() && m_pending.front().record.nFrame <= m_nLastWrittenFrame) {
        if (m_sink) m_sink(m_pending.front().record);
        m_pending.pop_front();
    }
}

void CFrameLog::Finish() {
    for (const PendingFrame& pending : m_pending) {
        if (m_sink) m_sink(pending.record);
    }
    m_pending.clear();
}
