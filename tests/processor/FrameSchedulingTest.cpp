// Which frames the processor writes, when, how often, and what it keeps and shows.

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "processor/FrameProcessorProbe.h"
#include "tests/processor/ProcessorTestSupport.h"

namespace {

class FrameSchedulingTest : public ::testing::Test {
  protected:
    static constexpr LONG kWidth = 5;  // rows carry one byte of padding
    static constexpr LONG kHeight = 2;

    // Queues one frame of uniform grey (its brightness is about the grey value).
    void Feed(BYTE grey) {
        m_processor.ProcessSample(m_frames.Grey(grey), &m_frames.Header(), &m_pShownFormat,
                                  &m_pShownPixels);
    }
    std::vector<int> WrittenFrames() const {
        std::vector<int> numbers;
        for (const auto& write : m_output.Written())
            numbers.push_back(m_frames.NumberOf(write.pSample));
        return numbers;
    }

    CRecordingOutput m_output;
    CFrameSource m_frames{kWidth, kHeight};
    CFrameProcessor m_processor{m_output.Writer()};
    CFrameProcessorProbe m_probe{m_processor};
    BITMAPINFOHEADER* m_pShownFormat = nullptr;
    BYTE* m_pShownPixels = nullptr;
};

TEST_F(FrameSchedulingTest, WorkedExamplePicksStepsAndStamps) {
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
        EXPECT_EQ(m_output.Written().size(), nWritten) << "frame " << n;
    }
    EXPECT_EQ(WrittenFrames(), (std::vector<int>{4, 10, 15, 23, 23, 26, 32}));
    std::vector<QWORD> times;
    for (const auto& write : m_output.Written()) times.push_back(write.time);
    EXPECT_EQ(times,
              (std::vector<QWORD>{333667, 667334, 1001001, 1334668, 1668335, 2002002, 2335669}));
}

TEST_F(FrameSchedulingTest, PicksTheClosestEarliestFrameAndRepeatsItWhenBehind) {
    const struct {
        const char* pszCase;
        std::function<BYTE(int)> grey;  // of frame n
        std::vector<int> written;
    } cases[] = {
        {"equal brightness: the earliest, never repeated",
         [](int) { return BYTE{150}; },
         {1, 4, 7, 10, 13, 16, 19, 22, 25, 28, 31, 34}},
        {"closest always last: every eighth, each repeated",
         [](int n) { return static_cast<BYTE>(100 + n); },  // nearer 165 each frame
         {6, 14, 14, 22, 22, 30, 30, 38, 38}},
    };
    for (const auto& c : cases) {
        CRecordingOutput output;
        CFrameSource frames(kWidth, kHeight);
        CFrameProcessor processor(output.Writer());
        for (int n = 1; n <= 40; ++n) {
            processor.ProcessSample(frames.Grey(c.grey(n)), &frames.Header(), nullptr, nullptr);
        }
        std::vector<int> written;
        for (const auto& write : output.Written())
            written.push_back(frames.NumberOf(write.pSample));
        EXPECT_EQ(written, c.written) << c.pszCase;
    }
}

TEST_F(FrameSchedulingTest, QueueStaysBoundedAndReleasesEachSampleOnce) {
    std::mt19937 random(7);
    for (int n = 1; n <= 300; ++n) {
        Feed(static_cast<BYTE>(random() % 256));
        const bool bWritten = !m_output.Written().empty();
        ASSERT_LE(m_probe.QueueLength(), bWritten ? 9u : 6u) << "frame " << n;
        const int nFront = m_probe.Front().nFrameNumber;
        // The entry written last stays at the front.
        if (bWritten) {
            ASSERT_EQ(m_frames.NumberOf(m_output.Written().back().pSample), nFront);
        }
        for (int i = 1; i <= n; ++i) {
            ASSERT_EQ(m_frames.Sample(i)->RefCount(), i < nFront ? 1u : 2u)
                << "frame " << i << " after frame " << n;
        }
    }
    // Destroying the processor releases the samples still queued.
    {
        CFrameProcessor processor(nullptr);
        for (int n = 1; n <= 4; ++n) {
            processor.ProcessSample(m_frames.Grey(100), &m_frames.Header(), nullptr, nullptr);
        }
    }
    for (int i = 301; i <= 304; ++i) EXPECT_EQ(m_frames.Sample(i)->RefCount(), 1u);
}

TEST_F(FrameSchedulingTest, ShowWriteShowsTheFrameWrittenLastAndNothingBefore) {
    m_processor.SelectDisplay(1);
    double dAfter = -1.0;
    double dDark = -1.0;
    for (int n = 1; n <= 5; ++n) {
        Feed(200);
        EXPECT_EQ(m_pShownFormat, nullptr);
        EXPECT_EQ(m_pShownPixels, nullptr);
        EXPECT_EQ(m_processor.GetStatistics(&dAfter, &dDark), 0.0);
        EXPECT_EQ(dAfter + dDark, 0.0);
    }
    Feed(165);  // frame 6 is picked and written
    EXPECT_EQ(m_pShownPixels, m_frames.Sample(6)->Bytes());
    for (int n = 7; n <= 8; ++n) Feed(200);  // no pick: the written frame is still shown
    EXPECT_EQ(m_pShownPixels, m_frames.Sample(6)->Bytes());
    EXPECT_NEAR(m_processor.GetStatistics(nullptr, nullptr), 165.0, 1e-9);
}

TEST_F(FrameSchedulingTest, ShowReadShowsTheFrameJustQueuedWithAHeaderOfItsOwn) {
    m_processor.SelectDisplay(2);  // anything but 1 means the frame read
    BITMAPINFOHEADER header = m_frames.Header();
    CSampleBuffer* pSample = m_frames.Make([](BYTE* p, int i) {
        const BYTE grey = i < 4 ? 0 : 200;
        SetPixel(p, grey, grey, grey);
    });
    m_processor.ProcessSample(pSample, &header, &m_pShownFormat, &m_pShownPixels);
    EXPECT_EQ(m_pShownPixels, pSample->Bytes());
    double dAfter = -1.0;
    double dDark = -1.0;
    EXPECT_NEAR(m_processor.GetStatistics(&dAfter, &dDark), 200.0, 1e-9);
    EXPECT_EQ(dAfter, 0.0);
    EXPECT_EQ(dDark, 0.4);
    // The entry's own copy: the reader's header changes with its next input.
    ASSERT_NE(m_pShownFormat, nullptr);
    header.biWidth = 9999;
    EXPECT_EQ(m_pShownFormat->biWidth, kWidth);
}

TEST_F(FrameSchedulingTest, FramesWithoutUsablePixelsAreQueuedButNeverTouched) {
    m_processor.SetMarkCrossings(1);
    m_processor.SetManipulation(1);
    m_processor.SetParameters(165.0, 100.0, 0.0);
    // A sample one byte short of its frame, a missing sample and a missing header.
    varnel_test::Ref<CSampleBuffer> pShort(CSampleBuffer::Create(m_frames.FrameBytes() - 1));
    pShort->AddRef();
    m_processor.ProcessSample(pShort.get(), &m_frames.Header(), &m_pShownFormat, &m_pShownPixels);
    EXPECT_EQ(m_pShownPixels, nullptr);
    double dDark = -1.0;
    EXPECT_EQ(m_processor.GetStatistics(nullptr, &dDark), 0.0);
    EXPECT_EQ(dDark, 0.0);
    m_processor.ProcessSample(nullptr, &m_frames.Header(), nullptr, nullptr);
    m_processor.ProcessSample(m_frames.Grey(0), nullptr, nullptr, nullptr);
    for (int n = 4; n <= 6; ++n) Feed(10);  // frame 1 is picked: as close to 165 as the rest
    EXPECT_TRUE(std::all_of(pShort->Bytes(), pShort->Bytes() + m_frames.FrameBytes() - 1,
                            [](BYTE b) { return b == 0; }));
    // Its sample is written all the same, at the first step of the clock.
    ASSERT_EQ(m_output.Written().size(), 1u);
    EXPECT_EQ(m_output.Written()[0].pSample, pShort.get());
    EXPECT_EQ(m_output.Written()[0].time, 333667u);
}

}  // namespace
