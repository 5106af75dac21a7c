// SPDX-License-Identifier: GPL-3.0-or-later
#include "curves/CurveThinning.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "curves/CurveData.h"

namespace {

// The lowest and highest value of one series in one slice, by point index.
class CExtremes {
  public:
    void Add(size_t i, float fValue) {
        if (m_nCount++ == 0 || fValue < m_fMin) {
            m_iMin = i;
            m_fMin = fValue;
        }
        if (m_nCount == 1 || fValue > m_fMax) {
            m_iMax = i;
            m_fMax = fValue;
        }
    }
    // Appends the one or two points in frame order and empties the slice.
    void Flush(const CCurveData& data, QList<QPointF>& points) {
        if (m_nCount == 0) return;
        const size_t iFirst = std::min(m_iMin, m_iMax);
        const size_t iSecond = std::max(m_iMin, m_iMax);
        points.append(Point(data, iFirst));
        if (iSecond != iFirst) points.append(Point(data, iSecond));
        m_nCount = 0;
    }

  private:
    QPointF Point(const CCurveData& data, size_t i) const {
        return QPointF(data.At(i).nFrame, i == m_iMin ? m_fMin : m_fMax);
    }

    size_t m_nCount = 0;
    size_t m_iMin = 0;
    size_t m_iMax = 0;
    float m_fMin = 0.0f;
    float m_fMax = 0.0f;
};

// Markers are some pixels wide: the picks are thinned to slices this many times wider.
constexpr size_t kColumnsPerMarker = 4;

// One slice of every line.
struct SliceExtremes {
    CExtremes before;
    CExtremes written;
    CExtremes target;
    CExtremes dark;

    void Add(const CurvePoint& point, size_t i) {
        before.Add(i, point.fBefore);
        if (point.bPicked) written.Add(i, point.fAfter);
        target.Add(i, point.fTarget);
        dark.Add(i, point.fDarkFraction * 100.0f);
    }
    void Flush(const CCurveData& data, CurveSeriesPoints& series) {
        before.Flush(data, series.before);
        written.Flush(data, series.written);
        target.Flush(data, series.target);
        dark.Flush(data, series.dark);
    }
};

}  // namespace

CurveSeriesPoints ThinCurves(const CCurveData& data, double dFirst, double dLast, int nColumns) {
    CurveSeriesPoints series;
    if (data.Empty() || !(dLast >= dFirst)) return series;
    // The points in the range, and with the nearest one on each side.
    const size_t iFirstIn = data.LowerBound(dFirst);
    const size_t iEndIn = data.LowerBound(std::nextafter(dLast, dLast + 1.0));
    const size_t iBegin = iFirstIn > 0 ? iFirstIn - 1 : iFirstIn;
    const size_t iEnd = iEndIn < data.Size() ? iEndIn + 1 : iEndIn;

    const size_t nSlices = static_cast<size_t>(std::max(nColumns, 1));
    if (iEnd - iBegin <= 2 * nSlices) {
        for (size_t i = iBegin; i < iEnd; ++i) {
            const CurvePoint& point = data.At(i);
            series.before.append(QPointF(point.nFrame, point.fBefore));
            if (point.bPicked) {
                series.written.append(QPointF(point.nFrame, point.fAfter));
                series.picks.append(QPointF(point.nFrame, point.fBefore));
            }
            series.target.append(QPointF(point.nFrame, point.fTarget));
            series.dark.append(QPointF(point.nFrame, point.fDarkFraction * 100.0f));
            if (point.bCut) series.cuts.append(QPointF(point.nFrame, 0.0));
        }
        return series;
    }

    // Where each slice begins: the point before the range alone, nSlices equal parts of the
    // range (found by their frame numbers, so gaps after a skip stay empty), the point after it.
    std::vector<size_t> starts;
    starts.reserve(nSlices + 3);
    starts.push_back(iBegin);
    if (iBegin < iFirstIn) starts.push_back(iFirstIn);
    const double dSliceWidth = (dLast - dFirst) / static_cast<double>(nSlices);
    for (size_t k = 1; k < nSlices; ++k) {
        starts.push_back(data.LowerBound(dFirst + static_cast<double>(k) * dSliceWidth));
    }
    starts.push_back(iEndIn);
    if (iEndIn < iEnd) starts.push_back(iEnd);

    SliceExtremes slice;
    CExtremes picks;
    for (size_t j = 0; j + 1 < starts.size(); ++j) {
        bool bCut = false;
        for (size_t i = starts[j]; i < starts[j + 1]; ++i) {
            const CurvePoint& point = data.At(i);
            slice.Add(point, i);
            if (point.bPicked) picks.Add(i, point.fBefore);
            if (point.bCut && !bCut) series.cuts.append(QPointF(point.nFrame, 0.0));
            bCut = bCut || point.bCut;
        }
        slice.Flush(data, series);
        if ((j + 1) % kColumnsPerMarker == 0) picks.Flush(data, series.picks);
    }
    picks.Flush(data, series.picks);
    return series;
}
