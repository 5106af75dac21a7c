#include "platform/wmf/VideoDecoder.h"

#include <new>

#include "platform/wmf/ReaderStatus.h"

namespace wmf {

CVideoDecoder::CVideoDecoder(LONG nWidth, LONG nHeight, CSampleClock clock,
                             std::shared_ptr<CFramePool> pool)
    : m_nWidth(nWidth),
      m_nHeight(nHeight),
      m_dwStride(DibStride(nWidth)),
      m_clock(clock),
      m_pPool(std::move(pool)) {}

HRESULT CVideoDecoder::Create(const AVStream& stream, LONG nWidth, LONG nHeight, int64_t startTime,
                              std::shared_ptr<CFramePool> pPool,
                              std::unique_ptr<CVideoDecoder>* pp) {
    pp->reset();
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    if (codec == nullptr) return NS_E_INVALID_INPUT_FORMAT;

    std::unique_ptr<CVideoDecoder> decoder(new (std::nothrow) CVideoDecoder(
        nWidth, nHeight, CSampleClock(stream.time_base, startTime, FrameTimeOf(stream)),
        std::move(pPool)));
    if (!decoder) return E_OUTOFMEMORY;
    decoder->m_pCodec.reset(avcodec_alloc_context3(codec));
    decoder->m_pFrame.reset(av_frame_alloc());
    if (!decoder->m_pCodec || !decoder->m_pFrame) return E_OUTOFMEMORY;
    AVCodecContext* context = decoder->m_pCodec.get();
    int result = avcodec_parameters_to_context(context, stream.codecpar);
    if (result < 0) return StatusFromReadError(result);
    context->pkt_timebase = stream.time_base;
    context->thread_count = 0;  // as many as the machine has, where the codec allows
    context->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    result = avcodec_open2(context, codec, nullptr);
    if (result < 0) return NS_E_INVALID_INPUT_FORMAT;
    *pp = std::move(decoder);
    return S_OK;
}

void CVideoDecoder::Decode(const AVPacket* pPacket, const Sink& sink) {
    AVCodecContext* context = m_pCodec.get();
    int sent = avcodec_send_packet(context, pPacket);
    for (;;) {
        const int received = avcodec_receive_frame(context, m_pFrame.get());
        if (received == 0) {
            Deliver(*m_pFrame, sink);
            av_frame_unref(m_pFrame.get());
            continue;
        }
        // EAGAIN: the decoder wants the packet that it could not take before its output was
        // drained. Anything else (the end included) ends this packet's pictures.
        if (received == AVERROR(EAGAIN) && sent == AVERROR(EAGAIN)) {
            sent = avcodec_send_packet(context, pPacket);
            if (sent != AVERROR(EAGAIN)) continue;
        }
        break;
    }
    // A packet the decoder refused (damaged data) is simply skipped.
}

SwsContext* CVideoDecoder::ScalerFor(const AVFrame& frame) {
    if (m_pScaler && frame.width == m_nScalerWidth && frame.height == m_nScalerHeight &&
        frame.format == m_nScalerFormat) {
        return m_pScaler.get();
    }
    m_pScaler.reset(sws_getContext(frame.width, frame.height,
                                   static_cast<AVPixelFormat>(frame.format), m_nWidth, m_nHeight,
                                   AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr));
    m_nScalerWidth = frame.width;
    m_nScalerHeight = frame.height;
    m_nScalerFormat = frame.format;
    return m_pScaler.get();
}

void CVideoDecoder::Deliver(const AVFrame& frame, const Sink& sink) {
    if (frame.width <= 0 || frame.height <= 0 || frame.format < 0) return;
    SwsContext* scaler = ScalerFor(frame);
    if (scaler == nullptr) return;
    ReadySample ready;
    CSampleBase* sample = m_pPool->NewSample(m_dwStride * static_cast<DWORD>(m_nHeight));
    if (sample == nullptr) return;
    ready.pSample.reset(sample);
    // Bottom-up: the picture's top row goes to the last row of the buffer, and each next row
    // one stride before it.
    uint8_t* const dst[4] = {sample->Bytes() + static_cast<size_t>(m_dwStride) * (m_nHeight - 1),
                             nullptr, nullptr, nullptr};
    const int dstStride[4] = {-static_cast<int>(m_dwStride), 0, 0, 0};
    if (sws_scale(scaler, frame.data, frame.linesize, 0, frame.height, dst, dstStride) <= 0) {
        return;
    }
    m_clock.Stamp(frame.best_effort_timestamp, frame.pkt_duration, &ready.cnsTime,
                  &ready.cnsDuration);
    ready.dwFlags = frame.key_frame ? WM_SF_CLEANPOINT : 0;
    sink(std::move(ready));
}

}  // namespace wmf
