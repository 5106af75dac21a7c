// SPDX-License-Identifier: GPL-3.0-or-later
// Fills the brightness curves from the frame processor, one frame step at a time.
#pragma once

#include <cstdint>

class CCurveData;
class CFrameProcessor;

// After each ProcessSample the front end calls Record with the reader's number and time of the
// frame just processed: the frame's figures are appended (its target is the one the processor
// gave it: the target brightness, or the level of deflicker that follows the scene), and
// when the processor has written a frame since the last call, that frame's point is marked
// written. Every frame processed must be recorded, in order, for the processor's numbers to
// match the points; frames that were never recorded (before a Clear, of another run) are not
// marked. The written brightness is the frame's brightness after manipulation when it was
// manipulated, else its brightness as read. A frame the processor found to start a new shot
// (deflicker) is marked a cut. RecordWrites does the marking alone, for the writes of a step
// that processed no frame (the held picks written at the end of the input).
//
// The recorder refers to the data, which it does not own and which outlives it.
class CCurveRecorder {
  public:
    explicit CCurveRecorder(CCurveData* pData);

    void Record(const CFrameProcessor& processor, int nFrame, double dTime, bool bManipulating);
    void RecordWrites(const CFrameProcessor& processor, bool bManipulating);

  private:
    CCurveData* m_pData;
    // The point index of a processor number is that number plus this offset.
    int64_t m_nIndexOffset;
    // The processor's number of the frame written last that was seen; 0 before any.
    int m_nLastWritten;
    // The processor's number of the last cut marked; 0 before any.
    int m_nLastCut = 0;
};
