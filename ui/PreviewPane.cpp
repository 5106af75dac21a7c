// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/PreviewPane.h"

#include <QImage>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale_argb.h>

#include "ui/DialogControls.h"

namespace {

// The compressions up to BI_BITFIELDS; anything above is a four-character code.
constexpr DWORD kLastDibCompression = 3;

// The size of a frame, when an image can have it; an invalid size otherwise.
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
    : m_pParent(pParent), m_pPicture(pPicture), m_bmiTestPattern{}, m_abTestPattern{} {}

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
    QImage image = Convert(*pHeader, pPixels);
    if (image.isNull()) {
        const QSize size = FrameSize(*pHeader);
        if (size.isValid()) {
            image = TakeBuffer(m_spare, ShownSize(size));
            image.fill(Qt::black);
        }
    }
    m_spare = m_pPicture->SetImage(std::move(image));
}

QSize CPreviewPane::ShownSize(const QSize& size) const {
    if (m_fitArea.isEmpty()) return size;
    return size.scaled(m_fitArea, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

QImage CPreviewPane::TakeBuffer(QImage& spare, const QSize& size) {
    QImage image = std::move(spare);
    spare = QImage();
    if (image.size() != size || image.format() != QImage::Format_RGB32 || !image.isDetached()) {
        image = QImage(size, QImage::Format_RGB32);
    }
    return image;
}

QImage CPreviewPane::Convert(const BITMAPINFOHEADER& header, const BYTE* pPixels) {
    const WORD wBitCount = header.biBitCount;
    const QSize size = FrameSize(header);
    if ((wBitCount != 24 && wBitCount != 32) || header.biCompression != BI_RGB || !size.isValid()) {
        return QImage();
    }
    const QSize shown = ShownSize(size);
    QImage image = TakeBuffer(m_spare, shown);
    if (image.isNull()) return QImage();
    const int nStride = static_cast<int>(DibStride(size.width(), wBitCount));
    // One call converts nRows rows; libyuv turns a source upside down when given a negative
    // height, as DIB rows are bottom-up.
    const auto convertRows = [&](const BYTE* pFirst, BYTE* pTo, qsizetype cbTo, int nRows) {
        const int nToStride = static_cast<int>(cbTo);
        if (wBitCount == 24) {
            libyuv::RGB24ToARGB(pFirst, nStride, pTo, nToStride, size.width(), nRows);
        } else {
            libyuv::ARGBCopy(pFirst, nStride, pTo, nToStride, size.width(), nRows);
        }
    };
    if (shown == size) {
        convertRows(pPixels, image.bits(), image.bytesPerLine(),
                    header.biHeight > 0 ? -size.height() : size.height());
        return image;
    }
    // Scaled to the nearest pixel: only the rows shown are converted, at the frame's width, then
    // each is scaled across.
    m_full = TakeBuffer(m_full, QSize(size.width(), shown.height()));
    if (m_full.isNull()) return QImage();
    for (int y = 0; y < shown.height(); ++y) {
        const int64_t nTop = (2LL * y + 1) * size.height() / (2LL * shown.height());
        const int64_t nStored = header.biHeight > 0 ? size.height() - 1 - nTop : nTop;
        convertRows(pPixels + nStored * nStride, m_full.scanLine(y), m_full.bytesPerLine(), 1);
    }
    libyuv::ARGBScale(m_full.constBits(), static_cast<int>(m_full.bytesPerLine()), size.width(),
                      shown.height(), image.bits(), static_cast<int>(image.bytesPerLine()),
                      shown.width(), shown.height(), libyuv::kFilterNone);
    return image;
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
