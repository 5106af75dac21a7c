// varnel-batch as a process: usage errors and inputs or outputs it cannot use. Each failure is
// one line naming it with its status, and leaves no output behind.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "tests/batch/BatchTestSupport.h"

using batchtest::ProcessResult;
namespace fs = std::filesystem;

class BatchCommandTest : public ::testing::Test {
  protected:
    ProcessResult Batch(std::vector<std::string> args) {
        return batchtest::RunBatch(std::move(args), m_dir.Path());
    }

    // A small clip with video and audio as "in.wmv"; false without ffmpeg.
    bool MakeInput() {
        return batchtest::HaveFfmpeg() &&
               batchtest::MakeClip(
                   "-f lavfi -i testsrc=size=96x64:rate=30000/1001:duration=1 -f lavfi -i "
                   "sine=duration=1 -c:v wmv2 -c:a wmav2 -f asf",
                   m_dir / "in.wmv");
    }

    // A failed run: exit status 1 and one line on standard error holding every part.
    static void ExpectFailure(const ProcessResult& result, std::vector<std::string> parts) {
        EXPECT_EQ(result.nExitStatus, 1);
        EXPECT_EQ(batchtest::Split(result.strErr).size(), 1u) << result.strErr;
        for (const std::string& part : parts) {
            EXPECT_NE(result.strErr.find(part), std::string::npos)
                << part << " in " << result.strErr;
        }
    }

    batchtest::CTempDir m_dir;
};

TEST_F(BatchCommandTest, UsageErrorsExitWithTwoAndSayWhy) {
    struct Case {
        std::vector<std::string> args;
        const char* reason;  // a part of the message
    };
    std::vector<Case> cases = {{{}, "INPUT"},
                               {{"--speed", "4", "in.wmv", "out.wmv"}, "--speed"},
                               {{"in.wmv", "out.wmv", "extra.wmv"}, ""},
                               {{"in.wmv", "out.wmv", "--report"}, ""},
                               {{"--report", "same.wmv", "in.wmv", "./same.wmv"}, ""},
                               {{"--plot", "curves.pdf", "in.wmv", "out.wmv"}, ".svg or .png"},
                               {{"--plot", "same.svg", "in.wmv", "./same.svg"}, "plot"}};
    // A figure that is not a number.
    for (const char* pszValue : {"bright", "nan", "inf", "12abc", ""}) {
        cases.push_back({{"--brightness", pszValue, "in.wmv", "out.wmv"}, ""});
    }
    // A smoothing span that is no number, not above 0, or absurdly long.
    for (const char* pszValue : {"=0", "=-1", "=abc", "=", "=nan", "=inf", "=61", "=1e9"}) {
        cases.push_back({{std::string("--deflicker") + pszValue, "in.wmv", "out.wmv"}, "SECONDS"});
    }
    for (const Case& c : cases) {
        const ProcessResult result = Batch(c.args);
        EXPECT_EQ(result.nExitStatus, 2) << result.strErr;
        EXPECT_NE(result.strErr.find(c.reason), std::string::npos) << result.strErr;
        EXPECT_FALSE(result.strErr.empty());
        EXPECT_TRUE(result.strOut.empty()) << result.strOut;
    }
}

TEST_F(BatchCommandTest, HelpAndVersionSucceed) {
    const ProcessResult help = Batch({"--help"});
    EXPECT_EQ(help.nExitStatus, 0);
    for (const char* pszOption :
         {"--brightness", "--min-pixval", "--dark-factor", "--manipulate", "--mark-crossings",
          "--deflicker[=SECONDS]", "--report", "--plot", "--quiet", "--version"}) {
        EXPECT_NE(help.strOut.find(pszOption), std::string::npos) << pszOption;
    }
    const ProcessResult version = Batch({"--version"});
    EXPECT_EQ(version.nExitStatus, 0);
    EXPECT_EQ(version.strOut.rfind("varnel-batch ", 0), 0u) << version.strOut;
}

TEST_F(BatchCommandTest, MissingInputFailsWithItsStatusAndLeavesAnExistingOutputAsItWas) {
    batchtest::WriteFile(m_dir / "out.wmv", "previous");
    ExpectFailure(Batch({"no-such-input.wmv", "out.wmv"}),
                  {"could not open input \"no-such-input.wmv\"", "0xC00D001A"});
    EXPECT_EQ(batchtest::ReadFile(m_dir / "out.wmv"), "previous");
}

TEST_F(BatchCommandTest, FileThatIsNoMediaFailsToOpen) {
    batchtest::WriteFile(m_dir / "text.wmv", "not a video");
    ExpectFailure(Batch({"text.wmv", "out.wmv"}), {"could not open input", "(0x"});
    EXPECT_FALSE(fs::exists(m_dir / "out.wmv"));
}

TEST_F(BatchCommandTest, AudioOnlyInputHasNoVideoStream) {
    const std::string strInput =
        std::string(VARNEL_TESTDATA_DIR) + "/e09_audio-only_wma2_ringtone_9s.wma";
    if (!fs::exists(strInput)) GTEST_SKIP() << "test data absent: " << strInput;
    ExpectFailure(Batch({strInput, "out.wmv"}), {"has no video stream", "(0x"});
    EXPECT_FALSE(fs::exists(m_dir / "out.wmv"));
}

TEST_F(BatchCommandTest, OutputFolderThatDoesNotExistFailsBeforeReading) {
    if (!MakeInput()) GTEST_SKIP() << "the ffmpeg command is not available";
    ExpectFailure(Batch({"--report", "report.csv", "in.wmv", "missing/out.wmv"}),
                  {"could not write output \"missing/out.wmv\"", "0xC00D001A"});
    EXPECT_FALSE(fs::exists(m_dir / "missing"));
    EXPECT_FALSE(fs::exists(m_dir / "report.csv"));
}

// Failures that used to pass for success or hide their cause.
TEST_F(BatchCommandTest, FailuresNameTheFileAndTheCause) {
    if (!MakeInput()) GTEST_SKIP() << "the ffmpeg command is not available";
    // The header alone: the input opens, but not one frame comes out of it.
    const std::string strClip = batchtest::ReadFile(m_dir / "in.wmv");
    uint64_t nHeader = 0;
    std::memcpy(&nHeader, strClip.data() + 16, sizeof nHeader);
    ASSERT_LT(nHeader + 50, strClip.size());
    batchtest::WriteFile(m_dir / "header.wmv", strClip.substr(0, nHeader + 50));
    ExpectFailure(Batch({"header.wmv", "out.wmv"}),
                  {"no frame of input \"header.wmv\" could be decoded", "0xC00D0BB8"});
    EXPECT_FALSE(fs::exists(m_dir / "out.wmv"));

    // A header that claims 16000x16000 in a small file is refused before anything is decoded.
    std::string strHuge = strClip;
    const std::string strSize("\x60\x00\x00\x00\x40\x00\x00\x00", 8);  // 96x64
    const std::string strClaim("\x80\x3E\x00\x00\x80\x3E\x00\x00", 8);
    for (size_t at = strHuge.find(strSize); at != std::string::npos && at < nHeader;
         at = strHuge.find(strSize, at + 8)) {
        strHuge.replace(at, 8, strClaim);
    }
    batchtest::WriteFile(m_dir / "huge.wmv", strHuge);
    ExpectFailure(Batch({"huge.wmv", "out.wmv"}),
                  {"could not open input \"huge.wmv\"", "0xC00D0BB8"});

    const std::string strLong(300, 'n');
    ExpectFailure(Batch({"in.wmv", strLong + ".wmv"}),
                  {"could not write output \"" + strLong, "file name too long (0x800700CE)"});
    ExpectFailure(Batch({"--report", strLong + ".csv", "in.wmv", "out.wmv"}),
                  {"could not write report \"" + strLong, "file name too long (0x800700CE)"});
    EXPECT_FALSE(fs::exists(m_dir / "out.wmv"));
}

TEST_F(BatchCommandTest, OutputThatIsTheInputIsRefusedAndTheInputKept) {
    if (!MakeInput()) GTEST_SKIP() << "the ffmpeg command is not available";
    const std::string strBefore = batchtest::ReadFile(m_dir / "in.wmv");
    ExpectFailure(Batch({"in.wmv", "./in.wmv"}), {"0x80070020"});
    EXPECT_EQ(batchtest::ReadFile(m_dir / "in.wmv"), strBefore);
}

TEST_F(BatchCommandTest, ReportInAMissingFolderFailsAndWritesNoOutput) {
    if (!MakeInput()) GTEST_SKIP() << "the ffmpeg command is not available";
    ExpectFailure(Batch({"--report", "nowhere/report.csv", "in.wmv", "out.wmv"}),
                  {"could not write report"});
    EXPECT_FALSE(fs::exists(m_dir / "out.wmv"));
}

TEST_F(BatchCommandTest, QuietRunPrintsNothingAndAPlainOneOnlyTheSummary) {
    if (!MakeInput()) GTEST_SKIP() << "the ffmpeg command is not available";
    const ProcessResult quiet = Batch({"--quiet", "in.wmv", "out.wmv"});
    EXPECT_EQ(quiet.nExitStatus, 0) << quiet.strErr;
    EXPECT_TRUE(quiet.strOut.empty()) << quiet.strOut;
    EXPECT_TRUE(quiet.strErr.empty()) << quiet.strErr;
    EXPECT_TRUE(fs::exists(m_dir / "out.wmv"));
    // The dialog's derivation leaves the input's profile in the working directory; no hidden
    // temporaries stay behind.
    EXPECT_TRUE(fs::exists(m_dir / "lastprofile.xml"));
    for (const std::string& strName : batchtest::DirEntries(m_dir.Path())) {
        EXPECT_NE(strName.front(), '.') << strName;
    }

    const ProcessResult plain = Batch({"in.wmv", "out.wmv"});
    EXPECT_EQ(plain.nExitStatus, 0) << plain.strErr;
    for (const char* pszLabel : {"frames read", "pictures picked", "samples written",
                                 "output duration", "wall time", "frames per second"}) {
        EXPECT_NE(plain.strOut.find(pszLabel), std::string::npos) << pszLabel;
    }
    // Not a terminal: no progress bar.
    EXPECT_TRUE(plain.strErr.empty()) << plain.strErr;
}

// Ctrl-C ends the run cleanly; SIGKILL (or a crash) gives it no chance to clean up, and still
// nothing is left beside the input: the output and the report have no name until committed.
TEST_F(BatchCommandTest, StoppedRunLeavesNoOutputAndNoStrayFile) {
    if (!batchtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command is not available";
    ASSERT_TRUE(batchtest::MakeClip(
        "-f lavfi -i testsrc=size=320x240:rate=30000/1001:duration=60 -c:v wmv2 -f asf",
        m_dir / "long.wmv"));
    for (const int nSignal : {SIGINT, SIGKILL}) {
        SCOPED_TRACE(nSignal);
        fs::remove(m_dir / "lastprofile.xml");
        batchtest::CTempDir capture;
        const int nPid = batchtest::StartProcess(
            {batchtest::kBatch, "--report", "report.csv", "long.wmv", "out.wmv"}, m_dir.Path(),
            capture / "stdout", capture / "stderr");
        ASSERT_GT(nPid, 0);
        // The input's profile is saved once it is open; frames are read and written after that.
        int nStatus = batchtest::kStillRunning;
        while (nStatus == batchtest::kStillRunning && !fs::exists(m_dir / "lastprofile.xml")) {
            usleep(1000);
            nStatus = batchtest::WaitProcess(nPid, true);
        }
        usleep(200000);
        if (nStatus == batchtest::kStillRunning) {
            kill(nPid, nSignal);
            nStatus = batchtest::WaitProcess(nPid);
        }
        if (nStatus == 0) GTEST_SKIP() << "the run ended before the signal reached it";
        EXPECT_EQ(nStatus, 128 + nSignal) << batchtest::ReadFile(capture / "stderr");
        if (nSignal == SIGINT) {
            EXPECT_NE(batchtest::ReadFile(capture / "stderr").find("interrupted"),
                      std::string::npos);
        }
        EXPECT_EQ(batchtest::DirEntries(m_dir.Path()),
                  (std::vector<std::string>{"lastprofile.xml", "long.wmv"}));
    }
}
