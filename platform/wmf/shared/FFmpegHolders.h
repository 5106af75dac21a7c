// SPDX-License-Identifier: GPL-3.0-or-later
// Owning holders of the FFmpeg objects that the reader and the writer use, each released by the
// FFmpeg call made for it. Include only from platform/wmf/ sources.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace wmf {

// Frees through an FFmpeg function that takes the address of the pointer.
template <typename T, void (*Free)(T**)>
struct AvAddressDeleter {
    void operator()(T* p) const { Free(&p); }
};

struct ScalerDeleter {
    void operator()(SwsContext* p) const { sws_freeContext(p); }
};

// A file's I/O context opened with avio_open2.
struct IoContextDeleter {
    void operator()(AVIOContext* p) const { avio_closep(&p); }
};
using IoContextHolder = std::unique_ptr<AVIOContext, IoContextDeleter>;
// An input opened with avformat_open_input.
using InputContextHolder =
    std::unique_ptr<AVFormatContext, AvAddressDeleter<AVFormatContext, avformat_close_input>>;
// A decoder's or an encoder's context.
using CodecContextHolder =
    std::unique_ptr<AVCodecContext, AvAddressDeleter<AVCodecContext, avcodec_free_context>>;
using AvFrameHolder = std::unique_ptr<AVFrame, AvAddressDeleter<AVFrame, av_frame_free>>;
using AvPacketHolder = std::unique_ptr<AVPacket, AvAddressDeleter<AVPacket, av_packet_free>>;
using ScalerHolder = std::unique_ptr<SwsContext, ScalerDeleter>;

// A picture with buffers of its own in `format` at width x height, its lines aligned and padded
// as FFmpeg's vector code expects (the scaler reads and writes past a line's end); null when out
// of memory.
inline AvFrameHolder AllocatePicture(AVPixelFormat format, int width, int height) {
    AvFrameHolder pPicture(av_frame_alloc());
    if (!pPicture) return nullptr;
    pPicture->format = format;
    pPicture->width = width;
    pPicture->height = height;
    if (av_frame_get_buffer(pPicture.get(), 0) < 0) return nullptr;
    return pPicture;
}

}  // namespace wmf
