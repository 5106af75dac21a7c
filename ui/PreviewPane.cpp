// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/PreviewPane.h"

#include <QImage>
#include <cstdlib>

#include "ui/DialogControls.h"

namespace {

// The compressions up to BI_BITFIELDS; anything above is a four-character code.
constexpr DWORD kLastDibCompression = 3;

// The frame as an image of its own, upright; a null image when the header describes nothing
// that can be converted.
QImage ConvertFrame(const BITMAPINFOHEADER& header, const BYTE* pPixels) {
    const LONG nWidth = header.biWidth;
    const LONG nHeight = header.biHeight == INT32_MIN ? 0 : std::abs(header.biHeight);
    QImage::Format format;
    if (header.biBitCount == 24) {
        format = QImage::Format_BGR888;
    } else if (header.biBitCount == 32) {
        format = QImage::Format_RGB32;  // blue, green, red, unused in memory
    } else {
        return QImage();
    }
    if (header.biCompression != BI_RGB || nWidth <= 0 || nHeight <= 0 ||
        nWidth > CPreviewPane::kMaxSide || nHeight > CPreviewPane::kMaxSide) {
        return QImage();
    }
    const QImage rows(pPixels, nWidth, nHeight, DibStride(nWidth, header.biBitCount), format);
    // Both give a deep copy, so nothing refers to the caller's bytes afterwards.
    return header.biHeight > 0 ? rows.mirrored(false, true) : rows.copy();
}

// The size of a frame that cannot be converted, when a pixmap can have it.
QSize FrameSize(const BITMAPINFOHEADER& header) {
    const int64_t nWidth = header.biWidth;
    const int64_t nHeight = std::abs(static_cast<int64_t>(header.biHeight));
    if (nWidth <= 0 || nHeight <= 0 || nWidth > CPreviewPane::kMaxSide ||
        nHeight > CPreviewPane::kMaxSide) {
        return QSize();
    }
    return QSize(static_cast<int>(nWidth), static_cast<int>(nHeight));
}

}  // namespace

CPreviewPane::CPreviewPane(QWidget* pParent, CBitmapStatic* pPicture)
    : m_pParent(pParent),
      m_pPicture(pPicture),
      m_pBitmap(nullptr),
      m_bmiTestPattern{},
      m_abTestPattern{} {}

CPreviewPane::~CPreviewPane() = default;

void CPreviewPane::ShowFrame(BITMAPINFOHEADER* pHeader, const BYTE* pPixels) {
    if (!pHeader || !pPixels) {
        BuildTestPattern();
        ShowFrame(&m_bmiTestPattern.bmiHeader, m_abTestPattern.data());
        return;
    }
    if (pHeader->biCompression > kLastDibCompression) {
        pHeader->biCompression = BI_RGB;
    }
    m_pBitmap.reset();

    QImage image = ConvertFrame(*pHeader, pPixels);
    if (!image.isNull()) {
        m_pBitmap = std::make_unique<QPixmap>(QPixmap::fromImage(std::move(image)));
    } else {
        m_pBitmap = std::make_unique<QPixmap>(FrameSize(*pHeader));
        if (!m_pBitmap->isNull()) {
            m_pBitmap->fill(Qt::black);
        }
    }
    m_pPicture->SetBitmap(*m_pBitmap);
}

void CPreviewPane::BuildTestPattern() {
    m_bmiTestPattern.bmiHeader = DibHeader(kTestPatternSide, kTestPatternSide);

    BYTE* pPixel = m_abTestPattern.data();
    for (int nRow = 0; nRow < kTestPatternSide; ++nRow) {
        for (int nColumn = 0; nColumn < kTestPatternSide; ++nColumn) {
            *pPixel++ = static_cast<BYTE>(nColumn);
            *pPixel++ = 0;
            *pPixel++ = static_cast<BYTE>((512 - (nRow + nColumn)) % 256);
        }
    }
}
