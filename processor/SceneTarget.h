// SPDX-License-Identifier: GPL-3.0-or-later
// CSceneTarget: the level of deflicker, the brightness each frame would have without flicker.
#pragma once

#include <deque>

#include "processor/FlickerStrength.h"

// The smoothing span of deflicker when none is given, and the longest one accepted, in seconds
// of input.
constexpr double kDefaultSceneSpan = 4.0;
constexpr double kMaxSceneSpan = 60.0;

// Follows the light of each shot and tells each frame's flicker from it. Fed, for every frame
// with pixels in order, its brightness (the mean luminance of all its pixels) and its brightness
// step from the frame before (CCutDetector::Step), and told which frames start a new shot.
//
// The light of a shot is the running sum of its steps (the log of its brightness with the
// motion of the picture taken out). A frame's flicker is how far that sum lies off a line
// fitted through the other frames of its shot within Reach() frames on either side: weighted by
// a tricube of the distance, so that far frames count less, and robustly (Huber), so that a
// flash or a dropped exposure hardly moves the line. A line follows a fade, a sunset or any
// steady change without lag; the fit never crosses a cut, so the level restarts with each shot;
// a frame alone in its shot (so far) is its own level. Nor does it cross a break: a frame whose
// step alone moves the light for good (the median light of the kBreakFrames frames from it on
// lies more than kMinBreak, and 4 flicker deviations, off that of the kBreakFrames before, and
// its own step makes at least half of that), such as a light switched on or a cut missed; a
// break is found kBreakFrames + 1 frames after the frame, once the flicker's strength is known.
// Frames after the one asked about count as far as they have been added: a caller that waits
// nLookAhead frames gets a centred fit.
//
// The level of a frame is its brightness with the share of its flicker that is worth correcting
// taken out (measured from the mean brightness, not the mean log brightness, that the flicker
// leaves): CFlickerStrength's share for the run, times (n - 1) / (n + 1) for a fit over n
// frames, so that the first frames after a cut (a fit that knows little) are scaled less, times
// a ramp from 0 at kDarkLevel to 1 at kFullLevel of the frame's brightness (a picture near black
// has no light to tell), and a correction never exceeds kMaxCorrection.
//
// Memory: the figures of the last Reach() + nLookAhead + 16 frames (a few doubles each), never
// pixels. Positions are frame numbers and rise from one Add to the next.
class CSceneTarget {
  public:
    CSceneTarget(double dSpanSeconds, double dFrameRate, int nLookAhead);

    void Add(int nPosition, double dBrightness, double dGainStep);
    // The frame added at nPosition starts a new shot (ignored when it is not held).
    void StartShot(int nPosition);

    // The estimated flicker of the frame at nPosition, log brightness; 0.0 when not held.
    double FlickerAt(int nPosition) const;
    // The level of the frame at nPosition, or of the newest frame before it when it is not held
    // (a frame without pixels); 0.0 before the first Add.
    double LevelAt(int nPosition) const;
    bool Empty() const { return m_frames.empty(); }
    int Reach() const { return m_nReach; }
    const CFlickerStrength& Strength() const { return m_strength; }

    // The largest correction, log brightness (a factor of 1.5).
    static constexpr double kMaxCorrection = 0.405;
    static constexpr double kDarkLevel = 4.0;
    static constexpr double kFullLevel = 20.0;
    static constexpr int kBreakFrames = 4;
    static constexpr double kMinBreak = 0.12;

  private:
    struct Figure {
        int nPosition;
        double dBrightness;
        double dGainStep;
        bool bShotStart;
        bool bBreak = false;
        // The fit stops before this frame.
        bool Bounds() const { return bShotStart || bBreak; }
    };
    struct Estimate {
        double dFlicker = 0.0;
        int nFrames = 0;  // frames of the fit, the frame itself included
    };

    // The index of the last frame at or before nPosition; -1 when none.
    int Find(int nPosition) const;
    Estimate EstimateAt(int nIndex) const;
    void Settle(int nIndex);
    void FindBreak();

    int m_nReach;
    int m_nLookAhead;
    std::deque<Figure> m_frames;
    CFlickerStrength m_strength;
};
