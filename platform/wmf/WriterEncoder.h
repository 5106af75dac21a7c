// The encoding half of the writer: input samples to WMV pictures to an ASF file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/wmf/WriterConverter.h"
#include "platform/wmf/WriterFFmpeg.h"
#include "platform/wmf/WriterFormat.h"

namespace wmf {

// Encodes samples as WMV2 (or WMV1) into an ASF file, at the format's bit rate (a default for
// its size when 0). Times are 100-ns units, passed to the encoder unchanged; the file keeps
// them in milliseconds. Owns every FFmpeg object and the open file. Not thread-safe: one
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

    // Converts one sample's bytes (format.FrameBytes() of them) and encodes them at `time`.
    HRESULT Write(const BYTE* pDib, REFERENCE_TIME time);
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

    std::unique_ptr<CWriterConverter> m_pConverter;
    CodecContextPtr m_pCodec;
    OutputContextPtr m_pContainer;
    FramePtr m_pPicture;
    PacketPtr m_pPacket;
    AVStream* m_pStream = nullptr;  // owned by m_pContainer
    bool m_bFinished = false;
};

}  // namespace wmf
