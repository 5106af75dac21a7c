// SPDX-License-Identifier: GPL-3.0-or-later
// The frame processor: measuring a frame, picking and stamping the frames written, scaling the
// picked frame, and who holds which sample.
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "media/MediaWriter.h"
#include "platform/wmf/shared/SampleBuffer.h"
#include "processor/FrameProcessorProbe.h"
#include "processor/LuminanceTables.h"
#include "tests/support/TestSupport.h"

namespace {

constexpr BYTE kPadding = 0xEE;

void SetGrey(BYTE* p, int grey) { p[0] = p[1] = p[2] = static_cast<BYTE>(grey); }

// The bytes of pixel i of a frame, counted in memory order across rows.
BYTE* PixelAt(BYTE* pFrame, LONG nWidth, int i) {
    return pFrame + (i / nWidth) * DibStride(nWidth) + (i % nWidth) * 3;
}

double Luminance(BYTE grey) {
    const BYTE p[3] = {grey, grey, grey};
    return CFrameProcessor::Luminance(p);
}

// The processor writes to a CMediaWriter over a fake writer that has no profile: every write is
// refused there, and recorded here with its time by the writer's observer.
class FrameProcessorTest : public ::testing::Test {
  protected:
    static constexpr LONG kWidth = 5;  // rows carry one byte of padding
    static constexpr LONG kHeight = 2;
    struct Write {
        INSSBuffer* pSample;
        QWORD time;
    };

    void SetUp() override {
        m_writer.OpenOutput("out.wmv");
        m_writer.SetWriteObserver(
            [](void* pContext, INSSBuffer* pSample, QWORD time, HRESULT) {
                static_cast<FrameProcessorTest*>(pContext)->m_written.push_back({pSample, time});
            },
            this);
    }

    // A sample of a frame whose pixel i is painted by paint(pixel, i), over padding bytes of
    // kPadding. The fixture keeps a reference of its own (RefCount 1: the processor let go);
    // the one returned is the caller's.
    template <class Paint>
    CSampleBuffer* Frame(LONG nWidth, LONG nHeight, Paint paint) {
        const DWORD size = DibStride(nWidth) * static_cast<DWORD>(nHeight);
        CSampleBuffer* pSample = CSampleBuffer::Create(size);
        std::fill(pSample->Bytes(), pSample->Bytes() + size, kPadding);
        for (int i = 0; i < nWidth * nHeight; ++i) paint(PixelAt(pSample->Bytes(), nWidth, i), i);
        pSample->AddRef();
        m_samples.emplace_back(pSample);
        return pSample;
    }
    // The bytes of such a frame that only the fixture holds, for measuring in place.
    template <class Paint>
    BYTE* Pixels(LONG nWidth, LONG nHeight, Paint paint) {
        CSampleBuffer* pSample = Frame(nWidth, nHeight, paint);
        pSample->Release();
        return pSample->Bytes();
    }
    void Feed(int grey) {
        m_processor.ProcessSample(Frame(kWidth, kHeight, [&](BYTE* p, int) { SetGrey(p, grey); }),
                                  &m_header, &m_pShownFormat, &m_pShownPixels);
    }
    // Sample n, 1 for the first made.
    CSampleBuffer* Sample(int n) const { return m_samples.at(n - 1).get(); }
    std::vector<int> WrittenFrames() const {
        std::vector<int> numbers;
        for (const Write& write : m_written) {
            const auto it =
                std::ranges::find(m_samples, write.pSample, [](const auto& p) { return p.get(); });
            numbers.push_back(static_cast<int>(it - m_samples.begin()) + 1);
        }
        return numbers;
    }

    // For scaling: an entry over a frame of kW x kH pixels (rows with 3 bytes of padding) whose
    // bytes are byteOf(i, channel), measured as queued frames are; Bytes() are its bytes.
    static constexpr LONG kW = 7;
    static constexpr LONG kH = 40;
    template <class ByteOf>
    FrameEntry Entry(CFrameProcessor& processor, ByteOf byteOf) {
        m_pBytes = Pixels(kW, kH, [&](BYTE* p, int i) {
            for (int c = 0; c < 3; ++c) p[c] = static_cast<BYTE>(byteOf(i, c));
        });
        FrameEntry entry{nullptr, &m_frameHeader, m_pBytes, 0.0, 0.0, 0.0, 1, m_frameHeader};
        entry.dBefore = processor.AnalyseFrame(&m_frameHeader, m_pBytes, &entry.dDarkFraction);
        return entry;
    }
    std::vector<BYTE> Bytes() const { return {m_pBytes, m_pBytes + DibStride(kW) * kH}; }

    std::vector<varnel_test::Ref<CSampleBuffer>> m_samples;
    BITMAPINFOHEADER m_frameHeader = DibHeader(kW, kH);
    BYTE* m_pBytes = nullptr;
    CMediaWriter m_writer;
    std::vector<Write> m_written;
    CFrameProcessor m_processor{&m_writer};
    CFrameProcessorProbe m_probe{m_processor};
    BITMAPINFOHEADER m_header = DibHeader(kWidth, kHeight);
    BITMAPINFOHEADER* m_pShownFormat = nullptr;
    BYTE* m_pShownPixels = nullptr;
};

TEST_F(FrameProcessorTest, AnalysisGivesBrightnessDarkFractionAndMarkers) {
    const struct {
        const char* pszCase;
        LONG nWidth, nHeight;
        std::vector<int> greys;
        double dMinPixval;
        bool bMark;
        double dBrightness, dDark;
        const char* pszMarks;  // per pixel: B blue marker, R red marker, . anything else
    } cases[] = {
        // clang-format off
        {"all dark: only the first pixel turns red",
         5, 3, std::vector<int>(15, 50), 100.0, true, 0.0, 1.0, "R.............."},
        {"all bright: the mean luminance, no markers",
         2, 1, {110, 255}, 100.0, true, (Luminance(110) + Luminance(255)) / 2.0, 0.0, ".."},
        // Rows of 5: the crossing from the last pixel of row 0 to the first of row 1 counts too.
        {"alternating: dark before bright ends blue, a dark last pixel red",
         5, 2, {200, 0, 200, 0, 200, 0, 200, 0, 200, 0}, 100.0, true, Luminance(200), 0.5,
         ".B.B.B.B.R"},
        // Rows of 3 pixels carry 3 padding bytes that must not count as pixels (the row above
        // has 1).
        {"width 3: the padding is skipped",
         3, 3, {0, 0, 0, 200, 200, 200, 0, 0, 0}, 100.0, true, Luminance(200), 6.0 / 9.0,
         "R.B...R.."},
        {"the threshold itself counts as dark",
         1, 1, {120}, Luminance(120), false, 0.0, 1.0, "."},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        BYTE* pBytes = Pixels(c.nWidth, c.nHeight, [&](BYTE* p, int i) { SetGrey(p, c.greys[i]); });
        const BITMAPINFOHEADER header = DibHeader(c.nWidth, c.nHeight);
        m_processor.SetParameters(165.0, c.dMinPixval, 0.0);
        m_processor.SetMarkCrossings(c.bMark ? 1 : 0);
        double dDark = -1.0;
        EXPECT_DOUBLE_EQ(m_processor.AnalyseFrame(&header, pBytes, &dDark), c.dBrightness);
        EXPECT_DOUBLE_EQ(dDark, c.dDark);
        std::string marks;
        for (int i = 0; i < c.nWidth * c.nHeight; ++i) {
            const BYTE* p = PixelAt(pBytes, c.nWidth, i);
            const int rgb = p[2] << 16 | p[1] << 8 | p[0];  // the bytes are blue, green, red
            marks += rgb == 0x0000FF ? 'B' : rgb == 0xFF0000 ? 'R' : '.';
        }
        EXPECT_EQ(marks, c.pszMarks);
        // No grey of the table and no marker byte is kPadding: the padding bytes are all there.
        const LONG nStride = DibStride(c.nWidth);
        EXPECT_EQ(std::count(pBytes, pBytes + nStride * c.nHeight, kPadding),
                  (nStride - c.nWidth * 3) * c.nHeight);
    }
}

TEST_F(FrameProcessorTest, LuminanceTablesMatchTheFormulaForEveryPixel) {
    long nMismatches = 0;
    for (int r = 0; r < 256; ++r) {
        for (int g = 0; g < 256; ++g) {
            for (int b = 0; b < 256; ++b) {
                const BYTE p[3] = {static_cast<BYTE>(b), static_cast<BYTE>(g),
                                   static_cast<BYTE>(r)};
                nMismatches += CLuminanceTables::Of(p) != CFrameProcessor::Luminance(p);
            }
        }
    }
    EXPECT_EQ(nMismatches, 0);
}

// With display 1 the frame written last is shown, and nothing before the first write.
TEST_F(FrameProcessorTest, WorkedExamplePicksStepsAndStamps) {
    m_processor.SelectDisplay(1);
    const std::set<int> closest = {4, 10, 15, 23, 26, 32};
    // frame just queued -> ideal clock after its pick, and samples written by then
    const std::map<int, std::pair<double, size_t>> picks = {
        {6, {0.0333667, 1}},  {12, {0.0834168, 2}}, {18, {0.1251251, 3}},
        {23, {0.1918585, 5}}, {31, {0.2168836, 6}}, {34, {0.2669336, 7}}};
    size_t nWritten = 0;
    for (int n = 1; n <= 34; ++n) {
        Feed(closest.count(n) ? 165 : 200);
        const auto it = picks.find(n);
        if (it != picks.end()) {
            EXPECT_NEAR(m_probe.IdealTime(), it->second.first, 5e-8) << "frame " << n;
            nWritten = it->second.second;
        }
        EXPECT_EQ(m_written.size(), nWritten) << "frame " << n;
        BYTE* pWritten = nullptr;
        if (nWritten > 0) m_written.back().pSample->GetBuffer(&pWritten);
        EXPECT_EQ(m_pShownPixels, pWritten) << "frame " << n;
    }
    EXPECT_EQ(WrittenFrames(), (std::vector<int>{4, 10, 15, 23, 23, 26, 32}));
    std::vector<QWORD> times;
    for (const Write& write : m_written) times.push_back(write.time);
    EXPECT_EQ(times,
              (std::vector<QWORD>{333667, 667334, 1001001, 1334668, 1668335, 2002002, 2335669}));
}

TEST_F(FrameProcessorTest, EqualBrightnessPicksTheEarliestAndNeverRepeats) {
    for (int n = 1; n <= 40; ++n) Feed(150);
    EXPECT_EQ(WrittenFrames(), (std::vector<int>{1, 4, 7, 10, 13, 16, 19, 22, 25, 28, 31, 34}));
}

// Deflicker picks by the same clock but holds each pick for four more windows: the writes lag
// by four picks, the samples between picks go at once, and FlushHeld writes the rest at the
// times and in the order of the run without deflicker.
TEST_F(FrameProcessorTest, DeflickerHoldsFourPicksAndFlushesThemAtTheirTimes) {
    m_processor.SetDeflicker(4.0);
    for (int n = 1; n <= 40; ++n) Feed(150);
    EXPECT_EQ(WrittenFrames(), (std::vector<int>{1, 4, 7, 10, 13, 16, 19, 22}));
    EXPECT_LE(m_probe.QueueLength(), 9u + CFrameProcessor::kLookAheadWindows);
    for (int n = 1; n <= 40; ++n) {
        const bool bHeld = n == 22 || (n >= 25 && n % 3 == 1) || n >= 35;
        EXPECT_EQ(Sample(n)->RefCount(), bHeld ? 2u : 1u) << n;
    }
    while (m_processor.FlushHeld()) {
    }
    EXPECT_EQ(WrittenFrames(), (std::vector<int>{1, 4, 7, 10, 13, 16, 19, 22, 25, 28, 31, 34}));
    for (size_t i = 0; i < m_written.size(); ++i) {
        EXPECT_EQ(m_written[i].time, (i + 1) * 333667u) << i;
    }
}

// Anything but display 1 shows the frame just queued, through the entry's own copy of its header.
TEST_F(FrameProcessorTest, QueueStaysBoundedAndReleasesEachSampleOnce) {
    std::mt19937 random(7);
    for (int n = 1; n <= 300; ++n) {
        Feed(static_cast<int>(random() % 256));
        ASSERT_EQ(m_pShownPixels, Sample(n)->Bytes());
        ASSERT_LE(m_probe.QueueLength(), m_written.empty() ? 6u : 9u) << "frame " << n;
        const int nFront = m_probe.Front().nFrameNumber;
        // The entry written last stays at the front.
        ASSERT_TRUE(m_written.empty() || m_written.back().pSample == Sample(nFront)) << n;
        for (int i = 1; i <= n; ++i) {
            ASSERT_EQ(Sample(i)->RefCount(), i < nFront ? 1u : 2u) << i << " after " << n;
        }
    }
    m_header.biWidth = 9999;  // the reader's header changes with its next input
    EXPECT_EQ(m_pShownFormat->biWidth, kWidth);
    // Destroying the processor releases the samples still queued.
    {
        CFrameProcessor processor(nullptr);
        for (int n = 301; n <= 304; ++n) {
            processor.ProcessSample(Frame(1, 1, SetGrey), &m_header, nullptr, nullptr);
        }
    }
    for (int n = 301; n <= 304; ++n) EXPECT_EQ(Sample(n)->RefCount(), 1u);
}

// The speed-up X: the output holds the input's frames / X samples (at 29.97 both ways); at X = 1
// every frame is written once, in order. Whatever X, at most 11 samples are held at a time (the 9
// of X = 4, the closest so far and the one written last), and each is released once; deflicker
// adds its held picks and nothing that grows with X.
TEST_F(FrameProcessorTest, SpeedupShortensByItsFactorWithBoundedMemory) {
    constexpr int kFrames = 3000;
    const BITMAPINFOHEADER header = DibHeader(1, 1);
    std::mt19937 random(11);
    for (const bool bDeflicker : {false, true}) {
        for (const double dSpeedup : {1.0, 2.5, 4.0, 10.0, 60.0, 1000.0}) {
            SCOPED_TRACE(testing::Message() << dSpeedup << (bDeflicker ? " deflicker" : ""));
            m_written.clear();
            m_samples.clear();
            size_t nMostHeld = 0;
            {
                CFrameProcessor processor(&m_writer);
                processor.SetSpeedup(dSpeedup);
                if (bDeflicker) processor.SetDeflicker(4.0);
                for (int n = 1; n <= kFrames; ++n) {
                    processor.ProcessSample(
                        Frame(1, 1,
                              [&](BYTE* p, int) { SetGrey(p, static_cast<int>(random() % 256)); }),
                        &header, nullptr, nullptr);
                    const size_t nHeld = std::ranges::count_if(
                        m_samples, [](const auto& p) { return p->RefCount() > 1; });
                    nMostHeld = std::max(nMostHeld, nHeld);
                }
                while (processor.FlushHeld()) {
                }
            }
            EXPECT_LE(nMostHeld, 12u + (bDeflicker ? CFrameProcessor::kLookAheadWindows : 0));
            for (const auto& pSample : m_samples) ASSERT_EQ(pSample->RefCount(), 1u);
            // Random 1x1 frames are each a shot of their own to deflicker, so its picks all tie
            // and go to the earliest: only the memory is compared there.
            if (bDeflicker) continue;
            EXPECT_NEAR(static_cast<double>(m_written.size()), kFrames / dSpeedup, 2.0);
            if (dSpeedup == 1.0) {
                std::vector<int> every(kFrames);
                std::iota(every.begin(), every.end(), 1);
                EXPECT_EQ(WrittenFrames(), every);
            }
        }
    }
}

TEST_F(FrameProcessorTest, FramesWithoutUsablePixelsAreQueuedButNeverTouched) {
    m_processor.SetMarkCrossings(1);
    m_processor.SetManipulation(1);
    // A sample one byte short of its frame, a header of no pixels, a missing sample and header.
    const DWORD nShort = DibStride(kWidth) * kHeight - 1;
    varnel_test::Ref<CSampleBuffer> pShort(CSampleBuffer::Create(nShort));
    pShort->AddRef();
    m_processor.ProcessSample(pShort.get(), &m_header, &m_pShownFormat, &m_pShownPixels);
    EXPECT_EQ(m_pShownPixels, nullptr);
    const BITMAPINFOHEADER upsideDown = DibHeader(kWidth, -kHeight);
    m_processor.ProcessSample(Frame(kWidth, kHeight, SetGrey), &upsideDown, nullptr, nullptr);
    m_processor.ProcessSample(nullptr, &m_header, nullptr, nullptr);
    m_processor.ProcessSample(Frame(kWidth, kHeight, SetGrey), nullptr, nullptr, nullptr);
    for (int n = 5; n <= 6; ++n) Feed(10);  // frame 1 is picked: as close to 165 as the rest
    EXPECT_EQ(std::count(pShort->Bytes(), pShort->Bytes() + nShort, 0), nShort);
    for (int i = 0; i < kWidth * kHeight; ++i) {
        EXPECT_EQ(PixelAt(Sample(1)->Bytes(), kWidth, i)[0], i);
    }
    // Its sample is written all the same, at the first step of the clock.
    ASSERT_EQ(m_written.size(), 1u);
    EXPECT_EQ(m_written[0].pSample, pShort.get());
    EXPECT_EQ(m_written[0].time, 333667u);
}

// Every byte becomes (byte + 0.5) * gain plus a draw of the generator, truncated and clipped at
// 255; dAfter is the mean luminance of the pixels that were above the threshold.
TEST_F(FrameProcessorTest, MatchesThePlainStepsForEveryByte) {
    for (const auto& [dGain, dDarkFactor] : {std::pair{1.0, 0.0}, {1.37, 10.0}, {4.0, 0.0}}) {
        CFrameProcessor processor(nullptr);
        CFrameProcessorProbe probe(processor);
        CFrameProcessor twin(nullptr);  // draws the same random sequence
        CFrameProcessorProbe twinProbe(twin);
        processor.SetManipulation(1);
        FrameEntry entry = Entry(processor, [](int i, int c) { return (i * 7 + c * 50) % 256; });
        processor.SetParameters(dGain * (entry.dBefore - entry.dDarkFraction * dDarkFactor), 100.0,
                                dDarkFactor);
        std::vector<BYTE> expected = Bytes();
        probe.Manipulate(entry);
        double dSum = 0.0;
        int n = 0;
        for (int i = 0; i < kW * kH; ++i) {
            BYTE* p = PixelAt(expected.data(), kW, i);
            const bool bWasBright = CFrameProcessor::Luminance(p) > 100.0;
            for (int c = 0; c < 3; ++c) {
                p[c] = static_cast<BYTE>(
                    std::min(255, static_cast<int>((p[c] + 0.5) * dGain + twinProbe.RandomUnit())));
            }
            dSum += bWasBright ? CFrameProcessor::Luminance(p) : 0.0;
            n += bWasBright;
        }
        EXPECT_EQ(Bytes(), expected) << "gain " << dGain;  // the padding is left alone too
        EXPECT_NEAR(entry.dAfter, dSum / n, 1e-9) << "gain " << dGain;
    }
}

// A reference (dBefore - dark fraction * dark factor) of 0 or less, not a number, or so small
// that the gain is infinite leaves the frame as it is, and dAfter as measured.
TEST_F(FrameProcessorTest, FrameIsLeftAsItIsWithoutASoundGain) {
    m_processor.SetManipulation(1);
    const double kTiny = std::numeric_limits<double>::denorm_min();
    for (const auto& [dDarkFactor, dBefore] :
         {std::pair{-1.0, 0.0}, {1000.0, 0.0}, {0.0, std::nan("")}, {0.0, kTiny}}) {
        FrameEntry entry = Entry(m_processor, [](int i, int) { return i % 2 ? 30 : 200; });
        const double dMeasured = entry.dBefore;
        if (dBefore != 0.0) entry.dBefore = dBefore;
        // -1: the factor that makes the reference exactly 0
        m_processor.SetParameters(165.0, 100.0,
                                  dDarkFactor < 0 ? dMeasured / entry.dDarkFraction : dDarkFactor);
        const std::vector<BYTE> before = Bytes();
        m_probe.Manipulate(entry);
        EXPECT_EQ(Bytes(), before) << dDarkFactor << " " << dBefore;
        EXPECT_EQ(entry.dAfter, dMeasured);
    }
    // No pixel above the threshold: scaled, and dAfter is 0.
    FrameEntry entry = Entry(m_processor, [](int, int) { return 40; });
    entry.dBefore = 80.0;
    const std::vector<BYTE> before = Bytes();
    m_probe.Manipulate(entry);
    EXPECT_NE(Bytes(), before);
    EXPECT_EQ(entry.dAfter, 0.0);
}

TEST_F(FrameProcessorTest, DeflickerBringsTheMeanOfAllPixelsToTheTargetClippingIncluded) {
    m_processor.SetManipulation(1);
    m_processor.SetDeflicker(4.0);
    const struct {
        int nDark, nBright;  // greys of the odd and even pixels
        double dTarget;      // the entry's local target
        double dMean;        // mean luminance of all pixels after scaling
    } cases[] = {
        {50, 250, 180.0, 180.0},  // the bright half clips at 255 and the dark half makes up
        {10, 10, 200.0, 42.0},    // never more than four times brighter
        {0, 0, 100.0, 0.0},       // black stays black
        {100, 200, 0.0, 0.0},     // a target of 0 or less darkens fully
    };
    for (const auto& c : cases) {
        FrameEntry entry =
            Entry(m_processor, [&](int i, int) { return i % 2 ? c.nDark : c.nBright; });
        entry.dTarget = c.dTarget;
        m_probe.Manipulate(entry);
        double dSum = 0.0;
        for (int i = 0; i < kW * kH; ++i) {
            dSum += CFrameProcessor::Luminance(PixelAt(m_pBytes, kW, i));
        }
        EXPECT_NEAR(entry.dAfter, dSum / (kW * kH), 1e-9);
        EXPECT_NEAR(entry.dAfter, c.dMean, 0.6) << c.nDark << "/" << c.nBright;
    }
}

TEST_F(FrameProcessorTest, RandomUnitGivesMultiplesOfOne32767thFromZeroToOne) {
    std::vector<double> draws(400000);
    for (double& u : draws) u = m_probe.RandomUnit();
    for (double u : draws) ASSERT_EQ(std::round(u * 32767.0) / 32767.0, u);
    const auto [dMin, dMax] = std::ranges::minmax(draws);
    EXPECT_EQ(std::pair(dMin, dMax), std::pair(0.0, 1.0));
    EXPECT_NEAR(std::accumulate(draws.begin(), draws.end(), 0.0) / draws.size(), 0.5, 0.01);
}

}  // namespace
