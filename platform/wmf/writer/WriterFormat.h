// What the writer takes from a profile: the size, codec and bit rate of its one video stream.
#pragma once

#include "platform/wmf/wmsdk.h"

namespace wmf {

// The video stream that a writer encodes, and the frames that its input 0 takes: 24-bit
// blue-green-red DIB rows, each padded to a multiple of 4 bytes, bottom-up unless bTopDown.
struct WriterVideoFormat {
    LONG nWidth = 0;
    LONG nHeight = 0;  // rows, always positive
    bool bTopDown = false;
    DWORD dwFourcc = MakeFourcc('W', 'M', 'V', '2');  // WMV1 or WMV2
    DWORD dwBitRate = 0;                              // bits per second, 0 when unknown
    REFERENCE_TIME nAvgTimePerFrame = 0;              // 100-ns units, 0 when unknown

    DWORD Stride() const { return DibStride(nWidth); }
    // The encoded size: odd sizes grow to the next even one.
    int PaddedWidth() const { return (nWidth + 1) & ~1; }
    int PaddedHeight() const { return (nHeight + 1) & ~1; }
    // The exact length of one input sample.
    DWORD FrameBytes() const { return Stride() * static_cast<DWORD>(nHeight); }
};

// Largest width or height the writer takes; keeps the frame length within 32 bits.
constexpr LONG kMaxWriterDimension = 16384;

// Reads the profile through its public interfaces only (stream count, stream types, the video
// stream's media type). S_OK fills *pFormat; NS_E_INVALIDPROFILE when the profile has no video
// stream or more than one, or a video media type without a video info header of a usable
// size; the failing status of a profile call otherwise. *pFormat changes only on S_OK.
HRESULT ReadWriterVideoFormat(IWMProfile* pProfile, WriterVideoFormat* pFormat);

}  // namespace wmf
