#include "platform/wmf/WriterPipeline.h"

#include <utility>

namespace wmf {

CWriterPipeline::CWriterPipeline(std::unique_ptr<CWriterEncoder> pEncoder)
    : m_pEncoder(std::move(pEncoder)), m_thread(&CWriterPipeline::Run, this) {}

CWriterPipeline::~CWriterPipeline() { Stop(true); }

HRESULT CWriterPipeline::Push(INSSBuffer* pSample, const BYTE* pBytes, REFERENCE_TIME time) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cvSpace.wait(lock, [this] { return m_jobs.size() < kDepth || FAILED(m_hrFailure); });
    if (FAILED(m_hrFailure)) return m_hrFailure;
    if (m_bClosing) return NS_E_INVALID_REQUEST;
    pSample->AddRef();
    m_jobs.push_back(Job{pSample, pBytes, time});
    m_cvWork.notify_one();
    return S_OK;
}

HRESULT CWriterPipeline::Finish() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bClosing) return NS_E_INVALID_REQUEST;
    }
    Stop(false);
    if (FAILED(m_hrFailure)) return m_hrFailure;
    return m_pEncoder->Finish();
}

void CWriterPipeline::Stop(bool bDrop) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bClosing = true;
        m_bDrop = m_bDrop || bDrop;
    }
    m_cvWork.notify_one();
    if (m_thread.joinable()) m_thread.join();
}

void CWriterPipeline::Run() {
    for (;;) {
        Job job;
        bool bEncode;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cvWork.wait(lock, [this] { return !m_jobs.empty() || m_bClosing; });
            if (m_jobs.empty()) return;  // closing, and nothing left
            job = m_jobs.front();
            m_jobs.pop_front();
            bEncode = SUCCEEDED(m_hrFailure) && !m_bDrop;
        }
        m_cvSpace.notify_one();

        const HRESULT hr = bEncode ? m_pEncoder->Write(job.pBytes, job.time) : S_OK;
        job.pSample->Release();
        if (FAILED(hr)) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_hrFailure = hr;
            m_cvSpace.notify_all();
        }
    }
}

}  // namespace wmf
