// SPDX-License-Identifier: GPL-3.0-or-later
// Statuses of the writer's failures that come from the system or from FFmpeg.
#pragma once

#include "platform/wmf/StagedFile.h"
#include "platform/wmf/wmsdk.h"

namespace wmf {

// The status for a negative FFmpeg return value: StatusFromErrno for system errors,
// NS_E_INVALID_OUTPUT_FORMAT for a missing encoder or muxer, E_FAIL otherwise.
HRESULT StatusFromAvError(int error);

}  // namespace wmf
