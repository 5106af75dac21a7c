// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding of one video stream into the frames the rest of the system reads.
#pragma once

#include <memory>

#include "platform/wmf/reader/FrameConverter.h"
#include "platform/wmf/reader/ReaderSamples.h"
#include "platform/wmf/reader/SampleClock.h"
#include "platform/wmf/shared/FFmpegHolders.h"

namespace wmf {

// Decodes the packets of one stream, stamps every picture with its time, duration and
// clean-point flag, and hands it to a CFrameConverter, which delivers the DIB frames to the
// sink on its own thread (see there for the layout). Owns its codec context and converter.
// Damaged packets and pictures are skipped. Uses FFmpeg's frame threads where the codec has
// them up to 4K (each holds a picture in flight); slice threads only beyond. Decode and Finish
// come from one thread at a time.
class CVideoDecoder {
  public:
    using Sink = CFrameConverter::Sink;

    // S_OK; NS_E_INVALID_INPUT_FORMAT when FFmpeg has no decoder for the stream or cannot open
    // one; E_OUTOFMEMORY.
    static HRESULT Create(const AVStream& stream, LONG nWidth, LONG nHeight, int64_t startTime,
                          std::shared_ptr<CFramePool> pPool, Sink sink,
                          std::unique_ptr<CVideoDecoder>* pp);

    void Decode(const AVPacket& packet);
    // The end of the stream: the pictures the decoder still holds come out, and Finish returns
    // when every frame has reached the sink.
    void Finish();

  private:
    explicit CVideoDecoder(CSampleClock clock);
    void Send(const AVPacket* pPacket);

    CSampleClock m_clock;
    CodecContextHolder m_pCodec;
    AvFrameHolder m_pPicture;
    std::unique_ptr<CFrameConverter> m_pConverter;
};

}  // namespace wmf
