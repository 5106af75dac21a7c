// CMediaReader over the fake runtime: opening, the frame counter and times, and who owns which
// sample.
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "common/LastError.h"
#include "media/MediaReader.h"
#include "tests/fakes/FakeRuntime.h"
#include "tests/support/TestStreams.h"

using varnel_test::TestAudio;
using varnel_test::TestVideo;

namespace {

constexpr LONG kWidth = 8;
constexpr LONG kHeight = 4;
constexpr size_t kFrameBytes = DibStride(kWidth) * kHeight;
constexpr QWORD kStep = 400000;  // 40 ms

class MediaReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Fake().Reset();
        g_lastErrorCode = S_OK;
        m_pReader = std::make_unique<CMediaReader>();
    }

    // Audio on stream 1 and video on stream 2: `frames` video frames 40 ms apart from 40 ms on.
    static void AddClip(const std::wstring& name, int frames) {
        Fake().AddInput(name, {TestAudio(1), TestVideo(2, kWidth, kHeight)},
                        FakeFrames(2, frames, kFrameBytes, kStep, kStep));
    }

    // One "Next >" step: advance, show the time, take the frame; returns the read status. The
    // sample goes to *ppSample, or is released when ppSample is null.
    HRESULT Step(INSSBuffer** ppSample = nullptr) {
        m_pReader->NextFrameNumber();
        m_pReader->GetFrameTime();
        INSSBuffer* pSample = nullptr;
        BITMAPINFOHEADER* pFormat = nullptr;
        const HRESULT hr = m_pReader->GetNextFrame(&pSample, &pFormat);
        if (ppSample != nullptr) *ppSample = pSample;
        if (ppSample == nullptr && pSample != nullptr) pSample->Release();
        return hr;
    }

    // Destroys the reader and checks that every reference came back exactly once.
    void ExpectEverythingReleased() {
        m_pReader.reset();
        EXPECT_EQ(Fake().LiveObjects(), 0);
        EXPECT_EQ(Fake().Faults(), std::vector<std::string>{});
    }

    std::unique_ptr<CMediaReader> m_pReader;
};

// Inputs that cannot be read: the open's status, then no frame and no runtime read, and nothing
// left alive once the reader is gone.
TEST_F(MediaReaderTest, FailedOpenReturnsItsStatusAndReadsNothing) {
    wmf::StreamDescription bare = TestVideo(1, kWidth, kHeight);
    bare.format.resize(sizeof(WMVIDEOINFOHEADER) - 1);
    const std::string kLong(1000, 'a');  // no room for the terminator
    const struct {
        const char* name;
        std::function<void()> script;
        HRESULT status;
    } cases[] = {
        {"missing.wmv", [] {}, NS_E_FILE_NOT_FOUND},
        {"audio.wma",
         [] {
             Fake().AddInput(L"audio.wma", {TestAudio(1)}, {{1, 0, kStep, {1}}});
         },
         NS_E_INVALID_STREAM},
        {"bare.wmv",
         [&] { Fake().AddInput(L"bare.wmv", {bare}, FakeFrames(1, 1, kFrameBytes, 0, kStep)); },
         NS_E_INVALID_INPUT_FORMAT},
        {"in.wmv", [] { Fake().FailAt("WMCreateSyncReader", E_OUTOFMEMORY); }, E_OUTOFMEMORY},
        // The open file is closed first.
        {kLong.c_str(), [this] { ASSERT_EQ(m_pReader->OpenByName("in.wmv"), S_OK); }, E_INVALIDARG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        SetUp();
        AddClip(L"in.wmv", 2);
        c.script();
        EXPECT_EQ(m_pReader->OpenByName(c.name), c.status);
        EXPECT_EQ(g_lastErrorCode, c.status);
        INSSBuffer* pSample = nullptr;
        EXPECT_EQ(Step(&pSample), NS_E_INVALID_REQUEST);
        EXPECT_EQ(pSample, nullptr);
        EXPECT_TRUE(Fake().Samples().empty());
        ExpectEverythingReleased();
    }
}

// The counter, times and estimate over a clip of 45 frames, and who owns which sample.
class FrameReadingTest : public MediaReaderTest {
  protected:
    void SetUp() override {
        MediaReaderTest::SetUp();
        AddClip(L"in.wmv", 45);
        ASSERT_EQ(m_pReader->OpenByName("in.wmv"), S_OK);
    }
};

TEST_F(FrameReadingTest, StepsReadOnceHandOutOneReferenceAndGoOnPastTheEnd) {
    EXPECT_EQ(m_pReader->GetVideoStreamNumber(), 2);
    // The header's duration, 1.84 s, over the stream's 333667 units a frame.
    EXPECT_EQ(m_pReader->GetExpectedFrameCount(), 55);
    // Frame 0 reads nothing; neither does a plain advance.
    INSSBuffer* pSample = nullptr;
    BITMAPINFOHEADER* pFormat = nullptr;
    EXPECT_EQ(m_pReader->GetNextFrame(&pSample, &pFormat), S_OK);
    EXPECT_EQ(pSample, nullptr);
    ASSERT_NE(pFormat, nullptr);
    EXPECT_EQ(std::tuple(pFormat->biWidth, pFormat->biHeight, pFormat->biBitCount),
              std::tuple(kWidth, kHeight, WORD{24}));
    EXPECT_EQ(m_pReader->NextFrameNumber(), 1);
    EXPECT_TRUE(Fake().Samples().empty());
    ASSERT_EQ(Step(&pSample), S_OK);
    // The counter is a label beside the stream: frame 2 is the stream's first sample.
    EXPECT_EQ(m_pReader->GetFrameNumber(), 2);
    EXPECT_DOUBLE_EQ(m_pReader->GetFrameTime(), 0.04);
    EXPECT_DOUBLE_EQ(m_pReader->GetFrameRate(), 25.0);
    EXPECT_DOUBLE_EQ(m_pReader->GetDuration(), 0.04);
    BYTE* pBytes = nullptr;
    pSample->GetBuffer(&pBytes);
    EXPECT_EQ(pBytes[0], 1);
    // Handing out the same sample again gives no second reference.
    INSSBuffer* pAgain = nullptr;
    EXPECT_EQ(m_pReader->GetNextFrame(&pAgain, &pFormat), S_OK);
    EXPECT_EQ(pAgain, pSample);
    EXPECT_EQ(CFakeRuntime::RefCount(pSample), 1u);
    pSample->Release();

    for (int i = 0; i < 100; ++i) EXPECT_EQ(Step(), i < 44 ? S_OK : NS_E_NO_MORE_SAMPLES) << i;
    EXPECT_EQ(g_lastErrorCode, NS_E_NO_MORE_SAMPLES);
    EXPECT_EQ(m_pReader->GetFrameNumber(), 102);
    EXPECT_EQ(Fake().Samples().size(), 45u);
    ExpectEverythingReleased();
}

TEST_F(FrameReadingTest, SampleReadButNeverHandedOutIsReleasedByTheReader) {
    // A read fails once; the frame-number box then reads the sample without taking it.
    Fake().FailAt("IWMSyncReader::GetNextSample", E_FAIL);
    Fake().FailAt("IWMSyncReader::GetNextSample", E_FAIL);
    EXPECT_EQ(Step(), E_FAIL);
    EXPECT_EQ(m_pReader->GetFrameNumber(), 1);
    ASSERT_EQ(Fake().Samples().size(), 1u);
    INSSBuffer* pUnclaimed = Fake().Samples()[0];
    EXPECT_EQ(CFakeRuntime::RefCount(pUnclaimed), 1u);

    INSSBuffer* pSample = nullptr;
    ASSERT_EQ(Step(&pSample), S_OK);
    EXPECT_NE(pSample, pUnclaimed);
    EXPECT_EQ(CFakeRuntime::RefCount(pUnclaimed), 0u);
    pSample->Release();

    // Reopening and destroying give back a sample read but never taken, too.
    m_pReader->NextFrameNumber();
    m_pReader->GetFrameTime();
    ASSERT_EQ(m_pReader->OpenByName("in.wmv"), S_OK);
    m_pReader->NextFrameNumber();
    m_pReader->GetFrameTime();
    ExpectEverythingReleased();
}

TEST_F(FrameReadingTest, ShortSampleIsRefusedAndTiesKeepTheRate) {
    const std::vector<BYTE> bytes(kFrameBytes);
    Fake().AddInput(L"odd.wmv", {TestVideo(1, kWidth, kHeight)},
                    {{1, 0, kStep, bytes},
                     {1, kStep, kStep, std::vector<BYTE>(kFrameBytes - 1)},
                     {1, kStep, kStep, bytes},
                     {1, kStep, kStep, bytes}});
    ASSERT_EQ(m_pReader->OpenByName("odd.wmv"), S_OK);
    // The first sample is at 0: no gap to divide by. The time's read of step 2 refuses the short
    // sample, and its frame's read takes the next; step 3's sample is at the same time.
    for (double dRate : {1.0, 25.0, 25.0}) {
        ASSERT_EQ(Step(), S_OK);
        EXPECT_DOUBLE_EQ(m_pReader->GetFrameRate(), dRate);
    }
    EXPECT_EQ(g_lastErrorCode, NS_E_INVALID_INPUT_FORMAT);
    ExpectEverythingReleased();
}

}  // namespace
