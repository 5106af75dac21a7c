#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/wmf/profile/Profile.h"
#include "platform/wmf/shared/Runtime.h"
#include "platform/wmf/shared/SampleBuffer.h"
#include "platform/wmf/wmsdk.h"
#include "platform/wmf/writer/WriterFormat.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TestStreams.h"

namespace {

namespace fs = std::filesystem;
using namespace varnel_test;

constexpr DWORD kWmv1 = MakeFourcc('W', 'M', 'V', '1');
constexpr DWORD kWmv2 = MakeFourcc('W', 'M', 'V', '2');
constexpr QWORD kNtscStep = 333667;  // 1/29.97 s, truncated

Ref<IWMProfile> Profile(const std::vector<wmf::StreamDescription>& streams) {
    IWMProfile* pProfile = nullptr;
    EXPECT_EQ(wmf::CreateProfile(streams, &pProfile), S_OK);
    return Ref<IWMProfile>(pProfile);
}

// A frame whose upper half (as the picture is seen) is red and lower half blue. DIB rows are
// bottom-up, so the buffer starts with the blue rows.
Ref<CSampleBuffer> Frame(LONG width, LONG height) {
    const DWORD stride = DibStride(width);
    Ref<CSampleBuffer> pSample(CSampleBuffer::Create(stride * static_cast<DWORD>(height)));
    for (LONG row = 0; row < height; ++row) {
        BYTE* p = pSample->Bytes() + static_cast<size_t>(row) * stride;
        const bool bLowerHalf = row < height / 2;
        for (LONG x = 0; x < width; ++x) {
            p[3 * x + 0] = bLowerHalf ? 255 : 0;  // blue
            p[3 * x + 1] = 0;
            p[3 * x + 2] = bLowerHalf ? 0 : 255;  // red
        }
    }
    return pSample;
}

// A frame of coarse noise, which no encoder squeezes much.
Ref<CSampleBuffer> NoiseFrame(LONG width, LONG height, uint32_t seed) {
    Ref<CSampleBuffer> pSample = Frame(width, height);
    for (BYTE* p = pSample->Bytes(); p != pSample->Bytes() + DibStride(width) * height; ++p) {
        seed = seed * 1103515245u + 12345u;
        *p = static_cast<BYTE>(seed >> 24);
    }
    return pSample;
}

// What ffprobe finds in a file: "codec,type,width,height" of each stream, and the times of the
// decoded video frames (ms).
struct Probe {
    std::vector<std::string> streams;
    std::vector<long long> frameMilliseconds;
};

Probe ProbeFile(const fs::path& file) {
    Probe probe;
    std::istringstream streams(RunCommand(
        "ffprobe -v error -show_entries stream=codec_type,codec_name,width,height -of csv=p=0 " +
        Quoted(file)));
    for (std::string line; std::getline(streams, line);) probe.streams.push_back(line);
    std::istringstream frames(
        RunCommand("ffprobe -v error -select_streams v:0 -show_entries "
                   "frame=best_effort_timestamp_time -of csv=p=0 " +
                   Quoted(file)));
    for (std::string line; std::getline(frames, line);) {
        if (!line.empty()) probe.frameMilliseconds.push_back(std::llround(std::stod(line) * 1000));
    }
    return probe;
}

std::string Contents(const fs::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The first decoded picture as packed red-green-blue bytes, top row first.
std::vector<unsigned char> FirstPicture(const fs::path& file) {
    const std::string bytes = RunCommand("ffmpeg -nostdin -v error -i " + Quoted(file) +
                                         " -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

// Whether the pixel at (x, y) of a decoded picture 64 wide is clearly red (else clearly blue).
bool IsRed(const std::vector<unsigned char>& rgb, int x, int y) {
    const unsigned char* p = &rgb[(static_cast<size_t>(y) * 64 + x) * 3];
    return p[0] > 200 && p[2] < 60;
}
bool IsBlue(const std::vector<unsigned char>& rgb, int x, int y) {
    const unsigned char* p = &rgb[(static_cast<size_t>(y) * 64 + x) * 3];
    return p[2] > 200 && p[0] < 60;
}

class WriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.empty());
        IWMWriter* pWriter = nullptr;
        ASSERT_EQ(WMCreateWriter(nullptr, &pWriter), S_OK);
        m_pWriter.reset(pWriter);
    }

    HRESULT Prepare(LONG width, LONG height, const fs::path& file, DWORD fourcc = kWmv2) {
        HRESULT hr = m_pWriter->SetProfile(Profile({TestVideo(1, width, height, fourcc)}).get());
        if (FAILED(hr)) return hr;
        return m_pWriter->SetOutputFilename(file.wstring().c_str());
    }

    // Writes `count` frames at 1/29.97 s steps, the first at one step.
    void WriteFrames(LONG width, LONG height, int count) {
        for (int k = 1; k <= count; ++k) {
            Ref<CSampleBuffer> pFrame = Frame(width, height);
            ASSERT_EQ(m_pWriter->WriteSample(0, k * kNtscStep, 0, pFrame.get()), S_OK);
        }
    }

    // The whole round: profile, name, begin, `count` frames, end.
    void WriteFile(const fs::path& file, LONG width, LONG height, int count, DWORD fourcc = kWmv2) {
        ASSERT_EQ(Prepare(width, height, file, fourcc), S_OK);
        ASSERT_EQ(m_pWriter->BeginWriting(), S_OK);
        WriteFrames(width, height, count);
        ASSERT_EQ(m_pWriter->EndWriting(), S_OK);
    }

    std::vector<fs::path> Entries() const {
        std::vector<fs::path> entries;
        for (const auto& entry : fs::recursive_directory_iterator(m_dir)) {
            entries.push_back(entry.path());
        }
        return entries;
    }

    CTempDir m_tempDir;
    const fs::path m_dir = m_tempDir.Path();
    Ref<IWMWriter> m_pWriter;
};

TEST_F(WriterTest, RefusesWorkOutsideItsStates) {
    Ref<CSampleBuffer> pFrame = Frame(64, 48);
    EXPECT_EQ(m_pWriter->WriteSample(0, kNtscStep, 0, pFrame.get()), NS_E_INVALID_REQUEST);
    EXPECT_EQ(m_pWriter->EndWriting(), NS_E_INVALID_REQUEST);
    EXPECT_EQ(m_pWriter->BeginWriting(), NS_E_INVALID_REQUEST);  // no profile, no name
    ASSERT_EQ(m_pWriter->SetProfile(Profile({TestVideo(1, 64, 48)}).get()), S_OK);
    EXPECT_EQ(m_pWriter->BeginWriting(), NS_E_INVALID_REQUEST);  // no name
    EXPECT_TRUE(Entries().empty());

    ASSERT_EQ(Prepare(64, 48, m_dir / "out.wmv"), S_OK);
    ASSERT_EQ(m_pWriter->BeginWriting(), S_OK);
    EXPECT_EQ(m_pWriter->BeginWriting(), NS_E_INVALID_REQUEST);
    // A new input of another size must not reach the file under way.
    EXPECT_EQ(m_pWriter->SetProfile(Profile({TestVideo(1, 32, 32)}).get()), NS_E_INVALID_REQUEST);
    EXPECT_EQ(m_pWriter->SetOutputFilename((m_dir / "other.wmv").wstring().c_str()),
              NS_E_INVALID_REQUEST);
    WriteFrames(64, 48, 3);
    ASSERT_EQ(m_pWriter->EndWriting(), S_OK);
    EXPECT_EQ(m_pWriter->EndWriting(), NS_E_INVALID_REQUEST);
    EXPECT_EQ(ProbeFile(m_dir / "out.wmv").frameMilliseconds.size(), 3u);
    EXPECT_FALSE(fs::exists(m_dir / "other.wmv"));
}

TEST_F(WriterTest, RefusesProfilesWithoutOneVideoStreamAndNamesThatCannotBeFiles) {
    EXPECT_EQ(m_pWriter->SetProfile(Profile({TestAudio(1)}).get()), NS_E_INVALIDPROFILE);
    EXPECT_EQ(m_pWriter->SetProfile(Profile({}).get()), NS_E_INVALIDPROFILE);
    EXPECT_EQ(m_pWriter->SetProfile(Profile({TestVideo(1, 64, 48), TestVideo(2, 64, 48)}).get()),
              NS_E_INVALIDPROFILE);
    EXPECT_EQ(m_pWriter->SetProfile(Profile({TestVideo(1, 0, 48)}).get()), NS_E_INVALIDPROFILE);
    EXPECT_EQ(m_pWriter->SetProfile(Profile({TestAudio(1), TestVideo(2, 64, 48)}).get()), S_OK);
    EXPECT_EQ(m_pWriter->SetOutputFilename(L""), E_INVALIDARG);
    EXPECT_EQ(m_pWriter->SetOutputFilename(L"caf\u0153.wmv"), E_INVALIDARG);  // above 255
    EXPECT_EQ(m_pWriter->SetOutputFilename(nullptr), E_POINTER);
}

TEST_F(WriterTest, WritesEveryFrameAtItsMillisecondWithTheProfilesCodec) {
    for (const auto& [fourcc, codec] : {std::pair{kWmv2, "wmv2"}, std::pair{kWmv1, "wmv1"}}) {
        const fs::path file = m_dir / (std::string(codec) + ".wmv");
        WriteFile(file, 96, 64, 40, fourcc);
        const Probe probe = ProbeFile(file);
        EXPECT_EQ(probe.streams, std::vector<std::string>{std::string(codec) + ",video,96,64"});
        ASSERT_EQ(probe.frameMilliseconds.size(), 40u);
        for (int k = 1; k <= 40; ++k) {
            // 333667 -> 33 ms, 667334 -> 67 ms: rounded to the nearest millisecond.
            EXPECT_EQ(probe.frameMilliseconds[k - 1], (k * kNtscStep + 5000) / 10000)
                << codec << " frame " << k;
        }
    }
}

// The name picks the file: container (by the type its header names), codec, every frame at
// k x 1001 ticks of 1/30000 s (the Matroska family keeps them in milliseconds), 29.97 frames a
// second, odd sizes padded, and the MP4 family's index in front of the pictures.
TEST_F(WriterTest, NamePicksContainerAndCodecWithExactNtscTimes) {
    struct Case {
        const char* pszName;
        const char* pszFileType;  // in the file's first bytes
        const char* pszCodec;
        bool bMilliseconds;
    };
    for (const Case& c :
         {Case{"out.mp4", "ftypisom", "h264", false}, Case{"OUT.M4V", "ftypisom", "h264", false},
          Case{"out.mov", "ftypqt", "h264", false}, Case{"out.mkv", "matroska", "h264", true},
          Case{"out.webm", "webm", "vp9", true}, Case{"out.avi", "", "wmv2", true}}) {
        const fs::path file = m_dir / c.pszName;
        WriteFile(file, 63, 47, 12);
        const std::string bytes = Contents(file);
        EXPECT_NE(bytes.substr(0, 64).find(c.pszFileType), std::string::npos) << c.pszName;
        const std::string args = " -of csv=p=0 " + Quoted(file);
        EXPECT_EQ(RunCommand("ffprobe -v error -show_entries stream=codec_name,width,height," +
                             std::string("r_frame_rate") + args),
                  std::string(c.pszCodec) + ",64,48,30000/1001\n");
        std::istringstream packets(
            RunCommand("ffprobe -v error -show_entries packet=pts" + args + " | sort -n"));
        std::vector<long long> pts;
        for (std::string line; std::getline(packets, line);) pts.push_back(std::stoll(line));
        ASSERT_EQ(pts.size(), 12u) << c.pszName;
        for (int k = 1; k <= 12; ++k) {
            const long long nExpected = c.bMilliseconds ? std::llround(k * 1001 / 30.0) : k * 1001;
            EXPECT_EQ(pts[k - 1], nExpected) << c.pszName << " frame " << k;
        }
        if (!c.bMilliseconds) {
            EXPECT_LT(bytes.find("moov"), bytes.find("mdat")) << c.pszName;
        }
    }
}

TEST_F(WriterTest, EncoderThatThisFfmpegLacksIsRefusedAndNothingIsCreated) {
    wmf::ReplaceEncoderNameForTesting("libx264", "varnel-missing-encoder");
    ASSERT_EQ(Prepare(64, 48, m_dir / "out.mp4"), S_OK);
    const HRESULT hr = m_pWriter->BeginWriting();
    wmf::ReplaceEncoderNameForTesting(nullptr, nullptr);
    EXPECT_EQ(hr, NS_E_INVALID_OUTPUT_FORMAT);
    EXPECT_TRUE(Entries().empty());
    Ref<CSampleBuffer> pFrame = Frame(64, 48);
    EXPECT_EQ(m_pWriter->WriteSample(0, kNtscStep, 0, pFrame.get()), NS_E_INVALID_REQUEST);
}

TEST_F(WriterTest, KeepsPictureUprightAndColoursInOrderForEitherRowOrder) {
    for (const LONG height : {48, -48}) {
        wmf::StreamDescription video = TestVideo(1, 64, 48);
        reinterpret_cast<WMVIDEOINFOHEADER*>(video.format.data())->bmiHeader.biHeight = height;
        const fs::path file = m_dir / ("colours" + std::to_string(height) + ".wmv");
        ASSERT_EQ(m_pWriter->SetProfile(Profile({video}).get()), S_OK);
        ASSERT_EQ(m_pWriter->SetOutputFilename(file.wstring().c_str()), S_OK);
        ASSERT_EQ(m_pWriter->BeginWriting(), S_OK);
        WriteFrames(64, 48, 2);  // blue rows first: the bottom, or the top for a negative height
        ASSERT_EQ(m_pWriter->EndWriting(), S_OK);
        const std::vector<unsigned char> rgb = FirstPicture(file);
        ASSERT_EQ(rgb.size(), 64u * 48u * 3u);
        EXPECT_TRUE(height > 0 ? IsRed(rgb, 32, 5) : IsBlue(rgb, 32, 5)) << height;
        EXPECT_TRUE(height > 0 ? IsBlue(rgb, 32, 42) : IsRed(rgb, 32, 42)) << height;
    }
}

TEST_F(WriterTest, PadsOddSizesWithTheEdge) {
    const fs::path file = m_dir / "odd.wmv";
    WriteFile(file, 63, 47, 5);

    const Probe probe = ProbeFile(file);
    EXPECT_EQ(probe.streams, std::vector<std::string>{"wmv2,video,64,48"});
    EXPECT_EQ(probe.frameMilliseconds.size(), 5u);
    // The added bottom row repeats the blue edge, the added column the colours beside it.
    const std::vector<unsigned char> rgb = FirstPicture(file);
    ASSERT_EQ(rgb.size(), 64u * 48u * 3u);
    EXPECT_TRUE(IsBlue(rgb, 63, 47));
    EXPECT_TRUE(IsRed(rgb, 63, 2));
}

TEST_F(WriterTest, RefusesSamplesOfAnotherSizeAndGoesOn) {
    const fs::path file = m_dir / "sizes.wmv";
    ASSERT_EQ(Prepare(64, 48, file), S_OK);
    ASSERT_EQ(m_pWriter->BeginWriting(), S_OK);
    Ref<CSampleBuffer> pGood = Frame(64, 48);
    Ref<CSampleBuffer> pSmall = Frame(32, 48);
    EXPECT_EQ(m_pWriter->WriteSample(0, kNtscStep, 0, pSmall.get()), NS_E_INVALID_INPUT_FORMAT);
    ASSERT_EQ(pGood->SetLength(DibStride(64) * 48 - 1), S_OK);
    EXPECT_EQ(m_pWriter->WriteSample(0, kNtscStep, 0, pGood.get()), NS_E_INVALID_INPUT_FORMAT);
    ASSERT_EQ(pGood->SetLength(DibStride(64) * 48), S_OK);
    EXPECT_EQ(m_pWriter->WriteSample(1, kNtscStep, 0, pGood.get()), E_INVALIDARG);
    EXPECT_EQ(m_pWriter->WriteSample(0, kNtscStep, 0, pGood.get()), S_OK);
    // Same millisecond as the previous sample: the file could not keep both apart.
    EXPECT_EQ(m_pWriter->WriteSample(0, kNtscStep + 1, 0, pGood.get()), E_INVALIDARG);
    EXPECT_EQ(m_pWriter->WriteSample(0, 2 * kNtscStep, 0, pGood.get()), S_OK);
    ASSERT_EQ(m_pWriter->EndWriting(), S_OK);
    EXPECT_EQ(ProbeFile(file).frameMilliseconds, (std::vector<long long>{33, 67}));
}

TEST_F(WriterTest, HoldsSamplesOnlyUntilEncoded) {
    ASSERT_EQ(Prepare(64, 48, m_dir / "refs.wmv"), S_OK);
    ASSERT_EQ(m_pWriter->BeginWriting(), S_OK);
    Ref<CSampleBuffer> pKept = Frame(64, 48);
    ASSERT_EQ(m_pWriter->WriteSample(0, kNtscStep, 0, pKept.get()), S_OK);
    // A sample whose caller lets go at once is still encoded from the writer's own reference.
    CSampleBuffer* pDropped = Frame(64, 48).release();
    ASSERT_EQ(m_pWriter->WriteSample(0, 2 * kNtscStep, 0, pDropped), S_OK);
    pDropped->Release();
    ASSERT_EQ(m_pWriter->EndWriting(), S_OK);
    EXPECT_EQ(pKept->RefCount(), 1u);
    EXPECT_EQ(ProbeFile(m_dir / "refs.wmv").frameMilliseconds.size(), 2u);
}

TEST_F(WriterTest, MissingFolderFailsAndCreatesNothing) {
    ASSERT_EQ(Prepare(64, 48, m_dir / "missing" / "out.wmv"), S_OK);
    EXPECT_EQ(m_pWriter->BeginWriting(), NS_E_FILE_NOT_FOUND);
    EXPECT_TRUE(Entries().empty());
    Ref<CSampleBuffer> pFrame = Frame(64, 48);
    EXPECT_EQ(m_pWriter->WriteSample(0, kNtscStep, 0, pFrame.get()), NS_E_INVALID_REQUEST);
}

TEST_F(WriterTest, NeverShowsAHalfWrittenFileUnderItsName) {
    const fs::path file = m_dir / "existing.wmv";
    std::ofstream(file) << "previous content";
    ASSERT_EQ(Prepare(64, 48, file), S_OK);
    ASSERT_EQ(m_pWriter->BeginWriting(), S_OK);
    WriteFrames(64, 48, 3);
    EXPECT_EQ(Contents(file), "previous content");
    ASSERT_EQ(m_pWriter->EndWriting(), S_OK);
    EXPECT_EQ(ProbeFile(file).frameMilliseconds.size(), 3u);
    EXPECT_EQ(Entries(), std::vector<fs::path>{file});  // no temporary left beside it
}

TEST_F(WriterTest, FailureOnTheWayLeavesNothingBehind) {
    const fs::path file = m_dir / "full.wmv";
    std::ofstream(file) << "previous content";
    ASSERT_EQ(Prepare(320, 240, file), S_OK);
    // A file size limit stands in for a full disk: writes beyond 64 KB fail.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved;
    limit.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    ASSERT_EQ(m_pWriter->BeginWriting(), S_OK);
    HRESULT hr = S_OK;
    for (int k = 1; k <= 60 && SUCCEEDED(hr); ++k) {
        hr = m_pWriter->WriteSample(0, k * kNtscStep, 0, NoiseFrame(320, 240, k).get());
    }
    const HRESULT hrEnd = m_pWriter->EndWriting();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_TRUE(FAILED(hr) || FAILED(hrEnd));
    EXPECT_EQ(Contents(file), "previous content");
    EXPECT_EQ(Entries(), std::vector<fs::path>{file});
}

TEST_F(WriterTest, RefusesToOverwriteTheOpenInput) {
    const fs::path input = m_dir / "input.wmv";
    std::ofstream(input) << "the video being read";
    fs::create_symlink(input, m_dir / "link.wmv");
    struct stat st {};
    ASSERT_EQ(stat(input.c_str(), &st), 0);
    wmf::RegisterOpenInput(st.st_dev, st.st_ino);
    for (const fs::path& name : {input, m_dir / "link.wmv"}) {
        ASSERT_EQ(Prepare(64, 48, name), S_OK);
        EXPECT_EQ(m_pWriter->BeginWriting(), HRESULT_SHARING_VIOLATION) << name;
    }
    wmf::UnregisterOpenInput(st.st_dev, st.st_ino);
    EXPECT_EQ(Contents(input), "the video being read");
    EXPECT_EQ(Entries().size(), 2u);
}

TEST_F(WriterTest, BeginsAgainAfterEndingAndReleasingWhileWritingFinishesTheFile) {
    const fs::path file = m_dir / "again.wmv";
    WriteFile(file, 64, 48, 2);
    ASSERT_EQ(m_pWriter->BeginWriting(), S_OK);
    WriteFrames(64, 48, 5);
    ASSERT_EQ(m_pWriter->EndWriting(), S_OK);
    EXPECT_EQ(ProbeFile(file).frameMilliseconds.size(), 5u);
    ASSERT_EQ(m_pWriter->BeginWriting(), S_OK);
    WriteFrames(64, 48, 6);
    m_pWriter.reset();
    EXPECT_EQ(ProbeFile(file).frameMilliseconds.size(), 6u);
}

}  // namespace
