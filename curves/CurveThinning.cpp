#include "curves/CurveThinning.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

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
constexpr long kColumnsPerMarker = 4;

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
    // The range, widened by one point on each side.
    size_t iBegin = data.LowerBound(dFirst);
    size_t iEnd = data.LowerBound(std::nextafter(dLast, dLast + 1.0));
    if (iBegin > 0) --iBegin;
    if (iEnd < data.Size()) ++iEnd;

    const size_t nSlices = static_cast<size_t>(std::max(nColumns, 1));
    const bool bWhole = iEnd - iBegin <= 2 * nSlices;
    const double dSliceWidth = std::max(dLast - dFirst, 1.0) / static_cast<double>(nSlices);
    SliceExtremes slice;
    CExtremes picks;
    // Slice -1 holds what lies before dFirst, slice nSlices what lies after dLast.
    long nCurrent = -2;
    long nCurrentPicks = -2;
    for (size_t i = iBegin; i < iEnd; ++i) {
        const CurvePoint& point = data.At(i);
        long nSlice = static_cast<long>(i);  // every point a slice of its own
        if (!bWhole) {
            if (point.nFrame < dFirst) {
                nSlice = -1;
            } else if (point.nFrame > dLast) {
                nSlice = static_cast<long>(nSlices);
            } else {
                const double dSlice = std::floor((point.nFrame - dFirst) / dSliceWidth);
                nSlice = std::min(static_cast<long>(dSlice), static_cast<long>(nSlices) - 1);
            }
        }
        if (nSlice != nCurrent) {
            slice.Flush(data, series);
            nCurrent = nSlice;
        }
        slice.Add(point, i);
        if (!point.bPicked) continue;
        const long nPickSlice = bWhole || nSlice < 0 ? nSlice : nSlice / kColumnsPerMarker;
        if (nPickSlice != nCurrentPicks) {
            picks.Flush(data, series.picks);
            nCurrentPicks = nPickSlice;
        }
        picks.Add(i, point.fBefore);
    }
    slice.Flush(data, series);
    picks.Flush(data, series.picks);
    return series;
}
