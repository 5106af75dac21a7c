// Statuses of the reading side for failures that come from the system or from FFmpeg.
#pragma once

#include "platform/wmf/wmsdk.h"

namespace wmf {

// The status for a negative FFmpeg return value met while opening or reading an input:
// NS_E_FILE_NOT_FOUND for a missing file or folder, E_ACCESSDENIED for refused access,
// E_INVALIDARG for a name that cannot be a file, E_OUTOFMEMORY, NS_E_INVALID_INPUT_FORMAT for
// content FFmpeg cannot take (not media, damaged, no demuxer or decoder, a probe that ran past
// its deadline), E_FAIL for anything else.
HRESULT StatusFromReadError(int averror);

}  // namespace wmf
