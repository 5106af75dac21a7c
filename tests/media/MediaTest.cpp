// SPDX-License-Identifier: GPL-3.0-or-later
// CMediaReader and CMediaWriter over the fake runtime and the real profiles: opening, the frame
// counter and who owns which sample; the output profile, lastprofile.xml, the writer's states
// and failures, and the time conversion.
#include <csignal>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <sys/resource.h>

#include "common/LastError.h"
#include "media/MediaReader.h"
#include "media/MediaWriter.h"
#include "platform/wmf/shared/SampleBuffer.h"
#include "tests/fakes/FakeRuntime.h"
#include "tests/support/ProfileQueries.h"
#include "tests/support/TestStreams.h"

using varnel_test::ReadFile;
using varnel_test::Ref;
using varnel_test::TestAudio;
using varnel_test::TestVideo;

namespace {

constexpr LONG kWidth = 8;
constexpr LONG kHeight = 4;
constexpr size_t kFrameBytes = DibStride(kWidth) * kHeight;
constexpr QWORD kStep = 400000;  // 40 ms

// Each test runs over a clean fake in a fresh working directory, where "lastprofile.xml" lands.
class MediaTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Fake().Reset();
        g_lastErrorCode = S_OK;
        m_pReader = std::make_unique<CMediaReader>();
        m_pWriter = std::make_unique<CMediaWriter>();
    }

    // Audio on stream 1 and video on stream 2: `count` video frames 40 ms apart from 40 ms on.
    static void AddClip(const std::wstring& name, int count) {
        std::vector<FakeFrame> frames;
        for (int i = 1; i <= count; ++i)
            frames.push_back({2, kStep * i, kStep, std::vector<BYTE>(kFrameBytes)});
        Fake().AddInput(name, {TestAudio(1), TestVideo(2, kWidth, kHeight)}, frames);
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
    // A real profile of these streams, owned by the fixture.
    IWMProfile* Input(const std::vector<wmf::StreamDescription>& streams) {
        IWMProfile* pProfile = nullptr;
        EXPECT_EQ(wmf::CreateProfile(streams, &pProfile), S_OK);
        return m_inputs.emplace_back(pProfile).get();
    }
    IWMProfile* VideoInput() { return Input({TestAudio(1), TestVideo(2, kWidth, kHeight)}); }

    // Destroys the reader and the writer and checks that every reference of the fake came back
    // exactly once.
    void ExpectEverythingReleased() {
        m_pReader.reset();
        m_pWriter.reset();
        EXPECT_EQ(Fake().LiveObjects(), 0);
        EXPECT_EQ(Fake().faults, std::vector<std::string>{});
    }

    varnel_test::CScopedWorkingDir m_dir;
    std::vector<Ref<IWMProfile>> m_inputs;
    std::unique_ptr<CMediaReader> m_pReader;
    std::unique_ptr<CMediaWriter> m_pWriter;
};

// Inputs that cannot be read: the open's status, then no frame and no runtime read, and nothing
// left alive once the reader is gone.
TEST_F(MediaTest, FailedOpenReturnsItsStatusAndReadsNothing) {
    wmf::StreamDescription bare = TestVideo(1, kWidth, kHeight);
    bare.format.resize(sizeof(WMVIDEOINFOHEADER) - 1);
    const std::string kLong(1000, 'a');  // no room for the terminator
    const struct {
        const char* name;
        std::function<void()> script;
        HRESULT status;
    } cases[] = {
        {"missing.wmv", [] {}, NS_E_FILE_NOT_FOUND},
        {"audio.wma", [] { Fake().AddInput(L"audio.wma", {TestAudio(1)}); }, NS_E_INVALID_STREAM},
        {"bare.wmv", [&] { Fake().AddInput(L"bare.wmv", {bare}); }, NS_E_INVALID_INPUT_FORMAT},
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
        EXPECT_EQ(Step(), NS_E_INVALID_REQUEST);
        EXPECT_TRUE(Fake().Samples().empty());  // no read, so no frame handed out either
        ExpectEverythingReleased();
    }
}

TEST_F(MediaTest, StepsReadOnceHandOutOneReferenceAndGoOnPastTheEnd) {
    AddClip(L"in.wmv", 45);
    ASSERT_EQ(m_pReader->OpenByName("in.wmv"), S_OK);
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
    EXPECT_DOUBLE_EQ(m_pReader->GetDuration(), 0.04);
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

TEST_F(MediaTest, SampleReadButNeverHandedOutIsReleasedByTheReader) {
    AddClip(L"in.wmv", 3);
    ASSERT_EQ(m_pReader->OpenByName("in.wmv"), S_OK);
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

TEST_F(MediaTest, ShortSampleIsRefusedAndTheNextTaken) {
    Fake().AddInput(L"odd.wmv", {TestVideo(1, kWidth, kHeight)},
                    {{1, 0, kStep, std::vector<BYTE>(kFrameBytes - 1)},
                     {1, kStep, kStep, std::vector<BYTE>(kFrameBytes)}});
    ASSERT_EQ(m_pReader->OpenByName("odd.wmv"), S_OK);
    // The time's read refuses the short sample; the frame's read takes the next.
    EXPECT_EQ(Step(), S_OK);
    EXPECT_EQ(g_lastErrorCode, NS_E_INVALID_INPUT_FORMAT);
    EXPECT_EQ(Step(), NS_E_NO_MORE_SAMPLES);
    ExpectEverythingReleased();
}

TEST_F(MediaTest, OutputProfileKeepsTheVideoStreamsAndLastProfileTheInputsOwn) {
    const GUID video = WMMEDIATYPE_Video;
    const struct {
        std::vector<wmf::StreamDescription> streams;
        std::vector<std::pair<GUID, WORD>> kept;
        WORD wVideo;
    } cases[] = {
        {{TestVideo(1), TestAudio(2), TestVideo(4)}, {{video, 1}, {video, 4}}, 4},
        // No video stream: everything goes, and the number of the derivation before stays.
        {{TestAudio(1)}, {}, 4},
    };
    for (const auto& c : cases) {
        IWMProfile* pInput = Input(c.streams);
        EXPECT_EQ(m_pWriter->DeriveOutputProfile(pInput), S_OK);
        EXPECT_EQ(varnel_test::Streams(m_pWriter->GetProfile()), c.kept);
        EXPECT_EQ(m_pWriter->GetVideoStreamNumber(), c.wVideo);
        EXPECT_EQ(varnel_test::Streams(pInput).size(), c.streams.size());  // input untouched
        wmf::CProfile* pSaved = nullptr;
        ASSERT_EQ(wmf::ProfileFromXml(ReadFile("lastprofile.xml"), &pSaved), S_OK);
        EXPECT_EQ(varnel_test::Streams(m_inputs.emplace_back(pSaved).get()),
                  varnel_test::Streams(pInput));
    }
    EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"lastprofile.xml"});
    ExpectEverythingReleased();
}

// lastprofile.xml holds what it held before or the whole profile: a derivation without an input
// profile leaves it alone, and so does a save that fails half-way (the disk full, as a file size
// limit makes it), which stops nothing else.
TEST_F(MediaTest, LastProfileIsNeverLeftHalfWritten) {
    varnel_test::WriteFile("lastprofile.xml", "earlier");
    EXPECT_EQ(m_pWriter->DeriveOutputProfile(nullptr), E_POINTER);
    EXPECT_EQ(m_pWriter->GetProfile(), nullptr);
    EXPECT_EQ(m_pWriter->OpenOutput("out.wmv"), S_OK);
    EXPECT_TRUE(Fake().outputs.empty());  // nor is writing begun without a profile

    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = previous;
    limit.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const HRESULT hr = m_pWriter->DeriveOutputProfile(VideoInput());
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(ReadFile("lastprofile.xml"), "earlier");
    EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"lastprofile.xml"});
    EXPECT_EQ(Fake().outputs.size(), 1u);  // writing began all the same
    ExpectEverythingReleased();
}

// The writer's states, its failures and what reaches the output files, as scripts of steps:
// D derive the output profile from a video input, A from an audio input, O<name> commit the
// output name (O* one that does not fit), W<seconds> write a frame at that time (0.1 without),
// C close the output, X destroy the writer, F<call> make the next call of IWMWriter::<call> (or
// WMCreateWriter) fail with the case's status. A step marked ! returns the case's status, every
// other one S_OK.
TEST_F(MediaTest, EachWriterScriptReturnsItsStatusesAndLeavesItsOutputs) {
    const struct {
        const char* pszCase;
        const char* pszSteps;
        HRESULT status;
        const char* pszOutputs;  // per output: its one-letter name, samples, E ended or W writing
    } cases[] = {
        {"output before input begins at the derivation", "Oa D W", S_OK, "a1W "},
        {"an idle writer committed again has its end refused", "Oa Ob", S_OK, ""},
        {"output committed again ends the first file first", "D Oa W Ob W W", S_OK, "a1E b2W "},
        {"input again while writing: the file goes on and destroying ends it", "D Oa D W X", S_OK,
         "a1E "},
        {"an ended file is not ended again", "D Oa C C Ob", S_OK, "a0E b0W "},
        {"no frame reaches a writer whose file did not begin", "FBeginWriting D Oa! W! C",
         NS_E_INVALID_REQUEST, ""},
        {"an empty name", "D O!", E_INVALIDARG, ""},
        {"a name that does not fit ends the output", "D Oa O*!", E_INVALIDARG, "a0E "},
        {"without a writer nothing is written or refused", "D W C", S_OK, ""},
        {"a profile without streams", "A Oa!", NS_E_INVALIDPROFILE, ""},
        {"no writer can be made", "FWMCreateWriter D Oa!", E_OUTOFMEMORY, ""},
        {"the file cannot be begun", "FBeginWriting D Oa!", HRESULT_DISK_FULL, ""},
        {"a write fails part-way", "D Oa W FWriteSample W! W C", HRESULT_DISK_FULL, "a2E "},
        {"a failed end is tried again on destruction", "FEndWriting D Oa W C! X", E_FAIL, "a1E "},
        {"times outside the runtime's range are refused; a hair below 0 is 0",
         "D Oa W-1e-8 W-1! Wnan! Winf! W1e13!", E_INVALIDARG, "a1W "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        SetUp();
        Ref<CSampleBuffer> pFrame(CSampleBuffer::Create(kFrameBytes));
        std::istringstream steps(c.pszSteps);
        for (std::string step; steps >> step;) {
            const HRESULT expected = step.back() == '!' ? c.status : S_OK;
            if (step.back() == '!') step.pop_back();
            const std::string arg = step.substr(1) == "*" ? std::string(1000, 'x') : step.substr(1);
            const std::string call = arg.starts_with("WM") ? arg : "IWMWriter::" + arg;
            if (step[0] == 'F') Fake().FailAt(call, c.status);
            if (step[0] == 'X') ExpectEverythingReleased();
            const HRESULT hr =
                step[0] == 'D'   ? m_pWriter->DeriveOutputProfile(VideoInput())
                : step[0] == 'A' ? m_pWriter->DeriveOutputProfile(Input({TestAudio(1)}))
                : step[0] == 'O' ? m_pWriter->OpenOutput(arg.c_str())
                : step[0] == 'W'
                    ? m_pWriter->WriteFrame(pFrame.get(), arg.empty() ? 0.1 : std::stod(arg))
                : step[0] == 'C' ? m_pWriter->CloseOutput()
                                 : S_OK;
            EXPECT_EQ(hr, expected) << step;
        }
        std::string outputs;
        for (const FakeOutput& o : Fake().outputs) {
            outputs.append(1, static_cast<char>(o.fileName.at(0)));
            outputs.append(std::to_string(o.samples)).append(o.ended ? "E " : "W ");
        }
        EXPECT_EQ(outputs, c.pszOutputs);
        EXPECT_EQ(pFrame->RefCount(), 1u);  // the written sample stays the caller's
        ExpectEverythingReleased();
    }
}

}  // namespace
