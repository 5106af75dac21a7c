// SPDX-License-Identifier: GPL-3.0-or-later
// The last-error record: the one place where media operations report a failing runtime call.
// Both front ends read it back to tell the user what went wrong. Not thread-safe: the system's
// own code reports from one thread.
#pragma once

#include <string>

#include "platform/wmf/wmsdk.h"

// Status of the most recent failure reported through RecordLastError; 0 until the first one.
extern HRESULT g_lastErrorCode;

// Keeps `status` in g_lastErrorCode and `message`, which names the failed operation ("Could not
// begin writing file"), beside it. `subject`, when given, names what the operation was about (a
// file name, as bytes); otherwise none is kept.
void RecordLastError(const char* message, HRESULT status);
void RecordLastError(const char* message, HRESULT status, const std::string& subject);

// The most recent failure as one line: "Could not begin writing file /proc/x.mp4: access denied
// (0x80070005)", or "" when none has been recorded since the start or the last ClearLastError.
std::string DescribeLastError();

// Forgets the message and subject (so DescribeLastError gives ""); g_lastErrorCode stays, as
// the About box shows the last recorded status of the session.
void ClearLastError();
