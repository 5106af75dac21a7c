// The sync reader over FFmpeg, on clips that the ffmpeg command makes and on the real files of
// the shared test data.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/platform/RuntimeTestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace varnel_test;

constexpr QWORD kNtscFrame = 333667;  // 1/29.97 s

// Clips made by the ffmpeg command once for the whole suite.
class ReaderTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_pDir = std::make_unique<CTempDir>();
        // 60 frames at 29.97 a second, a key frame every 10, and sound.
        s_bMade = MakeClip(
                      "-f lavfi -i testsrc=size=160x120:rate=30000/1001:duration=2 -f lavfi "
                      "-i sine=duration=2 -c:v wmv2 -g 10 -c:a wmav2",
                      Clip()) &&
                  MakeClip(
                      "-f lavfi -i testsrc=size=65x37:rate=10:duration=0.3 -c:v rawvideo "
                      "-pix_fmt yuv420p",
                      s_pDir->Path() / "odd.avi");
    }
    static void TearDownTestSuite() { s_pDir.reset(); }
    void SetUp() override {
        ASSERT_TRUE(s_bMade) << "the ffmpeg command could not make the test clips";
        m_pReader = NewReader();
    }
    static fs::path Clip() { return s_pDir->Path() / "av.wmv"; }

    static inline std::unique_ptr<CTempDir> s_pDir;
    static inline bool s_bMade = false;
    Ref<IWMSyncReader> m_pReader;
};

TEST_F(ReaderTest, ReadsEveryFrameFFmpegDecodesAtItsTimeWithKeyFramesAsCleanPoints) {
    ASSERT_EQ(Open(m_pReader.get(), Clip()), S_OK);
    const auto [number, info] = SelectVideo(m_pReader.get());
    EXPECT_EQ(number, 1);
    EXPECT_EQ(info.bmiHeader.biWidth, 160);
    EXPECT_EQ(info.bmiHeader.biHeight, 120);
    EXPECT_EQ(info.bmiHeader.biCompression, MakeFourcc('W', 'M', 'V', '2'));
    EXPECT_NEAR(static_cast<double>(info.AvgTimePerFrame), kNtscFrame, 2.0);
    const std::vector<Read> reads = ReadAll(m_pReader.get(), number);
    ASSERT_EQ(static_cast<long>(reads.size()), ProbeFrameCount(Clip()));
    // The audio encoder's priming puts the first picture a little after the file's start.
    ASSERT_LT(reads[0].cnsTime, kNtscFrame * 2);
    for (size_t i = 0; i < reads.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_NEAR(reads[i].cnsTime * 1.0, reads[0].cnsTime + i * kNtscFrame, 10000);
        EXPECT_NEAR(reads[i].cnsDuration * 1.0, kNtscFrame, 10000);
        EXPECT_EQ(reads[i].dwLength, DibStride(160) * 120);
        EXPECT_EQ(reads[i].dwFlags & WM_SF_CLEANPOINT, i % 10 == 0 ? WM_SF_CLEANPOINT : 0u);
    }
}

// Bottom-up rows at the DIB stride (65 wide: padded), blue-green-red: FFmpeg's own decoding,
// top-down and packed, must be found row by row.
TEST_F(ReaderTest, PicturesAreFFmpegsOwnInBottomUpBlueGreenRedRows) {
    const fs::path clip = s_pDir->Path() / "odd.avi";
    ASSERT_EQ(Open(m_pReader.get(), clip), S_OK);
    Read read;
    ASSERT_EQ(ReadOne(m_pReader.get(), SelectVideo(m_pReader.get()).first, &read), S_OK);
    const std::string expected = RunCommand("ffmpeg -nostdin -v error -i " + Quoted(clip) +
                                            " -frames:v 1 -f rawvideo -pix_fmt bgr24 -");
    ASSERT_EQ(expected.size(), 65u * 37 * 3);
    ASSERT_EQ(read.dwLength, DibStride(65) * 37);
    double difference = 0;
    for (size_t y = 0; y < 37; ++y) {
        for (size_t x = 0; x < 65 * 3; ++x) {
            difference += std::abs(read.pBytes[(36 - y) * DibStride(65) + x] -
                                   static_cast<BYTE>(expected[y * 65 * 3 + x]));
        }
    }
    EXPECT_LE(difference / expected.size(), 2.0);
}

// Each call in the state its row names.
enum class Stage { kNothingOpen, kVideoOnly, kAtEnd, kClosed };
enum class Call { kRead, kSelect, kSelectBad, kSelectTwo, kUncompressed, kProfile, kOpen };
struct StatusCase {
    Stage stage;
    Call call;
    WORD wStream;
    HRESULT expected;
    const wchar_t* pwszName = nullptr;
};

HRESULT Perform(IWMSyncReader* r, const StatusCase& c) {
    WORD number = c.wStream, numbers[2] = {1, c.wStream};
    WMT_STREAM_SELECTION on = WMT_ON, bogus = static_cast<WMT_STREAM_SELECTION>(3);
    WMT_STREAM_SELECTION selections[2] = {WMT_OFF, WMT_ON};
    Read read;
    void* profile = nullptr;
    if (c.call == Call::kRead) return ReadOne(r, number, &read);
    if (c.call == Call::kSelect) return r->SetStreamsSelected(1, &number, &on);
    if (c.call == Call::kSelectBad) return r->SetStreamsSelected(1, &number, &bogus);
    if (c.call == Call::kUncompressed) return r->SetReadStreamSamples(number, FALSE);
    if (c.call == Call::kOpen) return r->Open(c.pwszName);
    if (c.call == Call::kProfile) {
        const HRESULT hr = r->QueryInterface(IID_IWMProfile, &profile);
        return profile == nullptr ? hr : E_UNEXPECTED;
    }
    const HRESULT hr = r->SetStreamsSelected(2, numbers, selections);
    return ReadOne(r, 1, &read) == S_OK ? hr : E_UNEXPECTED;  // a refused selection: no change
}

TEST_F(ReaderTest, StatusesOfEachState) {
    const StatusCase cases[] = {
        {Stage::kNothingOpen, Call::kRead, 1, NS_E_INVALID_REQUEST},
        {Stage::kNothingOpen, Call::kRead, 0, NS_E_INVALID_REQUEST},
        {Stage::kNothingOpen, Call::kSelect, 1, NS_E_INVALID_REQUEST},
        {Stage::kNothingOpen, Call::kUncompressed, 1, NS_E_INVALID_REQUEST},
        {Stage::kNothingOpen, Call::kProfile, 0, NS_E_INVALID_REQUEST},
        {Stage::kNothingOpen, Call::kOpen, 0, E_POINTER},
        {Stage::kNothingOpen, Call::kOpen, 0, NS_E_FILE_NOT_FOUND, L""},
        {Stage::kNothingOpen, Call::kOpen, 0, E_INVALIDARG, L"caf\u0153.wmv"},
        {Stage::kVideoOnly, Call::kSelect, 0, NS_E_INVALID_STREAM},
        {Stage::kVideoOnly, Call::kSelect, 3, NS_E_INVALID_STREAM},
        {Stage::kVideoOnly, Call::kSelectBad, 1, E_INVALIDARG},
        {Stage::kVideoOnly, Call::kSelectTwo, 3, NS_E_INVALID_STREAM},
        {Stage::kVideoOnly, Call::kUncompressed, 0, NS_E_INVALID_STREAM},
        {Stage::kVideoOnly, Call::kRead, 9, NS_E_INVALID_STREAM},
        {Stage::kVideoOnly, Call::kRead, 2, NS_E_INVALID_REQUEST},  // not selected
        {Stage::kAtEnd, Call::kRead, 1, NS_E_NO_MORE_SAMPLES},
        {Stage::kAtEnd, Call::kRead, 0, NS_E_NO_MORE_SAMPLES},
        {Stage::kClosed, Call::kRead, 1, NS_E_INVALID_REQUEST},
        {Stage::kClosed, Call::kProfile, 0, NS_E_INVALID_REQUEST},
    };
    for (const StatusCase& c : cases) {
        Ref<IWMSyncReader> reader = NewReader();
        if (c.stage != Stage::kNothingOpen && Open(reader.get(), Clip()) == S_OK) {
            SelectVideo(reader.get());
        }
        if (c.stage == Stage::kAtEnd) ReadAll(reader.get(), 1);
        if (c.stage == Stage::kClosed) reader->Close();
        EXPECT_EQ(Perform(reader.get(), c), c.expected) << "row " << &c - cases;
    }
}

// Files of every kind, most made from the clip's bytes (none: no file of that name is made).
// Opening gives the status of the row; a file that opens reads to a clean end with a number of
// frames within the row's bounds (-1: all the clip's), and one that does not leaves the reader
// closed.
struct FileCase {
    const char* name;
    std::optional<std::string> bytes;
    HRESULT open;
    int nMinFrames = 0, nMaxFrames = 0;
};

TEST_F(ReaderTest, FilesOfEveryKindOpenAsTheyMayAndReadToACleanEnd) {
    const std::string clip = ReadFile(Clip());
    const int all = static_cast<int>(ProbeFrameCount(Clip()));
    uint64_t header = 0;  // the size of the ASF header object
    std::memcpy(&header, clip.data() + 16, sizeof header);
    std::string huge = clip, garbled = clip;  // 16000x16000 where the header says 160x120
    const std::string size("\xA0\0\0\0\x78\0\0\0", 8), claim("\x80\x3E\0\0\x80\x3E\0\0", 8);
    for (size_t at = huge.find(size); at < header; at = huge.find(size, at + 8)) {
        huge.replace(at, 8, claim);
    }
    for (size_t i = clip.size() / 3; i < clip.size() / 3 + 4000; i += 7) garbled[i] = 'Z';
    const fs::path dir = s_pDir->Path();
    ASSERT_EQ(mkfifo((dir / "fifo.wmv").c_str(), 0600), 0);  // opening it would block
    // The cover picture is a stream of FFmpeg's, not of the profile.
    ASSERT_TRUE(
        MakeClip("-f lavfi -i color=size=32x32:rate=1:duration=1 -f lavfi -i "
                 "testsrc=size=160x120:rate=10:duration=0.5 -map 0 -map 1 -c:v:0 png "
                 "-disposition:v:0 attached_pic -c:v:1 mpeg4",
                 dir / "cover.mp4"));
    const FileCase cases[] = {
        {"missing.wmv", std::nullopt, NS_E_FILE_NOT_FOUND},
        {"fifo.wmv", std::nullopt, E_INVALIDARG},
        {".", std::nullopt, E_INVALIDARG},
        {"notes.wmv", "These are not the frames you are looking for.\n", NS_E_INVALID_INPUT_FORMAT},
        {"empty.wmv", "", NS_E_INVALID_INPUT_FORMAT},
        {"first 600 bytes.wmv", clip.substr(0, 600), NS_E_INVALID_INPUT_FORMAT},
        {"huge.wmv", huge, NS_E_INVALID_INPUT_FORMAT},
        {"header only.wmv", clip.substr(0, header + 50), S_OK},
        {"first half.wmv", clip.substr(0, clip.size() / 2), S_OK, all / 4, -1},
        {"garbage in the middle.wmv", garbled, S_OK, all / 4, -1},
        {"clip \xE9t\xE9.wmv", clip, S_OK, -1, -1},
        // A colon must not make FFmpeg read anything but the file of that name.
        {"concat:av.wmv", clip, S_OK, -1, -1},
        {"subfile,,start,0,end,0,,:av.wmv", std::nullopt, NS_E_FILE_NOT_FOUND},
        {"cover.mp4", std::nullopt, S_OK, 5, 5},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.bytes) WriteFile(dir / c.name, *c.bytes);
        Ref<IWMSyncReader> reader = NewReader();
        ASSERT_EQ(Open(reader.get(), dir / c.name), c.open);
        Read read;
        if (FAILED(c.open)) {
            EXPECT_EQ(ReadOne(reader.get(), 1, &read), NS_E_INVALID_REQUEST);
            continue;
        }
        EXPECT_EQ(SelectVideo(reader.get()).first, 1);
        const int frames = static_cast<int>(ReadAll(reader.get(), 0).size());
        EXPECT_GE(frames, c.nMinFrames < 0 ? all : c.nMinFrames);
        EXPECT_LE(frames, c.nMaxFrames < 0 ? all : c.nMaxFrames);
    }
}

// The real files of the shared test data as its README lists them, a row a file: name, video,
// audio, frames ("5 (4 decodable)": 4; none, "-", for a file without video, which must not
// open when it has no audio either).
struct RealFile {
    std::string name;
    long frames;  // -1: the file must fail to open
};

std::vector<RealFile> ReadmeFiles() {
    std::vector<RealFile> files;
    std::ifstream readme(fs::path(VARNEL_TESTDATA_DIR) / "README.md");
    for (std::string line; std::getline(readme, line);) {
        std::vector<std::string> cells;  // each padded with a space on either side
        std::istringstream row(line);
        for (std::string cell; std::getline(row, cell, '|');) {
            cells.push_back(cell.size() > 2 ? cell.substr(1, cell.size() - 2) : cell);
        }
        if (cells.size() < 5 || cells[1].find('.') == std::string::npos) continue;
        const size_t open = cells[4].find('(');
        const long frames =
            std::atol(cells[4].c_str() + (open == std::string::npos ? 0 : open + 1));
        files.push_back({cells[1], frames > 0 || cells[3] != "none" ? frames : -1});
    }
    return files;
}

class RealFileTest : public ::testing::TestWithParam<RealFile> {};
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RealFileTest);

TEST_P(RealFileTest, ReadsToTheEndWithTheKnownFrameCount) {
    const fs::path file = TestDataFile(GetParam().name);
    if (file.empty()) GTEST_SKIP() << "test data absent: " << GetParam().name;
    Ref<IWMSyncReader> reader = NewReader();
    const HRESULT hr = Open(reader.get(), file);
    if (GetParam().frames < 0) {
        EXPECT_TRUE(FAILED(hr));
        return;
    }
    ASSERT_EQ(hr, S_OK);
    const auto [number, info] = SelectVideo(reader.get());
    EXPECT_EQ(number == 0, GetParam().frames == 0);
    const std::vector<Read> reads = ReadAll(reader.get(), number);
    EXPECT_EQ(static_cast<long>(reads.size()), GetParam().frames);
    QWORD previous = 0;
    for (const Read& read : reads) {
        EXPECT_EQ(read.dwLength, DibStride(info.bmiHeader.biWidth) * info.bmiHeader.biHeight);
        EXPECT_GE(read.cnsTime + 10000, previous);  // forward, give or take reordering
        previous = read.cnsTime;
    }
}

INSTANTIATE_TEST_SUITE_P(TestData, RealFileTest, ::testing::ValuesIn(ReadmeFiles()),
                         [](const auto& info) { return info.param.name.substr(0, 3); });

}  // namespace
