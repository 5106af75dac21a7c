// SPDX-License-Identifier: GPL-3.0-or-later
// Statuses of the reading side for failures that come from the system or from FFmpeg.
#pragma once

#include "platform/wmf/wmsdk.h"

namespace wmf {

// The status for a negative FFmpeg return value met while opening or reading an input:
// NS_E_INVALID_INPUT_FORMAT for content FFmpeg cannot take (not media, damaged, no demuxer or
// decoder, a probe that ran past its deadline), StatusFromErrno for system errors (a missing
// file, refused access, a name too long, ...), E_FAIL for anything else.
HRESULT StatusFromReadError(int averror);

}  // namespace wmf
