// varnel-batch end to end on a clip of flat grey frames whose brightness is known frame by frame:
// the report against the window rule, the output file against the report.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/batch/BatchTestSupport.h"

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
// Between two grey levels, so that no two frames are equally close to it.
constexpr double kTarget = 160.3;
// Grey level of frame n (1-based): 110 + (37 (n - 1) mod 140), all distinct over 140 frames and
// all above the default dark threshold of 100.
constexpr const char* kLevelExpression = "110+mod(N*37\\,140)";

int DesignedLevel(int nFrame) { return 110 + (37 * (nFrame - 1)) % 140; }

struct ReportRow {
    int nFrame = 0;
    double dTime = 0.0;
    double dBefore = 0.0;
    double dDarkFraction = 0.0;
    bool bPicked = false;
    double dAfter = 0.0;
    std::vector<uint64_t> outputTimes;
    double dTarget = 0.0;
};

// The rows of a report; the header line goes to *pstrHeader.
std::vector<ReportRow> ParseReport(const std::string& strText, std::string* pstrHeader) {
    std::vector<ReportRow> rows;
    const std::vector<std::string> lines = batchtest::Split(strText);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::vector<std::string> f = batchtest::Split(lines[i], ',');
        if (i == 0) {
            *pstrHeader = lines[0];
        } else if (f.size() != 9) {
            ADD_FAILURE() << "row with " << f.size() << " fields: " << lines[i];
        } else {
            rows.push_back({std::atoi(f[0].c_str()),
                            std::atof(f[1].c_str()),
                            std::atof(f[2].c_str()),
                            std::atof(f[3].c_str()),
                            f[4] == "1",
                            std::atof(f[5].c_str()),
                            {},
                            std::atof(f[7].c_str())});
            for (const std::string& strTime : batchtest::Split(f[6], ' ')) {
                if (!strTime.empty()) rows.back().outputTimes.push_back(std::stoull(strTime));
            }
        }
    }
    return rows;
}

// The window rule, written out independently: the first window is frames 1..6, each later one
// starts 3 frames after the frame written last and spans 6; the frame closest to the target wins
// (ties to the earliest); a pick moves the ideal clock by a quarter of the input frames it
// consumed, the output clock by one frame, and is written again when the ideal clock is more than
// a frame ahead.
struct Write {
    int nFrame;
    uint64_t cnsTime;
};

std::vector<Write> ApplyWindowRule(const std::vector<double>& before, double dTarget) {
    const double dFrame = 1.0 / 29.97;
    const double dScale = 6.0 / (24.0 * 29.97);
    std::vector<Write> writes;
    int nLastWritten = 0;
    double dIdeal = 0.0;
    double dOutput = 0.0;
    const int nFrames = static_cast<int>(before.size());
    int nStart = 1;
    while (nStart + 5 <= nFrames) {
        int nBest = nStart;
        for (int n = nStart + 1; n <= nStart + 5; ++n) {
            if (std::fabs(before[n - 1] - dTarget) < std::fabs(before[nBest - 1] - dTarget)) {
                nBest = n;
            }
        }
        dIdeal += (nBest - nLastWritten) * dScale;
        dOutput += dFrame;
        writes.push_back({nBest, static_cast<uint64_t>(dOutput * 10000000.0)});
        if (dIdeal - dOutput > dFrame) {
            dOutput += dFrame;
            writes.push_back({nBest, static_cast<uint64_t>(dOutput * 10000000.0)});
        }
        nLastWritten = nBest;
        nStart = nBest + 3;
    }
    return writes;
}

// Mean grey level of each frame of a video, decoded by the ffmpeg command.
std::vector<double> FrameMeans(const std::filesystem::path& path) {
    const std::string strRaw = batchtest::RunCommand(
        "ffmpeg -nostdin -v error -i " + batchtest::Quoted(path) + " -f rawvideo -pix_fmt gray -");
    const size_t nFrameBytes = static_cast<size_t>(kWidth) * kHeight;
    std::vector<double> means;
    for (size_t offset = 0; offset + nFrameBytes <= strRaw.size(); offset += nFrameBytes) {
        double dSum = 0.0;
        for (size_t i = 0; i < nFrameBytes; ++i) {
            dSum += static_cast<unsigned char>(strRaw[offset + i]);
        }
        means.push_back(dSum / static_cast<double>(nFrameBytes));
    }
    return means;
}

double MeanStep(const std::vector<double>& values) {
    double dSum = 0.0;
    for (size_t i = 1; i < values.size(); ++i) dSum += std::fabs(values[i] - values[i - 1]);
    return values.size() > 1 ? dSum / static_cast<double>(values.size() - 1) : 0.0;
}

}  // namespace

class BatchEndToEndTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!batchtest::HaveFfmpeg()) return;
        s_pDir = new batchtest::CTempDir();
        // Three seconds of flat grey frames at 29.97 per second, with a tone beside them.
        s_bClip = batchtest::MakeClip(
            "-f lavfi -i 'color=c=black:size=" + std::to_string(kWidth) + "x" +
                std::to_string(kHeight) + ":rate=30000/1001:duration=3,format=gbrp,geq=r=" +
                kLevelExpression + ":g=" + kLevelExpression + ":b=" + kLevelExpression +
                "' -f lavfi -i sine=duration=3 -c:v wmv2 -q:v 2 -c:a wmav2 -f asf",
            *s_pDir / "flicker.wmv");
        if (!s_bClip) return;
        s_plain = Run({"--brightness", "160.3", "--report", "plain.csv", "--plot", "plain.svg",
                       "flicker.wmv", "plain.wmv"});
        s_manipulated = Run({"--brightness", "160.3", "--manipulate", "--report", "manipulated.csv",
                             "--plot", "manipulated.PNG", "flicker.wmv", "manipulated.wmv"});
    }
    static void TearDownTestSuite() {
        delete s_pDir;
        s_pDir = nullptr;
    }
    void SetUp() override {
        if (s_pDir == nullptr) GTEST_SKIP() << "the ffmpeg command is not available";
        ASSERT_TRUE(s_bClip) << "could not make the flicker clip";
        ASSERT_EQ(s_plain.nExitStatus, 0) << s_plain.strErr;
        ASSERT_EQ(s_manipulated.nExitStatus, 0) << s_manipulated.strErr;
        m_plain = ParseReport(batchtest::ReadFile(*s_pDir / "plain.csv"), &m_strHeader);
        m_manipulated = ParseReport(batchtest::ReadFile(*s_pDir / "manipulated.csv"), &m_strHeader);
    }

    static batchtest::ProcessResult Run(std::vector<std::string> args) {
        return batchtest::RunBatch(std::move(args), s_pDir->Path());
    }
    static std::string Probe(const std::string& strArgs, const std::string& strFile) {
        return batchtest::RunCommand("ffprobe -v error " + strArgs + " " +
                                     batchtest::Quoted(*s_pDir / strFile));
    }

    static batchtest::CTempDir* s_pDir;
    static bool s_bClip;
    static batchtest::ProcessResult s_plain;
    static batchtest::ProcessResult s_manipulated;
    std::vector<ReportRow> m_plain;
    std::vector<ReportRow> m_manipulated;
    std::string m_strHeader;
};

batchtest::CTempDir* BatchEndToEndTest::s_pDir = nullptr;
bool BatchEndToEndTest::s_bClip = false;
batchtest::ProcessResult BatchEndToEndTest::s_plain;
batchtest::ProcessResult BatchEndToEndTest::s_manipulated;

TEST_F(BatchEndToEndTest, ReportHasOneRowPerFrameReadWithTheClipsGreyLevel) {
    const long nFrames = batchtest::ProbeFrameCount(*s_pDir / "flicker.wmv");
    ASSERT_GT(nFrames, 60);
    EXPECT_EQ(m_strHeader,
              "frame,time_s,brightness_before,dark_fraction,picked,brightness_after,"
              "output_times_100ns,target,input_rate");
    ASSERT_EQ(static_cast<long>(m_plain.size()), nFrames);
    // Times as the file holds them (milliseconds), counted from the file's start.
    for (size_t i = 0; i < m_plain.size(); ++i) {
        EXPECT_EQ(m_plain[i].nFrame, static_cast<int>(i) + 1);
        EXPECT_NEAR(m_plain[i].dTime - m_plain[0].dTime, static_cast<double>(i) * 1001.0 / 30000.0,
                    0.0015);
        EXPECT_NEAR(m_plain[i].dBefore, DesignedLevel(m_plain[i].nFrame), 3.0) << "frame " << i + 1;
        EXPECT_EQ(m_plain[i].dDarkFraction, 0.0) << "frame " << i + 1;
        EXPECT_EQ(m_plain[i].dTarget, kTarget) << "frame " << i + 1;
    }
    EXPECT_NE(s_plain.strOut.find("frames read        " + std::to_string(nFrames)),
              std::string::npos)
        << s_plain.strOut;
}

TEST_F(BatchEndToEndTest, PicksAreClosestInTheirWindowAndFollowTheWindowRuleWithItsTimes) {
    std::vector<double> before;
    for (const ReportRow& row : m_plain) before.push_back(row.dBefore);
    const std::vector<Write> expected = ApplyWindowRule(before, kTarget);
    std::vector<Write> reported;
    int nPreviousPick = 0;
    for (const ReportRow& row : m_plain) {
        EXPECT_EQ(row.bPicked, !row.outputTimes.empty()) << "frame " << row.nFrame;
        for (uint64_t cnsTime : row.outputTimes) reported.push_back({row.nFrame, cnsTime});
        if (!row.bPicked) continue;
        const int nStart = nPreviousPick == 0 ? 1 : nPreviousPick + 3;
        for (int n = nStart; n <= nStart + 5; ++n) {
            EXPECT_LE(std::fabs(row.dBefore - kTarget), std::fabs(before[n - 1] - kTarget))
                << "pick " << row.nFrame << " against frame " << n;
        }
        nPreviousPick = row.nFrame;
    }
    ASSERT_EQ(reported.size(), expected.size());
    ASSERT_GT(nPreviousPick, 0);
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(reported[i].nFrame, expected[i].nFrame) << "sample " << i;
        EXPECT_EQ(reported[i].cnsTime, expected[i].cnsTime) << "sample " << i;
    }
}

TEST_F(BatchEndToEndTest, OutputIsOneWmv2StreamAtTheReportedTimes) {
    EXPECT_EQ(Probe("-show_entries stream=codec_type,codec_name -of csv=p=0", "plain.wmv"),
              "wmv2,video\n");
    std::vector<uint64_t> reported;
    int nPicks = 0;
    for (const ReportRow& row : m_plain) {
        nPicks += row.bPicked ? 1 : 0;
        reported.insert(reported.end(), row.outputTimes.begin(), row.outputTimes.end());
    }
    const std::vector<std::string> packets = batchtest::Split(
        Probe("-select_streams v:0 -show_entries packet=pts_time -of csv=p=0", "plain.wmv"));
    ASSERT_EQ(packets.size(), reported.size());
    EXPECT_GT(reported.size(), static_cast<size_t>(nPicks));  // some picks are repeated
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_NEAR(std::atof(packets[i].c_str()), static_cast<double>(reported[i]) / 1.0e7, 0.001)
            << "sample " << i;
    }
}

TEST_F(BatchEndToEndTest, ManipulationEvensOutTheOutputsBrightnessAndWithoutItNothingIsScaled) {
    const std::vector<double> plain = FrameMeans(*s_pDir / "plain.wmv");
    const std::vector<double> manipulated = FrameMeans(*s_pDir / "manipulated.wmv");
    ASSERT_GT(plain.size(), 10u);
    ASSERT_EQ(plain.size(), manipulated.size());
    EXPECT_LT(MeanStep(manipulated), MeanStep(plain) / 2.0);
    // The manipulated report carries the brightness after scaling, near the target; without
    // manipulation nothing is scaled.
    for (const ReportRow& row : m_manipulated) {
        EXPECT_NEAR(row.dAfter, row.bPicked ? kTarget : 0.0, row.bPicked ? 3.0 : 0.0)
            << "frame " << row.nFrame;
    }
    for (const ReportRow& row : m_plain) EXPECT_EQ(row.dAfter, 0.0) << "frame " << row.nFrame;
}

TEST_F(BatchEndToEndTest, TerminalShowsProgressAgainstTheExpectedTotal) {
    if (!batchtest::HaveProgram("script")) {
        GTEST_SKIP() << "no script command to give the run a terminal";
    }
    // script(1) runs the program on a pseudo-terminal and copies what it draws.
    const std::string strDrawn = batchtest::RunCommand(
        "cd " + batchtest::Quoted(s_pDir->Path()) + " && script -qec \"" +
        batchtest::Quoted(batchtest::kBatch) + " flicker.wmv tty.wmv\" /dev/null");
    const size_t nBar = strDrawn.find("] ");
    ASSERT_NE(nBar, std::string::npos) << strDrawn;
    const size_t nSlash = strDrawn.find('/', nBar);
    ASSERT_NE(nSlash, std::string::npos) << strDrawn;
    const int nExpected = std::atoi(strDrawn.c_str() + nSlash + 1);
    // An estimate from the container's duration, which the audio may stretch a little.
    EXPECT_NEAR(nExpected, static_cast<int>(m_plain.size()), m_plain.size() / 10.0) << strDrawn;
    EXPECT_NE(strDrawn.find(" fps"), std::string::npos) << strDrawn;
    EXPECT_NE(strDrawn.find("frames read"), std::string::npos) << strDrawn;
}

TEST_F(BatchEndToEndTest, PlotsOfTheWholeRunAreWrittenInTheFormatOfTheirNames) {
    const std::string strSvg = batchtest::ReadFile(*s_pDir / "plain.svg");
    EXPECT_EQ(strSvg.rfind("<?xml", 0), 0u);
    EXPECT_NE(strSvg.find("viewBox=\"0 0 1600 900\""), std::string::npos);
    EXPECT_NE(strSvg.find("flicker.wmv"), std::string::npos);
    // PNG: the signature, then the header chunk with the width and height, big-endian.
    const std::string strPng = batchtest::ReadFile(*s_pDir / "manipulated.PNG");
    ASSERT_GT(strPng.size(), 24u);
    EXPECT_EQ(strPng.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(strPng.substr(16, 8), std::string("\0\0\x06\x40\0\0\x03\x84", 8));
}

// --deflicker --manipulate on eight seconds of flat grey frames that dim steadily from 190 to 90
// while every frame is off the ramp by up to 15 levels: the local target follows the ramp and
// ignores the flicker, and every written frame is scaled to its target.
TEST(BatchDeflickerTest, TargetFollowsTheRampAndTheWrittenFramesFollowTheTarget) {
    if (!batchtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command is not available";
    constexpr int kFrames = 240;
    const auto ramp = [](int nFrame) { return 190.0 - 100.0 * (nFrame - 1) / (kFrames - 1); };
    const std::string strLevel =
        "190-100*N/" + std::to_string(kFrames - 1) + "+15*(mod(N*37\\,11)/5-1)";
    batchtest::CTempDir dir;
    ASSERT_TRUE(batchtest::MakeClip(
        "-f lavfi -i 'color=c=black:size=" + std::to_string(kWidth) + "x" +
            std::to_string(kHeight) + ":rate=30000/1001:duration=8.008,format=gbrp,geq=r=" +
            strLevel + ":g=" + strLevel + ":b=" + strLevel + "' -c:v wmv2 -q:v 2 -f asf",
        dir / "dimming.wmv"));
    const batchtest::ProcessResult run = batchtest::RunBatch(
        {"--deflicker", "--manipulate", "--report", "r.csv", "dimming.wmv", "out.wmv"}, dir.Path());
    ASSERT_EQ(run.nExitStatus, 0) << run.strErr;
    std::string strHeader;
    const std::vector<ReportRow> rows = ParseReport(batchtest::ReadFile(dir / "r.csv"), &strHeader);
    ASSERT_EQ(static_cast<int>(rows.size()), kFrames);

    // Once the fit spans its four seconds, the target stays near the ramp while the frames
    // themselves swing by up to 15 levels around it.
    double dWorstFrame = 0.0;
    for (const ReportRow& row : rows) {
        if (row.nFrame <= 120) continue;
        EXPECT_NEAR(row.dTarget, ramp(row.nFrame), 2.5) << "frame " << row.nFrame;
        dWorstFrame = std::max(dWorstFrame, std::fabs(row.dBefore - ramp(row.nFrame)));
    }
    EXPECT_GT(dWorstFrame, 10.0);

    // Each sample in the output holds the picture of its frame at the frame's target.
    const std::vector<double> written = FrameMeans(dir / "out.wmv");
    size_t nSample = 0;
    for (const ReportRow& row : rows) {
        for (size_t i = 0; i < row.outputTimes.size(); ++i, ++nSample) {
            ASSERT_LT(nSample, written.size());
            EXPECT_NEAR(written[nSample], row.dTarget, 1.5) << "frame " << row.nFrame;
        }
    }
    EXPECT_EQ(nSample, written.size());
}

// With --input-rate auto the picking follows the stream's own rate, so that inputs of any rate
// come out about four times shorter; the output stays at 29.97 frames a second. The margin
// covers the frames after the last complete window and one output frame.
TEST_F(BatchEndToEndTest, AnyInputRateComesOutAQuarterOfItsDuration) {
    struct Case {
        int nRate;
        const char* pszInput;
        const char* pszEncoding;
        const char* pszOutput;
    };
    for (const Case& c : {Case{15, "rate15.wmv", "-c:v wmv2 -q:v 2 -f asf", "quarter15.mp4"},
                          Case{25, "rate25.mkv", "-c:v libx264 -qp 10", "quarter25.mkv"},
                          Case{60, "rate60.mp4", "-c:v libx264 -qp 10", "quarter60.webm"}}) {
        const std::string strRate = std::to_string(c.nRate);
        ASSERT_TRUE(batchtest::MakeClip("-f lavfi -i 'color=c=black:size=160x120:rate=" + strRate +
                                            ":duration=6,format=gbrp,geq=r=" + kLevelExpression +
                                            ":g=" + kLevelExpression + ":b=" + kLevelExpression +
                                            "' -pix_fmt yuv420p " + c.pszEncoding,
                                        *s_pDir / c.pszInput));
        const batchtest::ProcessResult run =
            Run({"--brightness", "160.3", "--input-rate", "auto", c.pszInput, c.pszOutput});
        ASSERT_EQ(run.nExitStatus, 0) << run.strErr;
        EXPECT_NE(run.strOut.find("input rate         " + strRate + ".000 fps (from the input)"),
                  std::string::npos)
            << run.strOut;
        const size_t nFrames =
            batchtest::Split(Probe("-show_entries packet=pts -of csv=p=0", c.pszOutput)).size();
        EXPECT_NEAR(static_cast<double>(nFrames) / 29.97, 6.0 / 4.0, 0.15) << c.pszInput;
    }
}
