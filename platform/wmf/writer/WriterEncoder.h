// SPDX-License-Identifier: GPL-3.0-or-later
// The encoding half of the writer: input samples to pictures to a file of the output's container.
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

// Encodes samples into the container's file.
//  - Windows Media: WMV2 (or WMV1) in ASF, at the format's bit rate (or the rate control's
//    explicit one; a default for its size when 0). The encoder counts pictures at the profile's
//    frame rate, which its rate control needs; each packet goes into the file at its sample's
//    own time (100-ns units, kept by the file in milliseconds).
//  - the others: the container's encoder (H.264 or VP9) on 4:2:0 pictures stamped in 1/30000 s
//    (NtscTicks), at a constant rate factor or a bit rate as the rate control says; the file
//    keeps those ticks (MP4, QuickTime, with the index in front) or milliseconds (Matroska, WebM).
// Owns every FFmpeg object and the open file. Not thread-safe: one thread at a time. Destroying
// an encoder that was not finished closes the file without its index; the caller throws such a
// file away.
class CWriterEncoder {
  public:
    // Creates or empties `path` and writes the file header. NS_E_INVALID_OUTPUT_FORMAT when this
    // FFmpeg lacks the encoder or container or the encoder refuses the format, E_INVALIDARG for a
    // constant rate factor beyond the encoder's, the file's status (StatusFromFileError) when it
    // cannot be opened.
    static HRESULT Open(const std::string& path, const WriterVideoFormat& format,
                        const WriterContainer& container, const WriterRateControl& rate,
                        std::unique_ptr<CWriterEncoder>* ppEncoder);
    ~CWriterEncoder();
    CWriterEncoder(const CWriterEncoder&) = delete;
    CWriterEncoder& operator=(const CWriterEncoder&) = delete;

    // Encodes one picture of the padded size (see CWriterConverter) at `time`. The encoder
    // takes its own reference to the picture's buffers when it needs them later.
    HRESULT Encode(AVFrame* pPicture, REFERENCE_TIME time);
    // Drains the encoder, writes the index and closes the file. Once only.
    HRESULT Finish();

    // A sample time in the units the container's file keeps it in; two samples whose times
    // are not apart there cannot both go into the file.
    static int64_t FileTicks(const WriterContainer& container, REFERENCE_TIME time);
    // A sample time in 1/30000 s: the output rate of the sample clock put the k-th
    // frame's time (k x 333667 units, about) at exactly k x 1001 ticks.
    static int64_t NtscTicks(REFERENCE_TIME time);

  private:
    CWriterEncoder() = default;
    HRESULT OpenWindowsMediaCodec(const WriterVideoFormat& format, const WriterRateControl& rate);
    HRESULT OpenCodec(const WriterVideoFormat& format, const WriterContainer& container,
                      const WriterRateControl& rate, bool bGlobalHeader);
    HRESULT OpenContainer(const std::string& path, const WriterContainer& container);
    // Moves every packet the encoder has ready into the file.
    HRESULT Drain();
    // The error that the file's I/O recorded (a failed write), 0 when none.
    int FileError() const;

    CodecContextHolder m_pCodec;
    OutputContextHolder m_pContainer;
    AvPacketHolder m_pPacket;
    AVStream* m_pStream = nullptr;  // owned by m_pContainer
    // Windows Media only: the pictures are counted, and their times wait for their packets.
    bool m_bCountsPictures = false;
    int64_t m_nFramesSent = 0;
    std::deque<REFERENCE_TIME> m_times;  // of the pictures sent and not yet out as packets
    bool m_bFinished = false;
};

}  // namespace wmf
