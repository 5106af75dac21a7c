// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/writer/WriterPipeline.h"

#include <utility>

extern "C" {
#include <libavutil/frame.h>
}

namespace wmf {

CWriterPipeline::CWriterPipeline(std::unique_ptr<CWriterConverter> pConverter,
                                 std::unique_ptr<CWriterEncoder> pEncoder)
    : m_pConverter(std::move(pConverter)),
      m_pEncoder(std::move(pEncoder)),
      m_encoding(&CWriterPipeline::EncodeLoop, this) {}

CWriterPipeline::~CWriterPipeline() { Stop(true); }

HRESULT CWriterPipeline::Push(const BYTE* pBytes, REFERENCE_TIME time) {
    return PushFilled([&](AVFrame* pFrame) { return m_pConverter->Convert(pBytes, pFrame); }, time);
}

bool CWriterPipeline::Takes(const AVFrame& picture) const {
    return picture.format == AV_PIX_FMT_YUV420P && m_pConverter->FitsPicture(picture);
}

HRESULT CWriterPipeline::Push(const AVFrame& picture, REFERENCE_TIME time) {
    return PushFilled([&](AVFrame* pFrame) { return m_pConverter->CopyPicture(picture, pFrame); },
                      time);
}

template <typename Fill>
HRESULT CWriterPipeline::PushFilled(Fill fill, REFERENCE_TIME time) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (FAILED(m_hrFailure)) return m_hrFailure;
        if (m_bClosing) return NS_E_INVALID_REQUEST;
    }
    AvFrameHolder pFrame = TakeFreePicture();
    if (!pFrame || !fill(pFrame.get())) {
        Fail(E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    return Queue(Picture{std::move(pFrame), time});
}

HRESULT CWriterPipeline::Queue(Picture picture) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cvChanged.wait(lock, [this] { return m_pictures.size() < kDepth || FAILED(m_hrFailure); });
    if (FAILED(m_hrFailure)) return m_hrFailure;
    m_pictures.push_back(std::move(picture));
    m_cvChanged.notify_all();
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
        m_cvChanged.notify_all();
    }
    if (m_encoding.joinable()) m_encoding.join();
}

void CWriterPipeline::Fail(HRESULT hr) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (SUCCEEDED(m_hrFailure)) m_hrFailure = hr;
    m_cvChanged.notify_all();
}

AvFrameHolder CWriterPipeline::TakeFreePicture() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_freePictures.empty()) {
            AvFrameHolder pFrame = std::move(m_freePictures.back());
            m_freePictures.pop_back();
            // The encoder may still hold the buffers; then the picture gets new ones.
            if (av_frame_make_writable(pFrame.get()) == 0) return pFrame;
        }
    }
    return m_pConverter->NewPicture();
}

void CWriterPipeline::EncodeLoop() {
    for (;;) {
        Picture picture;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cvChanged.wait(lock, [this] { return !m_pictures.empty() || m_bClosing; });
            if (m_pictures.empty()) return;  // closing, and nothing left
            picture = std::move(m_pictures.front());
            m_pictures.pop_front();
            m_cvChanged.notify_all();
            if (FAILED(m_hrFailure) || m_bDrop) continue;
        }
        const HRESULT hr = m_pEncoder->Encode(picture.pFrame.get(), picture.time);
        if (FAILED(hr)) {
            Fail(hr);
            continue;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_freePictures.push_back(std::move(picture.pFrame));
    }
}

}  // namespace wmf
