// The reader and the writer over the FFmpeg runtime layer, on clips made by the ffmpeg command.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/LastError.h"
#include "media/MediaReader.h"
#include "media/MediaWriter.h"
#include "tests/support/TestSupport.h"

using varnel_test::ProbeFrameCount;

namespace {

const char kClip[] = "-f lavfi -i testsrc=size=64x48:rate=25:duration=1 -c:v wmv2";

// How the output ends: finished at CloseOutput, or held and then committed or dropped, or the
// writer destroyed while still writing.
enum class End { Close, HoldCommit, HoldDiscard, Destroy, HoldDestroy };

struct ClipCase {
    const char* pszCase;
    const char* pszClip;  // ffmpeg arguments
    const char* pszInput;
    int nFrames;
    End end;
    int nWritten;  // frames ffprobe counts in out.wmv; -1: no out.wmv
};

void PrintTo(const ClipCase& c, std::ostream* pOut) { *pOut << c.pszCase; }

class MediaIntegrationTest : public ::testing::TestWithParam<ClipCase> {};

// Steps through the input as "Next >" does and writes every frame at 1/29.97 s steps; the file
// appears at its name only when finished, and a held output only when committed.
TEST_P(MediaIntegrationTest, ClipIsReadToItsEndAndWritten) {
    if (!varnel_test::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const ClipCase& c = GetParam();
    varnel_test::CScopedWorkingDir dir;
    ASSERT_TRUE(varnel_test::MakeClip(c.pszClip, c.pszInput));
    CMediaReader reader;
    auto pWriter = std::make_unique<CMediaWriter>();
    ASSERT_EQ(reader.OpenByName(c.pszInput), S_OK);
    ASSERT_EQ(pWriter->DeriveOutputProfile(reader.GetProfile()), S_OK);
    const bool bHold =
        c.end == End::HoldCommit || c.end == End::HoldDiscard || c.end == End::HoldDestroy;
    pWriter->HoldOutput(bHold);
    ASSERT_EQ(pWriter->OpenOutput("out.wmv"), S_OK);

    g_lastErrorCode = S_OK;
    int nRead = 0;
    for (HRESULT hr = S_OK; SUCCEEDED(hr);) {
        const int nFrame = reader.NextFrameNumber();
        const double dTime = reader.GetFrameTime();
        INSSBuffer* pSample = nullptr;
        BITMAPINFOHEADER* pFormat = nullptr;
        hr = reader.GetNextFrame(&pSample, &pFormat);
        if (FAILED(hr)) break;
        ++nRead;
        EXPECT_EQ(nFrame, nRead);
        EXPECT_NEAR(dTime, (nRead - 1) / 25.0, 0.0011);
        EXPECT_EQ(pWriter->WriteFrame(pSample, (nRead - 1) / 29.97), S_OK);
        pSample->Release();
    }
    EXPECT_EQ(g_lastErrorCode, NS_E_NO_MORE_SAMPLES);
    EXPECT_EQ(nRead, c.nFrames);

    if (c.end == End::Destroy || c.end == End::HoldDestroy) {
        pWriter.reset();
    } else {
        ASSERT_EQ(pWriter->CloseOutput(), S_OK);
        EXPECT_EQ(std::filesystem::exists("out.wmv"), !bHold);
        if (bHold) {
            EXPECT_EQ(pWriter->FinishHeldOutput(c.end == End::HoldCommit), S_OK);
        }
    }
    std::vector<std::string> expected = {c.pszInput, "lastprofile.xml"};
    if (c.nWritten >= 0) expected.push_back("out.wmv");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dir.Entries(), expected);
    if (c.nWritten >= 0) {
        EXPECT_EQ(ProbeFrameCount("out.wmv"), c.nWritten);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Clips, MediaIntegrationTest,
    ::testing::Values(
        ClipCase{"Closed", kClip, "in.wmv", 25, End::Close, 25},
        ClipCase{"HeldThenCommitted", kClip, "in.wmv", 25, End::HoldCommit, 25},
        ClipCase{"HeldThenDropped", kClip, "in.wmv", 25, End::HoldDiscard, -1},
        ClipCase{"DestroyedWhileWriting", kClip, "in.wmv", 25, End::Destroy, 25},
        ClipCase{"HeldAndDestroyedWhileWriting", kClip, "in.wmv", 25, End::HoldDestroy, -1},
        ClipCase{"OddSized", "-f lavfi -i testsrc=size=63x47:rate=25:duration=0.4 -c:v ffv1",
                 "odd.mkv", 10, End::Close, 10}),
    [](const ::testing::TestParamInfo<ClipCase>& info) { return info.param.pszCase; });

}  // namespace
