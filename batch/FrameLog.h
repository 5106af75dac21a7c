// SPDX-License-Identifier: GPL-3.0-or-later
// Follows each frame read from the reader through the processor to the writer.
#pragma once

#include <deque>
#include <functional>

#include "batch/FrameRecord.h"

// Keeps a record for every frame that the processor may still write, fills in what the writer
// receives (matched by sample identity: a sample is referenced by its queue entry until the entry
// is discarded, so no two live frames share one), and hands each record to the sink once the
// frame can no longer be written. A frame is written at most once (once or twice at a time) and
// every frame in front of a written one has left the processor (deflicker holds picks only
// behind it), so records up to the latest write are final; Finish hands over the rest.
//
// The log never dereferences or releases the samples it is given; they only identify frames.
class CFrameLog {
  public:
    using Sink = std::function<void(const FrameRecord&)>;

    explicit CFrameLog(Sink sink);

    // A frame read, before it goes to the processor.
    void AddFrame(int nFrame, double dTime, const INSSBuffer* pSample);
    // The processor's measurement of the frame added last, and its target.
    void SetMeasurement(double dBefore, double dDarkFraction, double dTarget);
    // The writer received pSample at cnsTime. Counted in any case; false when no frame of the
    // log holds that sample.
    bool OnWritten(const INSSBuffer* pSample, QWORD cnsTime);
    // True when a sample was written since the last call; clears the mark.
    bool TakeWrittenMark();
    // The brightness after manipulation of the frame written last, and the target it was
    // scaled to.
    void SetAfterOfLastWritten(double dAfter, double dTarget);
    // The frame nBack frames before the one added last starts a new shot; ignored when its
    // record has been handed over or nBack is out of range.
    void MarkCut(int nBack);
    // Hands over the records that are final (every frame up to the last one written).
    void Retire();
    // Hands over every record left, in order.
    void Finish();

    int FramesRead() const { return m_nFramesRead; }
    int FramesPicked() const { return m_nFramesPicked; }
    int SamplesWritten() const { return m_nSamplesWritten; }
    // Time of the last sample written, 100-ns units; 0 when none.
    QWORD LastOutputTime() const { return m_cnsLastOutputTime; }

  private:
    struct PendingFrame {
        FrameRecord record;
        const INSSBuffer* pSample;
    };

    Sink m_sink;
    std::deque<PendingFrame> m_pending;
    int m_nLastWrittenFrame;
    bool m_bWrittenMark;
    int m_nFramesRead;
    int m_nFramesPicked;
    int m_nSamplesWritten;
    QWORD m_cnsLastOutputTime;
};
