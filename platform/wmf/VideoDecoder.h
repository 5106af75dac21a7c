// Decoding of one video stream into the frames the rest of the system reads.
#pragma once

#include <functional>
#include <memory>

#include "platform/wmf/FFmpegHolders.h"
#include "platform/wmf/ReaderSamples.h"
#include "platform/wmf/SampleClock.h"

namespace wmf {

// Decodes the packets of one stream and turns every picture into a DIB: blue-green-red, 3
// bytes a pixel, rows bottom-up and padded to a multiple of 4 bytes, exactly nWidth x nHeight
// (a picture of another size is scaled). The flip is done by the conversion itself. Owns its
// codec context and scaler; frames come from the shared pool and belong to the sink they are
// given to. Damaged packets and pictures are skipped. Uses FFmpeg's frame threads where the
// codec has them. One thread at a time.
class CVideoDecoder {
  public:
    using Sink = std::function<void(ReadySample&&)>;

    // S_OK; NS_E_INVALID_INPUT_FORMAT when FFmpeg has no decoder for the stream or cannot open
    // one; E_OUTOFMEMORY.
    static HRESULT Create(const AVStream& stream, LONG nWidth, LONG nHeight, int64_t startTime,
                          std::shared_ptr<CFramePool> pPool, std::unique_ptr<CVideoDecoder>* pp);

    // Decodes a packet (null: the end, which drains the pictures the decoder still holds) and
    // hands each finished frame to `sink` with its time, duration and clean-point flag.
    void Decode(const AVPacket* pPacket, const Sink& sink);

  private:
    CVideoDecoder(LONG nWidth, LONG nHeight, CSampleClock clock, std::shared_ptr<CFramePool> pool);
    void Deliver(const AVFrame& frame, const Sink& sink);
    SwsContext* ScalerFor(const AVFrame& frame);

    const LONG m_nWidth;
    const LONG m_nHeight;
    const DWORD m_dwStride;
    CSampleClock m_clock;
    std::shared_ptr<CFramePool> m_pPool;
    DecoderHolder m_pCodec;
    AvFrameHolder m_pFrame;
    ScalerHolder m_pScaler;
    // What m_pScaler was made for.
    int m_nScalerWidth = 0;
    int m_nScalerHeight = 0;
    int m_nScalerFormat = -1;
};

}  // namespace wmf
