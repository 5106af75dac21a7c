// varnel-batch as a process: usage errors and inputs or outputs it cannot use. Each failure is
// one line naming it with its status, and leaves no output behind.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "tests/batch/BatchTestSupport.h"

using batchtest::CTempDir;
using batchtest::ProcessResult;

class BatchCommandTest : public ::testing::Test {
  protected:
    ProcessResult Batch(std::vector<std::string> args) {
        args.insert(args.begin(), batchtest::BatchExecutable());
        return batchtest::RunProcess(args, m_dir.Path());
    }

    // A small clip with video and audio, made once per test that needs it; empty without ffmpeg.
    std::string MakeClip(const std::string& strName) {
        if (!batchtest::HaveFfmpeg()) return {};
        const bool bMade = batchtest::MakeClip(
            "-f lavfi -i testsrc=size=96x64:rate=30000/1001:duration=1 -f lavfi -i sine=duration=1 "
            "-c:v wmv2 -c:a wmav2 -f asf",
            m_dir / strName);
        return bMade ? (m_dir / strName).string() : std::string();
    }

    static size_t LineCount(const std::string& strText) {
        return batchtest::SplitLines(strText).size();
    }

    CTempDir m_dir;
};

TEST_F(BatchCommandTest, UsageErrorsExitWithTwo) {
    const ProcessResult noArguments = Batch({});
    EXPECT_EQ(noArguments.nExitStatus, 2);
    EXPECT_NE(noArguments.strErr.find("INPUT"), std::string::npos) << noArguments.strErr;
    EXPECT_TRUE(noArguments.strOut.empty());
    const ProcessResult unknown = Batch({"--speed", "4", "in.wmv", "out.wmv"});
    EXPECT_EQ(unknown.nExitStatus, 2);
    EXPECT_NE(unknown.strErr.find("--speed"), std::string::npos) << unknown.strErr;
    EXPECT_EQ(Batch({"in.wmv", "out.wmv", "extra.wmv"}).nExitStatus, 2);
    EXPECT_EQ(Batch({"in.wmv", "out.wmv", "--report"}).nExitStatus, 2);
}

TEST_F(BatchCommandTest, FigureThatIsNotANumberIsAUsageError) {
    for (const char* pszValue : {"bright", "nan", "inf", "12abc", ""}) {
        const ProcessResult result = Batch({"--brightness", pszValue, "in.wmv", "out.wmv"});
        EXPECT_EQ(result.nExitStatus, 2) << pszValue;
    }
}

TEST_F(BatchCommandTest, HelpAndVersionSucceed) {
    const ProcessResult help = Batch({"--help"});
    EXPECT_EQ(help.nExitStatus, 0);
    for (const char* pszOption : {"--brightness", "--min-pixval", "--dark-factor", "--manipulate",
                                  "--mark-crossings", "--report", "--quiet", "--version"}) {
        EXPECT_NE(help.strOut.find(pszOption), std::string::npos) << pszOption;
    }
    const ProcessResult version = Batch({"--version"});
    EXPECT_EQ(version.nExitStatus, 0);
    EXPECT_EQ(version.strOut.rfind("varnel-batch ", 0), 0u) << version.strOut;
}

TEST_F(BatchCommandTest, MissingInputFailsWithItsStatus) {
    const ProcessResult result = Batch({"no-such-input.wmv", "out.wmv"});
    EXPECT_EQ(result.nExitStatus, 1);
    EXPECT_EQ(LineCount(result.strErr), 1u) << result.strErr;
    EXPECT_NE(result.strErr.find("could not open input \"no-such-input.wmv\""), std::string::npos)
        << result.strErr;
    EXPECT_NE(result.strErr.find("0xC00D001A"), std::string::npos) << result.strErr;
    EXPECT_FALSE(std::filesystem::exists(m_dir / "out.wmv"));
}

TEST_F(BatchCommandTest, FileThatIsNoMediaFailsToOpen) {
    batchtest::WriteFile(m_dir / "text.wmv", "not a video");
    const ProcessResult result = Batch({"text.wmv", "out.wmv"});
    EXPECT_EQ(result.nExitStatus, 1);
    EXPECT_NE(result.strErr.find("could not open input"), std::string::npos) << result.strErr;
    EXPECT_NE(result.strErr.find("(0x"), std::string::npos) << result.strErr;
    EXPECT_FALSE(std::filesystem::exists(m_dir / "out.wmv"));
}

TEST_F(BatchCommandTest, AudioOnlyInputHasNoVideoStream) {
    const std::string strInput =
        std::string(VARNEL_TESTDATA_DIR) + "/e09_audio-only_wma2_ringtone_9s.wma";
    if (!std::filesystem::exists(strInput)) GTEST_SKIP() << "test data absent: " << strInput;
    const ProcessResult result = Batch({strInput, "out.wmv"});
    EXPECT_EQ(result.nExitStatus, 1);
    EXPECT_EQ(LineCount(result.strErr), 1u) << result.strErr;
    EXPECT_NE(result.strErr.find("has no video stream"), std::string::npos) << result.strErr;
    EXPECT_NE(result.strErr.find("(0x"), std::string::npos) << result.strErr;
    EXPECT_FALSE(std::filesystem::exists(m_dir / "out.wmv"));
}

TEST_F(BatchCommandTest, OutputFolderThatDoesNotExistFailsBeforeReading) {
    const std::string strInput = MakeClip("in.wmv");
    if (strInput.empty()) GTEST_SKIP() << "the ffmpeg command is not available";
    const ProcessResult result = Batch({"--report", "report.csv", "in.wmv", "missing/out.wmv"});
    EXPECT_EQ(result.nExitStatus, 1);
    EXPECT_EQ(LineCount(result.strErr), 1u) << result.strErr;
    EXPECT_NE(result.strErr.find("could not write output \"missing/out.wmv\""), std::string::npos)
        << result.strErr;
    EXPECT_NE(result.strErr.find("0xC00D001A"), std::string::npos) << result.strErr;
    EXPECT_FALSE(std::filesystem::exists(m_dir / "missing"));
    EXPECT_FALSE(std::filesystem::exists(m_dir / "report.csv"));
}

TEST_F(BatchCommandTest, OutputThatIsTheInputIsRefusedAndTheInputKept) {
    const std::string strInput = MakeClip("in.wmv");
    if (strInput.empty()) GTEST_SKIP() << "the ffmpeg command is not available";
    const std::string strBefore = batchtest::ReadFile(strInput);
    const ProcessResult result = Batch({"in.wmv", "./in.wmv"});
    EXPECT_EQ(result.nExitStatus, 1);
    EXPECT_NE(result.strErr.find("0x80070020"), std::string::npos) << result.strErr;
    EXPECT_EQ(batchtest::ReadFile(strInput), strBefore);
}

TEST_F(BatchCommandTest, ReportThatIsTheOutputIsAUsageError) {
    const ProcessResult result = Batch({"--report", "same.wmv", "in.wmv", "./same.wmv"});
    EXPECT_EQ(result.nExitStatus, 2);
    EXPECT_FALSE(result.strErr.empty());
}

TEST_F(BatchCommandTest, ReportInAMissingFolderFailsAndWritesNoOutput) {
    const std::string strInput = MakeClip("in.wmv");
    if (strInput.empty()) GTEST_SKIP() << "the ffmpeg command is not available";
    const ProcessResult result = Batch({"--report", "nowhere/report.csv", "in.wmv", "out.wmv"});
    EXPECT_EQ(result.nExitStatus, 1);
    EXPECT_NE(result.strErr.find("could not write report"), std::string::npos) << result.strErr;
    EXPECT_FALSE(std::filesystem::exists(m_dir / "out.wmv"));
}

TEST_F(BatchCommandTest, FailedRunLeavesAnExistingOutputAsItWas) {
    batchtest::WriteFile(m_dir / "out.wmv", "previous");
    const ProcessResult result = Batch({"no-such-input.wmv", "out.wmv"});
    EXPECT_EQ(result.nExitStatus, 1);
    EXPECT_EQ(batchtest::ReadFile(m_dir / "out.wmv"), "previous");
}

TEST_F(BatchCommandTest, QuietRunPrintsNothingAndSucceeds) {
    const std::string strInput = MakeClip("in.wmv");
    if (strInput.empty()) GTEST_SKIP() << "the ffmpeg command is not available";
    const ProcessResult result = Batch({"--quiet", "in.wmv", "out.wmv"});
    EXPECT_EQ(result.nExitStatus, 0) << result.strErr;
    EXPECT_TRUE(result.strOut.empty()) << result.strOut;
    EXPECT_TRUE(result.strErr.empty()) << result.strErr;
    EXPECT_TRUE(std::filesystem::exists(m_dir / "out.wmv"));
    // The dialog's derivation leaves the input's profile in the working directory; no hidden
    // temporaries stay behind.
    EXPECT_TRUE(std::filesystem::exists(m_dir / "lastprofile.xml"));
    for (const std::string& strName : batchtest::DirEntries(m_dir.Path())) {
        EXPECT_NE(strName.front(), '.') << strName;
    }
}

TEST_F(BatchCommandTest, SummaryNamesEveryFigure) {
    const std::string strInput = MakeClip("in.wmv");
    if (strInput.empty()) GTEST_SKIP() << "the ffmpeg command is not available";
    const ProcessResult result = Batch({"in.wmv", "out.wmv"});
    EXPECT_EQ(result.nExitStatus, 0) << result.strErr;
    for (const char* pszLabel : {"frames read", "pictures picked", "samples written",
                                 "output duration", "wall time", "frames per second"}) {
        EXPECT_NE(result.strOut.find(pszLabel), std::string::npos) << pszLabel;
    }
    // Not a terminal: no progress bar.
    EXPECT_TRUE(result.strErr.empty()) << result.strErr;
}

TEST_F(BatchCommandTest, InterruptedRunLeavesNoOutput) {
    if (!batchtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command is not available";
    ASSERT_TRUE(batchtest::MakeClip(
        "-f lavfi -i testsrc=size=320x240:rate=30000/1001:duration=60 -c:v wmv2 -f asf",
        m_dir / "long.wmv"));
    CTempDir capture;
    const int nPid = batchtest::StartProcess(
        {batchtest::BatchExecutable(), "--report", "report.csv", "long.wmv", "out.wmv"},
        m_dir.Path(), capture / "stdout", capture / "stderr");
    ASSERT_GT(nPid, 0);
    // Wait until the run writes (hidden temporaries appear beside the output), then stop it.
    const auto isWriting = [this] {
        for (const std::string& strName : batchtest::DirEntries(m_dir.Path())) {
            if (strName.front() == '.') return true;
        }
        return false;
    };
    int nStatus = batchtest::kStillRunning;
    while (nStatus == batchtest::kStillRunning && !isWriting()) {
        usleep(1000);
        nStatus = batchtest::PollProcess(nPid);
    }
    if (nStatus == batchtest::kStillRunning) {
        kill(nPid, SIGINT);
        nStatus = batchtest::WaitProcess(nPid);
    }
    if (nStatus == 0) GTEST_SKIP() << "the run ended before the interrupt reached it";
    EXPECT_EQ(nStatus, 128 + SIGINT) << batchtest::ReadFile(capture / "stderr");
    EXPECT_NE(batchtest::ReadFile(capture / "stderr").find("interrupted"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "out.wmv"));
    EXPECT_FALSE(std::filesystem::exists(m_dir / "report.csv"));
    for (const std::string& strName : batchtest::DirEntries(m_dir.Path())) {
        EXPECT_NE(strName.front(), '.') << strName;
    }
}
