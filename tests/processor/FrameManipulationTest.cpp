// Scaling a picked frame towards the target brightness with a per-byte dither.

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "processor/FrameProcessorProbe.h"
#include "tests/processor/ProcessorTestSupport.h"

namespace {

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
    FrameEntry Make(ByteOf byteOf) {
        m_bytes.assign(static_cast<size_t>(DibStride(kWidth)) * kHeight, 0xEE);
        for (int i = 0; i < kWidth * kHeight; ++i) {
            BYTE* p = PixelAt(m_bytes.data(), kWidth, i);
            for (int c = 0; c < 3; ++c) p[c] = static_cast<BYTE>(byteOf(i, c));
        }
        FrameEntry entry{nullptr, &m_header, m_bytes.data(), 0.0, 0.0, 0.0, 1, m_header};
        entry.dBefore = m_processor.AnalyseFrame(&m_header, m_bytes.data(), &entry.dDarkFraction);
        return entry;
    }
    // Sets the target so that the gain comes out exactly as given for this entry.
    void SetGain(const FrameEntry& entry, double dGain, double dDarkFactor = 0.0) {
        m_processor.SetParameters(dGain * (entry.dBefore - entry.dDarkFraction * dDarkFactor),
                                  100.0, dDarkFactor);
    }

    CFrameProcessor m_processor{nullptr};
    CFrameProcessorProbe m_probe{m_processor};
    BITMAPINFOHEADER m_header = DibHeader(kWidth, kHeight);
    std::vector<BYTE> m_bytes;
};

TEST_F(FrameManipulationTest, GainOfOneGivesEachByteItsValueOrOneMore) {
    FrameEntry entry = Make([](int i, int c) { return (i * 3 + c) % 256; });
    SetGain(entry, 1.0);
    const std::vector<BYTE> before = m_bytes;
    m_probe.Manipulate(entry);
    int nRaised = 0;
    int nBytes = 0;
    for (int i = 0; i < kWidth * kHeight; ++i) {
        for (int c = 0; c < 3; ++c) {
            const BYTE old = PixelAt(const_cast<BYTE*>(before.data()), kWidth, i)[c];
            const BYTE now = PixelAt(m_bytes.data(), kWidth, i)[c];
            ASSERT_TRUE(now == old || (old < 255 && now == old + 1))
                << int{old} << " -> " << int{now};
            nRaised += now != old;
            nBytes += old < 255;
        }
    }
    EXPECT_NEAR(static_cast<double>(nRaised) / nBytes, 0.5, 0.06);
    EXPECT_TRUE(std::equal(before.begin() + kWidth * 3, before.begin() + DibStride(kWidth),
                           m_bytes.begin() + kWidth * 3));  // padding of the first row
}

TEST_F(FrameManipulationTest, MatchesThePlainStepsForEveryByte) {
    // A twin with the same writer draws the same random sequence.
    CFrameProcessor twin(nullptr);
    CFrameProcessorProbe twinProbe(twin);
    FrameEntry entry = Make([](int i, int c) { return (i * 7 + c * 50) % 256; });
    SetGain(entry, 1.37, 10.0);
    const std::vector<BYTE> before = m_bytes;
    m_probe.Manipulate(entry);
    const double dGain = m_probe.Brightness() / (entry.dBefore - entry.dDarkFraction * 10.0);
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
    EXPECT_EQ(entry.dAfter, dSum / n);
}

TEST_F(FrameManipulationTest, ScaledValuesAbove255Store255) {
    FrameEntry entry = Make([](int, int) { return 200; });
    SetGain(entry, 4.0);
    m_probe.Manipulate(entry);
    EXPECT_TRUE(std::all_of(m_bytes.begin(), m_bytes.begin() + kWidth * 3,
                            [](BYTE b) { return b == 255; }));
    EXPECT_NEAR(entry.dAfter, 255.0, 1e-9);
}

TEST_F(FrameManipulationTest, NoBrightPixelKeepsAfterAtZero) {
    FrameEntry entry = Make([](int, int) { return 40; });
    entry.dBefore = 80.0;  // a positive reference, so the pixels are scaled
    m_probe.Manipulate(entry);
    EXPECT_GT(m_bytes[0], 40);
    EXPECT_EQ(entry.dAfter, 0.0);
}

TEST_F(FrameManipulationTest, SwitchedOffLeavesPixelsAndAfterAlone) {
    m_processor.SetMarkCrossings(1);
    FrameEntry entry = Make([](int i, int) { return i % 2 ? 30 : 200; });
    const std::vector<BYTE> marked = m_bytes;
    m_processor.SetManipulation(2);
    m_probe.Manipulate(entry);
    EXPECT_EQ(m_bytes, marked);
    EXPECT_EQ(entry.dAfter, 0.0);
}

TEST_F(FrameManipulationTest, NonPositiveOrTinyReferenceLeavesTheFrameAsItIs) {
    FrameEntry entry = Make([](int i, int) { return i % 2 ? 30 : 200; });  // half dark
    const std::vector<BYTE> before = m_bytes;
    const double dMeasured = entry.dBefore;
    // reference = dBefore - dark fraction * factor: 0, below 0, not a number, and so small
    // that the gain is infinite.
    const double factors[] = {dMeasured / entry.dDarkFraction, 1000.0,
                              std::numeric_limits<double>::quiet_NaN()};
    for (double dFactor : factors) {
        m_processor.SetParameters(165.0, 100.0, dFactor);
        entry.dAfter = -1.0;
        m_probe.Manipulate(entry);
        EXPECT_EQ(m_bytes, before) << "dark factor " << dFactor;
        EXPECT_EQ(entry.dAfter, dMeasured);
    }
    m_processor.SetParameters(165.0, 100.0, 0.0);
    entry.dBefore = std::numeric_limits<double>::denorm_min();
    m_probe.Manipulate(entry);
    EXPECT_EQ(m_bytes, before);
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
        double dSum = 0.0;
        for (int i = 0; i < kWidth * kHeight; ++i) {
            dSum += CFrameProcessor::Luminance(PixelAt(m_bytes.data(), kWidth, i));
        }
        EXPECT_NEAR(entry.dAfter, dSum / (kWidth * kHeight), 1e-9);
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

TEST_F(FrameManipulationTest, OnlyThePickedFrameIsScaledWhenWritten) {
    CWritingOutput output(kWidth, kHeight);
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
    const BYTE picked = frames.Samples()[2]->Bytes()[0];
    EXPECT_TRUE(picked == 165 || picked == 166) << int{picked};
    EXPECT_EQ(output.Written()[0].bytes[0], picked);
    for (int n : {1, 2, 4, 5, 6}) EXPECT_EQ(frames.Samples()[n - 1]->Bytes()[0], 200);
}

}  // namespace
