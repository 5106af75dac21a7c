// SPDX-License-Identifier: GPL-3.0-or-later
// CSceneTarget: the local target brightness of deflicker, a line that follows the scene.
#pragma once

#include <vector>

// The smoothing span of deflicker when none is given, and the longest one accepted, in seconds
// of input.
constexpr double kDefaultSceneSpan = 4.0;
constexpr double kMaxSceneSpan = 60.0;

// Follows the brightness of a scene from frame to frame and ignores the flicker of single frames.
// It keeps the brightness measured for the last Span() frames added (figures only, never pixels,
// so its memory does not depend on the frame size or the input's length) and fits a straight
// line through them, which At evaluates at any frame position: at the frame just added for that
// frame's own target, or a few frames away for the target of a written sample.
//
// The fit weighs each frame twice: by a bump over its age, (age + 1) x (span - age), so that a
// frame enters and leaves the fit gradually and the line moves smoothly from one frame to the
// next; and by a Huber weight of its distance from the line, so that a frame far off the line (a
// flash, a lost exposure) pulls it by no more than kHuber robust deviations. A line rather than a
// mean, so that a steady dimming or brightening is followed without lag. While fewer frames than
// the span have been added the bump covers those there are, and the slope is damped by
// (count / span) squared, so that a line through a few frames does not run off.
//
// The span is given in seconds of input and turned into frames with the input's frame rate; it
// covers at least 3 frames. Positions are frame numbers (any unit in which one frame is 1.0) and
// rise from one Add to the next.
class CSceneTarget {
  public:
    CSceneTarget(double dSpanSeconds, double dFrameRate);

    // Adds the brightness measured for the frame at dPosition and fits the line again.
    void Add(double dPosition, double dBrightness);
    // The fitted line at dPosition; 0.0 before the first Add.
    double At(double dPosition) const;
    bool Empty() const { return m_nCount == 0; }
    // Frames the fit covers once that many have been added.
    int Span() const { return m_nSpan; }

  private:
    // Residuals beyond kHuber robust deviations get a weight that falls as 1 / residual.
    static constexpr double kHuber = 1.345;
    // The smallest robust deviation, in levels: a still scene measures the same to the last
    // decimal, and a deviation of 0 would make every frame an outlier.
    static constexpr double kMinDeviation = 1.0;
    static constexpr int kIterations = 2;

    void Fit();
    // Where the ring buffers hold the frame of the given age (0: the newest).
    int IndexOfAge(int nAge) const;

    int m_nSpan;
    // Ring buffers of the last m_nSpan frames; m_nNext is where the next one goes.
    std::vector<double> m_positions;
    std::vector<double> m_values;
    std::vector<double> m_scratch;
    int m_nCount;
    int m_nNext;
    // The line: m_dLevel at m_dOrigin (the newest position), rising by m_dSlope per frame.
    double m_dOrigin;
    double m_dLevel;
    double m_dSlope;
};
