// Scaling a picked frame towards the target brightness with a per-byte dither.

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "processor/FrameProcessorProbe.h"
#include "tests/processor/ProcessorTestSupport.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class FrameManipulationTest : public ::testing::Test {
  protected:
    static constexpr LONG kWidth = 7;  // rows carry 3 bytes of padding
    static constexpr LONG kHeight = 40;

    void SetUp() override {
        m_processor.SetManipulation(1);
        m_processor.SetParameters(165.0, 100.0, 0.0);
    }
    // An entry over a frame whose pixel i has blue, green and red from byteOf(i, channel),
    // measured as the processor measures queued frames.
    template <class ByteOf>
    FrameEntry Make(ByteOf byteOf, CFrameProcessor* pProcessor = nullptr) {
        m_bytes.assign(static_cast<size_t>(DibStride(kWidth)) * kHeight, 0xEE);
        for (int i = 0; i < kWidth * kHeight; ++i) {
            BYTE* p = PixelAt(m_bytes.data(), kWidth, i);
            for (int c = 0; c < 3; ++c) p[c] = static_cast<BYTE>(byteOf(i, c));
        }
        FrameEntry entry{nullptr, &m_header, m_bytes.data(), 0.0, 0.0, 0.0, 1, m_header};
        entry.dBefore = (pProcessor != nullptr ? *pProcessor : m_processor)
                            .AnalyseFrame(&m_header, m_bytes.data(), &entry.dDarkFraction);
        return entry;
    }
    double MeanOfAllPixels() {
        double dSum = 0.0;
        for (int i = 0; i < kWidth * kHeight; ++i) {
            dSum += CFrameProcessor::Luminance(PixelAt(m_bytes.data(), kWidth, i));
        }
        return dSum / (kWidth * kHeight);
    }

    CFrameProcessor m_processor{nullptr};
    CFrameProcessorProbe m_probe{m_processor};
    BITMAPINFOHEADER m_header = DibHeader(kWidth, kHeight);
    std::vector<BYTE> m_bytes;
};

// Every byte becomes (byte + 0.5) * gain plus a draw of the generator, truncated and clipped at
// 255; dAfter is the mean luminance of the pixels that were above the threshold.
TEST_F(FrameManipulationTest, MatchesThePlainStepsForEveryByte) {
    for (const auto& [dGain, dDarkFactor] : {std::pair{1.0, 0.0}, {1.37, 10.0}, {4.0, 0.0}}) {
        CFrameProcessor processor(nullptr);
        CFrameProcessorProbe probe(processor);
        CFrameProcessor twin(nullptr);  // draws the same random sequence
        CFrameProcessorProbe twinProbe(twin);
        processor.SetManipulation(1);
        FrameEntry entry = Make([](int i, int c) { return (i * 7 + c * 50) % 256; }, &processor);
        processor.SetParameters(dGain * (entry.dBefore - entry.dDarkFraction * dDarkFactor), 100.0,
                                dDarkFactor);
        const std::vector<BYTE> before = m_bytes;
        probe.Manipulate(entry);
        double dSum = 0.0;
        int n = 0;
        for (int i = 0; i < kWidth * kHeight; ++i) {
            BYTE p[3];
            std::copy_n(PixelAt(const_cast<BYTE*>(before.data()), kWidth, i), 3, p);
            const bool bWasBright = CFrameProcessor::Luminance(p) > 100.0;
            for (int c = 0; c < 3; ++c) {
                const int v = static_cast<int>((p[c] + 0.5) * dGain + twinProbe.RandomUnit());
                p[c] = static_cast<BYTE>(v > 255 ? 255 : v);
                ASSERT_EQ(PixelAt(m_bytes.data(), kWidth, i)[c], p[c]) << "pixel " << i;
            }
            if (bWasBright) {
                dSum += CFrameProcessor::Luminance(p);
                ++n;
            }
        }
        ASSERT_GT(n, 0);
        EXPECT_NEAR(entry.dAfter, dSum / n, 1e-9) << "gain " << dGain;
        // The padding of the first row is left alone.
        EXPECT_TRUE(std::equal(before.begin() + kWidth * 3, before.begin() + DibStride(kWidth),
                               m_bytes.begin() + kWidth * 3));
    }
}

TEST_F(FrameManipulationTest, FrameIsLeftAsItIsWithoutASoundGain) {
    const struct {
        const char* pszCase;
        int nManipulation;
        double dDarkFactor;  // reference = dBefore - dark fraction * factor; NaN: makes it 0
        double dBefore;      // 0: as measured
        int nDark, nBright;  // greys of the odd and even pixels
        bool bChanged;
        double dAfter;  // NaN: as measured
    } cases[] = {
        {"switched off", 2, 0.0, 0.0, 30, 200, false, 0.0},
        {"reference 0", 1, kNaN, 0.0, 30, 200, false, kNaN},
        {"reference below 0", 1, 1000.0, 0.0, 30, 200, false, kNaN},
        {"reference not a number", 1, 0.0, kNaN, 30, 200, false, kNaN},
        {"infinite gain", 1, 0.0, std::numeric_limits<double>::denorm_min(), 30, 200, false, kNaN},
        {"no bright pixel: scaled, dAfter 0", 1, 0.0, 80.0, 40, 40, true, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        FrameEntry entry = Make([&c](int i, int) { return i % 2 ? c.nDark : c.nBright; });
        const double dMeasured = entry.dBefore;
        const double dFactor =
            std::isnan(c.dDarkFactor) ? dMeasured / entry.dDarkFraction : c.dDarkFactor;
        if (c.dBefore != 0.0) entry.dBefore = c.dBefore;
        m_processor.SetManipulation(c.nManipulation);
        m_processor.SetParameters(165.0, 100.0, dFactor);
        const std::vector<BYTE> before = m_bytes;
        m_probe.Manipulate(entry);
        EXPECT_EQ(m_bytes != before, c.bChanged);
        EXPECT_EQ(entry.dAfter, std::isnan(c.dAfter) ? dMeasured : c.dAfter);
    }
}

TEST_F(FrameManipulationTest, SecondPassRepaintsMarkersOnThePixelsAsTheyStand) {
    m_processor.SetMarkCrossings(1);
    // Row 0 reads 200, 0, 0, 0, 200, ... and is marked at 100 as ".R.B." on queueing.
    FrameEntry entry =
        Make([](int i, int) { return i % kWidth == 0 || i % kWidth >= 4 ? 200 : 0; });
    m_processor.SetParameters(entry.dBefore, 50.0, 0.0);  // gain 1: bytes keep their value or +1
    m_probe.Manipulate(entry);
    const BYTE* p2 = PixelAt(m_bytes.data(), kWidth, 2);
    EXPECT_LE(p2[0], 1);  // the black pixel after the red marker was painted red
    EXPECT_LE(p2[1], 1);
    EXPECT_EQ(p2[2], 255);
}

TEST_F(FrameManipulationTest, DeflickerBringsTheMeanOfAllPixelsToTheTargetClippingIncluded) {
    m_processor.SetDeflicker(4.0);
    struct Case {
        int nDark;       // grey of the odd pixels
        int nBright;     // grey of the even pixels
        double dTarget;  // entry's local target
        double dMean;    // mean luminance of all pixels after scaling
    };
    const Case cases[] = {
        {50, 250, 180.0, 180.0},  // the bright half clips at 255 and the dark half makes up
        {10, 10, 200.0, 42.0},    // never more than four times brighter
        {0, 0, 100.0, 0.0},       // black stays black
        {100, 200, 0.0, 0.0},     // a target of 0 or less darkens fully
    };
    for (const Case& c : cases) {
        FrameEntry entry = Make([&c](int i, int) { return i % 2 ? c.nDark : c.nBright; });
        entry.dTarget = c.dTarget;
        m_probe.Manipulate(entry);
        EXPECT_NEAR(entry.dAfter, MeanOfAllPixels(), 1e-9);
        EXPECT_NEAR(entry.dAfter, c.dMean, 0.6) << c.nDark << "/" << c.nBright;
    }
}

TEST_F(FrameManipulationTest, RandomUnitGivesMultiplesOfOne32767thFromZeroToOne) {
    double dMin = 1.0;
    double dMax = 0.0;
    double dSum = 0.0;
    constexpr int kDraws = 400000;
    for (int i = 0; i < kDraws; ++i) {
        const double u = m_probe.RandomUnit();
        ASSERT_EQ(std::round(u * 32767.0) / 32767.0, u);
        dMin = std::min(dMin, u);
        dMax = std::max(dMax, u);
        dSum += u;
    }
    EXPECT_EQ(dMin, 0.0);
    EXPECT_EQ(dMax, 1.0);
    EXPECT_NEAR(dSum / kDraws, 0.5, 0.01);
}

TEST_F(FrameManipulationTest, OnlyThePickedFrameIsScaledBeforeItIsWritten) {
    CRecordingOutput output;
    CFrameSource frames(kWidth, kHeight);
    CFrameProcessor processor(output.Writer());
    processor.SetManipulation(1);
    processor.SetParameters(165.0, 100.0, 0.0);
    for (BYTE grey : {200, 200, 150, 200, 200, 200}) {
        processor.ProcessSample(frames.Grey(grey), &frames.Header(), nullptr, nullptr);
    }
    ASSERT_EQ(output.Written().size(), 1u);
    double dAfter = 0.0;
    processor.GetStatistics(&dAfter, nullptr);  // the frame just read, not picked
    EXPECT_EQ(dAfter, 0.0);
    // Frame 3 is picked: gain 165 / 150, so 150 becomes 150.5 * 1.1 = 165.55 plus the dither.
    EXPECT_EQ(output.Written()[0].pSample, frames.Sample(3));
    const BYTE picked = output.Written()[0].first;
    EXPECT_TRUE(picked == 165 || picked == 166) << int{picked};
    for (int n : {1, 2, 4, 5, 6}) EXPECT_EQ(frames.Sample(n)->Bytes()[0], 200);
}

}  // namespace
