// SPDX-License-Identifier: GPL-3.0-or-later
// The kinds of video file the runtime layer reads. Part of its public face, beside wmsdk.h, for
// front ends that offer the user a choice of files.
#pragma once

#include <string>
#include <vector>

namespace wmf {

// Extensions (lower case, without the dot) of the video files that this FFmpeg reads: the
// Windows Media ones first ("wmv", "asf", ...), then the other usual video containers, each only
// when FFmpeg has its reader. The order is fixed; nothing repeats.
std::vector<std::string> ReadableVideoExtensions();

}  // namespace wmf
