// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/reader/FrameConverter.h"

#include <cstring>
#include <utility>

#include "platform/wmf/reader/DibConversion.h"

namespace wmf {
namespace {

// Pictures that may wait for the converter before Post waits.
constexpr size_t kWaiting = 1;
}  // namespace

CFrameConverter::CFrameConverter(LONG nWidth, LONG nHeight, std::shared_ptr<CFramePool> pPool,
                                 Sink sink)
    : m_nWidth(nWidth),
      m_nHeight(nHeight),
      m_dwStride(DibStride(nWidth)),
      m_pPool(std::move(pPool)),
      m_sink(std::move(sink)),
      m_thread(&CFrameConverter::Run, this) {}

CFrameConverter::~CFrameConverter() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bStop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void CFrameConverter::Post(AVFrame* pPicture, ReadySample&& ready) {
    AvFrameHolder picture(av_frame_alloc());
    if (!picture) return;
    av_frame_move_ref(picture.get(), pPicture);
    std::unique_lock<std::mutex> lock(m_lock);
    m_wake.wait(lock, [this] { return m_bStop || m_jobs.size() < kWaiting; });
    if (m_bStop) return;
    m_jobs.push_back(Job{std::move(picture), std::move(ready)});
    m_wake.notify_all();
}

void CFrameConverter::Drain() {
    std::unique_lock<std::mutex> lock(m_lock);
    m_wake.wait(lock, [this] { return m_bStop || (m_jobs.empty() && !m_bBusy); });
}

void CFrameConverter::Run() {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_bBusy = false;
            m_wake.notify_all();
            m_wake.wait(lock, [this] { return m_bStop || !m_jobs.empty(); });
            if (m_bStop) return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            m_bBusy = true;
            m_wake.notify_all();
        }
        if (Convert(*job.pPicture, &job.ready)) m_sink(std::move(job.ready));
    }
}

SwsContext* CFrameConverter::ScalerFor(const AVFrame& picture) {
    if (m_pScaler && picture.width == m_nScalerWidth && picture.height == m_nScalerHeight &&
        picture.format == m_nScalerFormat) {
        return m_pScaler.get();
    }
    m_pScaler.reset(sws_getContext(picture.width, picture.height,
                                   static_cast<AVPixelFormat>(picture.format), m_nWidth, m_nHeight,
                                   AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr));
    m_nScalerWidth = picture.width;
    m_nScalerHeight = picture.height;
    m_nScalerFormat = picture.format;
    return m_pScaler.get();
}

bool CFrameConverter::Convert(const AVFrame& picture, ReadySample* pReady) {
    if (picture.width <= 0 || picture.height <= 0 || picture.format < 0) return false;
    CSampleBase* sample = m_pPool->NewSample(m_dwStride * static_cast<DWORD>(m_nHeight));
    if (sample == nullptr) return false;
    pReady->pSample.reset(sample);
    // The usual pictures at the frame's size go straight into the sample.
    const bool bConverted = picture.width == m_nWidth && picture.height == m_nHeight
                                ? ConvertToDib(picture, sample->Bytes(), m_dwStride)
                                : false;
    if (!bConverted && !Scale(picture, sample->Bytes())) {
        pReady->pSample.reset();
        return false;
    }
    if (bConverted && picture.format == AV_PIX_FMT_YUV420P &&
        int64_t{picture.width} * picture.height <= kLargePixels) {
        sample->KeepPicture(picture);  // without it (no memory) the writer converts the bytes
    }
    CFramePool::CheckGuards(sample);
    return true;
}

bool CFrameConverter::Scale(const AVFrame& picture, BYTE* pDib) {
    SwsContext* scaler = ScalerFor(picture);
    if (scaler == nullptr) return false;
    AVFrame* pConverted = ConvertedPicture();
    if (pConverted == nullptr) return false;
    // The scaler writes whole vector blocks past the end of a line, so it fills a picture of
    // FFmpeg's own, whose lines have room for that, never the sample itself.
    if (sws_scale(scaler, picture.data, picture.linesize, 0, picture.height, pConverted->data,
                  pConverted->linesize) <= 0) {
        return false;
    }
    // Bottom-up: the picture's top row goes to the last row of the sample.
    const size_t nRowBytes = static_cast<size_t>(m_nWidth) * 3;
    for (LONG y = 0; y < m_nHeight; ++y) {
        BYTE* pRow = pDib + static_cast<size_t>(m_dwStride) * (m_nHeight - 1 - y);
        std::memcpy(pRow, pConverted->data[0] + static_cast<ptrdiff_t>(y) * pConverted->linesize[0],
                    nRowBytes);
        std::memset(pRow + nRowBytes, 0, m_dwStride - nRowBytes);
    }
    return true;
}

AVFrame* CFrameConverter::ConvertedPicture() {
    if (!m_pConverted) m_pConverted = AllocatePicture(AV_PIX_FMT_BGR24, m_nWidth, m_nHeight);
    return m_pConverted.get();
}

}  // namespace wmf
