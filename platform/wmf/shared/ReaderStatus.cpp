// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/shared/ReaderStatus.h"

#include <cerrno>

extern "C" {
#include <libavutil/error.h>
}

#include "platform/wmf/StagedFile.h"

namespace wmf {

HRESULT StatusFromReadError(int averror) {
    switch (averror) {
        case AVERROR_INVALIDDATA:
        case AVERROR_DEMUXER_NOT_FOUND:
        case AVERROR_DECODER_NOT_FOUND:
        case AVERROR_STREAM_NOT_FOUND:
        case AVERROR_PATCHWELCOME:
        case AVERROR_EOF:
        case AVERROR_EXIT:
        case AVERROR(ETIMEDOUT):
            return NS_E_INVALID_INPUT_FORMAT;
        default:
            break;
    }
    // System errors come as negative errno values.
    if (averror < 0 && averror > -4096) return StatusFromErrno(AVUNERROR(averror));
    return E_FAIL;
}

}  // namespace wmf
