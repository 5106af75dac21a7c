// SPDX-License-Identifier: GPL-3.0-or-later
// The vector conversion of the usual decoded pictures into DIB frames, straight into the sample.
#pragma once

#include "platform/wmf/shared/FFmpegHolders.h"
#include "platform/wmf/wmsdk.h"

namespace wmf {

// Converts a picture of exactly the frame's size into the DIB layout at pDib (blue-green-red,
// rows bottom-up, dwStride bytes apart, the padding after each row set to 0), with libyuv, which
// writes and reads no byte outside the rows it is given. It takes the pictures whose colours it
// gives as swscale does by default (BT.601; limited range, full range for the JPEG formats; the
// chroma of the nearest sample): planar 8-bit 4:2:0 and 4:2:2 of an even height, 4:4:4 of any.
// libyuv rounds where swscale's fast road truncates, so its frames come out about half a level
// brighter, closer to the exact conversion. False, with nothing written, for any other picture;
// the caller then converts it with swscale.
bool ConvertToDib(const AVFrame& picture, BYTE* pDib, DWORD dwStride);

}  // namespace wmf
