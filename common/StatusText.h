// SPDX-License-Identifier: GPL-3.0-or-later
// Readable names of the runtime's status values, for the messages of both front ends.
#pragma once

#include <string>

#include "platform/wmf/wmsdk.h"

// "NS_E_FILE_NOT_FOUND (0xC00D001A)" for a status the runtime layer defines, "0x80070005" for
// any other. The hex form always has eight upper-case digits.
std::string DescribeStatus(HRESULT hr);
