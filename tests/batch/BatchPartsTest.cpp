// The batch front end's own pieces: the frame log that matches written samples to frames, the
// report's rows and file, the progress line, the command line.
#include <filesystem>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "batch/BatchOptions.h"
#include "batch/FrameLog.h"
#include "batch/ProgressDisplay.h"
#include "batch/ReportWriter.h"
#include "platform/wmf/shared/SampleBuffer.h"
#include "tests/batch/BatchTestSupport.h"

class FrameLogTest : public ::testing::Test {
  protected:
    FrameLogTest() : m_log([this](const FrameRecord& record) { m_retired.push_back(record); }) {}
    ~FrameLogTest() override {
        for (CSampleBuffer* pSample : m_samples) pSample->Release();
    }

    const INSSBuffer* NewSample() {
        m_samples.push_back(CSampleBuffer::Create(4));
        return m_samples.back();
    }

    std::vector<CSampleBuffer*> m_samples;
    std::vector<FrameRecord> m_retired;
    CFrameLog m_log;
};

TEST_F(FrameLogTest, WriteIsMatchedToTheFrameHoldingTheSample) {
    const INSSBuffer* pFirst = NewSample();
    const INSSBuffer* pSecond = NewSample();
    m_log.AddFrame(1, 0.0, pFirst);
    m_log.SetMeasurement(150.0, 0.25, 160.0);
    m_log.AddFrame(2, 0.033, pSecond);
    m_log.SetMeasurement(170.0, 0.5, 160.0);
    EXPECT_TRUE(m_log.OnWritten(pFirst, 333667));
    m_log.SetAfterOfLastWritten(160.5, 158.0);
    m_log.Retire();
    ASSERT_EQ(m_retired.size(), 1u);
    EXPECT_EQ(m_retired[0].nFrame, 1);
    EXPECT_TRUE(m_retired[0].bPicked);
    EXPECT_EQ(m_retired[0].dBefore, 150.0);
    EXPECT_EQ(m_retired[0].dDarkFraction, 0.25);
    EXPECT_EQ(m_retired[0].dAfter, 160.5);
    EXPECT_EQ(m_retired[0].dTarget, 158.0);  // the target the written frame was scaled to
    EXPECT_EQ(m_retired[0].outputTimes, std::vector<QWORD>{333667});
}

TEST_F(FrameLogTest, RepeatedPickCarriesBothTimesAndCountsOnce) {
    const INSSBuffer* pSample = NewSample();
    m_log.AddFrame(1, 0.0, pSample);
    m_log.OnWritten(pSample, 1334668);
    m_log.OnWritten(pSample, 1668335);
    m_log.Finish();
    ASSERT_EQ(m_retired.size(), 1u);
    EXPECT_EQ(m_retired[0].outputTimes, (std::vector<QWORD>{1334668, 1668335}));
    EXPECT_EQ(m_log.FramesPicked(), 1);
    EXPECT_EQ(m_log.SamplesWritten(), 2);
    EXPECT_EQ(m_log.LastOutputTime(), 1668335u);
}

TEST_F(FrameLogTest, ReusedSampleAddressBelongsToTheNewestFrame) {
    // The runtime may hand out the memory of a released sample again: the live frame is the
    // newest one that holds the address.
    const INSSBuffer* pReused = NewSample();
    m_log.AddFrame(1, 0.0, pReused);
    m_log.AddFrame(2, 0.1, NewSample());
    m_log.AddFrame(3, 0.2, pReused);
    EXPECT_TRUE(m_log.OnWritten(pReused, 333667));
    m_log.Finish();
    ASSERT_EQ(m_retired.size(), 3u);
    EXPECT_FALSE(m_retired[0].bPicked);
    EXPECT_TRUE(m_retired[2].bPicked);
}

TEST_F(FrameLogTest, FramesAfterTheLastPickStayUntilFinish) {
    std::vector<const INSSBuffer*> samples;
    for (int n = 1; n <= 8; ++n) {
        samples.push_back(NewSample());
        m_log.AddFrame(n, n * 0.1, samples.back());
    }
    m_log.OnWritten(samples[3], 333667);  // frame 4
    EXPECT_TRUE(m_log.TakeWrittenMark());
    EXPECT_FALSE(m_log.TakeWrittenMark());
    m_log.Retire();
    ASSERT_EQ(m_retired.size(), 4u);
    EXPECT_EQ(m_retired.back().nFrame, 4);
    m_log.Finish();
    ASSERT_EQ(m_retired.size(), 8u);
    for (size_t i = 0; i < m_retired.size(); ++i) EXPECT_EQ(m_retired[i].nFrame, int(i) + 1);
}

class ReportWriterTest : public ::testing::Test {
  protected:
    batchtest::CTempDir m_dir;
};

TEST_F(ReportWriterTest, RowHoldsEveryColumnAndSpaceSeparatedTimes) {
    FrameRecord record;
    record.nFrame = 23;
    record.dTime = 0.7340667;
    record.dBefore = 161.25;
    record.dDarkFraction = 0.125;
    record.bPicked = true;
    record.dAfter = 160.5;
    record.outputTimes = {1334668, 1668335};
    record.dTarget = 158.25;
    EXPECT_EQ(CReportWriter::FormatRow(record),
              "23,0.7340667,161.250000,0.125000,1,160.500000,1334668 1668335,158.250000");
    record.bPicked = false;
    record.outputTimes.clear();
    EXPECT_EQ(CReportWriter::FormatRow(record),
              "23,0.7340667,161.250000,0.125000,0,160.500000,,158.250000");
}

TEST_F(ReportWriterTest, FileAppearsOnlyWhenFinished) {
    const std::string strPath = (m_dir / "report.csv").string();
    CReportWriter report(strPath);
    ASSERT_EQ(report.Open(), S_OK);
    report.Write(FrameRecord{});
    EXPECT_FALSE(std::filesystem::exists(strPath));
    ASSERT_EQ(report.Finish(), S_OK);
    const std::vector<std::string> lines = batchtest::Split(batchtest::ReadFile(strPath));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], CReportWriter::Header());
    EXPECT_EQ(batchtest::DirEntries(m_dir.Path()), std::vector<std::string>{"report.csv"});
}

TEST_F(ReportWriterTest, AbandonedReportLeavesThePreviousFile) {
    const std::string strPath = (m_dir / "report.csv").string();
    batchtest::WriteFile(strPath, "old");
    {
        CReportWriter report(strPath);
        ASSERT_EQ(report.Open(), S_OK);
        report.Write(FrameRecord{});
    }
    EXPECT_EQ(batchtest::ReadFile(strPath), "old");
    EXPECT_EQ(batchtest::DirEntries(m_dir.Path()), std::vector<std::string>{"report.csv"});
}

TEST(ProgressLineTest, EstimateBelowTheCountShowsAFullBarAndUnknownTotalCountAndRateOnly) {
    EXPECT_EQ(CProgressDisplay::FormatLine(610, 600, 2.0),
              "[##############################] 610/610 frames  305.0 fps  0:00 left");
    EXPECT_EQ(CProgressDisplay::FormatLine(42, 0, 0.5), "42 frames  84.0 fps");
    EXPECT_EQ(CProgressDisplay::FormatLine(0, 100, 0.0).find("left"), std::string::npos);
}

TEST(ProgressLineTest, DurationsPastAnHourShowHoursAndNoneBelowZero) {
    EXPECT_EQ(CProgressDisplay::FormatDuration(59.4), "0:59");
    EXPECT_EQ(CProgressDisplay::FormatDuration(3725.0), "1:02:05");
    EXPECT_EQ(CProgressDisplay::FormatDuration(-3.0), "0:00");
    EXPECT_EQ(CProgressDisplay::FormatDuration(1.0 / 0.0), "0:00");
}

namespace {

int Parse(std::vector<const char*> args, BatchOptions* pOptions) {
    args.insert(args.begin(), "varnel-batch");
    std::ostringstream out;
    std::ostringstream err;
    return ParseBatchOptions(static_cast<int>(args.size()), args.data(), pOptions, out, err);
}

// The figures and switches of a parse, in one line for comparison.
std::string Summary(const BatchOptions& o) {
    std::ostringstream text;
    text << o.strInput << ' ' << o.strOutput << ' ' << o.dBrightness << ' ' << o.dMinPixval << ' '
         << o.dDarkFactor << ' ' << o.bManipulate << o.bMarkCrossings << o.bQuiet << " '"
         << o.strReport << "' " << o.dDeflicker;
    return text.str();
}

}  // namespace

TEST(BatchOptionsTest, DefaultsAreTheDialogsStartValuesAndEveryOptionReachesItsField) {
    BatchOptions options;
    EXPECT_EQ(Parse({"in.wmv", "out.wmv"}, &options), -1);
    EXPECT_EQ(Summary(options), "in.wmv out.wmv 160 100 10 000 '' 0");
    options = BatchOptions{};
    EXPECT_EQ(Parse({"--brightness", "120.5", "--min-pixval=40", "--dark-factor", "-2",
                     "--manipulate", "--mark-crossings", "--report", "r.csv", "--quiet",
                     "--deflicker=2.5", "a.wmv", "b.wmv"},
                    &options),
              -1);
    EXPECT_EQ(Summary(options), "a.wmv b.wmv 120.5 40 -2 111 'r.csv' 2.5");
    // Without a value the span is the default, and the next argument stays the input.
    options = BatchOptions{};
    EXPECT_EQ(Parse({"--deflicker", "a.wmv", "b.wmv"}, &options), -1);
    EXPECT_EQ(Summary(options), "a.wmv b.wmv 160 100 10 000 '' 4");
}
