// CMediaWriter over the fake writer and the real profiles: the output profile, lastprofile.xml,
// the writer's states and failures, and the time conversion.
#include <cmath>
#include <csignal>
#include <filesystem>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/resource.h>

#include "common/LastError.h"
#include "media/MediaWriter.h"
#include "platform/wmf/shared/SampleBuffer.h"
#include "tests/fakes/FakeRuntime.h"
#include "tests/support/ProfileQueries.h"
#include "tests/support/TestStreams.h"

namespace fs = std::filesystem;
using varnel_test::ReadFile;
using varnel_test::Ref;
using varnel_test::TestAudio;
using varnel_test::TestVideo;

namespace {

constexpr LONG kWidth = 4;
constexpr LONG kHeight = 2;

// Each test runs in a fresh working directory, where "lastprofile.xml" lands.
class MediaWriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Fake().Reset();
        g_lastErrorCode = S_OK;
        m_pWriter = std::make_unique<CMediaWriter>();
    }

    // A real profile of these streams, owned by the fixture.
    IWMProfile* Input(const std::vector<wmf::StreamDescription>& streams) {
        IWMProfile* pProfile = nullptr;
        EXPECT_EQ(wmf::CreateProfile(streams, &pProfile), S_OK);
        m_inputs.emplace_back(pProfile);
        return pProfile;
    }
    IWMProfile* VideoInput() { return Input({TestAudio(1), TestVideo(2, kWidth, kHeight)}); }

    // Destroys the writer and checks that every reference of the fake came back exactly once.
    void ExpectEverythingReleased() {
        m_pWriter.reset();
        EXPECT_EQ(Fake().LiveObjects(), 0);
        EXPECT_EQ(Fake().Faults(), std::vector<std::string>{});
    }

    varnel_test::CScopedWorkingDir m_dir;
    std::vector<Ref<IWMProfile>> m_inputs;
    std::unique_ptr<CMediaWriter> m_pWriter;
};

TEST_F(MediaWriterTest, OutputProfileKeepsTheVideoStreamsAndLastProfileTheInputsOwn) {
    const struct {
        std::vector<wmf::StreamDescription> streams;
        std::vector<std::pair<GUID, WORD>> kept;
        WORD wVideo;
    } cases[] = {
        {{TestAudio(1), TestVideo(2), TestAudio(3)}, {{WMMEDIATYPE_Video, 2}}, 2},
        {{TestVideo(1), TestAudio(2), TestVideo(4)},
         {{WMMEDIATYPE_Video, 1}, {WMMEDIATYPE_Video, 4}},
         4},
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
        m_inputs.emplace_back(pSaved);
        EXPECT_EQ(varnel_test::Streams(pSaved), varnel_test::Streams(pInput));
    }
    EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"lastprofile.xml"});
    ExpectEverythingReleased();
}

// lastprofile.xml holds what it held before or the whole profile: a derivation without an input
// profile leaves it alone, and so does a save that fails (the disk full half-way, as a file size
// limit makes it, or a folder in its place), which stops nothing else.
TEST_F(MediaWriterTest, LastProfileIsNeverLeftHalfWritten) {
    varnel_test::WriteFile("lastprofile.xml", "earlier");
    EXPECT_EQ(m_pWriter->DeriveOutputProfile(nullptr), E_POINTER);
    EXPECT_EQ(m_pWriter->GetProfile(), nullptr);
    EXPECT_EQ(m_pWriter->OpenOutput("out.wmv"), S_OK);
    EXPECT_TRUE(Fake().Outputs().empty());  // nor is writing begun without a profile

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
    EXPECT_EQ(Fake().Outputs().size(), 1u);

    fs::remove("lastprofile.xml");
    fs::create_directory("lastprofile.xml");
    EXPECT_EQ(m_pWriter->DeriveOutputProfile(VideoInput()), S_OK);
    EXPECT_EQ(m_pWriter->GetVideoStreamNumber(), 2);
    EXPECT_TRUE(fs::is_directory("lastprofile.xml"));
    EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"lastprofile.xml"});
    ExpectEverythingReleased();
}

// The writer's states, its failures and what reaches the output files, as scripts of steps:
// D derive the output profile from a video input, A from an audio input, O<name> commit the
// output name (O* one that does not fit), W write a frame, C close the output, X destroy the
// writer, F<call> make the next call of IWMWriter::<call> (or WMCreateWriter) fail with the
// case's status. A step marked ! returns the case's status, every other one S_OK.
TEST_F(MediaWriterTest, EachScriptReturnsItsStatusesAndLeavesItsOutputs) {
    const struct {
        const char* pszCase;
        const char* pszSteps;
        HRESULT status;
        const char* pszOutputs;  // name/samples/E (ended) or W (still writing), in order
    } cases[] = {
        {"output before input begins at the derivation", "Oa D W", S_OK, "a/1/W"},
        {"an idle writer committed again has its end refused", "Oa Ob", S_OK, ""},
        {"output committed again ends the first file first", "D Oa W Ob W W", S_OK, "a/1/E b/2/W"},
        {"input again while writing: the file goes on and destroying ends it", "D Oa D W X", S_OK,
         "a/1/E"},
        {"every end after the input's end is refused", "D Oa C C! Ob", NS_E_INVALID_REQUEST,
         "a/0/E b/0/W"},
        {"an empty name", "D O!", E_INVALIDARG, ""},
        {"a name that does not fit ends the output", "D Oa O*!", E_INVALIDARG, "a/0/E"},
        {"without a writer nothing is written or refused", "D W C", S_OK, ""},
        {"a profile without video", "A Oa!", NS_E_INVALIDPROFILE, ""},
        {"no writer can be made", "FWMCreateWriter D Oa!", E_OUTOFMEMORY, ""},
        {"the file cannot be begun", "FBeginWriting D Oa!", HRESULT_DISK_FULL, ""},
        {"a write fails part-way", "D Oa W FWriteSample W! W C", HRESULT_DISK_FULL, "a/2/E"},
        {"a failed end is tried again on destruction", "FEndWriting D Oa W C! X", E_FAIL, "a/1/E"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        SetUp();
        Ref<CSampleBuffer> pFrame(CSampleBuffer::Create(DibStride(kWidth) * kHeight));
        std::istringstream steps(c.pszSteps);
        for (std::string step; steps >> step;) {
            const HRESULT expected = step.back() == '!' ? c.status : S_OK;
            if (step.back() == '!') step.pop_back();
            const std::string arg = step.substr(1) == "*" ? std::string(1000, 'x') : step.substr(1);
            if (step[0] == 'F') {
                Fake().FailAt(arg.starts_with("WM") ? arg : "IWMWriter::" + arg, c.status);
            }
            if (step[0] == 'X') ExpectEverythingReleased();
            const HRESULT hr = step[0] == 'D' ? m_pWriter->DeriveOutputProfile(VideoInput())
                               : step[0] == 'A'
                                   ? m_pWriter->DeriveOutputProfile(Input({TestAudio(1)}))
                               : step[0] == 'O' ? m_pWriter->OpenOutput(arg.c_str())
                               : step[0] == 'W' ? m_pWriter->WriteFrame(pFrame.get(), 0.1)
                               : step[0] == 'C' ? m_pWriter->CloseOutput()
                                                : S_OK;
            EXPECT_EQ(hr, expected) << step;
        }
        std::string outputs;
        for (const FakeOutput& output : Fake().Outputs()) {
            if (!outputs.empty()) outputs += ' ';
            outputs.append(output.fileName.begin(), output.fileName.end());
            outputs += '/';
            outputs += std::to_string(output.samples.size());
            outputs += output.ended ? "/E" : "/W";
        }
        EXPECT_EQ(outputs, c.pszOutputs);
        ExpectEverythingReleased();
    }
}

TEST_F(MediaWriterTest, TimesAreTruncatedToHundredNanosecondUnitsAndOutOfRangeRefused) {
    m_pWriter->DeriveOutputProfile(VideoInput());
    m_pWriter->OpenOutput("out.wmv");
    Ref<CSampleBuffer> pFrame(CSampleBuffer::Create(DibStride(kWidth) * kHeight));
    const double kInfinity = std::numeric_limits<double>::infinity();
    for (double dTime : {1.0 / 29.97, 1.0 / 24.0, -1e-8, -1.0, std::nan(""), kInfinity, 1e13}) {
        const bool bInRange = dTime > -1e-7 && dTime < 1e12;
        EXPECT_EQ(m_pWriter->WriteFrame(pFrame.get(), dTime), bInRange ? S_OK : E_INVALIDARG);
    }
    std::vector<QWORD> times;
    for (const FakeWrittenSample& sample : Fake().Outputs()[0].samples)
        times.push_back(sample.time);
    EXPECT_EQ(times, (std::vector<QWORD>{333667, 416666, 0}));
    EXPECT_EQ(Fake().Outputs()[0].samples[0].sample, pFrame.get());
    EXPECT_EQ(pFrame->RefCount(), 1u);  // the caller's sample stays the caller's
}

}  // namespace
