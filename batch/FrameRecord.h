// SPDX-License-Identifier: GPL-3.0-or-later
// What the batch front end learns about one frame read: its measurement and its fate.
#pragma once

#include <vector>

#include "platform/wmf/wmsdk.h"

struct FrameRecord {
    int nFrame = 0;                  // 1 for the first frame read
    double dTime = 0.0;              // the frame's time in the input, seconds
    double dBefore = 0.0;            // brightness before manipulation
    double dDarkFraction = 0.0;      // share of dark pixels, 0 to 1
    bool bPicked = false;            // written to the output
    double dAfter = 0.0;             // brightness after manipulation; 0 when not manipulated
    std::vector<QWORD> outputTimes;  // 100-ns units, one per sample written (two for a repeat)
    double dTarget = 0.0;            // the target brightness the frame was measured against
    bool bCut = false;               // the first frame of a new shot (deflicker)
};
