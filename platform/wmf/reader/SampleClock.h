// SPDX-License-Identifier: GPL-3.0-or-later
// Sample times of one stream in the runtime's units.
#pragma once

#include <cstdint>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/rational.h>
}

#include "platform/wmf/wmsdk.h"

namespace wmf {

// The stream's frame time in 100-ns units from its frame rate, 0 when the rate is unknown.
int64_t FrameTimeOf(const AVStream& stream);

// Turns a stream's timestamps into 100-ns times counted from the file's start, never negative.
// A sample without a timestamp is placed where the previous one ended (its time plus its
// duration); a sample without a duration gets the stream's frame time (0 when unknown).
class CSampleClock {
  public:
    // startTime and defaultDuration in 100-ns units.
    CSampleClock(AVRational timeBase, int64_t startTime, int64_t defaultDuration);

    // timestamp in the stream's time base, or AV_NOPTS_VALUE; duration <= 0 when unknown.
    void Stamp(int64_t timestamp, int64_t duration, QWORD* pcnsTime, QWORD* pcnsDuration);

  private:
    AVRational m_timeBase;
    int64_t m_nStartTime;
    int64_t m_nDefaultDuration;
    int64_t m_nNextTime = 0;
};

}  // namespace wmf
