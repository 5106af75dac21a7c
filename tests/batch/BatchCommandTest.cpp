// SPDX-License-Identifier: GPL-3.0-or-later
// varnel-batch on command lines it cannot use, on inputs and outputs it cannot use, and stopped
// by a signal: a usage error exits with 2; any other failure exits with 1 on a message naming
// the file and the status, and leaves every file as it was.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "batch/BatchOptions.h"
#include "batch/BatchRun.h"
#include "tests/batch/BatchTestSupport.h"

using namespace batchtest;
namespace fs = std::filesystem;

namespace {

// The parse of a command line split at each space (two spaces give an empty argument): -1 when
// the run may go ahead, else the status to exit with.
int Parse(const std::string& strLine, BatchOptions* pOptions) {
    const std::vector<std::string> args = Split("varnel-batch " + strLine, ' ');
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    std::ostringstream text;
    return ParseBatchOptions(static_cast<int>(argv.size()), argv.data(), pOptions, text, text);
}

// What main does with a command line, in this process: the parse, then the run.
int StatusOf(const std::string& strLine) {
    BatchOptions options;
    const int nParse = Parse(strLine, &options);
    if (nParse >= 0) return nParse;
    std::FILE* pNull = std::fopen("/dev/null", "w");
    const volatile std::sig_atomic_t nNoSignal = 0;
    const int nStatus = CBatchRun(options, pNull, pNull, &nNoSignal).Run();
    std::fclose(pNull);
    return nStatus;
}

// The names and contents of the files in a folder, but for the profile that every open writes.
std::map<std::string, std::string> Contents(const fs::path& dir) {
    std::map<std::string, std::string> contents;
    for (const std::string& strName : DirEntries(dir)) {
        if (strName != "lastprofile.xml") contents[strName] = ReadFile(dir / strName);
    }
    return contents;
}

}  // namespace

TEST(BatchUsageTest, CommandLinesItCannotUseExitWithTwo) {
    for (const char* pszLine : {"",
                                "in.wmv out.wmv extra.wmv",
                                "in.wmv out.wmv --report",
                                "--speed 4 in.wmv out.wmv",
                                "--report same.wmv in.wmv ./same.wmv",
                                "--plot same.svg in.wmv ./same.svg",
                                "--plot r.png --report r.png in.wmv out.wmv",
                                "--plot curves.pdf in.wmv out.wmv",
                                "--brightness nan in.wmv out.wmv",
                                "--brightness 12abc in.wmv out.wmv",
                                "--brightness  in.wmv out.wmv",
                                "--deflicker=0 in.wmv out.wmv",
                                "--deflicker= in.wmv out.wmv",
                                "--deflicker=61 in.wmv out.wmv",
                                "--input-rate 0 in.wmv out.wmv",
                                "--input-rate 241 in.wmv out.wmv",
                                "--input-rate 30fps in.wmv out.wmv",
                                "--crf 64 in.wmv out.wmv",
                                "--bitrate 999 in.wmv out.wmv",
                                "--bitrate 1G in.wmv out.wmv",
                                "--speedup 0.5 in.wmv out.wmv",
                                "--speedup 1001 in.wmv out.wmv"}) {
        EXPECT_EQ(StatusOf(pszLine), kExitUsage) << pszLine;
    }
    // The program itself ends with the parse's status: both ways of setting the quality at once.
    CTempDir dir;
    EXPECT_EQ(RunBatch("--crf 20 --bitrate 1M in.wmv out.wmv", dir.Path()).nExitStatus, kExitUsage);
    EXPECT_EQ(RunBatch("--help", dir.Path()).nExitStatus, 0);
}

// Every figure distinct, so that an option bound to the wrong field shows.
TEST(BatchUsageTest, EachOptionReachesItsOwnField) {
    BatchOptions o;
    ASSERT_EQ(Parse("--brightness 151 --min-pixval 52 --dark-factor 3.5 --manipulate "
                    "--mark-crossings --deflicker=7 --report r.csv --plot p.png --quiet "
                    "--input-rate 25 --bitrate 2M --speedup 60 in.wmv out.mkv",
                    &o),
              -1);
    EXPECT_EQ(std::tie(o.strInput, o.strOutput, o.strReport, o.strPlot),
              std::make_tuple("in.wmv", "out.mkv", "r.csv", "p.png"));
    EXPECT_EQ(std::tie(o.dBrightness, o.dMinPixval, o.dDarkFactor, o.dDeflicker, o.dInputRate,
                       o.dSpeedup),
              std::make_tuple(151.0, 52.0, 3.5, 7.0, 25.0, 60.0));
    EXPECT_TRUE(o.bManipulate && o.bMarkCrossings && o.bQuiet && o.bBitRate && !o.bInputRateAuto);
    EXPECT_EQ(std::make_pair(o.dwBitRate, o.nQuality), std::make_pair(2000000u, -1));
    ASSERT_EQ(Parse("--crf 23 --input-rate auto a b", &o), -1);
    EXPECT_TRUE(o.nQuality == 23 && !o.bBitRate && o.bInputRateAuto && !o.bManipulate);
}

TEST(BatchFailureTest, FailuresNameTheFileAndTheCauseAndLeaveEveryFileAsItWas) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command is not available";
    CTempDir dir;
    const std::string strVideo = "-f lavfi -i testsrc=size=96x64:rate=30000/1001 -c:v wmv2 -f asf";
    ASSERT_TRUE(MakeClip(strVideo + " -frames:v 30", dir / "in.wmv"));
    ASSERT_TRUE(MakeClip(strVideo + " -frames:v 4", dir / "short.wmv"));
    ASSERT_TRUE(MakeClip("-f lavfi -i sine=duration=1 -c:a wmav2 -f asf", dir / "audio.wma"));
    WriteFile(dir / "out.wmv", "previous");
    // The header object alone: it opens, but holds no frame.
    const std::string strClip = ReadFile(dir / "in.wmv");
    uint64_t nHeader = 0;
    std::memcpy(&nHeader, strClip.data() + 16, sizeof nHeader);
    ASSERT_LT(nHeader + 50, strClip.size());
    WriteFile(dir / "header.wmv", strClip.substr(0, nHeader + 50));
    const std::string strLong(300, 'n');

    // The command line (split at spaces), what failed, and the status.
    const std::string cases[][3] = {
        {"missing.wmv out.wmv", "could not open input \"missing.wmv\"", "0xC00D001A"},
        // Control characters in a name are shown as escapes, never sent to the terminal.
        {"mis\x1b[2Js\ning.wmv out.wmv", "input \"mis\\033[2Js\\ning.wmv\"", "0xC00D001A"},
        {"audio.wma out.wmv", "input \"audio.wma\" has no video stream", "0xC00D003C"},
        {"header.wmv out.wmv", "no frame of input \"header.wmv\" could be decoded", "0xC00D0BB8"},
        {"short.wmv out.wmv", "input \"short.wmv\" is too short to pick a frame from", "(4 frames"},
        {"in.wmv " + strLong + ".wmv", "could not write output \"" + strLong,
         "too long (0x800700CE)"},
        {"--report " + strLong + ".csv in.wmv out.wmv", "could not write report \"" + strLong,
         "too long (0x800700CE)"},
        {"in.wmv missing/out.wmv", "could not write output \"missing/out.wmv\"", "0xC00D001A"},
        {"--plot missing/p.svg in.wmv out.wmv", "could not write plot \"missing/p.svg\"",
         "0xC00D001A"},
        // The open input is not overwritten.
        {"in.wmv ./in.wmv", "could not write output \"./in.wmv\"", "0x80070020"}};
    const std::map<std::string, std::string> before = Contents(dir.Path());
    for (const auto& [strLine, strWhat, strStatus] : cases) {
        SCOPED_TRACE(strLine);
        const ProcessResult run = RunBatch(strLine, dir.Path());
        EXPECT_EQ(run.nExitStatus, 1);
        EXPECT_EQ(run.strOut, "");
        EXPECT_NE(run.strErr.find(strWhat), std::string::npos) << run.strErr;
        EXPECT_NE(run.strErr.find(strStatus), std::string::npos) << run.strErr;
        EXPECT_EQ(std::count(run.strErr.begin(), run.strErr.end(), '\n'), 1) << run.strErr;
        EXPECT_TRUE(Contents(dir.Path()) == before);
    }
    // A summary that cannot be written fails the run, though the output is in place by then.
    CTempDir capture;
    const int nPid = StartBatch({"in.wmv", "full.wmv"}, dir.Path(), "/dev/full", capture / "err");
    EXPECT_EQ(WaitProcess(nPid), 1);
    EXPECT_NE(ReadFile(capture / "err").find("could not write the summary: disk full (0x80070070)"),
              std::string::npos)
        << ReadFile(capture / "err");
}

// Ctrl-C ends the run cleanly; SIGKILL (or a crash) gives it no chance to clean up, and still
// nothing is left beside the input: the output and the report have no name until committed.
TEST(BatchInterruptTest, StoppedRunLeavesNoOutputAndNoStrayFile) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command is not available";
    CTempDir dir;
    ASSERT_TRUE(
        MakeClip("-f lavfi -i testsrc=size=320x240:rate=30000/1001:duration=60 -c:v wmv2 -f asf",
                 dir / "long.wmv"));
    for (const int nSignal : {SIGINT, SIGKILL}) {
        SCOPED_TRACE(nSignal);
        fs::remove(dir / "lastprofile.xml");
        CTempDir capture;
        const int nPid = StartBatch({"--report", "report.csv", "long.wmv", "out.wmv"}, dir.Path(),
                                    capture / "stdout", capture / "stderr");
        ASSERT_GT(nPid, 0);
        // The input's profile is saved once it is open; frames are read and written after that.
        int nStatus = kStillRunning;
        while (nStatus == kStillRunning && !fs::exists(dir / "lastprofile.xml")) {
            usleep(1000);
            nStatus = WaitProcess(nPid, true);
        }
        usleep(200000);
        if (nStatus == kStillRunning) {
            kill(nPid, nSignal);
            nStatus = WaitProcess(nPid);
        }
        if (nStatus == 0) GTEST_SKIP() << "the run ended before the signal reached it";
        EXPECT_EQ(nStatus, 128 + nSignal) << ReadFile(capture / "stderr");
        EXPECT_EQ(DirEntries(dir.Path()),
                  (std::vector<std::string>{"lastprofile.xml", "long.wmv"}));
    }
}
