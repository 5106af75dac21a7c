// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/shared/ReaderStatus.h"

#include "platform/wmf/shared/SystemStatus.h"

namespace wmf {

HRESULT StatusFromReadError(int ioError) {
    return StatusFromSystemError(ioError, NS_E_INVALID_INPUT_FORMAT);
}

}  // namespace wmf
