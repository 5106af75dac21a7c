// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/reader/SampleClock.h"

#include <algorithm>
#include <cstdint>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/mathematics.h>
}

namespace wmf {
namespace {
constexpr AVRational k100ns = {1, 10000000};

// Damaged files can carry any timestamp: sums and differences saturate instead of overflowing.
int64_t SaturatingAdd(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? INT64_MAX : INT64_MIN;
    return sum;
}

int64_t SaturatingSub(int64_t a, int64_t b) {
    int64_t difference = 0;
    if (__builtin_sub_overflow(a, b, &difference)) return b < 0 ? INT64_MAX : INT64_MIN;
    return difference;
}

int64_t To100ns(int64_t value, AVRational timeBase) {
    const int64_t rescaled = av_rescale_q(value, timeBase, k100ns);
    return rescaled == INT64_MIN ? 0 : rescaled;  // INT64_MIN: the rescale overflowed
}

}  // namespace

int64_t FrameTimeOf(const AVStream& stream) {
    AVRational rate = stream.avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = stream.r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) return 0;
    return std::max<int64_t>(To100ns(1, av_inv_q(rate)), 0);
}

CSampleClock::CSampleClock(AVRational timeBase, int64_t startTime, int64_t defaultDuration)
    : m_timeBase(timeBase),
      m_nStartTime(startTime),
      m_nDefaultDuration(std::max<int64_t>(defaultDuration, 0)) {}

void CSampleClock::Stamp(int64_t timestamp, int64_t duration, QWORD* pcnsTime,
                         QWORD* pcnsDuration) {
    int64_t time = m_nNextTime;
    if (timestamp != AV_NOPTS_VALUE) {
        time = std::max<int64_t>(SaturatingSub(To100ns(timestamp, m_timeBase), m_nStartTime), 0);
    }
    int64_t length = m_nDefaultDuration;
    if (duration > 0) length = std::max<int64_t>(To100ns(duration, m_timeBase), 0);
    m_nNextTime = SaturatingAdd(time, length);
    *pcnsTime = static_cast<QWORD>(time);
    *pcnsDuration = static_cast<QWORD>(length);
}

}  // namespace wmf
