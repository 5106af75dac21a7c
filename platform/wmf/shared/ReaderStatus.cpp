#include "platform/wmf/shared/ReaderStatus.h"

#include <cerrno>

extern "C" {
#include <libavutil/error.h>
}

namespace wmf {

HRESULT StatusFromReadError(int averror) {
    switch (averror) {
        case AVERROR(ENOENT):
        case AVERROR(ENOTDIR):
            return NS_E_FILE_NOT_FOUND;
        case AVERROR(EACCES):
        case AVERROR(EPERM):
            return E_ACCESSDENIED;
        case AVERROR(EISDIR):
        case AVERROR(ENAMETOOLONG):
        case AVERROR(ELOOP):
        case AVERROR(EINVAL):
            return E_INVALIDARG;
        case AVERROR(ENOMEM):
            return E_OUTOFMEMORY;
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
            return E_FAIL;
    }
}

}  // namespace wmf
