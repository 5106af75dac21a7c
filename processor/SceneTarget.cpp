// SPDX-License-Identifier: GPL-3.0-or-later
#include "processor/SceneTarget.h"

#include <algorithm>
#include <cmath>

namespace {

// Frames in a span: at least 3, so that a line has something to stand on, and at most what an
// hour at 30 frames per second holds, whatever rate a caller passes.
int SpanFrames(double dSpanSeconds, double dFrameRate) {
    const double dFrames = std::min(dSpanSeconds, kMaxSceneSpan) * dFrameRate;
    if (!(dFrames > 3.0)) return 3;
    return static_cast<int>(std::lround(std::min(dFrames, 108000.0)));
}

}  // namespace

CSceneTarget::CSceneTarget(double dSpanSeconds, double dFrameRate)
    : m_nSpan(SpanFrames(dSpanSeconds, dFrameRate)),
      m_positions(static_cast<size_t>(m_nSpan)),
      m_values(static_cast<size_t>(m_nSpan)),
      m_scratch(static_cast<size_t>(m_nSpan)),
      m_nCount(0),
      m_nNext(0),
      m_dOrigin(0.0),
      m_dLevel(0.0),
      m_dSlope(0.0) {}

void CSceneTarget::Add(double dPosition, double dBrightness) {
    if (m_nCount == 0) {
        m_dLevel = dBrightness;
        m_dSlope = 0.0;
    } else {
        // The line so far, moved to the new origin, is where the reweighting starts.
        m_dLevel += m_dSlope * (dPosition - m_dOrigin);
    }
    m_dOrigin = dPosition;
    m_positions[static_cast<size_t>(m_nNext)] = dPosition;
    m_values[static_cast<size_t>(m_nNext)] = dBrightness;
    m_nNext = (m_nNext + 1) % m_nSpan;
    m_nCount = std::min(m_nCount + 1, m_nSpan);
    Fit();
}

double CSceneTarget::At(double dPosition) const {
    return m_dLevel + m_dSlope * (dPosition - m_dOrigin);
}

int CSceneTarget::IndexOfAge(int nAge) const {
    return (m_nNext - 1 - nAge + 2 * m_nSpan) % m_nSpan;
}

void CSceneTarget::Fit() {
    const int nCount = m_nCount;
    const double dDamping = static_cast<double>(nCount) / static_cast<double>(m_nSpan);
    for (int nIteration = 0; nIteration < kIterations; ++nIteration) {
        // The robust deviation of the residuals from the current line (median absolute
        // residual, scaled to a standard deviation); too few frames have none.
        double dCutoff = HUGE_VAL;
        if (nCount >= 3) {
            for (int k = 0; k < nCount; ++k) {
                const size_t i = static_cast<size_t>(IndexOfAge(k));
                m_scratch[static_cast<size_t>(k)] = std::fabs(m_values[i] - At(m_positions[i]));
            }
            const auto itMiddle = m_scratch.begin() + nCount / 2;
            std::nth_element(m_scratch.begin(), itMiddle, m_scratch.begin() + nCount);
            dCutoff = kHuber * std::max(kMinDeviation, 1.4826 * *itMiddle);
        }

        // Weighted least squares in positions relative to the newest frame.
        double dSumW = 0.0;
        double dSumX = 0.0;
        double dSumY = 0.0;
        for (int k = 0; k < nCount; ++k) {
            const size_t i = static_cast<size_t>(IndexOfAge(k));
            const double dResidual = std::fabs(m_values[i] - At(m_positions[i]));
            const double dShape = static_cast<double>(k + 1) * static_cast<double>(nCount - k);
            const double dWeight = dResidual <= dCutoff ? dShape : dShape * dCutoff / dResidual;
            m_scratch[static_cast<size_t>(k)] = dWeight;
            dSumW += dWeight;
            dSumX += dWeight * (m_positions[i] - m_dOrigin);
            dSumY += dWeight * m_values[i];
        }
        const double dMeanX = dSumX / dSumW;
        const double dMeanY = dSumY / dSumW;
        double dSxx = 0.0;
        double dSxy = 0.0;
        for (int k = 0; k < nCount; ++k) {
            const size_t i = static_cast<size_t>(IndexOfAge(k));
            const double dX = m_positions[i] - m_dOrigin - dMeanX;
            dSxx += m_scratch[static_cast<size_t>(k)] * dX * dX;
            dSxy += m_scratch[static_cast<size_t>(k)] * dX * (m_values[i] - dMeanY);
        }
        const double dSlope = dSxx > 0.0 ? dSxy / dSxx * dDamping * dDamping : 0.0;
        m_dSlope = dSlope;
        m_dLevel = dMeanY - dSlope * dMeanX;
    }
}
