// varnel-batch on command lines it cannot use, on inputs and outputs it cannot use, and stopped
// by a signal: a usage error exits with 2; any other failure exits with 1 on a message naming
// the file and the status, and leaves every file as it was.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
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

// The parse of a command line: -1 to go ahead with *pOptions, else the exit status.
int Parse(std::vector<std::string> args, BatchOptions* pOptions) {
    args.insert(args.begin(), "varnel-batch");
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    std::ostringstream text;
    return ParseBatchOptions(static_cast<int>(argv.size()), argv.data(), pOptions, text, text);
}

// What main does with a command line, in this process: the parse, then the run.
int StatusOf(const std::vector<std::string>& args) {
    BatchOptions options;
    if (const int nStatus = Parse(args, &options); nStatus >= 0) return nStatus;
    std::FILE* pNull = std::fopen("/dev/null", "w");
    const volatile std::sig_atomic_t nNoSignal = 0;
    const int nStatus = CBatchRun(options, pNull, pNull, &nNoSignal).Run();
    std::fclose(pNull);
    return nStatus;
}

// The fields of the options of a command line that parses, in one line.
std::string Parsed(const std::vector<std::string>& args) {
    BatchOptions o;
    EXPECT_EQ(Parse(args, &o), -1);
    std::ostringstream text;
    text << o.strInput << ' ' << o.strOutput << ' ' << o.dBrightness << ' ' << o.dMinPixval << ' '
         << o.dDarkFactor << ' ' << o.bManipulate << o.bMarkCrossings << o.bQuiet << " '"
         << o.strReport << "' '" << o.strPlot << "' " << o.dDeflicker << ' ' << o.dInputRate
         << o.bInputRateAuto << ' ' << o.nQuality << ' ' << o.bBitRate << o.dwBitRate;
    return text.str();
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

TEST(BatchUsageTest, DefaultsAreTheDialogsStartValuesAndEveryOptionReachesItsField) {
    EXPECT_EQ(Parsed({"in.wmv", "out.wmv"}), "in.wmv out.wmv 160 100 10 000 '' '' 0 29.970 -1 00");
    EXPECT_EQ(
        Parsed({"--brightness", "120.5", "--min-pixval=40", "--dark-factor", "-2", "--manipulate",
                "--mark-crossings", "--report", "r.csv", "--plot", "p.svg", "--quiet",
                "--deflicker=2.5", "--input-rate", "59.94", "--crf", "30", "a.wmv", "b.wmv"}),
        "a.wmv b.wmv 120.5 40 -2 111 'r.csv' 'p.svg' 2.5 59.940 30 00");
    // Without a value the span is the default, and the next argument stays the input.
    EXPECT_EQ(Parsed({"--deflicker", "--input-rate", "auto", "--bitrate", "2.5M", "a", "b.mp4"}),
              "a b.mp4 160 100 10 000 '' '' 4 29.971 -1 12500000");
    EXPECT_EQ(Parsed({"--bitrate", "auto", "a", "b.mp4"}),
              "a b.mp4 160 100 10 000 '' '' 0 29.970 -1 10");
}

TEST(BatchUsageTest, CommandLinesItCannotUseExitWithTwo) {
    std::vector<std::vector<std::string>> cases = {
        {},
        {"in.wmv", "out.wmv", "extra.wmv"},
        {"in.wmv", "out.wmv", "--report"},
        {"--crf", "20", "--bitrate", "1M", "in.wmv", "out.wmv"},
        {"--report", "same.wmv", "in.wmv", "./same.wmv"},
        {"--plot", "same.svg", "in.wmv", "./same.svg"},
        {"--plot", "r.png", "--report", "r.png", "in.wmv", "out.wmv"}};
    // Each option with values it refuses; "=" joins the value to the option.
    const std::map<std::string, std::vector<std::string>> refused = {
        {"--brightness", {"bright", "nan", "inf", "12abc", ""}},
        {"--deflicker=", {"0", "-1", "abc", "", "nan", "inf", "61", "1e9"}},
        {"--input-rate", {"0", "241", "fast", "nan", "30fps"}},
        {"--crf", {"64", "-1", "x"}},
        {"--bitrate", {"999", "5000M", "1G", "fast"}},
        {"--plot", {"curves.pdf", "svg", "curves."}}};
    for (const auto& [strOption, values] : refused) {
        for (const std::string& strValue : values) {
            if (strOption.back() == '=') {
                cases.push_back({strOption + strValue, "in.wmv", "out.wmv"});
            } else {
                cases.push_back({strOption, strValue, "in.wmv", "out.wmv"});
            }
        }
    }
    for (const std::vector<std::string>& args : cases) {
        std::string strLine;
        for (const std::string& arg : args) strLine += "'" + arg + "' ";
        EXPECT_EQ(StatusOf(args), kExitUsage) << strLine;
    }
    // The program itself ends with the parse's status.
    CTempDir dir;
    const ProcessResult run = RunBatch({"--speed", "4", "in.wmv", "out.wmv"}, dir.Path());
    EXPECT_EQ(run.nExitStatus, kExitUsage);
    EXPECT_FALSE(run.strErr.empty());
    EXPECT_EQ(RunBatch({"--help"}, dir.Path()).nExitStatus, 0);
}

TEST(BatchFailureTest, FailuresNameTheFileAndTheCauseAndLeaveEveryFileAsItWas) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command is not available";
    CTempDir dir;
    ASSERT_TRUE(
        MakeClip("-f lavfi -i testsrc=size=96x64:rate=30000/1001:duration=1 -f lavfi -i "
                 "sine=duration=1 -c:v wmv2 -c:a wmav2 -f asf",
                 dir / "in.wmv"));
    ASSERT_TRUE(
        MakeClip("-f lavfi -i testsrc=size=96x64:rate=30000/1001 -frames:v 4 -c:v wmv2 "
                 "-f asf",
                 dir / "short.wmv"));
    ASSERT_TRUE(MakeClip("-f lavfi -i sine=duration=1 -c:a wmav2 -f asf", dir / "audio.wma"));
    WriteFile(dir / "text.wmv", "not a video");
    WriteFile(dir / "out.wmv", "previous");
    // The header object alone, then the whole clip with its packets garbled.
    const std::string strClip = ReadFile(dir / "in.wmv");
    uint64_t nHeader = 0;
    std::memcpy(&nHeader, strClip.data() + 16, sizeof nHeader);
    ASSERT_LT(nHeader + 114, strClip.size());
    WriteFile(dir / "header.wmv", strClip.substr(0, nHeader + 50));
    std::string strDamaged = strClip;
    for (size_t i = nHeader + 114; i < strDamaged.size(); ++i) strDamaged[i] ^= 0x5A;
    WriteFile(dir / "damaged.wmv", strDamaged);
    // A header that claims 16000x16000 pictures in a small file.
    std::string strHuge = strClip;
    const std::string strSize("\x60\x00\x00\x00\x40\x00\x00\x00", 8);  // 96x64
    for (size_t at = strHuge.find(strSize); at != std::string::npos && at < nHeader;
         at = strHuge.find(strSize, at + 8)) {
        strHuge.replace(at, 8, std::string("\x80\x3E\x00\x00\x80\x3E\x00\x00", 8));
    }
    WriteFile(dir / "huge.wmv", strHuge);
    const std::string strLong(300, 'n');

    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> parts;  // of the message
    };
    const Case cases[] = {
        {{"missing.wmv", "out.wmv"}, {"could not open input \"missing.wmv\"", "0xC00D001A"}},
        {{"text.wmv", "out.wmv"}, {"could not open input \"text.wmv\"", "0xC00D0BB8"}},
        {{"audio.wma", "out.wmv"}, {"input \"audio.wma\" has no video stream", "0xC00D003C"}},
        {{"header.wmv", "out.wmv"},
         {"no frame of input \"header.wmv\" could be decoded", "0xC00D0BB8"}},
        {{"damaged.wmv", "out.wmv"},
         {"no frame of input \"damaged.wmv\" could be decoded", "0xC00D0BB8"}},
        {{"huge.wmv", "out.wmv"}, {"could not open input \"huge.wmv\"", "0xC00D0BB8"}},
        {{"short.wmv", "out.wmv"},
         {"input \"short.wmv\" is too short to pick a frame from (4 frames read)", "0xC00D0BB8"}},
        {{"in.wmv", strLong + ".wmv"},
         {"could not write output \"" + strLong, "file name too long (0x800700CE)"}},
        {{"--report", strLong + ".csv", "in.wmv", "out.wmv"},
         {"could not write report \"" + strLong, "file name too long (0x800700CE)"}},
        {{"in.wmv", "missing/out.wmv"},
         {"could not write output \"missing/out.wmv\"", "0xC00D001A"}},
        {{"--report", "missing/r.csv", "in.wmv", "out.wmv"},
         {"could not write report \"missing/r.csv\"", "0xC00D001A"}},
        {{"--plot", "missing/p.svg", "in.wmv", "out.wmv"},
         {"could not write plot \"missing/p.svg\"", "0xC00D001A"}},
        // The open input is not overwritten.
        {{"in.wmv", "./in.wmv"}, {"could not write output \"./in.wmv\"", "0x80070020"}}};
    const std::map<std::string, std::string> before = Contents(dir.Path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[c.args.size() - 2]);
        const ProcessResult run = RunBatch(c.args, dir.Path());
        EXPECT_EQ(run.nExitStatus, 1);
        EXPECT_TRUE(run.strOut.empty()) << run.strOut;
        for (const std::string& strPart : c.parts) {
            EXPECT_NE(run.strErr.find(strPart), std::string::npos) << run.strErr;
        }
        EXPECT_TRUE(Contents(dir.Path()) == before);
    }
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
