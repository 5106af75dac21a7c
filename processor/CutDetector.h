// SPDX-License-Identifier: GPL-3.0-or-later
// CCutDetector: finds the frames that start a new shot, and the change of brightness from each
// frame to the next, in a way that flicker does not fool.
#pragma once

#include <array>

#include "processor/Thumbnail.h"

// Fed the thumbnails of consecutive frames (those with pixels), it compares each with the one
// before after matching their brightness: the luminance of the blocks of the later frame is
// fitted robustly as gain x earlier + offset (blocks near black or white left out), so that a
// flicker, which changes the brightness of the whole picture, leaves nothing over, while a new
// picture leaves most blocks off the fit and its colours changed.
//
// A frame starts a new shot when it differs so from the frame before (more than kMinCut, and
// more than kRelativeCut times the typical difference of the shot's recent frames: the
// threshold), the frame after it stays with it (differs by less than kPersist times the
// threshold, so that a burst of quick motion is no cut), and that frame after differs by more
// than the threshold from the two frames before the new one. So a single frame unlike its
// neighbours (a flash, a dropped exposure) is no cut, neither going in nor coming back, while a
// cut with one odd frame in between (a frame of both shots) is found at the frame after it. The
// answer for a frame comes with the next one.
//
// Memory: the last three thumbnails and the last kHistory differences; no pixels.
class CCutDetector {
  public:
    struct Step {
        // log(mean brightness of the frame just added / that of the frame before it), as the
        // fitted gain and offset carry it; 0.0 for the first frame.
        double dGainStep = 0.0;
        // The frame added before this one starts a new shot.
        bool bPreviousStartsShot = false;
    };

    // An empty thumbnail is skipped: it changes nothing and gives a Step of zeros.
    Step Add(const CThumbnail& thumbnail);

    // How two thumbnails differ once their brightness is matched: about 0 for the same picture
    // at any brightness, about 0.3 and more for different pictures. The log of the ratio of
    // their mean brightness under the fitted match goes to *pdGainStep when not null.
    static double Difference(const CThumbnail& earlier, const CThumbnail& later,
                             double* pdGainStep);

    static constexpr double kMinCut = 0.12;
    static constexpr double kRelativeCut = 4.0;
    static constexpr double kPersist = 0.5;

  private:
    static constexpr int kHistory = 15;

    double TypicalDifference() const;

    CThumbnail m_previous;
    CThumbnail m_beforePrevious;
    CThumbnail m_third;
    // The difference of the previous frame from the one before it.
    double m_dPreviousDifference = 0.0;
    std::array<double, kHistory> m_history{};
    int m_nHistory = 0;
    int m_nNextHistory = 0;
};
