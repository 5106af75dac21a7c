// SPDX-License-Identifier: GPL-3.0-or-later
// CPreviewPane drawing into the main dialog's picture control; every picture is read back from
// what the control shows.
#include <QDialog>
#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include "res/resource.h"
#include "ui/DialogBuilder.h"
#include "ui/DialogControls.h"
#include "ui/PreviewPane.h"

namespace {

// A distinct colour for every pixel, by its column and its row as seen on screen (0 at the top).
QRgb PixelAt(int nColumn, int nScreenRow) {
    return qRgb(250 - nColumn * 7 - nScreenRow, 100 + nScreenRow * 50, 10 + nColumn * 20);
}

// A frame of those pixels (blue, green, red[, unused]), rows bottom-up for a positive height,
// each padded to the DIB stride with bytes that must not show. Without a size that fits, 64
// bytes: a pane that read them anyway would not read beyond.
std::vector<BYTE> Frame(LONG nWidth, LONG nHeight, WORD wBitCount) {
    const int nRows = nHeight == INT32_MIN ? 0 : std::abs(nHeight);
    if (nWidth <= 0 || nWidth > 64 || nRows > 64) return std::vector<BYTE>(64, 0x77);
    const DWORD dwStride = DibStride(nWidth, wBitCount);
    std::vector<BYTE> bytes(std::max<size_t>(64, dwStride * nRows), 0xEE);
    for (int nRow = 0; nRow < nRows; ++nRow) {
        for (int nColumn = 0; nColumn < nWidth; ++nColumn) {
            const QRgb pixel = PixelAt(nColumn, nHeight > 0 ? nRows - 1 - nRow : nRow);
            BYTE* pPixel = bytes.data() + nRow * dwStride + nColumn * (wBitCount / 8);
            pPixel[0] = static_cast<BYTE>(qBlue(pixel));
            pPixel[1] = static_cast<BYTE>(qGreen(pixel));
            pPixel[2] = static_cast<BYTE>(qRed(pixel));
        }
    }
    return bytes;
}

}  // namespace

// Each header is shown after the test pattern, whose one bitmap it must replace; the caller's
// bytes are zeroed before the picture is read back, as the pane keeps none of them.
TEST(PreviewPaneTest, EachHeaderShowsItsFrameUprightOrTheTestPatternOrBlackOrNothing) {
    enum Shown { kUpright, kTestPattern, kBlack, kNothing };
    const struct {
        const char* pszCase;
        LONG nWidth, nHeight;
        WORD wBitCount;
        DWORD dwCompression;
        bool bNullHeader, bNullPixels;
        Shown shown;
    } cases[] = {
        {"bottom-up, 15 bytes a row padded to 16", 5, 3, 24, BI_RGB, false, false, kUpright},
        {"top-down", 4, -3, 24, BI_RGB, false, false, kUpright},
        {"32-bit pixels", 3, 2, 32, BI_RGB, false, false, kUpright},
        {"a codec's FourCC is drawn as RGB", 6, 2, 24, 0x33564D57, false, false, kUpright},
        {"no header", 6, 2, 24, BI_RGB, true, false, kTestPattern},
        {"no pixels", 6, 2, 24, BI_RGB, false, true, kTestPattern},
        {"8-bit pixels", 4, 2, 8, BI_RGB, false, false, kBlack},
        {"bitfields", 6, 2, 24, 3, false, false, kBlack},
        {"no width", 0, 2, 24, BI_RGB, false, false, kNothing},
        {"no height", 6, 0, 24, BI_RGB, false, false, kNothing},
        {"negative width", -6, 2, 24, BI_RGB, false, false, kNothing},
        {"the lowest height", 6, INT32_MIN, 24, BI_RGB, false, false, kNothing},
        {"beyond the largest side", 1 << 30, 1 << 30, 24, BI_RGB, false, false, kNothing},
    };
    QDialog dialog;
    ASSERT_TRUE(CDialogBuilder::Build(&dialog, IDD_VARNEL_DIALOG));
    auto* pPicture = GetDlgItem<CBitmapStatic>(&dialog, IDC_PICTURE);
    CPreviewPane pane(&dialog, pPicture);
    const QPoint topLeft = pPicture->pos();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        pane.ShowFrame(nullptr, nullptr);

        std::vector<BYTE> frame = Frame(c.nWidth, c.nHeight, c.wBitCount);
        BITMAPINFOHEADER header = DibHeader(c.nWidth, c.nHeight, c.dwCompression);
        header.biBitCount = c.wBitCount;
        pane.ShowFrame(c.bNullHeader ? nullptr : &header, c.bNullPixels ? nullptr : frame.data());
        std::fill(frame.begin(), frame.end(), BYTE{0});
        EXPECT_EQ(header.biCompression, c.dwCompression > 3 ? BI_RGB : c.dwCompression);
        const QImage shown = pPicture->Image();
        if (c.shown == kUpright) {
            ASSERT_EQ(shown.size(), QSize(c.nWidth, std::abs(c.nHeight)));
            for (int y = 0; y < shown.height(); ++y) {
                for (int x = 0; x < shown.width(); ++x) {
                    ASSERT_EQ(shown.pixel(x, y) | 0xFF000000, PixelAt(x, y)) << x << "," << y;
                }
            }
        } else if (c.shown == kTestPattern) {
            // 256 x 256, blue = column, red = (512 - (row + column)) mod 256, row 0 at the bottom.
            ASSERT_EQ(shown.size(), QSize(256, 256));
            EXPECT_EQ(shown.pixel(255, 0), qRgb(2, 0, 255));
        } else if (c.shown == kBlack) {
            EXPECT_EQ(shown.size(), QSize(c.nWidth, c.nHeight));
            EXPECT_EQ(shown.pixel(0, 0), qRgb(0, 0, 0));
        } else {
            EXPECT_TRUE(shown.isNull());
        }
        if (!shown.isNull()) {
            EXPECT_EQ(pPicture->geometry(), QRect(topLeft, shown.size()));
        }
    }
}

// Fitted, each shown pixel is the frame's pixel under its centre, upright whichever way the rows
// are stored; the frame's aspect is kept, and an empty area shows the frame at its own size.
TEST(PreviewPaneTest, FittedFramesKeepTheirAspectAndStayUpright) {
    QDialog dialog;
    ASSERT_TRUE(CDialogBuilder::Build(&dialog, IDD_VARNEL_DIALOG));
    auto* pPicture = GetDlgItem<CBitmapStatic>(&dialog, IDC_PICTURE);
    CPreviewPane pane(&dialog, pPicture);
    for (const LONG nHeight : {3, -3}) {
        SCOPED_TRACE(nHeight);
        std::vector<BYTE> frame = Frame(5, nHeight, 24);
        BITMAPINFOHEADER header = DibHeader(5, nHeight);
        pane.SetFitArea(QSize(20, 40));
        pane.ShowFrame(&header, frame.data());
        const QImage shown = pPicture->Image();
        ASSERT_EQ(shown.size(), QSize(20, 12));
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                ASSERT_EQ(shown.pixel(x, y) | 0xFF000000, PixelAt(x / 4, y / 4)) << x << "," << y;
            }
        }
        pane.SetFitArea(QSize());
        pane.ShowFrame(&header, frame.data());
        EXPECT_EQ(pPicture->Image().size(), QSize(5, 3));
    }
}
