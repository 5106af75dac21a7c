// SPDX-License-Identifier: GPL-3.0-or-later
#include "processor/FlickerStrength.h"

#include <algorithm>
#include <cmath>

namespace {

// The running mean of weight count (at most memory), moved towards dValue.
void Blend(double& dMean, double dValue, double dCount) { dMean += (dValue - dMean) / dCount; }

}  // namespace

void CFlickerStrength::AddSteps(double dEarlier, double dLater) {
    dEarlier = std::clamp(dEarlier, -kClip, kClip);
    dLater = std::clamp(dLater, -kClip, kClip);
    m_dPairs = std::min(m_dPairs + 1.0, kMemory);
    Blend(m_dMeanEarlier, dEarlier, m_dPairs);
    Blend(m_dMeanLater, dLater, m_dPairs);
    Blend(m_dProduct, dEarlier * dLater, m_dPairs);
    Blend(m_dLaterSquare, dLater * dLater, m_dPairs);
}

void CFlickerStrength::AddEstimate(double dFlicker) {
    dFlicker = std::clamp(dFlicker, -kClip, kClip);
    m_dEstimates = std::min(m_dEstimates + 1.0, kMemory);
    Blend(m_dSquare, dFlicker * dFlicker, m_dEstimates);
}

double CFlickerStrength::Deviation() const {
    if (m_dPairs < kMinCount) return 0.0;
    return std::sqrt(std::max(0.0, m_dMeanEarlier * m_dMeanLater - m_dProduct));
}

double CFlickerStrength::Share() const {
    const double dDeviation = Deviation();
    if (m_dEstimates < kMinCount || !(m_dSquare > 0.0)) {
        const double dSteps = m_dLaterSquare - m_dMeanLater * m_dMeanLater;
        if (!(dDeviation > 0.0) || !(dSteps > 0.0)) return 0.0;
        return std::clamp(2.0 * dDeviation * dDeviation / dSteps, 0.0, 1.0);
    }
    return std::clamp(dDeviation * dDeviation / m_dSquare, 0.0, 1.0);
}
