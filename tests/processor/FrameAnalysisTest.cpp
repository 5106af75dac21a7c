// Measuring a frame: brightness above the threshold, dark fraction, crossing markers.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "processor/LuminanceTables.h"
#include "tests/processor/ProcessorTestSupport.h"

namespace {

constexpr BYTE kPadding = 0xEE;

class FrameAnalysisTest : public ::testing::Test {
  protected:
    // A frame whose pixel i (memory order) is grey greys[i]; padding bytes hold kPadding.
    void Make(LONG nWidth, LONG nHeight, const std::vector<BYTE>& greys) {
        m_header = DibHeader(nWidth, nHeight);
        m_bytes.assign(static_cast<size_t>(DibStride(nWidth)) * nHeight, kPadding);
        for (size_t i = 0; i < greys.size(); ++i) {
            SetPixel(Pixel(static_cast<int>(i)), greys[i], greys[i], greys[i]);
        }
    }
    double Analyse(double dMinPixval, bool bMark) {
        m_processor.SetParameters(165.0, dMinPixval, 0.0);
        m_processor.SetMarkCrossings(bMark ? 1 : 0);
        return m_processor.AnalyseFrame(&m_header, m_bytes.data(), &m_dDark);
    }
    BYTE* Pixel(int i) { return PixelAt(m_bytes.data(), m_header.biWidth, i); }
    // One letter per pixel: B blue marker, R red marker, . anything else.
    std::string Marks() {
        std::string marks;
        for (int i = 0; i < m_header.biWidth * m_header.biHeight; ++i) {
            const BYTE* p = Pixel(i);
            const bool bBlue = p[0] == 255 && p[1] == 0 && p[2] == 0;
            const bool bRed = p[0] == 0 && p[1] == 0 && p[2] == 255;
            marks += bBlue ? 'B' : bRed ? 'R' : '.';
        }
        return marks;
    }
    bool PaddingIntact() {
        const LONG nUsed = m_header.biWidth * 3;
        for (LONG y = 0; y < m_header.biHeight; ++y) {
            for (DWORD x = nUsed; x < DibStride(m_header.biWidth); ++x) {
                if (m_bytes[y * DibStride(m_header.biWidth) + x] != kPadding) return false;
            }
        }
        return true;
    }
    static double Grey(BYTE grey) {
        const BYTE p[3] = {grey, grey, grey};
        return CFrameProcessor::Luminance(p);
    }

    CFrameProcessor m_processor{nullptr};
    BITMAPINFOHEADER m_header{};
    std::vector<BYTE> m_bytes;
    double m_dDark = -1.0;
};

TEST_F(FrameAnalysisTest, EachFrameGivesItsBrightnessDarkFractionAndMarkers) {
    const struct {
        const char* pszCase;
        LONG nWidth, nHeight;
        std::vector<BYTE> greys;
        double dMinPixval;
        bool bMark;
        double dBrightness, dDark;
        const char* pszMarks;
    } cases[] = {
        // clang-format off
        {"all dark: only the first pixel turns red",
         5, 3, std::vector<BYTE>(15, 50), 100.0, true, 0.0, 1.0, "R.............."},
        {"all bright: the mean luminance, no markers",
         3, 2, {110, 120, 130, 140, 150, 255}, 100.0, true,
         (Grey(110) + Grey(120) + Grey(130) + Grey(140) + Grey(150) + Grey(255)) / 6.0, 0.0,
         "......"},
        // Rows of 5: the crossing from the last pixel of row 0 to the first of row 1 counts too.
        {"alternating: dark before bright ends blue, a dark last pixel red",
         5, 2, {200, 0, 200, 0, 200, 0, 200, 0, 200, 0}, 100.0, true, Grey(200), 0.5,
         ".B.B.B.B.R"},
        // Rows of 5 and 3 pixels carry 1 and 3 padding bytes that must not count as pixels.
        {"width 5: the padding is skipped",
         5, 2, {200, 200, 200, 200, 200, 50, 50, 50, 50, 50}, 100.0, true, Grey(200), 0.5,
         ".....R...."},
        {"width 3: the padding is skipped",
         3, 3, {0, 0, 0, 200, 200, 200, 0, 0, 0}, 100.0, true, Grey(200), 6.0 / 9.0, "R.B...R.."},
        {"the threshold itself counts as dark: 0",
         4, 1, {0, 0, 0, 0}, 0.0, false, 0.0, 1.0, "...."},
        {"the threshold itself counts as dark: 100",
         2, 1, {101, 99}, 100.0, false, Grey(101), 0.5, ".."},
        {"the threshold itself counts as dark: grey 120",
         1, 1, {120}, Grey(120), false, 0.0, 1.0, "."},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        Make(c.nWidth, c.nHeight, c.greys);
        EXPECT_DOUBLE_EQ(Analyse(c.dMinPixval, c.bMark), c.dBrightness);
        EXPECT_DOUBLE_EQ(m_dDark, c.dDark);
        EXPECT_EQ(Marks(), c.pszMarks);
        EXPECT_TRUE(PaddingIntact());
    }
}

TEST_F(FrameAnalysisTest, SecondPassOverMarkersDependsOnTheirLuminance) {
    const BYTE blue[3] = {255, 0, 0};
    const BYTE red[3] = {0, 0, 255};
    EXPECT_NEAR(CFrameProcessor::Luminance(blue), 28.05, 1e-12);
    EXPECT_NEAR(CFrameProcessor::Luminance(red), 76.5, 1e-12);
    // Marked at 100 as ".R.B."; a second pass at another threshold:
    const std::pair<double, std::string> passes[] = {
        {77.0, ".R.B."},   // markers dark: the same crossings, the same markers
        {50.0, ".RRB."},   // red marker bright: the black pixel after it turns red
        {20.0, ".RBB."}};  // both bright: that pixel turns blue before the blue marker
    for (const auto& [dMinPixval, marks] : passes) {
        Make(5, 1, {200, 0, 0, 0, 200});
        Analyse(100.0, true);
        ASSERT_EQ(Marks(), ".R.B.");
        Analyse(dMinPixval, true);
        EXPECT_EQ(Marks(), marks) << "second pass at " << dMinPixval;
    }
}

TEST_F(FrameAnalysisTest, FramesWithoutPixelsGiveZeroAndAreNotTouched) {
    Make(4, 2, std::vector<BYTE>(8, 10));
    const std::vector<BYTE> before = m_bytes;
    for (const auto& [nWidth, nHeight] : {std::pair{0, 2}, {4, 0}, {4, -2}, {-4, -2}}) {
        m_header.biWidth = nWidth;
        m_header.biHeight = nHeight;
        m_dDark = -1.0;
        EXPECT_EQ(Analyse(100.0, true), 0.0);
        EXPECT_EQ(m_dDark, 0.0);
    }
    EXPECT_EQ(m_bytes, before);
}

TEST_F(FrameAnalysisTest, LuminanceTablesMatchTheFormulaForEveryPixel) {
    long nMismatches = 0;
    BYTE p[3];
    for (int r = 0; r < 256; ++r) {
        for (int g = 0; g < 256; ++g) {
            for (int b = 0; b < 256; ++b) {
                SetPixel(p, static_cast<BYTE>(b), static_cast<BYTE>(g), static_cast<BYTE>(r));
                nMismatches += CLuminanceTables::Of(p) != CFrameProcessor::Luminance(p);
            }
        }
    }
    EXPECT_EQ(nMismatches, 0);
}

}  // namespace
