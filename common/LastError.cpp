// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/LastError.h"

HRESULT g_lastErrorCode = 0;

void RecordLastError(const char* /*message*/, HRESULT status) { g_lastErrorCode = status; }
