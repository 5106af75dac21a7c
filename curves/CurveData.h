// SPDX-License-Identifier: GPL-3.0-or-later
// The figures behind the brightness curves: a few numbers per frame read, never pixels.
#pragma once

#include <cstddef>
#include <vector>

// One frame read. fAfter is NaN while the frame has not been written.
struct CurvePoint {
    double dTime = 0.0;          // the frame's time in the input, seconds
    int nFrame = 0;              // the reader's frame number
    float fBefore = 0.0f;        // brightness as read
    float fAfter = 0.0f;         // brightness as written (after manipulation when it is on)
    float fTarget = 0.0f;        // the target brightness in force for the frame
    float fDarkFraction = 0.0f;  // share of dark pixels, 0 to 1
    bool bPicked = false;        // written to the output
    bool bCut = false;           // the first frame of a new shot (deflicker)
};

// The points of one run in reading order, 32 bytes a frame (a 10-hour input of about a million
// frames takes some 32 MB). Frame numbers increase along a run: a point whose number does not
// exceed the last one's starts a new run, and the points before it are dropped.
class CCurveData {
  public:
    void Append(int nFrame, double dTime, double dBefore, double dDarkFraction, double dTarget);
    // Marks point i as written with the brightness dAfter and the target it was written
    // against (deflicker may aim a written frame at another level); an index out of range is
    // ignored.
    void SetWritten(size_t i, double dAfter, double dTarget);
    // Marks point i as the first frame of a new shot; an index out of range is ignored.
    void SetCut(size_t i);
    void Clear();

    bool Empty() const { return m_points.empty(); }
    size_t Size() const { return m_points.size(); }
    const CurvePoint& At(size_t i) const { return m_points[i]; }
    const std::vector<CurvePoint>& Points() const { return m_points; }
    // The index of the first point whose frame number is dFrame or more (Size() when none).
    size_t LowerBound(double dFrame) const;
    // The index of the point whose frame number lies nearest to dFrame; Size() when empty.
    size_t Nearest(double dFrame) const;

  private:
    std::vector<CurvePoint> m_points;
};
