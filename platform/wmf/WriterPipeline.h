// Encoding behind the caller: the writer's own thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/wmf/WriterEncoder.h"

namespace wmf {

// Runs one encoder on a thread of its own, so that WriteSample returns as soon as the sample
// is queued. Push takes a reference of its own to the sample (AddRef) and releases it on the
// pipeline's thread once the frame is encoded, so samples must count their references in a
// thread-safe way; the caller keeps its own reference and may release it at once. At most
// kDepth samples wait: Push blocks while the queue is full.
//
// The first failure of the encoder stops the work: queued samples are released unencoded, and
// every later Push and Finish returns that status. Finish waits for the queue, then finishes
// the encoder. Destroying a pipeline that was not finished drops the queued samples and leaves
// the encoder unfinished.
class CWriterPipeline {
  public:
    static constexpr size_t kDepth = 4;

    explicit CWriterPipeline(std::unique_ptr<CWriterEncoder> pEncoder);
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

    void Run();
    // Ends the thread; with bDrop the queued samples are released unencoded.
    void Stop(bool bDrop);

    std::unique_ptr<CWriterEncoder> m_pEncoder;
    std::mutex m_mutex;
    std::condition_variable m_cvWork;   // a job was queued, or the pipeline stops
    std::condition_variable m_cvSpace;  // a job was taken, or the pipeline failed
    std::deque<Job> m_jobs;
    HRESULT m_hrFailure = S_OK;
    bool m_bClosing = false;
    bool m_bDrop = false;
    std::thread m_thread;  // last: starts once the members above exist
};

}  // namespace wmf
