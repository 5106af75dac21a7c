// SPDX-License-Identifier: GPL-3.0-or-later
// Converting and encoding behind the caller: the writer's own threads.
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

// Runs the conversion and the encoder each on a thread of its own, so that WriteSample returns
// as soon as the sample is queued and a frame is converted while the one before is encoded.
// Push takes a reference of its own to the sample (AddRef) and releases it on the conversion
// thread once the frame is converted, so samples must count their references in a
// thread-safe way; the caller keeps its own reference and may release it at once. At most
// kDepth samples wait, and kDepth converted pictures: Push blocks while the queue is full.
//
// The first failure stops the work: queued samples are released unconverted, pictures are
// dropped, and every later Push and Finish returns that status. Finish waits for both queues,
// then finishes the encoder. Destroying a pipeline that was not finished drops what is queued
// and leaves the encoder unfinished.
class CWriterPipeline {
  public:
    static constexpr size_t kDepth = 4;

    CWriterPipeline(std::unique_ptr<CWriterConverter> pConverter,
                    std::unique_ptr<CWriterEncoder> pEncoder);
    ~CWriterPipeline();
    CWriterPipeline(const CWriterPipeline&) = delete;
    CWriterPipeline& operator=(const CWriterPipeline&) = delete;

    // pBytes are the sample's frame bytes, valid as long as the sample lives.
    HRESULT Push(INSSBuffer* pSample, const BYTE* pBytes, REFERENCE_TIME time);
    // Once only.
    HRESULT Finish();

  private:
    struct Job {
        INSSBuffer* pSample;
        const BYTE* pBytes;
        REFERENCE_TIME time;
    };
    struct Picture {
        AvFrameHolder pFrame;
        REFERENCE_TIME time;
    };

    void ConvertLoop();
    void EncodeLoop();
    // A picture to convert into: a recycled one when there is one.
    AvFrameHolder TakeFreePicture();
    void Fail(HRESULT hr);
    // Ends both threads; with bDrop whatever is queued is dropped unconverted or unencoded.
    void Stop(bool bDrop);

    std::unique_ptr<CWriterConverter> m_pConverter;  // used by the conversion thread only
    std::unique_ptr<CWriterEncoder> m_pEncoder;      // used by the encoding thread only
    std::mutex m_mutex;
    std::condition_variable m_cvChanged;  // any queue or flag below changed
    std::deque<Job> m_jobs;
    std::deque<Picture> m_pictures;
    std::vector<AvFrameHolder> m_freePictures;
    HRESULT m_hrFailure = S_OK;
    bool m_bClosing = false;    // no more jobs will come
    bool m_bConverted = false;  // the conversion thread has ended
    bool m_bDrop = false;
    std::thread m_converting;  // last: they start once the members above exist
    std::thread m_encoding;
};

}  // namespace wmf
