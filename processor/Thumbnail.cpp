// SPDX-License-Identifier: GPL-3.0-or-later
#include "processor/Thumbnail.h"

#include <algorithm>
#include <cmath>

#include "processor/LuminanceTables.h"

namespace {

// Pixels sampled per block in each direction, at most.
constexpr LONG kSamples = 8;

int8_t HalfDifference(double dDifference) {
    return static_cast<int8_t>(std::clamp(std::lround(dDifference / 2.0), -128L, 127L));
}

}  // namespace

CThumbnail::CThumbnail(const BITMAPINFOHEADER* pFormat, const BYTE* pPixels) {
    if (pFormat == nullptr || pPixels == nullptr || pFormat->biWidth < kColumns ||
        pFormat->biHeight < kRows || pFormat->biWidth > 0x7FFFFFF) {
        return;
    }
    const LONG nWidth = pFormat->biWidth;
    const LONG nHeight = pFormat->biHeight;
    const size_t stride = DibStride(nWidth);
    for (int nRow = 0; nRow < kRows; ++nRow) {
        const LONG nTop = static_cast<LONG>(static_cast<int64_t>(nHeight) * nRow / kRows);
        const LONG nBottom = static_cast<LONG>(static_cast<int64_t>(nHeight) * (nRow + 1) / kRows);
        const LONG nRowsUsed = std::min(kSamples, nBottom - nTop);
        for (int nColumn = 0; nColumn < kColumns; ++nColumn) {
            const LONG nLeft = static_cast<LONG>(static_cast<int64_t>(nWidth) * nColumn / kColumns);
            const LONG nRight =
                static_cast<LONG>(static_cast<int64_t>(nWidth) * (nColumn + 1) / kColumns);
            const LONG nColumnsUsed = std::min(kSamples, nRight - nLeft);
            double dLuma = 0.0;
            double dBlue = 0.0;
            double dRed = 0.0;
            // Samples spread evenly over the block, each in the middle of its share.
            for (LONG y = 0; y < nRowsUsed; ++y) {
                const LONG nY = nTop + ((2 * y + 1) * (nBottom - nTop)) / (2 * nRowsUsed);
                const BYTE* pRow = pPixels + static_cast<size_t>(nY) * stride;
                for (LONG x = 0; x < nColumnsUsed; ++x) {
                    const LONG nX = nLeft + ((2 * x + 1) * (nRight - nLeft)) / (2 * nColumnsUsed);
                    const BYTE* p = pRow + static_cast<size_t>(nX) * 3;
                    const double dY = CLuminanceTables::Of(p);
                    dLuma += dY;
                    dBlue += p[0] - dY;
                    dRed += p[2] - dY;
                }
            }
            const double dCount = static_cast<double>(nRowsUsed * nColumnsUsed);
            const size_t i = static_cast<size_t>(nRow * kColumns + nColumn);
            m_luma[i] = static_cast<uint16_t>(std::lround(dLuma / dCount * kLumaScale));
            m_blue[i] = HalfDifference(dBlue / dCount);
            m_red[i] = HalfDifference(dRed / dCount);
        }
    }
    m_bFilled = true;
}
