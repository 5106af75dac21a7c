// SPDX-License-Identifier: GPL-3.0-or-later
// varnel-batch end to end on clips of flat grey frames whose brightness is known frame by frame:
// the report against the window rule, the output file against the report.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/batch/BatchTestSupport.h"

using namespace batchtest;

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
// Between two grey levels, so that no two frames are equally close to it.
constexpr double kTarget = 160.3;
// Grey level of frame n (1-based): 110 + (37 (n - 1) mod 140), all distinct over 140 frames and
// all above the default dark threshold of 100.
const std::string kLevel = "110+mod(N*37\\,140)";

int DesignedLevel(int nFrame) { return 110 + (37 * (nFrame - 1)) % 140; }

// ffmpeg arguments of flat grey frames at `strLevel` (an expression of the frame index N).
std::string GreyFrames(const std::string& strRate, const std::string& strSeconds,
                       const std::string& strLevel) {
    return "-f lavfi -i 'color=c=black:size=" + std::to_string(kWidth) + "x" +
           std::to_string(kHeight) + ":rate=" + strRate + ":duration=" + strSeconds +
           ",format=gbrp,geq=r=" + strLevel + ":g=" + strLevel + ":b=" + strLevel + "'";
}

struct ReportRow {
    int nFrame = 0;
    double dTime = 0.0, dBefore = 0.0, dDarkFraction = 0.0;
    bool bPicked = false;
    double dAfter = 0.0;
    std::vector<uint64_t> outputTimes;
    double dTarget = 0.0, dInputRate = 0.0;
};

// The rows of a report, after its header line.
std::vector<ReportRow> ParseReport(const std::string& strText) {
    std::vector<ReportRow> rows;
    const std::vector<std::string> lines = Split(strText);
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> f = Split(lines[i], ',');
        if (f.size() != 11) {
            ADD_FAILURE() << "row with " << f.size() << " fields: " << lines[i];
            continue;
        }
        const auto d = [&f](int i) { return std::atof(f[i].c_str()); };
        rows.push_back(
            {static_cast<int>(d(0)), d(1), d(2), d(3), f[4] == "1", d(5), {}, d(7), d(8)});
        for (const std::string& strTime : Split(f[6], ' '))
            rows.back().outputTimes.push_back(std::stoull(strTime));
    }
    return rows;
}

// The window rule, written out independently: the first window is frames 1..6, each later one
// starts 3 frames after the frame written last and spans 6; the frame closest to the target wins
// (ties to the earliest); a pick moves the ideal clock by a quarter of the input frames it
// consumed, the output clock by one frame, and is written again when the ideal clock is more than
// a frame ahead. Pairs of frame and output time.
std::vector<std::pair<int, uint64_t>> ApplyWindowRule(const std::vector<double>& before) {
    const double dFrame = 1.0 / 29.97, dScale = 6.0 / (24.0 * 29.97);
    std::vector<std::pair<int, uint64_t>> writes;
    int nLastWritten = 0;
    double dIdeal = 0.0, dOutput = 0.0;
    for (int nStart = 1; nStart + 5 <= static_cast<int>(before.size());) {
        int nBest = nStart;
        for (int n = nStart + 1; n <= nStart + 5; ++n) {
            if (std::fabs(before[n - 1] - kTarget) < std::fabs(before[nBest - 1] - kTarget)) {
                nBest = n;
            }
        }
        dIdeal += (nBest - nLastWritten) * dScale;
        dOutput += dFrame;
        writes.emplace_back(nBest, static_cast<uint64_t>(dOutput * 10000000.0));
        if (dIdeal - dOutput > dFrame) {
            dOutput += dFrame;
            writes.emplace_back(nBest, static_cast<uint64_t>(dOutput * 10000000.0));
        }
        nLastWritten = nBest;
        nStart = nBest + 3;
    }
    return writes;
}

// Each sample of the output, decoded by the ffmpeg command, is a flat picture at the target of
// the frame the report says it holds (to 2 levels: the encoder's loss and its colour conversion).
void ExpectWrittenAtTheirTargets(const std::vector<ReportRow>& rows,
                                 const std::filesystem::path& output) {
    const std::string strRaw = RunCommand("ffmpeg -nostdin -v error -i " + Quoted(output) +
                                          " -f rawvideo -pix_fmt gray -");
    const size_t nFrameBytes = static_cast<size_t>(kWidth) * kHeight;
    size_t nOffset = 0;
    for (const ReportRow& row : rows) {
        for (size_t i = 0; i < row.outputTimes.size(); ++i, nOffset += nFrameBytes) {
            ASSERT_LE(nOffset + nFrameBytes, strRaw.size());
            double dSum = 0.0;
            for (size_t j = 0; j < nFrameBytes; ++j)
                dSum += static_cast<uint8_t>(strRaw[nOffset + j]);
            EXPECT_NEAR(dSum / nFrameBytes, row.dTarget, 2.0) << "frame " << row.nFrame;
        }
    }
    EXPECT_EQ(nOffset, strRaw.size());
}

std::string Probe(const std::string& strArgs, const std::filesystem::path& file) {
    return RunCommand("ffprobe -v error " + strArgs + " " + Quoted(file));
}

}  // namespace

// Three seconds of the grey levels above at 29.97 frames a second with a tone beside them: the
// report holds the clip's levels and the window rule's picks and times, the output the report's
// samples.
TEST(BatchEndToEndTest, ReportFollowsTheClipAndTheWindowRuleAndTheOutputTheReport) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command is not available";
    CTempDir dir;
    ASSERT_TRUE(MakeClip(GreyFrames("30000/1001", "3", kLevel) +
                             " -f lavfi -i sine=duration=3 -c:v wmv2 -q:v 2 -c:a wmav2 -f asf",
                         dir / "flicker.wmv"));
    const ProcessResult run = RunBatch(
        "--brightness 160.3 --report r.csv --plot curves.svg flicker.wmv out.wmv", dir.Path());
    ASSERT_EQ(run.nExitStatus, 0) << run.strErr;
    EXPECT_EQ(Split(ReadFile(dir / "r.csv")).front(),
              "frame,time_s,brightness_before,dark_fraction,picked,brightness_after,"
              "output_times_100ns,target,input_rate,speedup,cut");
    // One row per frame FFmpeg decodes, with the clip's grey level; times as the file holds them
    // (milliseconds), counted from the file's start.
    const std::vector<ReportRow> rows = ParseReport(ReadFile(dir / "r.csv"));
    ASSERT_EQ(static_cast<long>(rows.size()), ProbeFrameCount(dir / "flicker.wmv"));
    std::vector<double> before;
    std::vector<std::pair<int, uint64_t>> reported;
    for (size_t i = 0; i < rows.size(); ++i) {
        const ReportRow& row = rows[i];
        SCOPED_TRACE("frame " + std::to_string(i + 1));
        EXPECT_EQ(row.nFrame, static_cast<int>(i) + 1);
        EXPECT_NEAR(row.dTime - rows[0].dTime, static_cast<double>(i) * 1001.0 / 30000.0, 0.0015);
        EXPECT_NEAR(row.dBefore, DesignedLevel(row.nFrame), 3.0);
        EXPECT_EQ(row.dDarkFraction, 0.0);
        EXPECT_EQ(row.dAfter, 0.0);  // nothing scaled
        EXPECT_EQ(row.bPicked, !row.outputTimes.empty());
        before.push_back(row.dBefore);
        for (uint64_t cnsTime : row.outputTimes) reported.emplace_back(row.nFrame, cnsTime);
    }
    // The picks and their times, to the 100-ns unit; some picks are written twice.
    EXPECT_EQ(reported, ApplyWindowRule(before));
    ASSERT_GT(reported.size(), 20u);

    // The output's samples lie at the reported times. (Its one WMV2 stream, the audio left out,
    // is the writer's and the output profile's: WriterFormatTest, MediaTest.)
    const std::vector<std::string> packets = Split(
        Probe("-select_streams v:0 -show_entries packet=pts_time -of csv=p=0", dir / "out.wmv"));
    ASSERT_EQ(packets.size(), reported.size());
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_NEAR(std::atof(packets[i].c_str()), reported[i].second / 1.0e7, 0.001) << i;
    }
    const std::string strSvg = ReadFile(dir / "curves.svg");
    EXPECT_EQ(strSvg.rfind("<?xml", 0), 0u);
    EXPECT_NE(strSvg.find("viewBox=\"0 0 1600 900\""), std::string::npos);
}

// Quiet manipulated runs with --input-rate auto: the picking follows the stream's own rate, so
// that inputs of any rate come out about four times shorter, at 29.97 frames a second (the
// margin covers the frames after the last complete window and one output frame). With
// --deflicker, on eight seconds that dim steadily from 190 to 90 while every frame is off the
// ramp by up to 15 levels, the local target follows the ramp and ignores the flicker. Every
// written frame is scaled to its target.
TEST(BatchEndToEndTest, AnyInputRateComesOutAQuarterOfItsDurationAtItsTargets) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command is not available";
    const auto ramp = [](int nFrame) { return 190.0 - 100.0 * (nFrame - 1) / 239; };
    const auto flat = [](int) { return kTarget; };
    struct Case {
        const char* pszRate;
        double dRate, dSeconds;
        std::string strLevel;
        const char *pszEncoding, *pszInput, *pszOption, *pszOutput;
        double (*target)(int nFrame);
    };
    const Case cases[] = {
        {"30000/1001", 29.97, 8.008, "190-100*N/239+15*(mod(N*37\\,11)/5-1)",
         "-c:v wmv2 -q:v 2 -f asf", "dimming.wmv", "--deflicker", "deflicker.mkv", ramp},
        {"15", 15.0, 6.0, kLevel, "-c:v wmv2 -q:v 2 -f asf", "rate15.wmv", "--min-pixval=100",
         "quarter15.wmv", flat},
        {"25", 25.0, 6.0, kLevel, "-c:v libx264 -qp 10", "rate25.mkv", "--min-pixval=100",
         "quarter25.mkv", flat},
        {"60", 60.0, 6.0, kLevel, "-c:v libx264 -qp 10", "rate60.mp4", "--min-pixval=100",
         "quarter60.mp4", flat}};
    CTempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszInput);
        ASSERT_TRUE(MakeClip(GreyFrames(c.pszRate, std::to_string(c.dSeconds), c.strLevel) +
                                 " -pix_fmt yuv420p " + c.pszEncoding,
                             dir / c.pszInput));
        const ProcessResult run = RunBatch(
            std::string(c.pszOption) + " --quiet --brightness 160.3 --manipulate --input-rate " +
                "auto --report r.csv --plot curves.PNG " + c.pszInput + " " + c.pszOutput,
            dir.Path());
        ASSERT_EQ(run.nExitStatus, 0) << run.strErr;
        EXPECT_EQ(run.strOut + run.strErr, "");
        const std::vector<ReportRow> rows = ParseReport(ReadFile(dir / "r.csv"));
        ASSERT_EQ(static_cast<long>(rows.size()), ProbeFrameCount(dir / c.pszInput));
        // Once deflicker's fit spans its four seconds, the target stays near the ramp while the
        // frames themselves swing by up to 15 levels around it.
        double dWorstFrame = 0.0;
        for (size_t i = rows.size() / 2; i < rows.size(); ++i) {
            EXPECT_NEAR(rows[i].dTarget, c.target(rows[i].nFrame), 2.5) << rows[i].nFrame;
            dWorstFrame =
                std::max(dWorstFrame, std::fabs(rows[i].dBefore - c.target(rows[i].nFrame)));
        }
        EXPECT_GT(dWorstFrame, 10.0);
        EXPECT_EQ(rows.front().dInputRate, c.dRate);
        for (const ReportRow& row : rows) {
            EXPECT_NEAR(row.dAfter, row.bPicked ? row.dTarget : 0.0, 3.0) << row.nFrame;
        }
        ExpectWrittenAtTheirTargets(rows, dir / c.pszOutput);
        // Windows Media files keep no frame rate; the others say 29.97.
        if (!std::string(c.pszOutput).ends_with(".wmv")) {
            EXPECT_EQ(Probe("-show_entries stream=r_frame_rate -of csv=p=0", dir / c.pszOutput),
                      "30000/1001\n");
        }
        EXPECT_NEAR(ProbeFrameCount(dir / c.pszOutput) / 29.97, c.dSeconds / 4.0, 0.15);
        // The plot is a PNG picture of 1600x900; nothing staged stays behind.
        EXPECT_EQ(ReadFile(dir / "curves.PNG").substr(0, 24),
                  std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x06\x40\0\0\x03\x84", 24));
        for (const std::string& strName : DirEntries(dir.Path())) EXPECT_NE(strName[0], '.');
    }
}

// A minute at 29.97 frames a second, X times shorter; at X = 1 every frame is written once.
TEST(BatchEndToEndTest, SpeedupSetsTheOutputsLength) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command is not available";
    CTempDir dir;
    ASSERT_TRUE(MakeClip(GreyFrames("30000/1001", "60", kLevel) + " -c:v libx264 -qp 10",
                         dir / "minute.mkv"));
    const long nInputFrames = ProbeFrameCount(dir / "minute.mkv");
    for (const int nSpeedup : {1, 10, 60}) {
        SCOPED_TRACE(nSpeedup);
        const ProcessResult run = RunBatch(
            "--quiet --report r.csv --speedup " + std::to_string(nSpeedup) + " minute.mkv out.mkv",
            dir.Path());
        ASSERT_EQ(run.nExitStatus, 0) << run.strErr;
        const double dSeconds = ProbeFrameCount(dir / "out.mkv") / 29.97;
        // Within 5%, or two pictures: the input after the last complete window (up to one and a
        // half windows, 1.9 pictures' worth at 60) gives no picture, as at any speed-up.
        EXPECT_NEAR(dSeconds, 60.0 / nSpeedup, std::max(0.05 * 60.0 / nSpeedup, 2.0 / 29.97));
        const std::vector<ReportRow> rows = ParseReport(ReadFile(dir / "r.csv"));
        if (nSpeedup == 1) {
            EXPECT_EQ(ProbeFrameCount(dir / "out.mkv"), nInputFrames);
            EXPECT_TRUE(std::ranges::all_of(
                rows, [](const ReportRow& row) { return row.outputTimes.size() == 1; }));
        }
    }
}

// 240 grey stills at the levels of kLevel, numbered without zeros (natural order puts IMG_9
// before IMG_10) and one missing: a folder of them and a pattern naming them
// are read in order, over the gap, as 239 frames at --input-rate 30, 2 s at a fourfold speed-up.
// The real camera stills measure as the aperture closes; a folder without an image fails.
TEST(BatchEndToEndTest, StillImagesAreReadInNaturalOrderAsAVideo) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command is not available";
    CTempDir dir;
    std::filesystem::create_directories(dir / "card");
    std::filesystem::create_directories(dir / "empty");
    WriteFile(dir / "card" / "notes.txt", "not an image");
    RunCommand("ffmpeg -nostdin -v error " + GreyFrames("30", "8", kLevel) + " -frames:v 240 " +
               Quoted(dir / "card" / "IMG_%d.png"));
    ASSERT_TRUE(std::filesystem::exists(dir / "card" / "IMG_240.png"));
    std::filesystem::remove(dir / "card" / "IMG_121.png");
    for (const char* pszInput : {"card", "card/IMG_*.png"}) {
        SCOPED_TRACE(pszInput);
        const ProcessResult run =
            RunBatch("--quiet --brightness 160.3 --input-rate 30 --report r.csv " +
                         std::string(pszInput) + " out.mp4",
                     dir.Path());
        ASSERT_EQ(run.nExitStatus, 0) << run.strErr;
        const std::vector<ReportRow> rows = ParseReport(ReadFile(dir / "r.csv"));
        ASSERT_EQ(rows.size(), 239u);
        for (size_t i = 0; i < rows.size(); ++i) {
            const int nImage = static_cast<int>(i) + (i < 120 ? 1 : 2);
            EXPECT_NEAR(rows[i].dBefore, DesignedLevel(nImage), 1.0) << rows[i].nFrame;
            EXPECT_NEAR(rows[i].dTime, i / 30.0, 1e-6);
        }
        EXPECT_NEAR(ProbeFrameCount(dir / "out.mp4") / 29.97, 2.0, 0.1);
    }
    const ProcessResult empty = RunBatch("empty out.mp4", dir.Path());
    EXPECT_EQ(empty.nExitStatus, 1);
    EXPECT_NE(empty.strErr.find("no image (.jpg, "), std::string::npos) << empty.strErr;

    const std::filesystem::path stills = TestDataFile("stills/colorchart-aperture");
    if (stills.empty()) GTEST_SKIP() << "test data absent: stills/colorchart-aperture";
    const ProcessResult real = RunBatch(
        "--quiet --deflicker --report r.csv " + stills.string() + " chart.mkv", dir.Path());
    ASSERT_EQ(real.nExitStatus, 0) << real.strErr;
    const std::vector<double> luma = {179.8, 173.2, 165.1, 152.7, 139.0, 127.9,
                                      117.8, 107.5, 98.0,  90.4,  80.1};
    const std::vector<ReportRow> rows = ParseReport(ReadFile(dir / "r.csv"));
    ASSERT_EQ(rows.size(), luma.size());
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_NEAR(rows[i].dBefore, luma[i], 2.0) << i;
}
