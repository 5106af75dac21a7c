// SPDX-License-Identifier: GPL-3.0-or-later
// varnel-batch over many inputs (--output-dir): the names of each input's files, the single runs'
// command lines, and whole runs with a bad input among good ones, again with --skip-existing, and
// stopped by Ctrl-C.
#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "batch/BatchJobs.h"
#include "platform/wmf/ThreadBudget.h"
#include "tests/batch/BatchTestSupport.h"

using namespace batchtest;
namespace fs = std::filesystem;

namespace {

int Parse(const std::vector<std::string>& args, BatchOptions* pOptions) {
    std::vector<const char*> argv = {"varnel-batch"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    std::ostringstream text;
    return ParseBatchOptions(static_cast<int>(argv.size()), argv.data(), pOptions, text, text);
}

}  // namespace

TEST(BatchJobsTest, EachInputGetsItsOwnNamesAndClashesAreUsageErrors) {
    CTempDir dir;
    fs::create_directories(dir / "card.2024");
    const std::pair<std::string, std::string> stems[] = {
        {"a/clip.mp4", "clip"},
        {"clip", "clip"},
        {"card/IMG_*.JPG", "IMG_"},
        {"card/*.JPG", "card"},
        {(dir / "card.2024").string(), "card.2024"},
        {(dir / "card.2024/").string(), "card.2024"}};
    for (const auto& [strInput, strStem] : stems) EXPECT_EQ(OutputStem(strInput), strStem);

    BatchOptions o;
    for (const char* pszLine :
         {"--jobs 2 in.mp4 out.mp4", "--output-dir d", "--output-dir d a/x.mp4 b/x.mov",
          "--output-dir d --format avi a", "--output-dir d --report r/.csv a",
          "--output-dir d --report .mp4 a", "--skip-existing a b", "a b c"}) {
        EXPECT_EQ(Parse(Split(pszLine, ' '), &o), kExitUsage) << pszLine;
    }
    ASSERT_EQ(Parse({"--output-dir", "d", "--format", "webm", "--report", "-r.csv", "--plot",
                     ".png", "a/one.mp4", "two"},
                    &o),
              -1);
    const std::vector<BatchJob> jobs = PlanJobs(o, nullptr);
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(std::tie(jobs[0].strInput, jobs[0].strOutput, jobs[0].strReport, jobs[0].strPlot),
              std::make_tuple("a/one.mp4", "d/one.webm", "d/one-r.csv", "d/one.png"));
}

// A single run's command line parses back to the figures and switches of the run of many.
TEST(BatchJobsTest, SingleRunArgumentsCarryEveryOption) {
    BatchOptions many;
    ASSERT_EQ(Parse(Split("--brightness 151.3 --min-pixval 52 --dark-factor 3.5 --manipulate "
                          "--mark-crossings --deflicker=7 --input-rate 29.97 --speedup 60 "
                          "--bitrate 2M --output-dir d --jobs 3 a.mp4",
                          ' '),
                    &many),
              -1);
    BatchOptions one;
    ASSERT_EQ(Parse(SingleRunArguments(many, {"-a.mp4", "d/a.mp4", "d/a.csv", ""}, 5), &one), -1);
    EXPECT_EQ(std::tie(one.strInput, one.strOutput, one.strReport, one.strPlot, one.nProgressFd),
              std::make_tuple("-a.mp4", "d/a.mp4", "d/a.csv", "", 5));
    EXPECT_EQ(std::tie(one.dBrightness, one.dMinPixval, one.dDarkFactor, one.dDeflicker,
                       one.dInputRate, one.dSpeedup, one.dwBitRate),
              std::tie(many.dBrightness, many.dMinPixval, many.dDarkFactor, many.dDeflicker,
                       many.dInputRate, many.dSpeedup, many.dwBitRate));
    EXPECT_TRUE(one.bManipulate && one.bMarkCrossings && one.bBitRate && one.bQuiet &&
                !one.bInputRateAuto && one.strOutputDir.empty());
    EXPECT_EQ(one.nThreads, std::max(1, wmf::ThreadBudget() / 3));  // a third of the cores
    many.bInputRateAuto = true;
    many.bBitRate = false;
    many.nQuality = 23;
    ASSERT_EQ(Parse(SingleRunArguments(many, {"a", "b", "", ""}, 3), &one), -1);
    EXPECT_TRUE(one.bInputRateAuto && !one.bBitRate && one.nQuality == 23);
}

TEST(BatchQueueTest, BadInputFailsAloneAndIsNamed) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command is not available";
    CTempDir dir;
    for (const char* pszName : {"one.mp4", "two.mkv", "three.wmv"}) {
        ASSERT_TRUE(
            MakeClip("-f lavfi -i testsrc=size=96x64:rate=30000/1001:duration=2", dir / pszName));
    }
    WriteFile(dir / "notes.txt", "not a video");
    const ProcessResult run = RunBatch(
        "--output-dir out --jobs 2 --report .csv one.mp4 notes.txt two.mkv three.wmv", dir.Path());
    EXPECT_EQ(run.nExitStatus, 1);
    EXPECT_NE(run.strErr.find("could not open input \"notes.txt\""), std::string::npos)
        << run.strErr;
    EXPECT_NE(run.strErr.find("1 of 4 inputs failed: \"notes.txt\""), std::string::npos);
    EXPECT_EQ(DirEntries(dir / "out"),
              (std::vector<std::string>{"one.csv", "one.mp4", "three.csv", "three.mp4", "two.csv",
                                        "two.mp4"}));
    const std::vector<std::string> table = Split(run.strOut);
    ASSERT_EQ(table.size(), 6u) << run.strOut;
    EXPECT_EQ(table[2].rfind("notes.txt  failed", 0), 0u) << table[2];
    EXPECT_EQ(table[5].rfind("total: 4 inputs, 3 done, 1 failed, 0 skipped", 0), 0u) << table[5];

    const ProcessResult again =
        RunBatch("--output-dir out --skip-existing --quiet one.mp4 two.mkv", dir.Path());
    EXPECT_EQ(again.nExitStatus, 0) << again.strErr;
    EXPECT_EQ(again.strOut + again.strErr, "");
}

// Ctrl-C reaches every child: each removes what it staged, and no other input starts.
TEST(BatchQueueTest, InterruptStopsEveryJobAndLeavesNoFile) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command is not available";
    CTempDir dir;
    ASSERT_TRUE(
        MakeClip("-f lavfi -i testsrc=size=320x240:rate=30000/1001:duration=60 -c:v wmv2 -f asf",
                 dir / "long.wmv"));
    fs::copy_file(dir / "long.wmv", dir / "long2.wmv");
    fs::copy_file(dir / "long.wmv", dir / "long3.wmv");
    CTempDir capture;
    const int nPid =
        StartBatch({"--output-dir", "out", "--jobs", "2", "long.wmv", "long2.wmv", "long3.wmv"},
                   dir.Path(), capture / "stdout", capture / "stderr");
    ASSERT_GT(nPid, 0);
    int nStatus = kStillRunning;
    while (nStatus == kStillRunning && !fs::exists(dir / "lastprofile.xml")) {
        usleep(1000);
        nStatus = WaitProcess(nPid, true);
    }
    usleep(300000);
    if (nStatus != kStillRunning) GTEST_SKIP() << "the run ended before the signal reached it";
    kill(nPid, SIGINT);
    EXPECT_EQ(WaitProcess(nPid), 128 + SIGINT) << ReadFile(capture / "stderr");
    EXPECT_EQ(DirEntries(dir / "out"), std::vector<std::string>{});
    EXPECT_NE(ReadFile(capture / "stdout").find("long3.wmv  not started"), std::string::npos);
}
