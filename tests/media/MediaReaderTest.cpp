#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "media/MediaReader.h"
#include "tests/fakes/FakeRuntime.h"
#include "tests/media/ErrorLog.h"

namespace {

constexpr LONG kWidth = 8;
constexpr LONG kHeight = 4;
constexpr size_t kFrameBytes = DibStride(kWidth) * kHeight;
constexpr QWORD kStep = 400000;  // 40 ms

std::vector<std::string> Repeat(const std::string& text, int n) {
    return std::vector<std::string>(n, text);
}

}  // namespace

class MediaReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Fake().Reset();
        ClearRecordedErrors();
        m_pReader = std::make_unique<CMediaReader>();
    }

    // An input with audio on stream 1 and video on stream 2, `frames` video frames 40 ms apart
    // starting at 40 ms, audio samples between them.
    void AddClip(const std::wstring& name, int frames) {
        std::vector<FakeFrame> samples;
        for (const FakeFrame& video : FakeFrames(2, frames, kFrameBytes, kStep, kStep)) {
            samples.push_back(FakeFrame{1, video.time, kStep, 0, {7, 7}});
            samples.push_back(video);
        }
        Fake().AddInput(name, {FakeAudioStream(1), FakeVideoStream(2, kWidth, kHeight)}, samples);
    }

    // One "Next >" step: advance, show the time, take the frame. Returns the read status.
    HRESULT Step(INSSBuffer** ppSample, double* pdTime = nullptr) {
        m_pReader->NextFrameNumber();
        const double dTime = m_pReader->GetFrameTime();
        if (pdTime != nullptr) *pdTime = dTime;
        BITMAPINFOHEADER* pFormat = nullptr;
        return m_pReader->GetNextFrame(ppSample, &pFormat);
    }

    // Destroys the reader and checks that every reference came back exactly once.
    void ExpectEverythingReleased() {
        m_pReader.reset();
        EXPECT_EQ(Fake().LiveObjects(), 0);
        EXPECT_EQ(Fake().Faults(), std::vector<std::string>{});
    }

    std::unique_ptr<CMediaReader> m_pReader;
};

TEST_F(MediaReaderTest, OpenSelectsTheVideoStreamDecodedAndReadsNothingForFrameZero) {
    AddClip(L"in.wmv", 3);
    ASSERT_EQ(m_pReader->OpenByName("in.wmv"), S_OK);

    EXPECT_EQ(Fake().CallsTo("IWMSyncReader::"),
              (std::vector<std::string>{"IWMSyncReader::Open", "IWMSyncReader::QueryInterface",
                                        "IWMSyncReader::SetStreamsSelected",
                                        "IWMSyncReader::SetReadStreamSamples"}));
    EXPECT_EQ(m_pReader->GetVideoStreamNumber(), 2);
    EXPECT_EQ(m_pReader->GetFrameNumber(), 0);
    EXPECT_EQ(m_pReader->GetFrameTime(), 0.0);
    INSSBuffer* pSample = nullptr;
    BITMAPINFOHEADER* pFormat = nullptr;
    EXPECT_EQ(m_pReader->GetNextFrame(&pSample, &pFormat), S_OK);
    EXPECT_EQ(pSample, nullptr);
    ASSERT_NE(pFormat, nullptr);
    EXPECT_EQ(pFormat->biWidth, kWidth);
    EXPECT_EQ(pFormat->biHeight, kHeight);
    EXPECT_EQ(pFormat->biBitCount, 24);
    EXPECT_EQ(Fake().CountCalls("IWMSyncReader::GetNextSample"), 0);
    EXPECT_TRUE(RecordedErrors().empty());
    ExpectEverythingReleased();
}

TEST_F(MediaReaderTest, EveryOpenFailureRecordsItsMessagesWithTheInjectedStatus) {
    struct Case {
        const char* call;
        int nth;
        std::vector<std::string> messages;
    };
    const std::vector<Case> cases = {
        {"WMCreateSyncReader", 1, {"Could not create SyncReader"}},
        {"IWMSyncReader::Open", 1, {"Could not open input file"}},
        {"IWMSyncReader::QueryInterface", 1, {"Could not query interface for IWMProfile"}},
        {"IWMProfile::GetStreamCount",
         1,
         {"Could not get stream count", "Could not get stream numbers"}},
        {"IWMProfile::GetStream",
         1,
         {"Could not get an individual stream", "Could not get stream numbers"}},
        {"IWMStreamConfig::GetStreamType",
         2,
         {"Could not get an individual stream type", "Could not get stream numbers"}},
        {"IWMStreamConfig::GetStreamNumber",
         1,
         {"Could not get video stream number", "Could not get stream numbers"}},
        {"IWMStreamConfig::QueryInterface",
         1,
         {"Could not query interface for Media Properties", "Could not get stream numbers"}},
        {"IWMMediaProps::GetMediaType",
         1,
         {"Could not get media type length", "Could not get stream numbers"}},
        {"IWMMediaProps::GetMediaType",
         2,
         {"Could not get media type structure", "Could not get stream numbers"}},
        {"IWMSyncReader::SetStreamsSelected", 1, {"Could not select video stream"}},
        {"IWMSyncReader::SetReadStreamSamples", 1, {"Could not set compression of video stream"}},
    };
    HRESULT status = MakeStatus(0x80041000u);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " #" + std::to_string(c.nth));
        SetUp();
        AddClip(L"in.wmv", 2);
        status += 1;
        Fake().FailAt(c.call, c.nth, status);

        EXPECT_EQ(m_pReader->OpenByName("in.wmv"), status);
        std::vector<RecordedError> expected;
        for (const std::string& message : c.messages) expected.push_back({message, status});
        EXPECT_EQ(RecordedErrors(), expected);
        EXPECT_EQ(g_lastErrorCode, status);
        // Whatever the partly opened reader holds goes back when it is destroyed.
        ExpectEverythingReleased();
    }
}

TEST_F(MediaReaderTest, EmptyNameReachesTheRuntimeAsAnEmptyString) {
    AddClip(L"in.wmv", 1);
    EXPECT_EQ(m_pReader->OpenByName(""), NS_E_FILE_NOT_FOUND);
    EXPECT_EQ(RecordedErrors(),
              (std::vector<RecordedError>{{"Could not open input file", NS_E_FILE_NOT_FOUND}}));
}

TEST_F(MediaReaderTest, NameThatDoesNotFitClosesFirstThenFails) {
    AddClip(L"in.wmv", 1);
    ASSERT_EQ(m_pReader->OpenByName("in.wmv"), S_OK);

    EXPECT_EQ(m_pReader->OpenByName(std::string(1000, 'a').c_str()), E_INVALIDARG);
    EXPECT_EQ(Fake().CountCalls("IWMSyncReader::Close"), 1);
    EXPECT_EQ(Fake().CountCalls("IWMSyncReader::Open"), 1);
    EXPECT_EQ(m_pReader->GetProfile(), nullptr);
    EXPECT_EQ(RecordedErrors(),
              (std::vector<RecordedError>{{"Could not open input file", E_INVALIDARG}}));

    // 999 characters and the terminator fit and reach the runtime.
    const std::wstring longest(999, L'b');
    AddClip(longest, 1);
    EXPECT_EQ(m_pReader->OpenByName(std::string(999, 'b').c_str()), S_OK);
    ExpectEverythingReleased();
}

TEST_F(MediaReaderTest, NameBytesAboveAsciiReachTheRuntimeUnchanged) {
    AddClip(L"caf\u00e9.wmv", 1);
    AddClip(L"\u00c3\u00a9t\u00c3\u00a9.wmv", 1);
    EXPECT_EQ(m_pReader->OpenByName("caf\xe9.wmv"), S_OK);
    EXPECT_EQ(m_pReader->OpenByName("\xc3\xa9t\xc3\xa9.wmv"), S_OK);
    EXPECT_TRUE(RecordedErrors().empty());
}

TEST_F(MediaReaderTest, TwoVideoStreamsLeaveTheSecondOnesNumberAndFormat) {
    std::vector<FakeFrame> frames = FakeFrames(1, 2, kFrameBytes, kStep, kStep);
    for (FakeFrame& frame : FakeFrames(3, 2, DibStride(16) * 6, kStep, kStep)) {
        frame.bytes[0] = 0xAB;
        frames.push_back(frame);
    }
    Fake().AddInput(
        L"two.wmv",
        {FakeVideoStream(1, kWidth, kHeight), FakeAudioStream(2), FakeVideoStream(3, 16, 6)},
        frames);
    ASSERT_EQ(m_pReader->OpenByName("two.wmv"), S_OK);
    EXPECT_EQ(m_pReader->GetVideoStreamNumber(), 3);
    // The first video stream's media properties were given back when the second was found.
    EXPECT_EQ(Fake().LiveObjects("IWMMediaProps"), 1);

    INSSBuffer* pSample = nullptr;
    BITMAPINFOHEADER* pFormat = nullptr;
    m_pReader->NextFrameNumber();
    ASSERT_EQ(m_pReader->GetNextFrame(&pSample, &pFormat), S_OK);
    EXPECT_EQ(pFormat->biWidth, 16);
    EXPECT_EQ(pFormat->biHeight, 6);
    BYTE* pBytes = nullptr;
    pSample->GetBuffer(&pBytes);
    EXPECT_EQ(pBytes[0], 0xAB);
    pSample->Release();

    // Committing the same name again opens afresh: a new sync reader, frame 0 again.
    ASSERT_EQ(m_pReader->OpenByName("two.wmv"), S_OK);
    EXPECT_EQ(Fake().CountCalls("WMCreateSyncReader"), 2);
    EXPECT_EQ(Fake().LiveObjects("IWMSyncReader"), 1);
    EXPECT_EQ(m_pReader->GetFrameNumber(), 0);
    EXPECT_EQ(m_pReader->GetFrameTime(), 0.0);
    EXPECT_EQ(Step(&pSample), S_OK);
    pSample->Release();
    ExpectEverythingReleased();
}

TEST_F(MediaReaderTest, NoVideoStreamSelectsStreamZeroWhichTheRuntimeRejects) {
    Fake().AddInput(L"audio.wma", {FakeAudioStream(1), FakeDataStream(2)},
                    {FakeFrame{1, 0, kStep, 0, {1}}});
    EXPECT_EQ(m_pReader->OpenByName("audio.wma"), NS_E_INVALID_STREAM);
    EXPECT_EQ(RecordedErrors(),
              (std::vector<RecordedError>{{"Could not select video stream", NS_E_INVALID_STREAM}}));
    EXPECT_EQ(m_pReader->GetVideoStreamNumber(), 0);

    // Reading stream 0 would hand out audio as frames: nothing is asked of the runtime.
    INSSBuffer* pSample = nullptr;
    EXPECT_EQ(Step(&pSample), NS_E_INVALID_REQUEST);
    EXPECT_EQ(pSample, nullptr);
    EXPECT_EQ(Fake().CountCalls("IWMSyncReader::GetNextSample"), 0);
    ExpectEverythingReleased();
}

TEST_F(MediaReaderTest, VideoStreamWithoutAFrameHeaderIsRefused) {
    FakeStream video = FakeVideoStream(1, kWidth, kHeight);
    video.format.resize(sizeof(WMVIDEOINFOHEADER) - 1);
    Fake().AddInput(L"bare.wmv", {video}, FakeFrames(1, 1, kFrameBytes, 0, kStep));
    EXPECT_EQ(m_pReader->OpenByName("bare.wmv"), NS_E_INVALID_INPUT_FORMAT);
    EXPECT_EQ(RecordedMessages(), (std::vector<std::string>{"Could not get media type structure",
                                                            "Could not get stream numbers"}));
    INSSBuffer* pSample = nullptr;
    BITMAPINFOHEADER* pFormat = nullptr;
    m_pReader->NextFrameNumber();
    EXPECT_EQ(m_pReader->GetNextFrame(&pSample, &pFormat), NS_E_INVALID_REQUEST);
    EXPECT_EQ(pFormat, nullptr);
    ExpectEverythingReleased();
}

TEST_F(MediaReaderTest, FailedCloseKeepsEveryReferenceAndTheNextOpenReusesTheReader) {
    AddClip(L"in.wmv", 2);
    ASSERT_EQ(m_pReader->OpenByName("in.wmv"), S_OK);
    IWMProfile* pProfile = m_pReader->GetProfile();
    Fake().FailAt("IWMSyncReader::Close", 1, E_UNEXPECTED);

    EXPECT_EQ(m_pReader->Close(), E_UNEXPECTED);
    EXPECT_EQ(RecordedErrors(),
              (std::vector<RecordedError>{{"Could not close SyncReader", E_UNEXPECTED}}));
    EXPECT_EQ(m_pReader->GetProfile(), pProfile);
    EXPECT_EQ(Fake().LiveObjects("IWMSyncReader"), 1);
    EXPECT_EQ(Fake().LiveObjects("IWMMediaProps"), 1);
    EXPECT_EQ(Fake().RefCount(pProfile), 2u);  // the sync reader's and ours
    EXPECT_EQ(Fake().CountCalls("IWMSyncReader::Release"), 0);

    ASSERT_EQ(m_pReader->Open(L"in.wmv"), S_OK);
    EXPECT_EQ(Fake().CountCalls("WMCreateSyncReader"), 1);
    // The profile of the file opened before is given back, not lost.
    EXPECT_EQ(Fake().RefCount(pProfile), 0u);
    INSSBuffer* pSample = nullptr;
    EXPECT_EQ(Step(&pSample), S_OK);
    pSample->Release();
    ExpectEverythingReleased();
}

// The frame counter, times and estimate, and who owns which sample.
class FrameReadingTest : public MediaReaderTest {
  protected:
    void SetUp() override {
        MediaReaderTest::SetUp();
        AddClip(L"in.wmv", 45);
        ASSERT_EQ(m_pReader->OpenByName("in.wmv"), S_OK);
        Fake().ClearCalls();
    }
};

TEST_F(FrameReadingTest, NextReadsOnceAndHandsOutThatSample) {
    INSSBuffer* pSample = nullptr;
    double dTime = 0.0;
    EXPECT_EQ(m_pReader->NextFrameNumber(), 1);  // a plain advance reads nothing
    ASSERT_EQ(Step(&pSample, &dTime), S_OK);
    EXPECT_EQ(Fake().CountCalls("IWMSyncReader::GetNextSample"), 1);
    // The counter is a label beside the stream: frame 2 is the stream's first sample.
    EXPECT_EQ(m_pReader->GetFrameNumber(), 2);
    EXPECT_DOUBLE_EQ(dTime, 0.04);
    BYTE* pBytes = nullptr;
    pSample->GetBuffer(&pBytes);
    EXPECT_EQ(pBytes[0], 1);
    EXPECT_DOUBLE_EQ(m_pReader->GetFrameRate(), 1.0 / 0.04);
    EXPECT_DOUBLE_EQ(m_pReader->GetDuration(), 0.04);
    pSample->Release();

    ASSERT_EQ(Step(&pSample, &dTime), S_OK);
    EXPECT_DOUBLE_EQ(dTime, 0.08);
    EXPECT_NEAR(m_pReader->GetFrameRate(), 25.0, 1e-9);
    pSample->Release();
    ExpectEverythingReleased();
}

TEST_F(FrameReadingTest, HandingOutTheSameSampleAgainGivesNoSecondReference) {
    INSSBuffer* pFirst = nullptr;
    INSSBuffer* pAgain = nullptr;
    ASSERT_EQ(Step(&pFirst), S_OK);
    BITMAPINFOHEADER* pFormat = nullptr;
    EXPECT_EQ(m_pReader->GetNextFrame(&pAgain, &pFormat), S_OK);
    EXPECT_EQ(pAgain, pFirst);
    EXPECT_EQ(Fake().RefCount(pFirst), 1u);
    pFirst->Release();
    ExpectEverythingReleased();
}

TEST_F(FrameReadingTest, EndOfStreamIsRecordedTwicePerStepAndTheCounterKeepsRising) {
    INSSBuffer* pSample = nullptr;
    double dTime = 0.0;
    for (int i = 0; i < 45; ++i) {
        ASSERT_EQ(Step(&pSample, &dTime), S_OK);
        pSample->Release();
    }
    const double dLastTime = dTime;
    ClearRecordedErrors();

    ASSERT_EQ(Step(&pSample, &dTime), NS_E_NO_MORE_SAMPLES);
    EXPECT_EQ(pSample, nullptr);
    EXPECT_EQ(dTime, dLastTime);
    EXPECT_EQ(RecordedErrors(), (std::vector<RecordedError>(
                                    2, {"Could not get video sample", NS_E_NO_MORE_SAMPLES})));
    ASSERT_EQ(Step(&pSample, &dTime), NS_E_NO_MORE_SAMPLES);
    EXPECT_EQ(RecordedMessages(), Repeat("Could not get video sample", 4));
    // Reading the counter while the frame is stale tries once more, too.
    EXPECT_EQ(m_pReader->GetFrameNumber(), 47);
    EXPECT_EQ(RecordedMessages(), Repeat("Could not get video sample", 5));
    ExpectEverythingReleased();
}

TEST_F(FrameReadingTest, SkipWithFortyLeftHandsOutFortySamplesAndCountsAHundred) {
    INSSBuffer* pSample = nullptr;
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(Step(&pSample), S_OK);
        pSample->Release();
    }
    int nHandedOut = 0;
    for (int i = 0; i < 100; ++i) {
        m_pReader->NextFrameNumber();
        BITMAPINFOHEADER* pFormat = nullptr;
        pSample = nullptr;
        m_pReader->GetNextFrame(&pSample, &pFormat);
        if (pSample != nullptr) {
            ++nHandedOut;
            pSample->Release();
        }
    }
    EXPECT_EQ(nHandedOut, 40);
    EXPECT_EQ(RecordedMessages(), Repeat("Could not get video sample", 60));
    EXPECT_EQ(m_pReader->GetFrameNumber(), 105);
    ASSERT_EQ(Fake().Samples().size(), 45u);
    for (INSSBuffer* p : Fake().Samples()) EXPECT_EQ(Fake().RefCount(p), 0u);
    ExpectEverythingReleased();
}

TEST_F(FrameReadingTest, SampleReadButNeverHandedOutIsReleasedByTheReader) {
    // A read fails once; the frame-number box then reads the sample without taking it.
    Fake().FailAt("IWMSyncReader::GetNextSample", 1, E_FAIL);
    Fake().FailAt("IWMSyncReader::GetNextSample", 2, E_FAIL);
    INSSBuffer* pSample = nullptr;
    EXPECT_EQ(Step(&pSample), E_FAIL);
    EXPECT_EQ(m_pReader->GetFrameNumber(), 1);
    ASSERT_EQ(Fake().Samples().size(), 1u);
    INSSBuffer* pUnclaimed = Fake().Samples()[0];
    EXPECT_EQ(Fake().RefCount(pUnclaimed), 1u);

    m_pReader->NextFrameNumber();
    BITMAPINFOHEADER* pFormat = nullptr;
    ASSERT_EQ(m_pReader->GetNextFrame(&pSample, &pFormat), S_OK);
    EXPECT_NE(pSample, pUnclaimed);
    EXPECT_EQ(Fake().RefCount(pUnclaimed), 0u);
    pSample->Release();

    // Reopening and destroying give back a sample read but never taken, too.
    m_pReader->NextFrameNumber();
    m_pReader->GetFrameTime();
    ASSERT_EQ(m_pReader->OpenByName("in.wmv"), S_OK);
    m_pReader->NextFrameNumber();
    m_pReader->GetFrameTime();
    ExpectEverythingReleased();
}

TEST_F(FrameReadingTest, ReadingWithNothingOpenTouchesNoSyncReader) {
    m_pReader = std::make_unique<CMediaReader>();
    Fake().ClearCalls();
    INSSBuffer* pSample = nullptr;
    EXPECT_EQ(Step(&pSample), NS_E_INVALID_REQUEST);
    EXPECT_EQ(pSample, nullptr);
    EXPECT_TRUE(Fake().Calls().empty());
    EXPECT_EQ(RecordedMessages(), Repeat("Could not get video sample", 2));
    EXPECT_EQ(g_lastErrorCode, NS_E_INVALID_REQUEST);
}

TEST_F(FrameReadingTest, ReadingAfterAFailedOpenTouchesNoSyncReader) {
    EXPECT_EQ(m_pReader->OpenByName("missing.wmv"), NS_E_FILE_NOT_FOUND);
    Fake().ClearCalls();
    INSSBuffer* pSample = nullptr;
    EXPECT_EQ(Step(&pSample), NS_E_INVALID_REQUEST);
    EXPECT_TRUE(Fake().CallsTo("IWMSyncReader::").empty());
    ExpectEverythingReleased();
}

TEST_F(FrameReadingTest, SampleShorterThanItsFrameIsRefusedAndReleased) {
    std::vector<FakeFrame> frames = FakeFrames(1, 2, kFrameBytes, kStep, kStep);
    frames[0].bytes.resize(kFrameBytes - 1);
    Fake().AddInput(L"short.wmv", {FakeVideoStream(1, kWidth, kHeight)}, frames);
    ASSERT_EQ(m_pReader->OpenByName("short.wmv"), S_OK);

    INSSBuffer* pSample = nullptr;
    BITMAPINFOHEADER* pFormat = nullptr;
    m_pReader->NextFrameNumber();
    EXPECT_EQ(m_pReader->GetNextFrame(&pSample, &pFormat), NS_E_INVALID_INPUT_FORMAT);
    EXPECT_EQ(pSample, nullptr);
    EXPECT_EQ(
        RecordedErrors(),
        (std::vector<RecordedError>{{"Could not get video sample", NS_E_INVALID_INPUT_FORMAT}}));
    EXPECT_EQ(m_pReader->GetNextFrame(&pSample, &pFormat), S_OK);
    pSample->Release();
    for (INSSBuffer* p : Fake().Samples()) EXPECT_EQ(Fake().RefCount(p), 0u);
    ExpectEverythingReleased();
}

TEST_F(FrameReadingTest, SamplesAtTheSameTimeKeepTheEstimate) {
    Fake().AddInput(L"ties.wmv", {FakeVideoStream(1, kWidth, kHeight)},
                    {FakeFrame{1, 0, kStep, 0, std::vector<BYTE>(kFrameBytes)},
                     FakeFrame{1, 400000, kStep, 0, std::vector<BYTE>(kFrameBytes)},
                     FakeFrame{1, 400000, kStep, 0, std::vector<BYTE>(kFrameBytes)}});
    ASSERT_EQ(m_pReader->OpenByName("ties.wmv"), S_OK);
    INSSBuffer* pSample = nullptr;

    ASSERT_EQ(Step(&pSample), S_OK);  // first sample at 0: no gap to divide by
    EXPECT_EQ(m_pReader->GetFrameRate(), 1.0);
    pSample->Release();
    ASSERT_EQ(Step(&pSample), S_OK);
    EXPECT_DOUBLE_EQ(m_pReader->GetFrameRate(), 25.0);
    pSample->Release();
    ASSERT_EQ(Step(&pSample), S_OK);
    EXPECT_DOUBLE_EQ(m_pReader->GetFrameRate(), 25.0);
    pSample->Release();
    ExpectEverythingReleased();
}
