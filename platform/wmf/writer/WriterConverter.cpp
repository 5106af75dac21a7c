// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/writer/WriterConverter.h"

#include <algorithm>
#include <cstring>

#include <libyuv/convert.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace wmf {
namespace {

// n bytes from pFrom to pTo, each held to [nLow, nHigh].
void ClampRow(const BYTE* pFrom, BYTE* pTo, size_t n, BYTE nLow, BYTE nHigh) {
    size_t x = 0;
#ifdef __SSE2__
    const __m128i low = _mm_set1_epi8(static_cast<char>(nLow));
    const __m128i high = _mm_set1_epi8(static_cast<char>(nHigh));
    for (; x + 16 <= n; x += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pFrom + x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pTo + x),
                         _mm_min_epu8(_mm_max_epu8(v, low), high));
    }
#endif
    for (; x < n; ++x) pTo[x] = std::clamp(pFrom[x], nLow, nHigh);
}

}  // namespace

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
      m_pScaler(std::move(pScaler)) {}

bool CWriterConverter::FitsPicture(const AVFrame& picture) const {
    return !m_format.bTopDown && picture.width == m_format.nWidth &&
           picture.height == m_format.nHeight && m_format.nWidth == m_nPaddedWidth &&
           m_format.nHeight == m_nPaddedHeight;
}

bool CWriterConverter::CopyPicture(const AVFrame& picture, AVFrame* pPicture) const {
    if (pPicture->width != picture.width || pPicture->height != picture.height ||
        av_frame_make_writable(pPicture) < 0) {
        return false;
    }
    for (int nPlane = 0; nPlane < 3; ++nPlane) {
        const int nWidth = nPlane == 0 ? picture.width : (picture.width + 1) / 2;
        const int nHeight = nPlane == 0 ? picture.height : (picture.height + 1) / 2;
        const BYTE nHigh = nPlane == 0 ? 235 : 240;
        for (int y = 0; y < nHeight; ++y) {
            ClampRow(
                picture.data[nPlane] + static_cast<ptrdiff_t>(y) * picture.linesize[nPlane],
                pPicture->data[nPlane] + static_cast<ptrdiff_t>(y) * pPicture->linesize[nPlane],
                static_cast<size_t>(nWidth), 16, nHigh);
        }
    }
    return true;
}

AvFrameHolder CWriterConverter::NewPicture() const {
    return AllocatePicture(AV_PIX_FMT_YUV420P, m_nPaddedWidth, m_nPaddedHeight);
}

bool CWriterConverter::Stage(const BYTE* pDib) {
    if (!m_pStaged) m_pStaged = AllocatePicture(AV_PIX_FMT_BGR24, m_nPaddedWidth, m_nPaddedHeight);
    if (!m_pStaged) return false;
    const size_t nSourceStride = m_format.Stride();
    const size_t nRowBytes = static_cast<size_t>(m_format.nWidth) * 3;
    const ptrdiff_t nLine = m_pStaged->linesize[0];
    for (LONG y = 0; y < m_format.nHeight; ++y) {
        const LONG nSourceRow = m_format.bTopDown ? y : m_format.nHeight - 1 - y;
        BYTE* pRow = m_pStaged->data[0] + y * nLine;
        std::memcpy(pRow, pDib + nSourceRow * nSourceStride, nRowBytes);
        if (m_nPaddedWidth != m_format.nWidth)
            std::memcpy(pRow + nRowBytes, pRow + nRowBytes - 3, 3);
    }
    if (m_nPaddedHeight != m_format.nHeight) {
        BYTE* pLast = m_pStaged->data[0] + (m_nPaddedHeight - 1) * nLine;
        std::memcpy(pLast, pLast - nLine, static_cast<size_t>(m_nPaddedWidth) * 3);
    }
    return true;
}

bool CWriterConverter::Convert(const BYTE* pDib, AVFrame* pPicture) {
    if (m_nPaddedWidth == m_format.nWidth && m_nPaddedHeight == m_format.nHeight) {
        // Straight from the sample's rows (a negative height reads them bottom-up); libyuv
        // reads no byte outside them.
        return libyuv::RGB24ToI420(pDib, static_cast<int>(m_format.Stride()), pPicture->data[0],
                                   pPicture->linesize[0], pPicture->data[1], pPicture->linesize[1],
                                   pPicture->data[2], pPicture->linesize[2], m_format.nWidth,
                                   m_format.bTopDown ? m_format.nHeight : -m_format.nHeight) == 0;
    }
    if (!Stage(pDib)) return false;
    return sws_scale(m_pScaler.get(), m_pStaged->data, m_pStaged->linesize, 0, m_nPaddedHeight,
                     pPicture->data, pPicture->linesize) > 0;
}

}  // namespace wmf
