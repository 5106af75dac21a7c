// CPreviewPane drawing into the main dialog's picture control; every picture is read back from
// what the control shows.
#include <QDialog>
#include <QImage>
#include <algorithm>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "res/resource.h"
#include "ui/DialogBuilder.h"
#include "ui/DialogControls.h"
#include "ui/PreviewPane.h"

namespace {

struct Bgr {
    int nBlue, nGreen, nRed;
    bool operator==(const Bgr&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Bgr& pixel) {
    return os << "(b " << pixel.nBlue << ", g " << pixel.nGreen << ", r " << pixel.nRed << ")";
}

// A distinct colour for every pixel, by its column and its row as seen on screen (0 at the top).
Bgr PixelAt(int nColumn, int nScreenRow) {
    return {10 + nColumn * 20, 100 + nScreenRow * 50, 250 - nColumn * 7 - nScreenRow};
}

// A bottom-up frame of those pixels, rows padded to the DIB stride with bytes that must not
// show.
std::vector<BYTE> BottomUpFrame(int nWidth, int nHeight) {
    const DWORD dwStride = DibStride(nWidth);
    std::vector<BYTE> bytes(dwStride * nHeight, 0xEE);
    for (int nRow = 0; nRow < nHeight; ++nRow) {
        for (int nColumn = 0; nColumn < nWidth; ++nColumn) {
            const Bgr pixel = PixelAt(nColumn, nHeight - 1 - nRow);
            BYTE* pPixel = bytes.data() + nRow * dwStride + nColumn * 3;
            pPixel[0] = static_cast<BYTE>(pixel.nBlue);
            pPixel[1] = static_cast<BYTE>(pixel.nGreen);
            pPixel[2] = static_cast<BYTE>(pixel.nRed);
        }
    }
    return bytes;
}

}  // namespace

class PreviewPaneTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(CDialogBuilder::Build(&m_dialog, IDD_VARNEL_DIALOG));
        m_pPicture = GetDlgItem<CBitmapStatic>(&m_dialog, IDC_PICTURE);
        ASSERT_NE(m_pPicture, nullptr);
        m_pPane = std::make_unique<CPreviewPane>(&m_dialog, m_pPicture);
    }

    // What the picture control shows.
    QImage Shown() const { return m_pPicture->pixmap().toImage(); }

    static Bgr At(const QImage& image, int x, int y) {
        const QRgb rgb = image.pixel(x, y);
        return {qBlue(rgb), qGreen(rgb), qRed(rgb)};
    }

    void ExpectFrameShown(int nWidth, int nHeight) {
        const QImage shown = Shown();
        ASSERT_EQ(shown.size(), QSize(nWidth, nHeight));
        for (int y = 0; y < nHeight; ++y) {
            for (int x = 0; x < nWidth; ++x) {
                EXPECT_EQ(At(shown, x, y), PixelAt(x, y)) << "at " << x << "," << y;
            }
        }
    }

    QDialog m_dialog;
    CBitmapStatic* m_pPicture = nullptr;
    std::unique_ptr<CPreviewPane> m_pPane;
};

TEST_F(PreviewPaneTest, NoFrameOrEitherPointerMissingShowsTheTestPatternAtTheControlsTopLeft) {
    const QPoint topLeft = m_pPicture->pos();
    std::vector<BYTE> frame = BottomUpFrame(6, 2);
    BITMAPINFOHEADER header = DibHeader(6, 2);
    for (const auto& [pHeader, pPixels] : {std::pair<BITMAPINFOHEADER*, BYTE*>{nullptr, nullptr},
                                           {&header, nullptr},
                                           {nullptr, frame.data()}}) {
        m_pPane->ShowFrame(&header, frame.data());
        m_pPane->ShowFrame(pHeader, pPixels);
        const QImage shown = Shown();
        ASSERT_EQ(shown.size(), QSize(256, 256));
        EXPECT_EQ(At(shown, 0, 255), (Bgr{0, 0, 0}));      // bottom left
        EXPECT_EQ(At(shown, 1, 255), (Bgr{1, 0, 255}));    // its right neighbour
        EXPECT_EQ(At(shown, 255, 255), (Bgr{255, 0, 1}));  // bottom right
        EXPECT_EQ(At(shown, 255, 0), (Bgr{255, 0, 2}));    // top right
        EXPECT_EQ(At(shown, 0, 0), (Bgr{0, 0, 1}));        // top left: row 255, column 0
        EXPECT_EQ(m_pPicture->geometry(), QRect(topLeft, QSize(256, 256)));
    }
}

TEST_F(PreviewPaneTest, BottomUpFramesAppearUprightWithTheirColoursPaddedOrWithAFourCC) {
    const struct {
        LONG nWidth, nHeight;
        DWORD dwCompression;
    } cases[] = {
        {6, 2, BI_RGB},
        {5, 3, BI_RGB},      // 15 bytes a row, padded to 16
        {6, 2, 0x33564D57},  // "WMV3": drawn as RGB and rewritten in the caller's header
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nWidth << "x" << c.nHeight << " " << c.dwCompression);
        std::vector<BYTE> frame = BottomUpFrame(c.nWidth, c.nHeight);
        BITMAPINFOHEADER header = DibHeader(c.nWidth, c.nHeight, c.dwCompression);
        m_pPane->ShowFrame(&header, frame.data());
        EXPECT_EQ(header.biCompression, BI_RGB);
        ExpectFrameShown(c.nWidth, c.nHeight);
        EXPECT_EQ(m_pPicture->size(), QSize(c.nWidth, c.nHeight));
    }
}

TEST_F(PreviewPaneTest, ATopDownFrameAppearsUprightToo) {
    std::vector<BYTE> frame = BottomUpFrame(4, 3);
    // The same bytes read top-down show the rows in the other order.
    BITMAPINFOHEADER header = DibHeader(4, -3);
    m_pPane->ShowFrame(&header, frame.data());
    const QImage shown = Shown();
    ASSERT_EQ(shown.size(), QSize(4, 3));
    EXPECT_EQ(At(shown, 0, 0), PixelAt(0, 2));
    EXPECT_EQ(At(shown, 3, 2), PixelAt(3, 0));
}

TEST_F(PreviewPaneTest, EachFrameReplacesTheOneBitmapAndKeepsNoFrameBytes) {
    QPixmap first;
    {
        std::vector<BYTE> frame = BottomUpFrame(6, 2);
        BITMAPINFOHEADER header = DibHeader(6, 2);
        m_pPane->ShowFrame(&header, frame.data());
        first = m_pPicture->pixmap();
        std::fill(frame.begin(), frame.end(), BYTE{0});
    }
    // The caller's bytes are gone; the picture is the pane's own.
    EXPECT_EQ(At(first.toImage(), 2, 1), PixelAt(2, 1));
    EXPECT_FALSE(first.isDetached());  // shared with the pane and the control

    for (int i = 0; i < 5; ++i) {
        std::vector<BYTE> frame = BottomUpFrame(5, 3);
        BITMAPINFOHEADER header = DibHeader(5, 3);
        m_pPane->ShowFrame(&header, frame.data());
    }
    // Neither the pane nor the control holds the first picture any more.
    EXPECT_TRUE(first.isDetached());
    EXPECT_NE(m_pPicture->pixmap().cacheKey(), first.cacheKey());
    ExpectFrameShown(5, 3);
}

TEST_F(PreviewPaneTest, HeadersThatDescribeNoDrawableFrameShowNoGarbage) {
    BYTE abPixels[64];
    std::fill(std::begin(abPixels), std::end(abPixels), BYTE{0x77});
    const struct {
        LONG nWidth;
        LONG nHeight;
        WORD wBitCount;
        DWORD dwCompression;
        QSize shown;
    } cases[] = {
        {0, 2, 24, BI_RGB, QSize(0, 0)},
        {6, 0, 24, BI_RGB, QSize(0, 0)},
        {-6, 2, 24, BI_RGB, QSize(0, 0)},
        {6, INT32_MIN, 24, BI_RGB, QSize(0, 0)},
        {1 << 30, 1 << 30, 24, BI_RGB, QSize(0, 0)},
        {4, 2, 8, BI_RGB, QSize(4, 2)},
        // Compressions up to bitfields are left alone and not converted as 24-bit RGB rows.
        {6, 2, 24, 1, QSize(6, 2)},
        {6, 2, 24, 2, QSize(6, 2)},
        {6, 2, 24, 3, QSize(6, 2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nWidth << "x" << c.nHeight << "x" << c.wBitCount
                                        << " compression " << c.dwCompression);
        BITMAPINFOHEADER header = DibHeader(c.nWidth, c.nHeight, c.dwCompression);
        header.biBitCount = c.wBitCount;
        m_pPane->ShowFrame(&header, abPixels);
        EXPECT_EQ(header.biCompression, c.dwCompression);
        ASSERT_EQ(m_pPicture->pixmap().size(), c.shown);
        if (c.dwCompression != BI_RGB) {
            EXPECT_EQ(At(Shown(), 0, 0), (Bgr{0, 0, 0}));  // black
        }
    }
}

TEST_F(PreviewPaneTest, ThirtyTwoBitFramesAreDrawn) {
    // 2 x 2, bottom-up, blue-green-red-unused.
    const BYTE abPixels[] = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, 0};
    BITMAPINFOHEADER header = DibHeader(2, 2);
    header.biBitCount = 32;
    m_pPane->ShowFrame(&header, abPixels);
    const QImage shown = Shown();
    ASSERT_EQ(shown.size(), QSize(2, 2));
    EXPECT_EQ(At(shown, 0, 1), (Bgr{1, 2, 3}));
    EXPECT_EQ(At(shown, 1, 0), (Bgr{10, 11, 12}));
}
