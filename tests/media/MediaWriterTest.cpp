#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "media/MediaWriter.h"
#include "platform/wmf/shared/SampleBuffer.h"
#include "tests/fakes/FakeRuntime.h"
#include "tests/media/ErrorLog.h"
#include "tests/media/WorkingDir.h"

namespace fs = std::filesystem;

namespace {

constexpr LONG kWidth = 4;
constexpr LONG kHeight = 2;

std::vector<WORD> NumbersOf(const std::vector<FakeStream>& streams) {
    std::vector<WORD> numbers;
    for (const FakeStream& stream : streams) numbers.push_back(stream.number);
    return numbers;
}

}  // namespace

// Each test runs in a fresh working directory, where "lastprofile.xml" lands.
class MediaWriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Fake().Reset();
        ClearRecordedErrors();
        m_pDir = std::make_unique<CScopedWorkingDir>();
        m_pWriter = std::make_unique<CMediaWriter>();
    }
    void TearDown() override {
        m_pWriter.reset();
        m_inputs.clear();
        m_pDir.reset();
    }

    // An input profile owned by the fixture.
    IWMProfile* Input(std::vector<FakeStream> streams) {
        m_inputs.emplace_back(Fake().NewProfile(std::move(streams)));
        return m_inputs.back().get();
    }
    IWMProfile* VideoInput() {
        return Input({FakeAudioStream(1), FakeVideoStream(2, kWidth, kHeight)});
    }

    // Destroys the writer, gives back the inputs, and checks every reference came back once.
    void ExpectEverythingReleased() {
        m_pWriter.reset();
        m_inputs.clear();
        EXPECT_EQ(Fake().LiveObjects(), 0);
        EXPECT_EQ(Fake().Faults(), std::vector<std::string>{});
    }

    FakeWriterState State() const { return Fake().WriterState(Fake().LastWriter()); }

    std::unique_ptr<CMediaWriter> m_pWriter;
    std::vector<varnel_test::Ref<IWMProfile>> m_inputs;
    std::unique_ptr<CScopedWorkingDir> m_pDir;
};

// The output profile and lastprofile.xml.
TEST_F(MediaWriterTest, AudioVideoAudioEndsWithTheVideoAloneAndSavesAllThreeWithTheirNames) {
    FakeStream video = FakeVideoStream(2, kWidth, kHeight);
    video.name = L"caf\u00e9 \u0416\U0001F600";
    IWMProfile* pInput = Input({FakeAudioStream(1), video, FakeAudioStream(3)});
    EXPECT_EQ(m_pWriter->DeriveOutputProfile(pInput), S_OK);

    EXPECT_EQ(NumbersOf(Fake().StreamsOf(m_pWriter->GetProfile())), std::vector<WORD>{2});
    EXPECT_EQ(m_pWriter->GetVideoStreamNumber(), 2);
    EXPECT_EQ(Fake().StreamsOf(pInput).size(), 3u);  // the input's own profile is untouched
    EXPECT_EQ(Fake().CallsTo("IWMProfile::"),
              (std::vector<std::string>{"IWMProfile::GetStreamCount", "IWMProfile::GetStream",
                                        "IWMProfile::RemoveStream", "IWMProfile::GetStreamCount",
                                        "IWMProfile::GetStream", "IWMProfile::GetStream",
                                        "IWMProfile::RemoveStream", "IWMProfile::GetStreamCount"}));

    const std::string saved = ReadFile("lastprofile.xml");
    EXPECT_EQ(CountOf(saved, "<stream "), 3u);
    EXPECT_EQ(saved.back(), '>');  // the text alone: nothing added after it
    // Code units above 255 become character references.
    EXPECT_NE(saved.find("caf\xe9 &#1046;&#128512;"), std::string::npos);
    EXPECT_EQ(m_pDir->Entries(), std::vector<std::string>{"lastprofile.xml"});
    EXPECT_TRUE(RecordedErrors().empty());
    ExpectEverythingReleased();
}

TEST_F(MediaWriterTest, TwoVideoStreamsBothStayAndTheLaterNumberIsKept) {
    IWMProfile* pInput = Input({FakeVideoStream(1, kWidth, kHeight), FakeAudioStream(2),
                                FakeVideoStream(4, kWidth, kHeight)});
    EXPECT_EQ(m_pWriter->DeriveOutputProfile(pInput), S_OK);
    EXPECT_EQ(NumbersOf(Fake().StreamsOf(m_pWriter->GetProfile())), (std::vector<WORD>{1, 4}));
    EXPECT_EQ(m_pWriter->GetVideoStreamNumber(), 4);
    ExpectEverythingReleased();
}

TEST_F(MediaWriterTest, NoVideoStreamRemovesEverythingAndStillOffersTheProfile) {
    m_pWriter->DeriveOutputProfile(Input({FakeVideoStream(5, kWidth, kHeight)}));
    m_pWriter->OpenOutput("out.wmv");
    m_pWriter->CloseOutput();
    ClearRecordedErrors();

    EXPECT_EQ(m_pWriter->DeriveOutputProfile(Input({FakeAudioStream(1), FakeDataStream(2)})), S_OK);
    EXPECT_TRUE(Fake().StreamsOf(m_pWriter->GetProfile()).empty());
    EXPECT_EQ(m_pWriter->GetVideoStreamNumber(), 5);
    EXPECT_EQ(RecordedErrors(),
              (Errors{{"Could not associate profile with writer", NS_E_INVALIDPROFILE}}));
    ExpectEverythingReleased();
}

TEST_F(MediaWriterTest, EveryDerivationFailureStopsItWithTheInjectedStatus) {
    struct Case {
        const char* call;
        int nth;
        const char* message;
        size_t streamsLeft;
    };
    const std::vector<Case> cases = {
        {"IWMProfile::GetStreamCount", 1, "Could not get stream count", 2},
        {"IWMProfile::GetStream", 1, "Could not get an individual stream", 2},
        {"IWMStreamConfig::GetStreamType", 1, "Could not get an individual stream type", 2},
        {"IWMProfile::RemoveStream", 1, "Could not remove non-video stream", 2},
        {"IWMProfile::GetStreamCount", 2, "Could not get stream count after eliminating one", 1},
        {"IWMStreamConfig::GetStreamNumber", 1, "Could not get stream number", 1},
    };
    HRESULT status = MakeStatus(0x80042000u);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " #" + std::to_string(c.nth));
        TearDown();
        SetUp();
        m_pWriter->OpenOutput("out.wmv");  // a writer exists: a finished pass would start it
        status += 1;
        Fake().FailAt(c.call, c.nth, status);

        EXPECT_EQ(m_pWriter->DeriveOutputProfile(VideoInput()), status);
        EXPECT_EQ(RecordedErrors(), (Errors{{c.message, status}}));
        EXPECT_EQ(g_lastErrorCode, status);
        // The copy stays as far as the pass got; writing is not started.
        EXPECT_EQ(Fake().StreamsOf(m_pWriter->GetProfile()).size(), c.streamsLeft);
        EXPECT_EQ(Fake().CountCalls("IWMWriter::SetProfile"), 0);
        ExpectEverythingReleased();
    }
}

TEST_F(MediaWriterTest, NoInputProfileKeepsNoOutputProfileAndLeavesLastProfileAlone) {
    m_pWriter->DeriveOutputProfile(VideoInput());
    std::ofstream("lastprofile.xml") << "earlier";

    EXPECT_EQ(m_pWriter->DeriveOutputProfile(nullptr), E_POINTER);
    EXPECT_EQ(m_pWriter->GetProfile(), nullptr);
    EXPECT_EQ(ReadFile("lastprofile.xml"), "earlier");
    EXPECT_EQ(RecordedErrors(), (Errors{{"Could not get stream count", E_POINTER}}));

    // Nor is writing begun when the output name comes later.
    m_pWriter->OpenOutput("out.wmv");
    EXPECT_EQ(Fake().CountCalls("IWMWriter::SetProfile"), 0);
    ExpectEverythingReleased();
}

TEST_F(MediaWriterTest, LastProfileThatCannotBeWrittenDoesNotStopTheDerivation) {
    fs::create_directory("lastprofile.xml");
    EXPECT_EQ(m_pWriter->DeriveOutputProfile(VideoInput()), S_OK);
    EXPECT_EQ(m_pWriter->GetVideoStreamNumber(), 2);
    EXPECT_TRUE(fs::is_directory("lastprofile.xml"));
    EXPECT_EQ(m_pDir->Entries(), std::vector<std::string>{"lastprofile.xml"});
    ExpectEverythingReleased();
}

TEST_F(MediaWriterTest, SameInputTwiceRewritesLastProfileAndReplacesTheCopy) {
    IWMProfile* pInput = VideoInput();
    m_pWriter->DeriveOutputProfile(pInput);
    IWMProfile* pFirstCopy = m_pWriter->GetProfile();
    const std::string saved = ReadFile("lastprofile.xml");
    std::ofstream("lastprofile.xml") << "overwritten";

    m_pWriter->DeriveOutputProfile(pInput);
    EXPECT_EQ(ReadFile("lastprofile.xml"), saved);
    EXPECT_EQ(Fake().RefCount(pFirstCopy), 0u);
    EXPECT_EQ(Fake().LiveObjects("IWMProfile"), 2);  // the input and the new copy
    ExpectEverythingReleased();
}

TEST_F(MediaWriterTest, ProfileManagerMissingAtStartIsMadeByTheDerivation) {
    m_pWriter.reset();
    Fake().FailAt("WMCreateProfileManager", 1, E_OUTOFMEMORY);
    m_pWriter = std::make_unique<CMediaWriter>();
    EXPECT_TRUE(RecordedErrors().empty());

    EXPECT_EQ(m_pWriter->DeriveOutputProfile(VideoInput()), S_OK);
    EXPECT_EQ(m_pWriter->GetVideoStreamNumber(), 2);
    ExpectEverythingReleased();
}

// The writer side: the state table, the failures and the time conversion.
class WriterStateTest : public MediaWriterTest {
  protected:
    // The reader's profile after an input name was committed.
    void CommitInput() { m_pWriter->DeriveOutputProfile(VideoInput()); }
    // The input and then "out.wmv" committed: writing.
    void StartWriting() {
        CommitInput();
        m_pWriter->OpenOutput("out.wmv");
    }
    static std::wstring OutputName(size_t index) { return Fake().Outputs().at(index).fileName; }

    // A frame of the profile's size, owned by the fixture.
    INSSBuffer* Frame() {
        m_frames.emplace_back(CSampleBuffer::Create(DibStride(kWidth) * kHeight));
        return m_frames.back().get();
    }

    std::vector<varnel_test::Ref<CSampleBuffer>> m_frames;
};

TEST_F(WriterStateTest, OutputBeforeAnyInputCreatesTheWriterAndWritesLater) {
    EXPECT_EQ(m_pWriter->OpenOutput("out.wmv"), S_OK);
    EXPECT_EQ(Fake().CountCalls("WMCreateWriter"), 1);
    EXPECT_TRUE(Fake().CallsTo("IWMWriter::").empty());  // no EndWriting: there was no writer
    EXPECT_EQ(State(), FakeWriterState::Idle);

    CommitInput();
    EXPECT_EQ(Fake().CallsTo("IWMWriter::"),
              (std::vector<std::string>{"IWMWriter::SetProfile", "IWMWriter::SetOutputFilename",
                                        "IWMWriter::BeginWriting"}));
    EXPECT_EQ(State(), FakeWriterState::Writing);
    EXPECT_EQ(OutputName(0), L"out.wmv");
    EXPECT_TRUE(RecordedErrors().empty());
    ExpectEverythingReleased();
}

TEST_F(WriterStateTest, IdleWriterCommittedAgainHasItsEndRefusedAndStaysIdle) {
    m_pWriter->OpenOutput("first.wmv");
    EXPECT_EQ(m_pWriter->OpenOutput("second.wmv"), S_OK);
    EXPECT_EQ(Fake().CountCalls("IWMWriter::EndWriting"), 1);
    EXPECT_EQ(RecordedErrors(), (Errors{{"Could not end writing", NS_E_INVALID_REQUEST}}));
    EXPECT_EQ(std::wstring(m_pWriter->GetFileName()), L"second.wmv");
    EXPECT_EQ(State(), FakeWriterState::Idle);
    EXPECT_EQ(Fake().CountCalls("WMCreateWriter"), 1);
    ExpectEverythingReleased();
}

TEST_F(WriterStateTest, OutputAfterTheInputWritesAtOnceAndCommittedAgainEndsTheFirstFileFirst) {
    CommitInput();
    EXPECT_EQ(m_pWriter->OpenOutput("out.wmv"), S_OK);
    EXPECT_EQ(State(), FakeWriterState::Writing);
    EXPECT_EQ(m_pWriter->WriteFrame(Frame(), 0.5), S_OK);
    Fake().ClearCalls();

    EXPECT_EQ(m_pWriter->OpenOutput("out.wmv"), S_OK);
    EXPECT_EQ(
        Fake().CallsTo("IWMWriter::"),
        (std::vector<std::string>{"IWMWriter::EndWriting", "IWMWriter::SetProfile",
                                  "IWMWriter::SetOutputFilename", "IWMWriter::BeginWriting"}));
    ASSERT_EQ(Fake().Outputs().size(), 2u);
    EXPECT_TRUE(Fake().Outputs()[0].ended);
    EXPECT_EQ(Fake().Outputs()[0].samples.size(), 1u);
    EXPECT_EQ(OutputName(1), L"out.wmv");
    EXPECT_EQ(Fake().CountCalls("WMCreateWriter"), 0);
    EXPECT_TRUE(RecordedErrors().empty());
    ExpectEverythingReleased();
}

TEST_F(WriterStateTest, InputCommittedAgainWhileWritingIsRefusedTheFileGoesOnAndDestroyingEndsIt) {
    StartWriting();
    CommitInput();
    EXPECT_EQ(RecordedErrors(),
              (Errors{{"Could not associate profile with writer", NS_E_INVALID_REQUEST}}));
    EXPECT_EQ(Fake().CountCalls("IWMWriter::EndWriting"), 0);
    EXPECT_EQ(m_pWriter->WriteFrame(Frame(), 1.0), S_OK);
    ASSERT_EQ(Fake().Outputs().size(), 1u);
    EXPECT_FALSE(Fake().Outputs()[0].ended);
    EXPECT_EQ(Fake().Outputs()[0].samples.size(), 1u);
    // Destroying the writer finishes the output still being written.
    ExpectEverythingReleased();
    ASSERT_EQ(Fake().Outputs().size(), 1u);
    EXPECT_TRUE(Fake().Outputs()[0].ended);
    EXPECT_EQ(RecordedErrors().size(), 1u);
}

TEST_F(WriterStateTest, EndOfInputEndsTheFileEveryLaterStepEndsAgainAndDestroyingNoMore) {
    StartWriting();
    EXPECT_EQ(m_pWriter->CloseOutput(), S_OK);
    EXPECT_EQ(State(), FakeWriterState::Ended);
    EXPECT_TRUE(Fake().Outputs()[0].ended);

    EXPECT_EQ(m_pWriter->CloseOutput(), NS_E_INVALID_REQUEST);
    EXPECT_EQ(m_pWriter->CloseOutput(), NS_E_INVALID_REQUEST);
    EXPECT_EQ(RecordedMessages(), std::vector<std::string>(2, "Could not end writing"));
    ExpectEverythingReleased();  // destroying after the end calls no further end
    EXPECT_EQ(Fake().CountCalls("IWMWriter::EndWriting"), 3);
}

TEST_F(WriterStateTest, EndedOutputCommittedAgainWritesANewFile) {
    StartWriting();
    m_pWriter->CloseOutput();
    EXPECT_EQ(m_pWriter->OpenOutput("next.wmv"), S_OK);
    EXPECT_EQ(RecordedErrors(), (Errors{{"Could not end writing", NS_E_INVALID_REQUEST}}));
    EXPECT_EQ(State(), FakeWriterState::Writing);
    EXPECT_EQ(OutputName(1), L"next.wmv");
    ExpectEverythingReleased();
}

TEST_F(WriterStateTest, EveryWriterFailureRecordsItsMessageWithTheInjectedStatus) {
    struct Case {
        const char* call;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"WMCreateWriter", "Could not create Writer"},
        {"IWMWriter::SetProfile", "Could not associate profile with writer"},
        {"IWMWriter::SetOutputFilename", "Didn't like the output file name"},
        {"IWMWriter::BeginWriting", "Could not begin writing file"},
    };
    HRESULT status = MakeStatus(0x80043000u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        TearDown();
        SetUp();
        CommitInput();
        status += 1;
        Fake().FailAt(c.call, 1, status);
        EXPECT_EQ(m_pWriter->OpenOutput("out.wmv"), status);
        EXPECT_EQ(RecordedErrors(), (Errors{{c.message, status}}));
        EXPECT_TRUE(Fake().Outputs().empty());
        ExpectEverythingReleased();
    }

    TearDown();
    SetUp();
    StartWriting();
    Fake().FailAt("IWMWriter::WriteSample", 1, MakeStatus(0x80043101u));
    Fake().FailAt("IWMWriter::EndWriting", 1, MakeStatus(0x80043102u));
    EXPECT_EQ(m_pWriter->WriteFrame(Frame(), 0.0), MakeStatus(0x80043101u));
    EXPECT_EQ(m_pWriter->CloseOutput(), MakeStatus(0x80043102u));
    EXPECT_EQ(RecordedErrors(), (Errors{{"Could not write sample", MakeStatus(0x80043101u)},
                                        {"Could not end writing", MakeStatus(0x80043102u)}}));
    EXPECT_EQ(g_lastErrorCode, MakeStatus(0x80043102u));
}

TEST_F(WriterStateTest, EmptyAndNonAsciiNamesReachTheRuntimeUnchanged) {
    CommitInput();
    EXPECT_EQ(m_pWriter->OpenOutput(""), E_INVALIDARG);
    EXPECT_EQ(RecordedErrors(), (Errors{{"Didn't like the output file name", E_INVALIDARG}}));
    EXPECT_NE(State(), FakeWriterState::Writing);
    EXPECT_EQ(m_pWriter->OpenOutput("caf\xe9 \xc3\xa9.wmv"), S_OK);
    EXPECT_EQ(OutputName(0), L"caf\u00e9 \u00c3\u00a9.wmv");
}

TEST_F(WriterStateTest, NameThatDoesNotFitEndsTheOutputAndKeepsThePreviousName) {
    StartWriting();
    EXPECT_EQ(m_pWriter->OpenOutput(std::string(1000, 'x').c_str()), E_INVALIDARG);
    EXPECT_TRUE(Fake().Outputs()[0].ended);
    EXPECT_EQ(RecordedErrors(), (Errors{{"Didn't like the output file name", E_INVALIDARG}}));
    EXPECT_EQ(std::wstring(m_pWriter->GetFileName()), L"out.wmv");
    EXPECT_EQ(Fake().CountCalls("IWMWriter::SetOutputFilename"), 1);

    EXPECT_EQ(m_pWriter->OpenOutput(std::string(999, 'y').c_str()), S_OK);
    EXPECT_EQ(OutputName(1), std::wstring(999, L'y'));
    ExpectEverythingReleased();
}

TEST_F(WriterStateTest, TimesAreTruncatedToHundredNanosecondUnits) {
    StartWriting();
    INSSBuffer* pFrame = Frame();
    m_pWriter->WriteFrame(pFrame, 1.0 / 29.97);
    m_pWriter->WriteFrame(pFrame, 1.0 / 24.0);
    m_pWriter->WriteFrame(pFrame, 0.0);
    const std::vector<FakeWrittenSample>& samples = Fake().Outputs()[0].samples;
    std::vector<QWORD> times;
    for (const FakeWrittenSample& sample : samples) times.push_back(sample.time);
    EXPECT_EQ(times, (std::vector<QWORD>{333667, 416666, 0}));
    // Input 0, no flags, the caller's own sample, which stays the caller's.
    EXPECT_EQ(samples[0].input, 0u);
    EXPECT_EQ(samples[0].flags, 0u);
    EXPECT_EQ(samples[0].sample, pFrame);
    EXPECT_EQ(Fake().RefCount(pFrame), 1u);
}

TEST_F(WriterStateTest, TimeOutsideTheRuntimesRangeIsRefused) {
    StartWriting();
    for (double dTime : {-1.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e13}) {
        EXPECT_EQ(m_pWriter->WriteFrame(Frame(), dTime), E_INVALIDARG);
    }
    EXPECT_EQ(Fake().CountCalls("IWMWriter::WriteSample"), 0);
    EXPECT_EQ(RecordedMessages(), std::vector<std::string>(4, "Could not write sample"));
}

TEST_F(WriterStateTest, WithoutAWriterNothingIsCalledOrRecorded) {
    CommitInput();
    Fake().ClearCalls();
    EXPECT_EQ(m_pWriter->WriteFrame(Frame(), 0.5), S_OK);
    EXPECT_EQ(m_pWriter->WriteFrame(Frame(), -5.0), S_OK);
    EXPECT_EQ(m_pWriter->CloseOutput(), S_OK);
    EXPECT_TRUE(Fake().CallsTo("").empty());
    EXPECT_TRUE(RecordedErrors().empty());
}
