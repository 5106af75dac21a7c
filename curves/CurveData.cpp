// SPDX-License-Identifier: GPL-3.0-or-later
#include "curves/CurveData.h"

#include <algorithm>
#include <limits>

void CCurveData::Append(int nFrame, double dTime, double dBefore, double dDarkFraction,
                        double dTarget) {
    if (!m_points.empty() && nFrame <= m_points.back().nFrame) m_points.clear();
    CurvePoint point;
    point.dTime = dTime;
    point.nFrame = nFrame;
    point.fBefore = static_cast<float>(dBefore);
    point.fAfter = std::numeric_limits<float>::quiet_NaN();
    point.fTarget = static_cast<float>(dTarget);
    point.fDarkFraction = static_cast<float>(dDarkFraction);
    m_points.push_back(point);
}

void CCurveData::SetWritten(size_t i, double dAfter, double dTarget) {
    if (i >= m_points.size()) return;
    m_points[i].bPicked = true;
    m_points[i].fAfter = static_cast<float>(dAfter);
    m_points[i].fTarget = static_cast<float>(dTarget);
}

void CCurveData::SetCut(size_t i) {
    if (i >= m_points.size()) return;
    m_points[i].bCut = true;
}

void CCurveData::Clear() { m_points.clear(); }

size_t CCurveData::LowerBound(double dFrame) const {
    const auto it = std::lower_bound(
        m_points.begin(), m_points.end(), dFrame,
        [](const CurvePoint& point, double dValue) { return point.nFrame < dValue; });
    return static_cast<size_t>(it - m_points.begin());
}

size_t CCurveData::Nearest(double dFrame) const {
    if (m_points.empty()) return 0;
    const size_t i = LowerBound(dFrame);
    if (i == 0) return 0;
    if (i == m_points.size()) return i - 1;
    return dFrame - m_points[i - 1].nFrame <= m_points[i].nFrame - dFrame ? i - 1 : i;
}
