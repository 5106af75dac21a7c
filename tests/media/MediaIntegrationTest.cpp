// SPDX-License-Identifier: GPL-3.0-or-later
// The reader and the writer over the FFmpeg runtime layer, on clips made by the ffmpeg command.
#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "common/LastError.h"
#include "media/MediaReader.h"
#include "media/MediaWriter.h"
#include "tests/support/TestSupport.h"

namespace {

struct ClipCase {
    const char* pszCase;
    bool bHold;  // the output held until FinishHeldOutput
    // C CloseOutput (then commit when held), D CloseOutput and drop, X destroy the writer
    char end;
    bool bOdd = false;  // 10 frames of 63x47 pixels in FFV1 (else 25 of 64x48 in WMV2)
};

void PrintTo(const ClipCase& c, std::ostream* pOut) { *pOut << c.pszCase; }

class MediaIntegrationTest : public ::testing::TestWithParam<ClipCase> {};

// Steps through the input as "Next >" does and writes every frame at 1/29.97 s steps. The output
// appears at its name only when finished, a held one only when committed, and nothing is left
// behind otherwise.
TEST_P(MediaIntegrationTest, ClipIsReadToItsEndAndWritten) {
    if (!varnel_test::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const ClipCase& c = GetParam();
    varnel_test::CScopedWorkingDir dir;
    const char* pszInput = c.bOdd ? "odd.mkv" : "in.wmv";
    const int nFrames = c.bOdd ? 10 : 25;
    ASSERT_TRUE(varnel_test::MakeClip(
        c.bOdd ? "-f lavfi -i testsrc=size=63x47:rate=25:duration=0.4 -c:v ffv1"
               : "-f lavfi -i testsrc=size=64x48:rate=25:duration=1 -c:v wmv2",
        pszInput));
    CMediaReader reader;
    auto pWriter = std::make_unique<CMediaWriter>();
    ASSERT_EQ(reader.OpenByName(pszInput), S_OK);
    EXPECT_EQ(reader.GetExpectedFrameCount(), nFrames);  // the header's duration over the rate
    ASSERT_EQ(pWriter->DeriveOutputProfile(reader.GetProfile()), S_OK);
    pWriter->HoldOutput(c.bHold);
    ASSERT_EQ(pWriter->OpenOutput("out.wmv"), S_OK);

    int nRead = 0;
    for (;;) {
        const int nFrame = reader.NextFrameNumber();
        const double dTime = reader.GetFrameTime();
        INSSBuffer* pSample = nullptr;
        BITMAPINFOHEADER* pFormat = nullptr;
        if (FAILED(reader.GetNextFrame(&pSample, &pFormat))) break;
        EXPECT_EQ(nFrame, ++nRead);
        EXPECT_NEAR(dTime, (nRead - 1) / 25.0, 0.0011);
        EXPECT_EQ(pWriter->WriteFrame(pSample, (nRead - 1) / 29.97), S_OK);
        pSample->Release();
    }
    EXPECT_EQ(g_lastErrorCode, NS_E_NO_MORE_SAMPLES);
    EXPECT_EQ(nRead, nFrames);

    if (c.end == 'X') {
        pWriter.reset();
    } else {
        ASSERT_EQ(pWriter->CloseOutput(), S_OK);
        EXPECT_EQ(std::filesystem::exists("out.wmv"), !c.bHold);
        EXPECT_EQ(pWriter->FinishHeldOutput(c.end == 'C'), c.bHold ? S_OK : NS_E_INVALID_REQUEST);
    }
    const bool bKept = c.end == 'C' || (c.end == 'X' && !c.bHold);
    EXPECT_EQ(std::filesystem::exists("out.wmv"), bKept);
    EXPECT_EQ(dir.Entries().size(), bKept ? 3u : 2u);  // with the input and lastprofile.xml
    if (bKept) {
        EXPECT_EQ(varnel_test::ProbeFrameCount("out.wmv"), nFrames);
    }
}

INSTANTIATE_TEST_SUITE_P(Clips, MediaIntegrationTest,
                         ::testing::Values(ClipCase{"Closed", false, 'C'},
                                           ClipCase{"HeldThenCommitted", true, 'C'},
                                           ClipCase{"HeldThenDropped", true, 'D'},
                                           ClipCase{"DestroyedWhileWriting", false, 'X'},
                                           ClipCase{"HeldAndDestroyedWhileWriting", true, 'X'},
                                           ClipCase{"OddSized", false, 'C', true}),
                         [](const auto& info) { return info.param.pszCase; });

}  // namespace

// An output that ends with no frame is dropped: the file of its name stays byte for byte, and
// none is made where there was none, whether the writer ends it or is destroyed.
TEST(MediaIntegrationTest, OutputWithoutAFrameLeavesTheFileOfItsNameAsItWas) {
    if (!varnel_test::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    varnel_test::CScopedWorkingDir dir;
    ASSERT_TRUE(
        varnel_test::MakeClip("-f lavfi -i testsrc=size=64x48:rate=25:duration=0.2", "in.mkv"));
    CMediaReader reader;
    auto pWriter = std::make_unique<CMediaWriter>();
    ASSERT_EQ(reader.OpenByName("in.mkv"), S_OK);
    ASSERT_EQ(pWriter->DeriveOutputProfile(reader.GetProfile()), S_OK);
    varnel_test::WriteFile("kept.wmv", "precious");
    ASSERT_EQ(pWriter->OpenOutput("kept.wmv"), S_OK);
    EXPECT_EQ(pWriter->CloseOutput(), S_OK);
    EXPECT_EQ(varnel_test::ReadFile("kept.wmv"), "precious");
    ASSERT_EQ(pWriter->OpenOutput("new.wmv"), S_OK);
    pWriter.reset();
    EXPECT_FALSE(std::filesystem::exists("new.wmv"));
}
