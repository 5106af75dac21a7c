// Statuses of the writer's failures that come from the system or from FFmpeg.
#pragma once

#include "platform/wmf/wmsdk.h"

namespace wmf {

// The status for an errno value of a failed file operation: NS_E_FILE_NOT_FOUND for a missing
// folder, E_ACCESSDENIED for refused access, E_INVALIDARG for a name that cannot be a file,
// E_OUTOFMEMORY, and E_FAIL for anything else (a full disk included).
HRESULT StatusFromErrno(int error);

// The status for a negative FFmpeg return value: the errno mapping above for system errors,
// NS_E_INVALID_OUTPUT_FORMAT for a missing encoder or muxer, E_FAIL otherwise.
HRESULT StatusFromAvError(int error);

}  // namespace wmf
