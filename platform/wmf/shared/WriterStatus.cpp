// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/shared/WriterStatus.h"

#include <cerrno>

extern "C" {
#include <libavutil/error.h>
}

namespace wmf {

HRESULT StatusFromAvError(int error) {
    switch (error) {
        case AVERROR_ENCODER_NOT_FOUND:
        case AVERROR_MUXER_NOT_FOUND:
            return NS_E_INVALID_OUTPUT_FORMAT;
        default:
            break;
    }
    // System errors come as negative errno values.
    if (error < 0 && error > -4096) return StatusFromErrno(AVUNERROR(error));
    return E_FAIL;
}

}  // namespace wmf
