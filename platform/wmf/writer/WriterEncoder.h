// The encoding half of the writer: input samples to WMV pictures to an ASF file.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/wmf/shared/FFmpegHolders.h"
#include "platform/wmf/writer/WriterFormat.h"

namespace wmf {

// An output context with the file it opened: closes the file, then frees the context.
struct OutputContextDeleter {
    void operator()(AVFormatContext* p) const;
};
using OutputContextHolder = std::unique_ptr<AVFormatContext, OutputContextDeleter>;

// Encodes samples as WMV2 (or WMV1) into an ASF file, at the format's bit rate (a default for
// its size when 0). The encoder counts pictures at the profile's frame rate, which its rate
// control needs; each packet goes into the file at its sample's own time (100-ns units, kept
// by the file in milliseconds). Owns every FFmpeg object and the open file. Not thread-safe: one
// thread at a time. Destroying an encoder that was not finished closes the file without its
// index; the caller throws such a file away.
class CWriterEncoder {
  public:
    // Creates or empties `path` and writes the file header. NS_E_INVALID_OUTPUT_FORMAT when the
    // encoder refuses the format, the file's status (StatusFromAvError) when it cannot be
    // opened.
    static HRESULT Open(const std::string& path, const WriterVideoFormat& format,
                        std::unique_ptr<CWriterEncoder>* ppEncoder);
    ~CWriterEncoder();
    CWriterEncoder(const CWriterEncoder&) = delete;
    CWriterEncoder& operator=(const CWriterEncoder&) = delete;

    // Encodes one picture of the padded size (see CWriterConverter) at `time`. The encoder
    // takes its own reference to the picture's buffers when it needs them later.
    HRESULT Encode(AVFrame* pPicture, REFERENCE_TIME time);
    // Drains the encoder, writes the index and closes the file. Once only.
    HRESULT Finish();

    // A sample time as the file records it, in milliseconds.
    static int64_t FileMilliseconds(REFERENCE_TIME time);

  private:
    CWriterEncoder() = default;
    HRESULT OpenCodec(const WriterVideoFormat& format);
    HRESULT OpenContainer(const std::string& path);
    // Moves every packet the encoder has ready into the file.
    HRESULT Drain();

    CodecContextHolder m_pCodec;
    OutputContextHolder m_pContainer;
    AvPacketHolder m_pPacket;
    AVStream* m_pStream = nullptr;  // owned by m_pContainer
    int64_t m_nFramesSent = 0;
    std::deque<REFERENCE_TIME> m_times;  // of the pictures sent and not yet out as packets
    bool m_bFinished = false;
};

}  // namespace wmf
