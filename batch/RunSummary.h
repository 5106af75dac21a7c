// SPDX-License-Identifier: GPL-3.0-or-later
// The figures that varnel-batch prints at the end of a run.
#pragma once

#include <string>

#include "common/Defaults.h"

// The speed-up of varnel-batch and the dialog, as the processor has it.
constexpr double kDefaultSpeedup = 4.0;

struct RunSummary {
    int nFramesRead = 0;
    int nFramesPicked = 0;
    int nSamplesWritten = 0;
    double dInputDuration = 0.0;   // seconds of input read (last frame's time plus duration)
    double dOutputDuration = 0.0;  // seconds: the last output sample's time
    double dWallTime = 0.0;        // seconds
    double dInputRate =
        varnel::kDefaultInputRate;      // frames per second the picking took the input for
    double dSpeedup = kDefaultSpeedup;  // --speedup
    std::string strInputRateSource;     // where that rate came from; empty: not shown
};

// One "label  value" line per figure, each ending in a line feed. The speed-up (input duration
// over output duration) is shown only when both are known; the input rate only with its source.
std::string FormatSummary(const RunSummary& summary);
