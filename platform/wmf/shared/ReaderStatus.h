// SPDX-License-Identifier: GPL-3.0-or-later
// Statuses of the reading side for failures that come from the system or from FFmpeg.
#pragma once

#include "platform/wmf/wmsdk.h"

namespace wmf {

// The status of an input that could not be opened or read, given the error of the system call
// behind the failure: the code of the file's open (avio_open2), or the error that the file's I/O
// context recorded (its `error` field, 0 when every read of its bytes succeeded). The system
// error's status (StatusFromSystemError) when there is one; NS_E_INVALID_INPUT_FORMAT for
// anything else: content FFmpeg refused, damaged or not media, and an open past its deadline.
// The demuxer's or the decoder's own return value is never passed here: it names no cause.
HRESULT StatusFromReadError(int ioError);

}  // namespace wmf
