#include "platform/wmf/shared/WriterStatus.h"

#include <cerrno>

extern "C" {
#include <libavutil/error.h>
}

namespace wmf {

HRESULT StatusFromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return NS_E_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
            return E_ACCESSDENIED;
        case EISDIR:
        case ENAMETOOLONG:
        case EINVAL:
        case ELOOP:
            return E_INVALIDARG;
        case ENOMEM:
            return E_OUTOFMEMORY;
        default:
            return E_FAIL;
    }
}

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
