// SPDX-License-Identifier: GPL-3.0-or-later
#include "processor/CutDetector.h"

#include <algorithm>
#include <cmath>

namespace {

// Blocks darker or brighter than this are left out of the brightness match: clipping and the
// noise of near-black pixels would bend it.
constexpr double kDarkest = 6.0;
constexpr double kBrightest = 248.0;
// Below this spread of block brightness (a standard deviation, in levels) an offset cannot be
// told from a gain, and the match is a gain alone.
constexpr double kMinSpread = 12.0;
// Huber's constant, in robust deviations, and the smallest deviation (levels).
constexpr double kHuber = 1.5;
constexpr double kMinDeviation = 1.0;

struct Match {
    double dGain = 1.0;
    double dOffset = 0.0;
};

// The weighted least-squares match later = gain x earlier + offset over the blocks with weights.
Match FitMatch(const CThumbnail& earlier, const CThumbnail& later,
               const std::array<double, CThumbnail::kBlocks>& weights) {
    double dW = 0.0, dX = 0.0, dY = 0.0;
    for (int i = 0; i < CThumbnail::kBlocks; ++i) {
        dW += weights[i];
        dX += weights[i] * earlier.Luma(i);
        dY += weights[i] * later.Luma(i);
    }
    Match match;
    if (!(dW > 0.0) || !(dX > 0.0)) return match;
    const double dMeanX = dX / dW;
    const double dMeanY = dY / dW;
    double dXX = 0.0, dXY = 0.0;
    for (int i = 0; i < CThumbnail::kBlocks; ++i) {
        const double dx = earlier.Luma(i) - dMeanX;
        dXX += weights[i] * dx * dx;
        dXY += weights[i] * dx * (later.Luma(i) - dMeanY);
    }
    if (dXX / dW < kMinSpread * kMinSpread) {
        match.dGain = dMeanY / dMeanX;
        return match;
    }
    match.dGain = dXY / dXX;
    match.dOffset = dMeanY - match.dGain * dMeanX;
    return match;
}

}  // namespace

double CCutDetector::Difference(const CThumbnail& earlier, const CThumbnail& later,
                                double* pdGainStep) {
    if (pdGainStep != nullptr) *pdGainStep = 0.0;
    if (earlier.Empty() || later.Empty()) return 0.0;
    std::array<double, CThumbnail::kBlocks> weights{};
    int nUsable = 0;
    for (int i = 0; i < CThumbnail::kBlocks; ++i) {
        const double x = earlier.Luma(i);
        const double y = later.Luma(i);
        const bool bUsable = x > kDarkest && x < kBrightest && y > kDarkest && y < kBrightest;
        weights[i] = bUsable ? 1.0 : 0.0;
        nUsable += bUsable;
    }
    // A picture near black or white all over: every block counts, clipped or not.
    if (nUsable < CThumbnail::kBlocks / 8) weights.fill(1.0);

    Match match = FitMatch(earlier, later, weights);
    std::array<double, CThumbnail::kBlocks> residuals{};
    for (int nIteration = 0; nIteration < 3; ++nIteration) {
        for (int i = 0; i < CThumbnail::kBlocks; ++i) {
            residuals[i] =
                std::fabs(later.Luma(i) - (match.dGain * earlier.Luma(i) + match.dOffset));
        }
        std::array<double, CThumbnail::kBlocks> sorted = residuals;
        const auto itMiddle = sorted.begin() + CThumbnail::kBlocks / 2;
        std::nth_element(sorted.begin(), itMiddle, sorted.end());
        const double dCutoff = kHuber * std::max(kMinDeviation, 1.4826 * *itMiddle);
        std::array<double, CThumbnail::kBlocks> robust{};
        for (int i = 0; i < CThumbnail::kBlocks; ++i) {
            if (weights[i] == 0.0) continue;
            robust[i] = residuals[i] <= dCutoff ? 1.0 : dCutoff / residuals[i];
        }
        match = FitMatch(earlier, later, robust);
    }

    // The mean brightness of both under the match, and what is left over.
    double dEarlier = 0.0, dLater = 0.0, dLeft = 0.0;
    for (int i = 0; i < CThumbnail::kBlocks; ++i) {
        const double x = earlier.Luma(i);
        const double y = later.Luma(i);
        const double dPredicted = std::clamp(match.dGain * x + match.dOffset, 0.0, 255.0);
        dEarlier += x;
        dLater += y;
        // Colour differences stay under a flicker of the luminance alone and scale with a
        // flicker of all three colours: the nearer of the two counts.
        const double dScale = std::clamp(match.dGain, 0.25, 4.0);
        const double dBlue =
            std::min(std::fabs(later.BlueDifference(i) - earlier.BlueDifference(i)),
                     std::fabs(later.BlueDifference(i) - dScale * earlier.BlueDifference(i)));
        const double dRed =
            std::min(std::fabs(later.RedDifference(i) - earlier.RedDifference(i)),
                     std::fabs(later.RedDifference(i) - dScale * earlier.RedDifference(i)));
        dLeft += std::fabs(y - dPredicted) + 0.5 * (dBlue + dRed);
    }
    const double dBlocks = static_cast<double>(CThumbnail::kBlocks);
    if (pdGainStep != nullptr) {
        const double dMatched = match.dGain * dEarlier / dBlocks + match.dOffset;
        // Pictures too dark to match: the ratio of their means, softened near black.
        *pdGainStep = dMatched > 1.0 && dEarlier > dBlocks
                          ? std::log(dMatched / (dEarlier / dBlocks))
                          : std::log((dLater + 4.0 * dBlocks) / (dEarlier + 4.0 * dBlocks));
    }
    return dLeft / (0.5 * (dEarlier + dLater) + 16.0 * dBlocks);
}

double CCutDetector::TypicalDifference() const {
    if (m_nHistory == 0) return 0.0;
    std::array<double, kHistory> sorted = m_history;
    const auto itEnd = sorted.begin() + m_nHistory;
    const auto itMiddle = sorted.begin() + m_nHistory / 2;
    std::nth_element(sorted.begin(), itMiddle, itEnd);
    return *itMiddle;
}

CCutDetector::Step CCutDetector::Add(const CThumbnail& thumbnail) {
    Step step;
    if (thumbnail.Empty()) return step;
    const double dDifference = Difference(m_previous, thumbnail, &step.dGainStep);
    if (!m_beforePrevious.Empty()) {
        // The frame before is a cut when it left the one before it far behind and this frame
        // stays with it, away from the one before it.
        const double dThreshold = std::max(kMinCut, kRelativeCut * TypicalDifference());
        if (m_dPreviousDifference > dThreshold && dDifference < kPersist * dThreshold &&
            Difference(m_beforePrevious, thumbnail, nullptr) > dThreshold &&
            (m_third.Empty() || Difference(m_third, thumbnail, nullptr) > dThreshold)) {
            step.bPreviousStartsShot = true;
            m_nHistory = 0;
            m_nNextHistory = 0;
        } else if (!m_previous.Empty()) {
            // The median of the history shrugs off the odd flash.
            m_history[static_cast<size_t>(m_nNextHistory)] = m_dPreviousDifference;
            m_nNextHistory = (m_nNextHistory + 1) % kHistory;
            m_nHistory = std::min(m_nHistory + 1, kHistory);
        }
    }
    m_third = m_beforePrevious;
    m_beforePrevious = m_previous;
    m_previous = thumbnail;
    m_dPreviousDifference = dDifference;
    return step;
}
