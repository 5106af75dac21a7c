// SPDX-License-Identifier: GPL-3.0-or-later
// CFlickerStrength: how much of a frame's estimated flicker is flicker, learnt from the run.
#pragma once

// A flicker that is independent from frame to frame makes consecutive brightness steps (log
// ratios of matched frames) pull against each other: the covariance of a step with the one
// before it is minus the flicker's variance, whatever the picture does meanwhile (motion and
// steady changes of light add to the steps, but not that pull). The estimated flicker of a frame
// (its log brightness off the scene's fitted course) holds the flicker and the errors of the
// estimate; the share of its variance that the flicker explains is the part of the estimate
// worth correcting (a Wiener gain): about 1 for a strong flicker on a steady scene, about 0
// where there is no flicker to speak of.
//
// Both are running figures over roughly the last kMemory frames, so a run whose flicker changes
// follows it. Pure figures: a few doubles.
class CFlickerStrength {
  public:
    // Two consecutive brightness steps of the same shot, the earlier first.
    void AddSteps(double dEarlier, double dLater);
    // The estimated flicker of a frame, settled (its fit saw all the frames it may see).
    void AddEstimate(double dFlicker);
    // The share of an estimate to correct, 0 to 1; 0 until a dozen steps have been seen. Until a
    // dozen estimates have settled, the share of the steps' variance that the flicker explains
    // (twice its variance) stands in.
    double Share() const;
    // The flicker's standard deviation as estimated, in log brightness.
    double Deviation() const;

  private:
    static constexpr double kMemory = 400.0;
    static constexpr double kMinCount = 12.0;
    // Steps and estimates beyond this (log brightness) are clipped: a missed cut or a flash
    // must not decide the strength.
    static constexpr double kClip = 0.5;

    double m_dPairs = 0.0;
    double m_dMeanEarlier = 0.0;
    double m_dMeanLater = 0.0;
    double m_dProduct = 0.0;
    double m_dLaterSquare = 0.0;
    double m_dEstimates = 0.0;
    double m_dSquare = 0.0;
};
