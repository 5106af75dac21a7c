// The figures that varnel-batch prints at the end of a run.
#pragma once

#include <string>

struct RunSummary {
    int nFramesRead = 0;
    int nFramesPicked = 0;
    int nSamplesWritten = 0;
    double dInputDuration = 0.0;   // seconds of input read (last frame's time plus duration)
    double dOutputDuration = 0.0;  // seconds: the last output sample's time
    double dWallTime = 0.0;        // seconds
};

// One "label  value" line per figure, each ending in a line feed. The speed-up (input duration
// over output duration) is shown only when both are known.
std::string FormatSummary(const RunSummary& summary);
