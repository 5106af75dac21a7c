// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/shared/WriterStatus.h"

#include <cerrno>

extern "C" {
#include <libavutil/error.h>
}

#include "platform/wmf/shared/SystemStatus.h"

namespace wmf {

HRESULT StatusFromFileError(int error) { return StatusFromSystemError(error, E_FAIL); }

HRESULT StatusFromAvError(int error, int ioError) {
    const HRESULT hrFile = StatusFromFileError(ioError);
    if (hrFile != E_FAIL) return hrFile;
    switch (error) {
        case AVERROR_ENCODER_NOT_FOUND:
        case AVERROR_MUXER_NOT_FOUND:
            return NS_E_INVALID_OUTPUT_FORMAT;
        case AVERROR(ENOMEM):
            return E_OUTOFMEMORY;
        default:
            return E_FAIL;
    }
}

}  // namespace wmf
