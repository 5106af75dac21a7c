// SPDX-License-Identifier: GPL-3.0-or-later
// Statuses of the writer's failures that come from the system or from FFmpeg.
#pragma once

#include "platform/wmf/wmsdk.h"

namespace wmf {

// The status of a failed call on the output file itself (avio_open, avio_closep) or of the error
// that its I/O context recorded: the system error's status (StatusFromSystemError: refused
// access, a full disk, a name too long, ...), E_FAIL for any other code.
HRESULT StatusFromFileError(int error);

// The status of a failure of the encoder or the muxer, given the error that the output file's
// I/O context recorded (0 when none): that error's status when it has one (the muxer passes a
// failed write on); NS_E_INVALID_OUTPUT_FORMAT for a missing encoder or muxer; E_OUTOFMEMORY for
// AVERROR(ENOMEM), since what they are given is our own frames and packets, never damaged data;
// E_FAIL for anything else, never another errno status.
HRESULT StatusFromAvError(int error, int ioError);

}  // namespace wmf
