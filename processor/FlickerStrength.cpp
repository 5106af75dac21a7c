// SPDX-License-Identifier: GPL-3.0-or-later
#include "processor/FlickerStrength.h"

#include <algorithm>
#include <cmath>

namespace {

// The running mean of weight count (at most memory), moved towards dValue.
void Blend(double& dMean, double dValue, double dCount) { dMean += (dValue - dMean) / dCount; }

}  // namespace

void CFlickerStrength::AddEstimate(double dFlicker, bool bContinues) {
    dFlicker = std::clamp(dFlicker, -kClip, kClip);
    m_dCount = std::min(m_dCount + 1.0, kMemory);
    Blend(m_dSquare, dFlicker * dFlicker, m_dCount);
    if (bContinues && m_bHaveLast) {
        m_dPairs = std::min(m_dPairs + 1.0, kMemory);
        Blend(m_dLagOne, dFlicker * m_dLast, m_dPairs);
    }
    m_dLast = dFlicker;
    m_bHaveLast = true;
}

double CFlickerStrength::Deviation() const {
    if (m_dPairs < kMinCount) return 0.0;
    return std::sqrt(std::max(0.0, m_dSquare - std::max(m_dLagOne, 0.0)));
}

double CFlickerStrength::Share() const {
    if (m_dPairs < kMinCount || !(m_dSquare > 0.0)) return 0.0;
    return std::clamp(Deviation() * Deviation() / m_dSquare, 0.0, 1.0);
}
