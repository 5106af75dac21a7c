#include "platform/wmf/writer/WriterConverter.h"

#include <cstring>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace wmf {

HRESULT CWriterConverter::Create(const WriterVideoFormat& format,
                                 std::unique_ptr<CWriterConverter>* ppConverter) {
    if (ppConverter == nullptr) return E_POINTER;
    const int nWidth = format.PaddedWidth();
    const int nHeight = format.PaddedHeight();
    ScalerHolder pScaler(sws_getContext(nWidth, nHeight, AV_PIX_FMT_BGR24, nWidth, nHeight,
                                        AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr,
                                        nullptr));
    if (!pScaler) return E_OUTOFMEMORY;
    ppConverter->reset(new CWriterConverter(format, std::move(pScaler)));
    return S_OK;
}

CWriterConverter::CWriterConverter(const WriterVideoFormat& format, ScalerHolder pScaler)
    : m_format(format),
      m_nPaddedWidth(format.PaddedWidth()),
      m_nPaddedHeight(format.PaddedHeight()),
      m_pScaler(std::move(pScaler)) {
    if (m_nPaddedWidth != format.nWidth || m_nPaddedHeight != format.nHeight) {
        m_padded.resize(static_cast<size_t>(m_nPaddedWidth) * 3 * m_nPaddedHeight);
    }
}

AvFrameHolder CWriterConverter::NewPicture() const {
    AvFrameHolder pPicture(av_frame_alloc());
    if (!pPicture) return nullptr;
    pPicture->format = AV_PIX_FMT_YUV420P;
    pPicture->width = m_nPaddedWidth;
    pPicture->height = m_nPaddedHeight;
    if (av_frame_get_buffer(pPicture.get(), 0) < 0) return nullptr;
    return pPicture;
}

void CWriterConverter::Pad(const BYTE* pDib) {
    const size_t nSourceStride = m_format.Stride();
    const size_t nRowBytes = static_cast<size_t>(m_format.nWidth) * 3;
    const size_t nPaddedStride = static_cast<size_t>(m_nPaddedWidth) * 3;
    for (LONG y = 0; y < m_format.nHeight; ++y) {
        const LONG nSourceRow = m_format.bTopDown ? y : m_format.nHeight - 1 - y;
        const BYTE* pSource = pDib + nSourceRow * nSourceStride;
        BYTE* pRow = m_padded.data() + y * nPaddedStride;
        std::memcpy(pRow, pSource, nRowBytes);
        if (nRowBytes != nPaddedStride) std::memcpy(pRow + nRowBytes, pRow + nRowBytes - 3, 3);
    }
    if (m_nPaddedHeight != m_format.nHeight) {
        BYTE* pLast = m_padded.data() + (m_nPaddedHeight - 1) * nPaddedStride;
        std::memcpy(pLast, pLast - nPaddedStride, nPaddedStride);
    }
}

void CWriterConverter::Convert(const BYTE* pDib, AVFrame* pPicture) {
    const uint8_t* pSource[4] = {nullptr, nullptr, nullptr, nullptr};
    int sourceStride[4] = {0, 0, 0, 0};
    if (!m_padded.empty()) {
        Pad(pDib);
        pSource[0] = m_padded.data();
        sourceStride[0] = m_nPaddedWidth * 3;
    } else if (m_format.bTopDown) {
        pSource[0] = pDib;
        sourceStride[0] = static_cast<int>(m_format.Stride());
    } else {
        // Bottom-up rows are read from the last row backwards, through a negative stride.
        const int nStride = static_cast<int>(m_format.Stride());
        pSource[0] = pDib + static_cast<ptrdiff_t>(m_format.nHeight - 1) * nStride;
        sourceStride[0] = -nStride;
    }
    sws_scale(m_pScaler.get(), pSource, sourceStride, 0, m_nPaddedHeight, pPicture->data,
              pPicture->linesize);
}

}  // namespace wmf
