// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/reader/DibConversion.h"

#include <cstring>

#include <libyuv/convert_argb.h>

namespace wmf {
namespace {

// libyuv's "RGB24" is blue, green, red in memory: the DIB's order.
using PlanarToRgb24 = int (*)(const uint8_t*, int, const uint8_t*, int, const uint8_t*, int,
                              uint8_t*, int, const libyuv::YuvConstants*, int, int);

}  // namespace

bool ConvertToDib(const AVFrame& picture, BYTE* pDib, DWORD dwStride) {
    const int nWidth = picture.width;
    const int nHeight = picture.height;
    PlanarToRgb24 convert = nullptr;
    const libyuv::YuvConstants* pColours = &libyuv::kYuvI601Constants;
    switch (picture.format) {
        // swscale's own fast road for these takes the chroma of the nearest sample, as libyuv
        // does, but only at an even height; at an odd one it interpolates.
        case AV_PIX_FMT_YUV420P:
            if (nHeight % 2 == 0) convert = libyuv::I420ToRGB24Matrix;
            break;
        case AV_PIX_FMT_YUV422P:
            if (nHeight % 2 == 0) convert = libyuv::I422ToRGB24Matrix;
            break;
        case AV_PIX_FMT_YUVJ444P:
            pColours = &libyuv::kYuvJPEGConstants;
            [[fallthrough]];
        case AV_PIX_FMT_YUV444P:
            convert = libyuv::I444ToRGB24Matrix;
            break;
        default:
            break;
    }
    if (convert == nullptr) return false;
    // A negative height asks libyuv for the rows bottom-up.
    if (convert(picture.data[0], picture.linesize[0], picture.data[1], picture.linesize[1],
                picture.data[2], picture.linesize[2], pDib, static_cast<int>(dwStride), pColours,
                nWidth, -nHeight) != 0) {
        return false;
    }
    const size_t nRowBytes = static_cast<size_t>(nWidth) * 3;
    if (dwStride > nRowBytes) {
        for (int y = 0; y < nHeight; ++y)
            std::memset(pDib + static_cast<size_t>(y) * dwStride + nRowBytes, 0,
                        dwStride - nRowBytes);
    }
    return true;
}

}  // namespace wmf
