// SPDX-License-Identifier: GPL-3.0-or-later
// Input samples of the writer turned into pictures that the encoder takes.
#pragma once

#include <memory>
#include <vector>

#include "platform/wmf/shared/FFmpegHolders.h"
#include "platform/wmf/writer/WriterFormat.h"

namespace wmf {

// Converts 24-bit blue-green-red DIB rows (padded to 4 bytes, bottom-up unless the format says
// top-down) into planar 4:2:0 pictures of even size, BT.601 in the limited range. A frame of even
// size goes straight from the sample with libyuv, which reads no byte outside its rows. An odd
// width or height is padded by repeating the last column or row (as the scaler's chroma at an odd
// edge would fade): the DIB is first copied top-down into a picture of FFmpeg's own, whose padded
// lines the scaler may read past their end, so the scaler never reads the caller's sample. Owns
// its scaler and that copy; the pictures belong to the caller.
class CWriterConverter {
  public:
    // E_OUTOFMEMORY when the scaler cannot be made.
    static HRESULT Create(const WriterVideoFormat& format,
                          std::unique_ptr<CWriterConverter>* ppConverter);

    // A new 4:2:0 picture of the padded size, or null when out of memory.
    AvFrameHolder NewPicture() const;
    // pDib holds format.FrameBytes() bytes; pPicture is a writable picture from NewPicture.
    // False when out of memory or the scaler fails.
    bool Convert(const BYTE* pDib, AVFrame* pPicture);
    // Whether a top-down picture is what Convert would make of a bottom-up DIB converted from
    // it: the frames are bottom-up and of an even size, the picture's.
    bool FitsPicture(const AVFrame& picture) const;
    // Copies a 4:2:0 picture that FitsPicture into pPicture (from NewPicture), each value held to
    // the range that Convert gives (luma 16-235, chroma 16-240), as the round trip through the
    // DIB would hold it. False when pPicture is not writable or of another size.
    bool CopyPicture(const AVFrame& picture, AVFrame* pPicture) const;

  private:
    CWriterConverter(const WriterVideoFormat& format, ScalerHolder pScaler);
    // Copies the frame top-down into m_pStaged, repeating the last column and row.
    bool Stage(const BYTE* pDib);

    WriterVideoFormat m_format;
    int m_nPaddedWidth;
    int m_nPaddedHeight;
    ScalerHolder m_pScaler;
    AvFrameHolder m_pStaged;  // the frame at the padded size, top-down, made at first use
};

}  // namespace wmf
