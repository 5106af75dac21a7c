// SPDX-License-Identifier: GPL-3.0-or-later
// The last-error record: the one place where media operations report a failing runtime call.
#pragma once

#include "platform/wmf/wmsdk.h"

// Status of the most recent failure reported through RecordLastError; 0 until the first one.
extern HRESULT g_lastErrorCode;

// Keeps `status` in g_lastErrorCode. The message names the failed operation; it is neither
// stored nor shown. No other effect.
void RecordLastError(const char* message, HRESULT status);
