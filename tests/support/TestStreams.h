// SPDX-License-Identifier: GPL-3.0-or-later
// Stream descriptions that the profile tests build their profiles from.
#pragma once

#include "platform/wmf/profile/Profile.h"

namespace varnel_test {

// WMA 2 stereo at 44.1 kHz with ten bytes of codec data.
inline wmf::StreamDescription TestAudio(WORD number) {
    wmf::AudioStreamInfo info;
    info.format.wFormatTag = 0x161;
    info.format.nChannels = 2;
    info.format.nSamplesPerSec = 44100;
    info.format.nAvgBytesPerSec = 16000;
    info.format.nBlockAlign = 2973;
    info.format.wBitsPerSample = 16;
    info.codecData = {0x00, 0x88, 0x00, 0x00, 0x0F, 0x00, 0x29, 0x00, 0x00, 0x00};
    return wmf::DescribeAudioStream(number, info);
}

inline wmf::StreamDescription TestVideo(WORD number, LONG width = 322, LONG height = 240,
                                        DWORD fourcc = MakeFourcc('W', 'M', 'V', '2'),
                                        REFERENCE_TIME frameTime = 333667) {
    wmf::VideoStreamInfo info;
    info.nWidth = width;
    info.nHeight = height;
    info.dwFourcc = fourcc;
    info.dwBitRate = 500000;
    info.nAvgTimePerFrame = frameTime;
    return wmf::DescribeVideoStream(number, info);
}

}  // namespace varnel_test
