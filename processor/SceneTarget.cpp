// SPDX-License-Identifier: GPL-3.0-or-later
#include "processor/SceneTarget.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Frames on either side of a fit: half the span, at least 3, at most what 60 s hold at 30
// frames a second, whatever rate a caller passes.
int ReachFrames(double dSpanSeconds, double dFrameRate) {
    const double dFrames = 0.5 * std::min(dSpanSeconds, kMaxSceneSpan) * dFrameRate;
    if (!(dFrames > 3.0)) return 3;
    return static_cast<int>(std::lround(std::min(dFrames, 900.0)));
}

constexpr double kHuber = 1.345;
// The smallest robust deviation, log brightness: frames that agree to the last decimal must not
// make every other frame an outlier.
constexpr double kMinDeviation = 0.004;
constexpr int kIterations = 3;

struct Point {
    double dX;
    double dY;
    double dShape;
    double dWeight;
};

// Weighted least squares of a line (or a constant, bLine false) through the points; the
// intercept at x = 0.
double FitIntercept(const std::vector<Point>& points, bool bLine) {
    double dW = 0.0, dX = 0.0, dY = 0.0;
    for (const Point& p : points) {
        dW += p.dWeight;
        dX += p.dWeight * p.dX;
        dY += p.dWeight * p.dY;
    }
    if (!(dW > 0.0)) return 0.0;
    const double dMeanX = dX / dW;
    const double dMeanY = dY / dW;
    if (!bLine) return dMeanY;
    double dXX = 0.0, dXY = 0.0;
    for (const Point& p : points) {
        dXX += p.dWeight * (p.dX - dMeanX) * (p.dX - dMeanX);
        dXY += p.dWeight * (p.dX - dMeanX) * (p.dY - dMeanY);
    }
    const double dSlope = dXX > 0.0 ? dXY / dXX : 0.0;
    return dMeanY - dSlope * dMeanX;
}

}  // namespace

CSceneTarget::CSceneTarget(double dSpanSeconds, double dFrameRate, int nLookAhead)
    : m_nReach(ReachFrames(dSpanSeconds, dFrameRate)), m_nLookAhead(std::max(nLookAhead, 0)) {}

void CSceneTarget::Add(int nPosition, double dBrightness, double dGainStep) {
    m_frames.push_back(Figure{nPosition, dBrightness, dGainStep, m_frames.empty()});
    const size_t nKeep = static_cast<size_t>(m_nReach + m_nLookAhead + 16);
    while (m_frames.size() > nKeep) m_frames.pop_front();
    FindBreak();
    // The frame that now sees half of what it may see ahead, enough for its estimate to count;
    // its shot is settled too, since a cut is told one frame late.
    const int nSettled = static_cast<int>(m_frames.size()) - 1 - std::max(m_nLookAhead / 2, 2);
    if (nSettled >= 1) Settle(nSettled);
}

void CSceneTarget::StartShot(int nPosition) {
    const int nIndex = Find(nPosition);
    if (nIndex >= 0 && m_frames[static_cast<size_t>(nIndex)].nPosition == nPosition) {
        m_frames[static_cast<size_t>(nIndex)].bShotStart = true;
    }
}

void CSceneTarget::Settle(int nIndex) {
    const Estimate estimate = EstimateAt(nIndex);
    if (estimate.nFrames >= 5) {
        m_strength.AddEstimate(estimate.dFlicker, !m_frames[static_cast<size_t>(nIndex)].Bounds());
    }
}

void CSceneTarget::FindBreak() {
    // The candidate and kBreakFrames frames on either side of it, one more after it (its cut
    // is told one frame late), all in one stretch of the fit.
    const int nCandidate = static_cast<int>(m_frames.size()) - 2 - kBreakFrames;
    if (nCandidate - kBreakFrames < 0) return;
    for (int k = nCandidate - kBreakFrames + 1; k < nCandidate + kBreakFrames; ++k) {
        if (k != nCandidate && m_frames[static_cast<size_t>(k)].Bounds()) return;
    }
    // Until the flicker's strength is known, a flicker cannot be told from a break.
    if (m_frames[static_cast<size_t>(nCandidate)].Bounds() || !m_strength.Known()) return;
    // The light of the frames around, relative to the frame before the candidate.
    double before[kBreakFrames];
    double after[kBreakFrames];
    double dLight = 0.0;
    for (int i = 0; i < kBreakFrames; ++i) {
        before[i] = dLight;
        dLight -= m_frames[static_cast<size_t>(nCandidate - 1 - i)].dGainStep;
    }
    dLight = 0.0;
    for (int i = 0; i < kBreakFrames; ++i) {
        dLight += m_frames[static_cast<size_t>(nCandidate + i)].dGainStep;
        after[i] = dLight;
    }
    std::sort(before, before + kBreakFrames);
    std::sort(after, after + kBreakFrames);
    const double dShift = 0.5 * (after[kBreakFrames / 2 - 1] + after[kBreakFrames / 2]) -
                          0.5 * (before[kBreakFrames / 2 - 1] + before[kBreakFrames / 2]);
    const double dStep = m_frames[static_cast<size_t>(nCandidate)].dGainStep;
    const double dThreshold = std::max(kMinBreak, 4.0 * m_strength.Deviation());
    if (std::fabs(dShift) > dThreshold && dStep * dShift > 0.0 &&
        std::fabs(dStep) >= 0.5 * std::fabs(dShift)) {
        m_frames[static_cast<size_t>(nCandidate)].bBreak = true;
    }
}

int CSceneTarget::Find(int nPosition) const {
    const auto it = std::upper_bound(
        m_frames.begin(), m_frames.end(), nPosition,
        [](int nValue, const Figure& figure) { return nValue < figure.nPosition; });
    return static_cast<int>(it - m_frames.begin()) - 1;
}

CSceneTarget::Estimate CSceneTarget::EstimateAt(int nIndex) const {
    const int nCount = static_cast<int>(m_frames.size());
    const Figure& self = m_frames[static_cast<size_t>(nIndex)];
    // The light of the frames around, relative to this frame's, within its shot and reach.
    std::vector<Point> points;
    points.reserve(static_cast<size_t>(2 * m_nReach + 2));
    const double dRadius = static_cast<double>(m_nReach + 1);
    int nBefore = 0;
    int nAfter = 0;
    double dLight = 0.0;
    for (int k = nIndex; k >= 1 && !m_frames[static_cast<size_t>(k)].Bounds(); --k) {
        dLight -= m_frames[static_cast<size_t>(k)].dGainStep;
        const Figure& other = m_frames[static_cast<size_t>(k - 1)];
        const double dX = static_cast<double>(other.nPosition - self.nPosition);
        if (-dX > m_nReach) break;
        const double dT = 1.0 - std::pow(-dX / dRadius, 3.0);
        points.push_back(Point{dX, dLight, dT * dT * dT, 0.0});
        ++nBefore;
    }
    dLight = 0.0;
    for (int k = nIndex + 1; k < nCount && !m_frames[static_cast<size_t>(k)].Bounds(); ++k) {
        const Figure& other = m_frames[static_cast<size_t>(k)];
        dLight += other.dGainStep;
        const double dX = static_cast<double>(other.nPosition - self.nPosition);
        if (dX > m_nReach) break;
        const double dT = 1.0 - std::pow(dX / dRadius, 3.0);
        points.push_back(Point{dX, dLight, dT * dT * dT, 0.0});
        ++nAfter;
    }
    Estimate estimate;
    estimate.nFrames = static_cast<int>(points.size()) + 1;
    if (points.empty()) return estimate;

    // A line needs frames on both sides, or enough on one side not to run off.
    const bool bLine = (nBefore >= 2 && nAfter >= 2) || nBefore >= 8 || nAfter >= 8;
    for (Point& p : points) p.dWeight = p.dShape;
    double dIntercept = FitIntercept(points, bLine);
    std::vector<double> residuals(points.size());
    for (int nIteration = 0; nIteration < kIterations && points.size() >= 3; ++nIteration) {
        // The residuals of the current line, each against the line at its own x: the slope is
        // recovered from two points of the fit.
        double dW = 0.0, dX = 0.0, dY = 0.0, dXX = 0.0, dXY = 0.0;
        for (const Point& p : points) {
            dW += p.dWeight;
            dX += p.dWeight * p.dX;
            dY += p.dWeight * p.dY;
        }
        const double dMeanX = dX / dW;
        const double dMeanY = dY / dW;
        for (const Point& p : points) {
            dXX += p.dWeight * (p.dX - dMeanX) * (p.dX - dMeanX);
            dXY += p.dWeight * (p.dX - dMeanX) * (p.dY - dMeanY);
        }
        const double dSlope = bLine && dXX > 0.0 ? dXY / dXX : 0.0;
        const double dLevel = dMeanY - dSlope * dMeanX;
        for (size_t i = 0; i < points.size(); ++i) {
            residuals[i] = std::fabs(points[i].dY - (dLevel + dSlope * points[i].dX));
        }
        std::vector<double> sorted = residuals;
        const auto itMiddle = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
        std::nth_element(sorted.begin(), itMiddle, sorted.end());
        const double dCutoff = kHuber * std::max(kMinDeviation, 1.4826 * *itMiddle);
        for (size_t i = 0; i < points.size(); ++i) {
            points[i].dWeight = residuals[i] <= dCutoff ? points[i].dShape
                                                        : points[i].dShape * dCutoff / residuals[i];
        }
        dIntercept = FitIntercept(points, bLine);
    }
    // The frame's own light is 0 on this scale.
    estimate.dFlicker = -dIntercept;
    return estimate;
}

double CSceneTarget::FlickerAt(int nPosition) const {
    const int nIndex = Find(nPosition);
    if (nIndex < 0 || m_frames[static_cast<size_t>(nIndex)].nPosition != nPosition) return 0.0;
    return EstimateAt(nIndex).dFlicker;
}

double CSceneTarget::LevelAt(int nPosition) const {
    if (m_frames.empty()) return 0.0;
    const int nIndex = std::max(Find(nPosition), 0);
    const Estimate estimate = EstimateAt(nIndex);
    const double dFrames = static_cast<double>(estimate.nFrames);
    // Near black a picture's steps are noise and clipping more than light: the share falls to 0
    // from kFullLevel down to kDarkLevel.
    const double dBrightness = m_frames[static_cast<size_t>(nIndex)].dBrightness;
    const double dLight =
        std::clamp((dBrightness - kDarkLevel) / (kFullLevel - kDarkLevel), 0.0, 1.0);
    const double dShare = m_strength.Share() * dLight * (dFrames - 1.0) / (dFrames + 1.0);
    // The fit follows the mean of the log brightness, which a flicker of deviation s puts s^2 / 2
    // below the log of the mean brightness, where a flicker that averages out leaves the level.
    const double dDeviation = m_strength.Deviation();
    const double dFlicker = estimate.dFlicker - 0.5 * dDeviation * dDeviation;
    const double dCorrection = std::clamp(dShare * dFlicker, -kMaxCorrection, kMaxCorrection);
    return dBrightness * std::exp(-dCorrection);
}
