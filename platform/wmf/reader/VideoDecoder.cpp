// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/reader/VideoDecoder.h"

#include <cstdint>
#include <new>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/version.h>
}

#include "platform/wmf/ThreadBudget.h"
#include "platform/wmf/reader/InputFile.h"

namespace wmf {
namespace {

// A picture's duration in the stream's time base. FFmpeg 6.0 (libavutil 58) added
// AVFrame::duration in place of pkt_duration, which FFmpeg 7 (libavutil 59) removed.
int64_t PictureDuration(const AVFrame& picture) {
#if LIBAVUTIL_VERSION_MAJOR >= 58
    return picture.duration;
#else
    return picture.pkt_duration;
#endif
}

// Whether a picture is a key frame. FFmpeg 6.1 added AV_FRAME_FLAG_KEY in place of key_frame,
// which it deprecated.
bool IsKeyPicture(const AVFrame& picture) {
#ifdef AV_FRAME_FLAG_KEY
    return (picture.flags & AV_FRAME_FLAG_KEY) != 0;
#else
    return picture.key_frame != 0;
#endif
}

}  // namespace

CVideoDecoder::CVideoDecoder(CSampleClock clock) : m_clock(clock) {}

HRESULT CVideoDecoder::Create(const AVStream& stream, LONG nWidth, LONG nHeight, int64_t startTime,
                              std::shared_ptr<CFramePool> pPool, Sink sink,
                              std::unique_ptr<CVideoDecoder>* pp) {
    pp->reset();
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    if (codec == nullptr) return NS_E_INVALID_INPUT_FORMAT;
    std::unique_ptr<CVideoDecoder> decoder(new (std::nothrow) CVideoDecoder(
        CSampleClock(stream.time_base, startTime, FrameTimeOf(stream))));
    if (!decoder) return E_OUTOFMEMORY;
    decoder->m_pCodec.reset(avcodec_alloc_context3(codec));
    decoder->m_pPicture.reset(av_frame_alloc());
    if (!decoder->m_pCodec || !decoder->m_pPicture) return E_OUTOFMEMORY;
    AVCodecContext* context = decoder->m_pCodec.get();
    int result = avcodec_parameters_to_context(context, stream.codecpar);
    if (result < 0) return E_OUTOFMEMORY;  // it fails only to copy the codec's data
    context->pkt_timebase = stream.time_base;
    context->thread_count = DecoderThreads();  // where the codec allows
    // Frame threads keep a picture each in flight: beyond 4K (a 4:2:0 picture of 53 MB at 8K)
    // only slice threads, which share one.
    const bool bLarge = int64_t{stream.codecpar->width} * stream.codecpar->height > kLargePixels;
    context->thread_type = bLarge ? FF_THREAD_SLICE : FF_THREAD_FRAME | FF_THREAD_SLICE;
    context->max_pixels = kMaxFramePixels;  // pictures beyond the ceiling are not decoded
    result = avcodec_open2(context, codec, nullptr);
    if (result < 0) return NS_E_INVALID_INPUT_FORMAT;
    decoder->m_pConverter =
        std::make_unique<CFrameConverter>(nWidth, nHeight, std::move(pPool), std::move(sink));
    *pp = std::move(decoder);
    return S_OK;
}

void CVideoDecoder::Decode(const AVPacket& packet) { Send(&packet); }

void CVideoDecoder::Finish() {
    Send(nullptr);
    m_pConverter->Drain();
}

void CVideoDecoder::Send(const AVPacket* pPacket) {
    AVCodecContext* context = m_pCodec.get();
    int sent = avcodec_send_packet(context, pPacket);
    for (;;) {
        const int received = avcodec_receive_frame(context, m_pPicture.get());
        if (received == 0) {
            AVFrame& picture = *m_pPicture;
            ReadySample ready;
            m_clock.Stamp(picture.best_effort_timestamp, PictureDuration(picture), &ready.cnsTime,
                          &ready.cnsDuration);
            ready.dwFlags = IsKeyPicture(picture) ? WM_SF_CLEANPOINT : 0;
            m_pConverter->Post(&picture, std::move(ready));
            av_frame_unref(&picture);
            continue;
        }
        // EAGAIN: the decoder wants the packet it could not take before its output was
        // drained. Anything else (the end included) ends this packet's pictures; a packet the
        // decoder refused (damaged data) is simply skipped.
        if (received == AVERROR(EAGAIN) && sent == AVERROR(EAGAIN)) {
            sent = avcodec_send_packet(context, pPacket);
            if (sent != AVERROR(EAGAIN)) continue;
        }
        break;
    }
}

}  // namespace wmf
