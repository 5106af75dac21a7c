// SPDX-License-Identifier: GPL-3.0-or-later
// CFlickerStrength: how much of a frame's estimated flicker is flicker, learnt from the run.
#pragma once

// The estimated flicker of a frame (its log brightness off the scene's fitted course) holds the
// flicker and the errors of the estimate. A flicker is independent from frame to frame; the
// errors come from motion and changes of light that the fit does not follow, which change
// slowly, so that they are much alike in consecutive frames. The covariance of consecutive
// estimates thus measures the errors, and the variance less that covariance the flicker: the
// share of the variance that the flicker explains is the part of an estimate worth correcting (a
// Wiener gain), about 1 for a strong flicker on a steady scene and about 0 where there is no
// flicker to speak of.
//
// Running figures over roughly the last kMemory frames, so a run whose flicker changes follows
// it. Pure figures: a few doubles.
class CFlickerStrength {
  public:
    // The estimated flicker of the next frame, settled (its fit saw enough frames ahead);
    // bContinues false when the frame is the first of a shot (its estimate has no neighbour).
    void AddEstimate(double dFlicker, bool bContinues);
    // The share of an estimate to correct, 0 to 1; 0 until a dozen frames have been seen.
    double Share() const;
    // The flicker's standard deviation as estimated, in log brightness; 0 until Known.
    double Deviation() const;
    // Whether a dozen frames have been seen.
    bool Known() const { return m_dPairs >= kMinCount; }

  private:
    static constexpr double kMemory = 400.0;
    static constexpr double kMinCount = 12.0;
    // Estimates beyond this (log brightness) are clipped: a missed cut or a flash must not
    // decide the strength.
    static constexpr double kClip = 0.5;

    bool m_bHaveLast = false;
    double m_dLast = 0.0;
    double m_dCount = 0.0;
    double m_dSquare = 0.0;
    double m_dPairs = 0.0;
    double m_dLagOne = 0.0;
};
