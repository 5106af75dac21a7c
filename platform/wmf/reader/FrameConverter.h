// SPDX-License-Identifier: GPL-3.0-or-later
// Conversion of decoded pictures into the frames the rest of the system reads, on a thread of
// its own so that it overlaps the decoding of the next pictures.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/wmf/reader/ReaderSamples.h"
#include "platform/wmf/shared/FFmpegHolders.h"

namespace wmf {

// The largest 4K picture, 4096 x 2304 pixels. Beyond it the decoder keeps to slice threads, which
// share one picture, and a sample keeps no picture beside its bytes (see CFrameConverter).
constexpr int64_t kLargePixels = int64_t{4096} * 2304;

// Turns pictures into DIBs: blue-green-red, 3 bytes a pixel, rows bottom-up and padded to a
// multiple of 4 bytes, exactly nWidth x nHeight (a picture of another size is scaled). The usual
// pictures at that size are converted straight into the sample (ConvertToDib); the others go
// through swscale, which writes into a picture of its own with padded lines (it writes past a
// line's end), and the rows are copied from there into the sample, flipped. Frames come from the
// shared pool and go to the sink, on the converter's thread, in the order the pictures were
// posted. A 4:2:0 picture converted at that size, up to 4K, stays with its sample (KeepPicture)
// for the writer; larger ones do not, since each frame held would hold its picture too.
//
// Post takes over the picture's data and waits while a few pictures are already waiting. Drain
// waits until every posted picture has reached the sink. Destruction drops the pictures not yet
// converted and stops the thread. A picture that cannot be converted (no memory, a format the
// scaler does not take) is skipped. Post and Drain come from one thread at a time.
class CFrameConverter {
  public:
    using Sink = std::function<void(ReadySample&&)>;

    CFrameConverter(LONG nWidth, LONG nHeight, std::shared_ptr<CFramePool> pPool, Sink sink);
    ~CFrameConverter();
    CFrameConverter(const CFrameConverter&) = delete;
    CFrameConverter& operator=(const CFrameConverter&) = delete;

    // `ready` carries the time, duration and flags; its sample is filled here.
    void Post(AVFrame* pPicture, ReadySample&& ready);
    void Drain();

  private:
    struct Job {
        AvFrameHolder pPicture;
        ReadySample ready;
    };

    void Run();
    bool Convert(const AVFrame& picture, ReadySample* pReady);
    // The swscale road into the DIB at pDib.
    bool Scale(const AVFrame& picture, BYTE* pDib);
    SwsContext* ScalerFor(const AVFrame& picture);
    // The converter's own top-down picture at the frame size, made at first use; null when out
    // of memory.
    AVFrame* ConvertedPicture();

    const LONG m_nWidth;
    const LONG m_nHeight;
    const DWORD m_dwStride;
    std::shared_ptr<CFramePool> m_pPool;
    Sink m_sink;

    // Used by the converter's thread only.
    ScalerHolder m_pScaler;
    int m_nScalerWidth = 0;
    int m_nScalerHeight = 0;
    int m_nScalerFormat = -1;
    AvFrameHolder m_pConverted;

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_bBusy = false;  // a job is being converted
    bool m_bStop = false;
    std::thread m_thread;
};

}  // namespace wmf
