// The writer over FFmpeg: what it writes, read back with ffprobe, and what it refuses.
#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/resource.h>

#include "platform/wmf/profile/Profile.h"
#include "platform/wmf/shared/SampleBuffer.h"
#include "platform/wmf/wmsdk.h"
#include "platform/wmf/writer/WriterFormat.h"
#include "tests/support/TestStreams.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace varnel_test;

constexpr QWORD kNtscStep = 333667;  // 1/29.97 s, truncated

Ref<IWMProfile> Profile(const std::vector<wmf::StreamDescription>& streams) {
    IWMProfile* pProfile = nullptr;
    EXPECT_EQ(wmf::CreateProfile(streams, &pProfile), S_OK);
    return Ref<IWMProfile>(pProfile);
}

// A frame whose upper half (as the picture is seen) is red and lower half blue; DIB rows are
// bottom-up. With a seed: coarse noise, which no encoder squeezes much.
Ref<CSampleBuffer> Frame(LONG width, LONG height, uint32_t seed = 0) {
    const DWORD stride = DibStride(width);
    Ref<CSampleBuffer> pSample(CSampleBuffer::Create(stride * static_cast<DWORD>(height)));
    for (LONG row = 0; row < height; ++row) {
        for (LONG x = 0; x < width; ++x) {
            BYTE* p = pSample->Bytes() + static_cast<size_t>(row) * stride + 3 * x;
            p[row < height / 2 ? 0 : 2] = 255;
        }
    }
    for (DWORD i = 0; seed != 0 && i < stride * height; ++i) {
        seed = seed * 1103515245u + 12345u;
        pSample->Bytes()[i] = static_cast<BYTE>(seed >> 24);
    }
    return pSample;
}

std::string Probe(const std::string& entries, const fs::path& file) {
    return RunCommand("ffprobe -v error -show_entries " + entries + " -of csv=p=0 " + Quoted(file));
}
size_t FramesIn(const fs::path& file) {
    const std::string pts = Probe("packet=pts", file);
    return std::count(pts.begin(), pts.end(), '\n');
}

class WriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg command is not available";
        IWMWriter* pWriter = nullptr;
        ASSERT_EQ(WMCreateWriter(nullptr, &pWriter), S_OK);
        m_pWriter.reset(pWriter);
    }

    HRESULT Prepare(const fs::path& file, LONG width = 64, LONG height = 48,
                    DWORD fourcc = MakeFourcc('W', 'M', 'V', '2')) {
        wmf::StreamDescription video = TestVideo(1, width, std::abs(height), fourcc);
        reinterpret_cast<WMVIDEOINFOHEADER*>(video.format.data())->bmiHeader.biHeight = height;
        const HRESULT hr = m_pWriter->SetProfile(Profile({video}).get());
        return FAILED(hr) ? hr : m_pWriter->SetOutputFilename(Widened(file.string()).c_str());
    }
    // Frames first to last at 1/29.97 s steps, the first at one step.
    void WriteFrames(int first, int last, LONG width = 64, LONG height = 48) {
        for (int k = first; k <= last; ++k) {
            ASSERT_EQ(m_pWriter->WriteSample(0, k * kNtscStep, 0, Frame(width, height).get()),
                      S_OK);
        }
    }

    CTempDir m_dir;
    Ref<IWMWriter> m_pWriter;
};

// The name picks the file: container (by the type its header names), codec, every frame at
// k x 1001 ticks of 1/30000 s (ASF and the Matroska family keep milliseconds), 29.97 frames a
// second, odd sizes padded, and the MP4 family's index in front of the pictures. The file is
// staged: a file of that name keeps its contents until EndWriting and no temporary stays.
struct Format {
    const char* extension;
    DWORD fourcc;
    const char* pszFileType;  // in the file's first bytes
    const char* pszCodec;
    bool bMilliseconds;
};
class FormatTest : public WriterTest, public ::testing::WithParamInterface<Format> {};

TEST_P(FormatTest, NamePicksContainerAndCodecWithEveryFrameAtItsNtscTime) {
    const Format& f = GetParam();
    const fs::path file = m_dir / (std::string("sortie \xC3\xA9t\xC3\xA9") + f.extension);
    WriteFile(file, "previous content");
    ASSERT_EQ(Prepare(file, 63, 47, f.fourcc), S_OK);
    ASSERT_EQ(m_pWriter->BeginWriting(), S_OK);
    Ref<CSampleBuffer> pKept = Frame(63, 47);
    ASSERT_EQ(m_pWriter->WriteSample(0, kNtscStep, 0, pKept.get()), S_OK);
    WriteFrames(2, 12, 63, 47);
    EXPECT_EQ(ReadFile(file), "previous content");
    ASSERT_EQ(m_pWriter->EndWriting(), S_OK);
    EXPECT_EQ(pKept->RefCount(), 1u);
    EXPECT_EQ(DirEntries(m_dir.Path()), std::vector<std::string>{file.filename().string()});

    const std::string bytes = ReadFile(file);
    EXPECT_NE(bytes.substr(0, 64).find(f.pszFileType), std::string::npos);
    EXPECT_EQ(Probe("stream=codec_name,width,height,r_frame_rate", file),
              std::string(f.pszCodec) + ",64,48,30000/1001\n");
    std::istringstream packets(Probe("packet=pts", file));
    std::vector<long long> pts;
    for (std::string line; std::getline(packets, line);) pts.push_back(std::stoll(line));
    std::sort(pts.begin(), pts.end());
    ASSERT_EQ(pts.size(), 12u);
    for (int k = 1; k <= 12; ++k) {
        EXPECT_EQ(pts[k - 1], f.bMilliseconds ? std::llround(k * 1001 / 30.0) : k * 1001) << k;
    }
    EXPECT_TRUE(f.bMilliseconds || bytes.find("moov") < bytes.find("mdat"));
}

constexpr DWORD kWmv2 = MakeFourcc('W', 'M', 'V', '2');
INSTANTIATE_TEST_SUITE_P(Names, FormatTest,
                         ::testing::Values(Format{".wmv", kWmv2, "\x30\x26\xB2\x75", "wmv2", true},
                                           Format{".asf", MakeFourcc('W', 'M', 'V', '1'),
                                                  "\x30\x26\xB2\x75", "wmv1", true},
                                           Format{".avi", kWmv2, "\x30\x26\xB2\x75", "wmv2", true},
                                           Format{".mp4", kWmv2, "ftypisom", "h264", false},
                                           Format{".M4V", kWmv2, "ftypisom", "h264", false},
                                           Format{".mov", kWmv2, "ftypqt", "h264", false},
                                           Format{".mkv", kWmv2, "matroska", "h264", true},
                                           Format{".webm", kWmv2, "webm", "vp9", true}),
                         [](const auto& info) { return std::string(info.param.extension + 1); });

// The upper half red, the lower blue, whichever way the rows run (a negative height: top-down);
// the added bottom row repeats the edge, and so does the added column.
TEST_F(WriterTest, KeepsThePictureUprightItsColoursInOrderAndPadsWithTheEdge) {
    for (const LONG height : {47, -47}) {
        const fs::path file = m_dir / "colours.wmv";
        ASSERT_EQ(Prepare(file, 63, height), S_OK);
        ASSERT_EQ(m_pWriter->BeginWriting(), S_OK);
        WriteFrames(1, 2, 63, 47);  // blue rows first
        ASSERT_EQ(m_pWriter->EndWriting(), S_OK);
        const std::string rgb = RunCommand("ffmpeg -nostdin -v error -i " + Quoted(file) +
                                           " -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
        ASSERT_EQ(rgb.size(), 64u * 48u * 3u);
        auto red = [&rgb](int x, int y) {
            const auto* p = reinterpret_cast<const unsigned char*>(&rgb[(y * 64 + x) * 3]);
            return p[0] > 200 && p[2] < 60 ? 1 : p[2] > 200 && p[0] < 60 ? 0 : -1;
        };
        for (const int x : {32, 63}) {
            EXPECT_EQ(red(x, 2), height > 0 ? 1 : 0) << height;
            EXPECT_EQ(red(x, 47), height > 0 ? 0 : 1) << height;
        }
    }
}

// Each call in the state its row names, and what follows from it.
enum class Stage { kNew, kProfileSet, kWriting, kEnded };
enum class Call { kProfile, kName, kBegin, kWrite, kEnd };
struct StateCase {
    Stage stage;
    Call call;
    int variant;  // of the call: see Perform
    HRESULT expected;
};

HRESULT Perform(IWMWriter* w, const StateCase& c, const fs::path& dir) {
    const std::vector<wmf::StreamDescription> profiles[] = {
        {TestVideo(1, 64, 48)},
        {TestAudio(1)},
        {},
        {TestVideo(1, 64, 48), TestVideo(2, 64, 48)},
        {TestVideo(1, 0, 48)},
        {TestAudio(1), TestVideo(2, 64, 48)},
        {TestVideo(1, 32, 32)}};
    const std::wstring names[] = {L"", L"caf\u0153.wmv", Widened((dir / "other.wmv").string())};
    Ref<CSampleBuffer> pFrame = Frame(c.variant == 1 ? 32 : 64, 48);
    if (c.variant == 2) pFrame->SetLength(DibStride(64) * 48 - 1);
    switch (c.call) {
        case Call::kProfile:
            return w->SetProfile(Profile(profiles[c.variant]).get());
        case Call::kName:
            return w->SetOutputFilename(c.variant < 3 ? names[c.variant].c_str() : nullptr);
        case Call::kBegin:
            return w->BeginWriting();
        // 0: at the next step; 1: of another size; 2: a byte short; 3: on input 1; 4: at the
        // millisecond of the previous sample.
        case Call::kWrite:
            return w->WriteSample(c.variant == 3 ? 1 : 0, (c.variant == 4 ? 1 : 2) * kNtscStep + 1,
                                  0, pFrame.get());
        case Call::kEnd:
            return w->EndWriting();
    }
    return E_UNEXPECTED;
}

// A refused call changes nothing and leaves the file going: it ends with its first frame, the
// one a row may add and one more; a file begun again has only the last.
TEST_F(WriterTest, StatesAndStatuses) {
    const StateCase cases[] = {
        {Stage::kNew, Call::kWrite, 0, NS_E_INVALID_REQUEST},
        {Stage::kNew, Call::kEnd, 0, NS_E_INVALID_REQUEST},
        {Stage::kNew, Call::kBegin, 0, NS_E_INVALID_REQUEST},
        {Stage::kNew, Call::kProfile, 1, NS_E_INVALIDPROFILE},  // audio alone
        {Stage::kNew, Call::kProfile, 2, NS_E_INVALIDPROFILE},  // no stream
        {Stage::kNew, Call::kProfile, 3, NS_E_INVALIDPROFILE},  // two videos
        {Stage::kNew, Call::kProfile, 4, NS_E_INVALIDPROFILE},  // no width
        {Stage::kNew, Call::kProfile, 5, S_OK},                 // audio and video
        {Stage::kNew, Call::kName, 0, E_INVALIDARG},
        {Stage::kNew, Call::kName, 1, E_INVALIDARG},  // a character above 255
        {Stage::kNew, Call::kName, 3, E_POINTER},
        {Stage::kProfileSet, Call::kBegin, 0, NS_E_INVALID_REQUEST},  // no name
        {Stage::kWriting, Call::kBegin, 0, NS_E_INVALID_REQUEST},
        {Stage::kWriting, Call::kProfile, 6, NS_E_INVALID_REQUEST},  // another size
        {Stage::kWriting, Call::kName, 2, NS_E_INVALID_REQUEST},
        {Stage::kWriting, Call::kWrite, 0, S_OK},
        {Stage::kWriting, Call::kWrite, 1, NS_E_INVALID_INPUT_FORMAT},
        {Stage::kWriting, Call::kWrite, 2, NS_E_INVALID_INPUT_FORMAT},
        {Stage::kWriting, Call::kWrite, 3, E_INVALIDARG},
        {Stage::kWriting, Call::kWrite, 4, E_INVALIDARG},
        {Stage::kEnded, Call::kEnd, 0, NS_E_INVALID_REQUEST},
        {Stage::kEnded, Call::kWrite, 0, NS_E_INVALID_REQUEST},
        {Stage::kEnded, Call::kBegin, 0, S_OK},  // the same file again
    };
    for (const StateCase& c : cases) {
        SCOPED_TRACE("row " + std::to_string(&c - cases));
        CTempDir dir;
        IWMWriter* pWriter = nullptr;
        ASSERT_EQ(WMCreateWriter(nullptr, &pWriter), S_OK);
        Ref<IWMWriter> writer(pWriter);
        const fs::path file = dir / "out.wmv";
        if (c.stage != Stage::kNew) writer->SetProfile(Profile({TestVideo(1, 64, 48)}).get());
        if (c.stage >= Stage::kWriting) {
            ASSERT_EQ(writer->SetOutputFilename(Widened(file.string()).c_str()), S_OK);
            ASSERT_EQ(writer->BeginWriting(), S_OK);
            ASSERT_EQ(writer->WriteSample(0, kNtscStep, 0, Frame(64, 48).get()), S_OK);
        }
        if (c.stage == Stage::kEnded) writer->EndWriting();
        EXPECT_EQ(Perform(writer.get(), c, dir.Path()), c.expected);
        if (c.stage == Stage::kWriting || (c.stage == Stage::kEnded && c.call == Call::kBegin)) {
            EXPECT_EQ(writer->WriteSample(0, 3 * kNtscStep, 0, Frame(64, 48).get()), S_OK);
            ASSERT_EQ(writer->EndWriting(), S_OK);
            const bool bAdded = c.call == Call::kWrite && SUCCEEDED(c.expected);
            EXPECT_EQ(FramesIn(file), c.stage == Stage::kEnded ? 1u : bAdded ? 3u : 2u);
        }
        EXPECT_EQ(DirEntries(dir.Path()), c.stage >= Stage::kWriting
                                              ? std::vector<std::string>{"out.wmv"}
                                              : std::vector<std::string>{});
    }
}

// BeginWriting fails and leaves nothing behind: a missing folder, an encoder that this FFmpeg
// lacks, a quality beyond the encoder's scale; and writing stops at the first failure (a file
// size limit stands in for a full disk), the earlier file of that name kept as it was.
TEST_F(WriterTest, AFailureOnTheWayLeavesNothingBehind) {
    ASSERT_EQ(Prepare(m_dir / "missing" / "out.wmv"), S_OK);
    EXPECT_EQ(m_pWriter->BeginWriting(), NS_E_FILE_NOT_FOUND);
    wmf::ReplaceEncoderNameForTesting("libx264", "varnel-missing-encoder");
    ASSERT_EQ(Prepare(m_dir / "out.mp4"), S_OK);
    EXPECT_EQ(m_pWriter->BeginWriting(), NS_E_INVALID_OUTPUT_FORMAT);
    wmf::ReplaceEncoderNameForTesting(nullptr, nullptr);
    IVarnelWriterSettings* pSettings = nullptr;
    ASSERT_EQ(
        m_pWriter->QueryInterface(IID_IVarnelWriterSettings, reinterpret_cast<void**>(&pSettings)),
        S_OK);
    Ref<IVarnelWriterSettings> settings(pSettings);
    ASSERT_EQ(settings->SetQuality(52), S_OK);
    EXPECT_EQ(m_pWriter->BeginWriting(), E_INVALIDARG);
    EXPECT_EQ(m_pWriter->WriteSample(0, kNtscStep, 0, Frame(64, 48).get()), NS_E_INVALID_REQUEST);
    EXPECT_TRUE(DirEntries(m_dir.Path()).empty());

    const fs::path file = m_dir / "full.wmv";
    WriteFile(file, "previous content");
    ASSERT_EQ(Prepare(file, 320, 240), S_OK);
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved;
    limit.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    ASSERT_EQ(m_pWriter->BeginWriting(), S_OK);
    HRESULT hr = S_OK;
    for (int k = 1; k <= 60 && SUCCEEDED(hr); ++k) {
        hr = m_pWriter->WriteSample(0, k * kNtscStep, 0, Frame(320, 240, k).get());
    }
    const HRESULT hrEnd = m_pWriter->EndWriting();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_TRUE(FAILED(hr) || FAILED(hrEnd));
    EXPECT_EQ(ReadFile(file), "previous content");
    EXPECT_EQ(DirEntries(m_dir.Path()), std::vector<std::string>{"full.wmv"});
}

// The file a reader has open, under its own name or another, is not written over; once the
// reader lets go it may be. A writer let go while writing finishes its file.
TEST_F(WriterTest, TheOpenInputIsNotOverwritten) {
    const fs::path input = m_dir / "input.wmv";
    ASSERT_EQ(Prepare(input), S_OK);
    ASSERT_EQ(m_pWriter->BeginWriting(), S_OK);
    WriteFrames(1, 2);
    ASSERT_EQ(m_pWriter->EndWriting(), S_OK);
    fs::create_symlink(input, m_dir / "link.wmv");
    const std::string before = ReadFile(input);
    IWMSyncReader* pReader = nullptr;
    ASSERT_EQ(WMCreateSyncReader(nullptr, 0, &pReader), S_OK);
    Ref<IWMSyncReader> reader(pReader);
    ASSERT_EQ(reader->Open(Widened(input.string()).c_str()), S_OK);
    for (const fs::path& name : {input, m_dir / "link.wmv"}) {
        ASSERT_EQ(Prepare(name), S_OK);
        EXPECT_EQ(m_pWriter->BeginWriting(), HRESULT_SHARING_VIOLATION) << name;
    }
    EXPECT_EQ(ReadFile(input), before);
    EXPECT_EQ(DirEntries(m_dir.Path()), (std::vector<std::string>{"input.wmv", "link.wmv"}));
    reader.reset();
    ASSERT_EQ(Prepare(input), S_OK);
    ASSERT_EQ(m_pWriter->BeginWriting(), S_OK);
    WriteFrames(1, 5);
    m_pWriter.reset();
    EXPECT_EQ(FramesIn(input), 5u);
}

}  // namespace
