// SPDX-License-Identifier: GPL-3.0-or-later
// Encoding behind the caller: the writer's own thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/wmf/shared/FFmpegHolders.h"
#include "platform/wmf/writer/WriterConverter.h"
#include "platform/wmf/writer/WriterEncoder.h"

namespace wmf {

// Converts each frame on the caller's thread, at once, into a picture of its own, and runs the
// encoder on a thread of its own, so that WriteSample returns as soon as the picture is queued.
// The caller's sample is read only during Push: the pipeline holds no reference to it, so the
// samples the caller lets go are free at once (a picture is half a frame's bytes). At most
// kDepth converted pictures wait for the encoder: Push blocks while the queue is full.
//
// The first failure stops the work: pictures are dropped, and every later Push and Finish
// returns that status. Finish waits for the queue, then finishes the encoder. Destroying a
// pipeline that was not finished drops what is queued and leaves the encoder unfinished.
class CWriterPipeline {
  public:
    static constexpr size_t kDepth = 2;

    CWriterPipeline(std::unique_ptr<CWriterConverter> pConverter,
                    std::unique_ptr<CWriterEncoder> pEncoder);
    ~CWriterPipeline();
    CWriterPipeline(const CWriterPipeline&) = delete;
    CWriterPipeline& operator=(const CWriterPipeline&) = delete;

    // pBytes are a frame's bytes, read before Push returns.
    HRESULT Push(const BYTE* pBytes, REFERENCE_TIME time);
    // Whether a decoded picture can go to the encoder as it is: 4:2:0 at the encoder's size.
    bool Takes(const AVFrame& picture) const;
    // A decoded picture that Takes, copied before Push returns (CWriterConverter::CopyPicture).
    HRESULT Push(const AVFrame& picture, REFERENCE_TIME time);
    // Once only.
    HRESULT Finish();

  private:
    struct Picture {
        AvFrameHolder pFrame;
        REFERENCE_TIME time;
    };

    // A free picture filled by fill(picture) (false: out of memory), then queued.
    template <typename Fill>
    HRESULT PushFilled(Fill fill, REFERENCE_TIME time);
    // Queues a picture once the encoder has room.
    HRESULT Queue(Picture picture);

    void EncodeLoop();
    // A picture to convert into: a recycled one when there is one.
    AvFrameHolder TakeFreePicture();
    void Fail(HRESULT hr);
    // Ends the thread; with bDrop whatever is queued is dropped unencoded.
    void Stop(bool bDrop);

    std::unique_ptr<CWriterConverter> m_pConverter;  // used by the caller's thread only
    std::unique_ptr<CWriterEncoder> m_pEncoder;      // used by the encoding thread only
    std::mutex m_mutex;
    std::condition_variable m_cvChanged;  // the queue or a flag below changed
    std::deque<Picture> m_pictures;
    std::vector<AvFrameHolder> m_freePictures;
    HRESULT m_hrFailure = S_OK;
    bool m_bClosing = false;  // no more pictures will come
    bool m_bDrop = false;
    std::thread m_encoding;  // last: it starts once the members above exist
};

}  // namespace wmf
