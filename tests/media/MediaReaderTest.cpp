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

BYTE FirstByte(INSSBuffer* pSample) {
    BYTE* pBytes = nullptr;
    pSample->GetBuffer(&pBytes);
    return pBytes[0];
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

    // GetNextFrame without advancing.
    HRESULT Take(INSSBuffer** ppSample, BITMAPINFOHEADER** ppFormat = nullptr) {
        BITMAPINFOHEADER* pFormat = nullptr;
        return m_pReader->GetNextFrame(ppSample, ppFormat != nullptr ? ppFormat : &pFormat);
    }

    // One "Next >" step: advance, show the time, take the frame. Returns the read status. Without
    // ppSample the step releases the sample itself.
    HRESULT Step(INSSBuffer** ppSample = nullptr, double* pdTime = nullptr) {
        m_pReader->NextFrameNumber();
        const double dTime = m_pReader->GetFrameTime();
        if (pdTime != nullptr) *pdTime = dTime;
        INSSBuffer* pSample = nullptr;
        const HRESULT hr = Take(&pSample);
        if (ppSample == nullptr && pSample != nullptr) pSample->Release();
        if (ppSample != nullptr) *ppSample = pSample;
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
    EXPECT_EQ(Take(&pSample, &pFormat), S_OK);
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
        const char* message;
        bool bInStreamNumbers;  // followed by "Could not get stream numbers"
    };
    const std::vector<Case> cases = {
        {"WMCreateSyncReader", 1, "Could not create SyncReader", false},
        {"IWMSyncReader::Open", 1, "Could not open input file", false},
        {"IWMSyncReader::QueryInterface", 1, "Could not query interface for IWMProfile", false},
        {"IWMProfile::GetStreamCount", 1, "Could not get stream count", true},
        {"IWMProfile::GetStream", 1, "Could not get an individual stream", true},
        {"IWMStreamConfig::GetStreamType", 2, "Could not get an individual stream type", true},
        {"IWMStreamConfig::GetStreamNumber", 1, "Could not get video stream number", true},
        {"IWMStreamConfig::QueryInterface", 1, "Could not query interface for Media Properties",
         true},
        {"IWMMediaProps::GetMediaType", 1, "Could not get media type length", true},
        {"IWMMediaProps::GetMediaType", 2, "Could not get media type structure", true},
        {"IWMSyncReader::SetStreamsSelected", 1, "Could not select video stream", false},
        {"IWMSyncReader::SetReadStreamSamples", 1, "Could not set compression of video stream",
         false},
    };
    HRESULT status = MakeStatus(0x80041000u);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " #" + std::to_string(c.nth));
        SetUp();
        AddClip(L"in.wmv", 2);
        status += 1;
        Fake().FailAt(c.call, c.nth, status);

        EXPECT_EQ(m_pReader->OpenByName("in.wmv"), status);
        Errors expected{{c.message, status}};
        if (c.bInStreamNumbers) expected.push_back({"Could not get stream numbers", status});
        EXPECT_EQ(RecordedErrors(), expected);
        EXPECT_EQ(g_lastErrorCode, status);
        // Whatever the partly opened reader holds goes back when it is destroyed.
        ExpectEverythingReleased();
    }
}

TEST_F(MediaReaderTest, EmptyAndNonAsciiNamesReachTheRuntimeUnchanged) {
    AddClip(L"caf\u00e9.wmv", 1);
    AddClip(L"\u00c3\u00a9t\u00c3\u00a9.wmv", 1);
    EXPECT_EQ(m_pReader->OpenByName("caf\xe9.wmv"), S_OK);
    EXPECT_EQ(m_pReader->OpenByName("\xc3\xa9t\xc3\xa9.wmv"), S_OK);
    EXPECT_TRUE(RecordedErrors().empty());
    EXPECT_EQ(m_pReader->OpenByName(""), NS_E_FILE_NOT_FOUND);
    EXPECT_EQ(RecordedErrors(), (Errors{{"Could not open input file", NS_E_FILE_NOT_FOUND}}));
}

TEST_F(MediaReaderTest, NameThatDoesNotFitClosesFirstThenFails) {
    AddClip(L"in.wmv", 1);
    ASSERT_EQ(m_pReader->OpenByName("in.wmv"), S_OK);

    EXPECT_EQ(m_pReader->OpenByName(std::string(1000, 'a').c_str()), E_INVALIDARG);
    EXPECT_EQ(Fake().CountCalls("IWMSyncReader::Close"), 1);
    EXPECT_EQ(Fake().CountCalls("IWMSyncReader::Open"), 1);
    EXPECT_EQ(m_pReader->GetProfile(), nullptr);
    EXPECT_EQ(RecordedErrors(), (Errors{{"Could not open input file", E_INVALIDARG}}));

    // 999 characters and the terminator fit and reach the runtime.
    AddClip(std::wstring(999, L'b'), 1);
    EXPECT_EQ(m_pReader->OpenByName(std::string(999, 'b').c_str()), S_OK);
    ExpectEverythingReleased();
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
    ASSERT_EQ(Take(&pSample, &pFormat), S_OK);
    EXPECT_EQ(pFormat->biWidth, 16);
    EXPECT_EQ(pFormat->biHeight, 6);
    EXPECT_EQ(FirstByte(pSample), 0xAB);
    pSample->Release();

    // Committing the same name again opens afresh: a new sync reader, frame 0 again.
    ASSERT_EQ(m_pReader->OpenByName("two.wmv"), S_OK);
    EXPECT_EQ(Fake().CountCalls("WMCreateSyncReader"), 2);
    EXPECT_EQ(Fake().LiveObjects("IWMSyncReader"), 1);
    EXPECT_EQ(m_pReader->GetFrameNumber(), 0);
    EXPECT_EQ(m_pReader->GetFrameTime(), 0.0);
    EXPECT_EQ(Step(), S_OK);
    ExpectEverythingReleased();
}

TEST_F(MediaReaderTest, NoVideoStreamOrOneWithoutAFrameHeaderIsRefusedAndNothingIsRead) {
    // No video stream: stream 0 is selected, which the runtime rejects.
    Fake().AddInput(L"audio.wma", {FakeAudioStream(1), FakeDataStream(2)},
                    {FakeFrame{1, 0, kStep, 0, {1}}});
    EXPECT_EQ(m_pReader->OpenByName("audio.wma"), NS_E_INVALID_STREAM);
    EXPECT_EQ(RecordedErrors(), (Errors{{"Could not select video stream", NS_E_INVALID_STREAM}}));
    EXPECT_EQ(m_pReader->GetVideoStreamNumber(), 0);
    // Reading stream 0 would hand out audio as frames: nothing is asked of the runtime.
    INSSBuffer* pSample = nullptr;
    EXPECT_EQ(Step(&pSample), NS_E_INVALID_REQUEST);
    EXPECT_EQ(pSample, nullptr);
    EXPECT_EQ(Fake().CountCalls("IWMSyncReader::GetNextSample"), 0);

    FakeStream video = FakeVideoStream(1, kWidth, kHeight);
    video.format.resize(sizeof(WMVIDEOINFOHEADER) - 1);
    Fake().AddInput(L"bare.wmv", {video}, FakeFrames(1, 1, kFrameBytes, 0, kStep));
    ClearRecordedErrors();
    EXPECT_EQ(m_pReader->OpenByName("bare.wmv"), NS_E_INVALID_INPUT_FORMAT);
    EXPECT_EQ(RecordedMessages(), (std::vector<std::string>{"Could not get media type structure",
                                                            "Could not get stream numbers"}));
    BITMAPINFOHEADER* pFormat = nullptr;
    m_pReader->NextFrameNumber();
    EXPECT_EQ(Take(&pSample, &pFormat), NS_E_INVALID_REQUEST);
    EXPECT_EQ(pFormat, nullptr);
    ExpectEverythingReleased();
}

TEST_F(MediaReaderTest, FailedCloseKeepsEveryReferenceAndTheNextOpenReusesTheReader) {
    AddClip(L"in.wmv", 2);
    ASSERT_EQ(m_pReader->OpenByName("in.wmv"), S_OK);
    IWMProfile* pProfile = m_pReader->GetProfile();
    Fake().FailAt("IWMSyncReader::Close", 1, E_UNEXPECTED);

    EXPECT_EQ(m_pReader->Close(), E_UNEXPECTED);
    EXPECT_EQ(RecordedErrors(), (Errors{{"Could not close SyncReader", E_UNEXPECTED}}));
    EXPECT_EQ(m_pReader->GetProfile(), pProfile);
    EXPECT_EQ(Fake().LiveObjects("IWMSyncReader"), 1);
    EXPECT_EQ(Fake().LiveObjects("IWMMediaProps"), 1);
    EXPECT_EQ(Fake().RefCount(pProfile), 2u);  // the sync reader's and ours
    EXPECT_EQ(Fake().CountCalls("IWMSyncReader::Release"), 0);

    ASSERT_EQ(m_pReader->Open(L"in.wmv"), S_OK);
    EXPECT_EQ(Fake().CountCalls("WMCreateSyncReader"), 1);
    // The profile of the file opened before is given back, not lost.
    EXPECT_EQ(Fake().RefCount(pProfile), 0u);
    EXPECT_EQ(Step(), S_OK);
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

TEST_F(FrameReadingTest, NextReadsOnceAndHandsOutThatSampleWithOneReference) {
    INSSBuffer* pSample = nullptr;
    double dTime = 0.0;
    EXPECT_EQ(m_pReader->NextFrameNumber(), 1);  // a plain advance reads nothing
    ASSERT_EQ(Step(&pSample, &dTime), S_OK);
    EXPECT_EQ(Fake().CountCalls("IWMSyncReader::GetNextSample"), 1);
    // The counter is a label beside the stream: frame 2 is the stream's first sample.
    EXPECT_EQ(m_pReader->GetFrameNumber(), 2);
    EXPECT_DOUBLE_EQ(dTime, 0.04);
    EXPECT_EQ(FirstByte(pSample), 1);
    EXPECT_DOUBLE_EQ(m_pReader->GetFrameRate(), 1.0 / 0.04);
    EXPECT_DOUBLE_EQ(m_pReader->GetDuration(), 0.04);
    // Handing out the same sample again gives no second reference.
    INSSBuffer* pAgain = nullptr;
    EXPECT_EQ(Take(&pAgain), S_OK);
    EXPECT_EQ(pAgain, pSample);
    EXPECT_EQ(Fake().RefCount(pSample), 1u);
    pSample->Release();

    ASSERT_EQ(Step(nullptr, &dTime), S_OK);
    EXPECT_DOUBLE_EQ(dTime, 0.08);
    EXPECT_NEAR(m_pReader->GetFrameRate(), 25.0, 1e-9);
    ExpectEverythingReleased();
}

TEST_F(FrameReadingTest, EndOfStreamIsRecordedTwicePerStepAndTheCounterKeepsRising) {
    double dTime = 0.0;
    for (int i = 0; i < 45; ++i) ASSERT_EQ(Step(nullptr, &dTime), S_OK);
    const double dLastTime = dTime;
    ClearRecordedErrors();

    INSSBuffer* pSample = nullptr;
    ASSERT_EQ(Step(&pSample, &dTime), NS_E_NO_MORE_SAMPLES);
    EXPECT_EQ(pSample, nullptr);
    EXPECT_EQ(dTime, dLastTime);
    EXPECT_EQ(RecordedErrors(), Errors(2, {"Could not get video sample", NS_E_NO_MORE_SAMPLES}));
    ASSERT_EQ(Step(), NS_E_NO_MORE_SAMPLES);
    EXPECT_EQ(RecordedMessages(), Repeat("Could not get video sample", 4));
    // Reading the counter while the frame is stale tries once more, too.
    EXPECT_EQ(m_pReader->GetFrameNumber(), 47);
    EXPECT_EQ(RecordedMessages(), Repeat("Could not get video sample", 5));
    ExpectEverythingReleased();
}

TEST_F(FrameReadingTest, SkipWithFortyLeftHandsOutFortySamplesAndCountsAHundred) {
    for (int i = 0; i < 5; ++i) ASSERT_EQ(Step(), S_OK);
    int nHandedOut = 0;
    for (int i = 0; i < 100; ++i) {
        m_pReader->NextFrameNumber();
        INSSBuffer* pSample = nullptr;
        Take(&pSample);
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
    EXPECT_EQ(Step(), E_FAIL);
    EXPECT_EQ(m_pReader->GetFrameNumber(), 1);
    ASSERT_EQ(Fake().Samples().size(), 1u);
    INSSBuffer* pUnclaimed = Fake().Samples()[0];
    EXPECT_EQ(Fake().RefCount(pUnclaimed), 1u);

    m_pReader->NextFrameNumber();
    INSSBuffer* pSample = nullptr;
    ASSERT_EQ(Take(&pSample), S_OK);
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

TEST_F(FrameReadingTest, ReadingAfterAFailedOpenOrWithNothingOpenTouchesNoSyncReader) {
    EXPECT_EQ(m_pReader->OpenByName("missing.wmv"), NS_E_FILE_NOT_FOUND);
    Fake().ClearCalls();
    EXPECT_EQ(Step(), NS_E_INVALID_REQUEST);
    EXPECT_TRUE(Fake().CallsTo("IWMSyncReader::").empty());
    ExpectEverythingReleased();

    m_pReader = std::make_unique<CMediaReader>();
    Fake().ClearCalls();
    ClearRecordedErrors();
    INSSBuffer* pSample = nullptr;
    EXPECT_EQ(Step(&pSample), NS_E_INVALID_REQUEST);
    EXPECT_EQ(pSample, nullptr);
    EXPECT_TRUE(Fake().Calls().empty());
    EXPECT_EQ(RecordedMessages(), Repeat("Could not get video sample", 2));
    EXPECT_EQ(g_lastErrorCode, NS_E_INVALID_REQUEST);
}

TEST_F(FrameReadingTest, SampleShorterThanItsFrameIsRefusedAndReleased) {
    std::vector<FakeFrame> frames = FakeFrames(1, 2, kFrameBytes, kStep, kStep);
    frames[0].bytes.resize(kFrameBytes - 1);
    Fake().AddInput(L"short.wmv", {FakeVideoStream(1, kWidth, kHeight)}, frames);
    ASSERT_EQ(m_pReader->OpenByName("short.wmv"), S_OK);

    INSSBuffer* pSample = nullptr;
    m_pReader->NextFrameNumber();
    EXPECT_EQ(Take(&pSample), NS_E_INVALID_INPUT_FORMAT);
    EXPECT_EQ(pSample, nullptr);
    EXPECT_EQ(RecordedErrors(),
              (Errors{{"Could not get video sample", NS_E_INVALID_INPUT_FORMAT}}));
    EXPECT_EQ(Take(&pSample), S_OK);
    pSample->Release();
    for (INSSBuffer* p : Fake().Samples()) EXPECT_EQ(Fake().RefCount(p), 0u);
    ExpectEverythingReleased();
}

TEST_F(FrameReadingTest, SamplesAtTheSameTimeKeepTheEstimate) {
    const std::vector<BYTE> bytes(kFrameBytes);
    Fake().AddInput(L"ties.wmv", {FakeVideoStream(1, kWidth, kHeight)},
                    {FakeFrame{1, 0, kStep, 0, bytes}, FakeFrame{1, 400000, kStep, 0, bytes},
                     FakeFrame{1, 400000, kStep, 0, bytes}});
    ASSERT_EQ(m_pReader->OpenByName("ties.wmv"), S_OK);
    // The first sample is at 0: no gap to divide by.
    for (double dRate : {1.0, 25.0, 25.0}) {
        ASSERT_EQ(Step(), S_OK);
        EXPECT_DOUBLE_EQ(m_pReader->GetFrameRate(), dRate);
    }
    ExpectEverythingReleased();
}
