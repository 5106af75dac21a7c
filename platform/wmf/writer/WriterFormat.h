// SPDX-License-Identifier: GPL-3.0-or-later
// What the writer takes from a profile (the size, codec and bit rate of its one video stream)
// and from the output's name (the container and codec of the file).
#pragma once

#include <string>

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

// The file an output's name asks for. Windows Media (ASF, the codec by the profile's FOURCC) has
// no encoder name; the others encode 4:2:0 pictures with the named encoder and stamp them in a
// time base of 1/30000 s, 1001 ticks a frame at the output rate.
struct WriterContainer {
    const char* pszMuxer;    // FFmpeg's name of the container
    const char* pszEncoder;  // FFmpeg's name of the encoder; null for Windows Media
    int nDefaultQuality;     // constant rate factor when none is asked for
    int nMaxQuality;         // the largest factor the encoder takes
    bool bFaststart;         // the index goes in front of the pictures
    bool bMilliseconds;      // the file keeps times in milliseconds, not in ticks of 1/30000 s

    bool IsWindowsMedia() const { return pszEncoder == nullptr; }
};

// By the name's extension, in any case: ".mp4" and ".m4v" give H.264 in MP4, ".mov" H.264 in
// QuickTime, ".mkv" H.264 in Matroska, ".webm" VP9 in WebM, any other name Windows Media.
const WriterContainer& ContainerForName(const std::string& name);

// The name of the encoder that the container asks FFmpeg for; null for Windows Media.
const char* EncoderName(const WriterContainer& container);
// For tests of an FFmpeg without some encoder: EncoderName gives `pszReplacement` where it would
// give `pszEncoder` (a null replacement puts the name back). Not thread-safe; tests only.
void ReplaceEncoderNameForTesting(const char* pszEncoder, const char* pszReplacement);

// The rate control of the outputs that are not Windows Media (IVarnelWriterSettings).
struct WriterRateControl {
    bool bBitRate = false;  // false: quality-based
    int nQuality = -1;      // constant rate factor; -1 for the container's default
    DWORD dwBitRate = 0;    // with bBitRate: bits a second, 0 for the profile's
};

}  // namespace wmf
