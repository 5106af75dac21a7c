// SPDX-License-Identifier: GPL-3.0-or-later
// CFrameProcessorProbe: the processor's inner steps, reachable by its tests and benchmarks.
#pragma once

#include <cstddef>

#include "processor/FrameProcessor.h"

// Reaches the private steps and state of one CFrameProcessor, which it does not own. Only
// tests and benchmarks use it; the program talks to the processor through its public face.
class CFrameProcessorProbe {
  public:
    explicit CFrameProcessorProbe(CFrameProcessor& processor) : m_processor(processor) {}

    // The manipulation of a picked entry, on an entry that need not be queued.
    void Manipulate(FrameEntry& entry) { m_processor.ManipulateEntry(entry); }
    double RandomUnit() { return m_processor.RandomUnit(); }

    size_t QueueLength() const { return m_processor.m_queue.size(); }
    const FrameEntry& Front() const { return m_processor.m_queue.front(); }
    int WindowOffset() const { return m_processor.m_nWindowOffset; }
    int WindowSpan() const { return m_processor.m_nWindowSpan; }
    double TimeScale() const { return m_processor.m_dTimeScale; }
    double FrameDuration() const { return m_processor.m_dFrameDuration; }
    double IdealTime() const { return m_processor.m_dIdealTime; }
    double OutputTime() const { return m_processor.m_dOutputTime; }
    double Brightness() const { return m_processor.m_dBrightness; }
    double MinPixval() const { return m_processor.m_dMinPixval; }

  private:
    CFrameProcessor& m_processor;
};
