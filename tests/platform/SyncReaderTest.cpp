// SPDX-License-Identifier: GPL-3.0-or-later
// The sync reader over FFmpeg, on clips that the ffmpeg command makes and on the real files of
// the shared test data.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/platform/RuntimeTestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace varnel_test;

// The ffmpeg arguments of the clip most tests read: 60 frames at 29.97 a second, a key frame
// every 10, and sound.
const char kAvClip[] =
    "-f lavfi -i testsrc=size=160x120:rate=30000/1001:duration=2 -f lavfi -i sine=duration=2 "
    "-c:v wmv2 -g 10 -c:a wmav2";

// Bottom-up rows at the DIB stride (65 wide: padded), blue-green-red: FFmpeg's own decoding,
// top-down and packed, must be found row by row, whether the reader converts the picture with
// swscale (4:2:0 at an odd height) or with libyuv (4:2:0 at an even height, 4:4:4).
TEST(ReaderTest, PicturesAreFFmpegsOwnInBottomUpBlueGreenRedRows) {
    for (const auto& [width, height, format] :
         {std::tuple{65, 37, "yuv420p"}, {66, 38, "yuv420p"}, {65, 37, "yuv444p"}}) {
        SCOPED_TRACE(std::string(format) + " " + std::to_string(height));
        CTempDir dir;
        const fs::path clip = dir / "odd.avi";
        const std::string size = std::to_string(width) + "x" + std::to_string(height);
        ASSERT_TRUE(MakeClip("-f lavfi -i testsrc=size=" + size +
                                 ":rate=10:duration=0.3 -c:v rawvideo -pix_fmt " + format,
                             clip));
        Ref<IWMSyncReader> reader = NewReader();
        ASSERT_EQ(Open(reader.get(), clip), S_OK);
        Read read;
        ASSERT_EQ(ReadOne(reader.get(), SelectVideo(reader.get()).first, &read), S_OK);
        const std::string expected = RunCommand("ffmpeg -nostdin -v error -i " + Quoted(clip) +
                                                " -frames:v 1 -f rawvideo -pix_fmt bgr24 -");
        const size_t row = width * 3u;
        ASSERT_EQ(expected.size(), row * height);
        ASSERT_EQ(read.dwLength, DibStride(width) * height);
        double difference = 0;
        for (size_t i = 0; i < expected.size(); ++i) {
            difference +=
                std::abs(read.pBytes[(height - 1 - i / row) * DibStride(width) + i % row] -
                         static_cast<BYTE>(expected[i]));
        }
        EXPECT_LE(difference / expected.size(), 2.0);
    }
}

// One reader taken through its states, a call a row; a refused call changes nothing.
TEST(ReaderTest, StatusesOfEachState) {
    CTempDir dir;
    ASSERT_TRUE(MakeClip(kAvClip, dir / "av.wmv"));
    Ref<IWMSyncReader> reader = NewReader();
    IWMSyncReader* r = reader.get();
    const auto read = [r](WORD number) {
        Read read;
        return ReadOne(r, number, &read);
    };
    const auto select = [r](std::vector<WORD> numbers, std::vector<WMT_STREAM_SELECTION> to) {
        return r->SetStreamsSelected(numbers.size(), numbers.data(), to.data());
    };
    const auto profile = [r] {  // the status, and whether a profile came with success alone
        IUnknown* profile = nullptr;
        const HRESULT hr = r->QueryInterface(IID_IWMProfile, reinterpret_cast<void**>(&profile));
        Ref<IUnknown> hold(profile);
        return SUCCEEDED(hr) == (profile != nullptr) ? hr : E_UNEXPECTED;
    };
    const auto toEnd = [&read] {
        HRESULT hr;
        while (SUCCEEDED(hr = read(1))) continue;
        return hr;
    };
    const auto stream1OffAnd3On = [&] { return select({1, 3}, {WMT_OFF, WMT_ON}); };
    const std::pair<std::function<HRESULT()>, HRESULT> steps[] = {
        {[&] { return read(1); }, NS_E_INVALID_REQUEST},  // nothing open
        {[&] { return select({1}, {WMT_ON}); }, NS_E_INVALID_REQUEST},
        {profile, NS_E_INVALID_REQUEST},
        {[r] { return r->Close(); }, S_OK},
        {[r] { return r->Open(L""); }, NS_E_FILE_NOT_FOUND},
        {[r] { return r->Open(L"caf\u0153.wmv"); }, E_INVALIDARG},  // a character above 255
        {[&] { return Open(r, dir / "av.wmv"); }, S_OK},
        {[&] { return select({2}, {WMT_OFF}); }, S_OK},
        {[&] { return select({3}, {WMT_ON}); }, NS_E_INVALID_STREAM},
        {[&] { return select({1}, {static_cast<WMT_STREAM_SELECTION>(3)}); }, E_INVALIDARG},
        {stream1OffAnd3On, NS_E_INVALID_STREAM},
        {[&] { return read(1); }, S_OK},  // still on
        {[&] { return read(2); }, NS_E_INVALID_REQUEST},
        {[&] { return read(9); }, NS_E_INVALID_STREAM},
        {toEnd, NS_E_NO_MORE_SAMPLES},
        {[&] { return read(1); }, NS_E_NO_MORE_SAMPLES},
        {[&] { return read(0); }, NS_E_NO_MORE_SAMPLES},
        {profile, S_OK},
        {[&] { return Open(r, dir / "av.wmv"); }, S_OK},  // from the start again
        {[&] { return read(1); }, S_OK},
        {[r] { return r->Close(); }, S_OK},
        {[&] { return read(1); }, NS_E_INVALID_REQUEST},
        {profile, NS_E_INVALID_REQUEST},
    };
    for (size_t i = 0; i < std::size(steps); ++i)
        EXPECT_EQ(steps[i].first(), steps[i].second) << "row " << i;
}

// Streams that start late, as cameras' MPEG-TS files do (1.4 s on, and the muxer's own 1.4 s in
// MPEG-TS): times count from the file's start, so the 2 s clip reads from 0 to 2 s.
TEST(ReaderTest, TimesCountFromTheStartOfTheFile) {
    CTempDir dir;
    for (const char* name : {"camera.ts", "late.mkv"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(
            MakeClip("-f lavfi -i testsrc=size=160x120:rate=25:duration=2 -c:v mpeg2video "
                     "-output_ts_offset 1.4",
                     dir / name));
        Ref<IWMSyncReader> reader = NewReader();
        ASSERT_EQ(Open(reader.get(), dir / name), S_OK);
        const std::vector<Read> reads = ReadAll(reader.get(), SelectVideo(reader.get()).first);
        ASSERT_EQ(reads.size(), 50u);
        EXPECT_EQ(reads.front().cnsTime, 0u);
        EXPECT_NEAR(reads.back().cnsTime + reads.back().cnsDuration, 2e7, 1e5);
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

TEST(ReaderTest, FilesOfEveryKindOpenAsTheyMayAndReadToACleanEnd) {
    CTempDir dir;
    ASSERT_TRUE(MakeClip(kAvClip, dir / "av.wmv"));
    const std::string clip = ReadFile(dir / "av.wmv");
    const int all = static_cast<int>(ProbeFrameCount(dir / "av.wmv"));
    uint64_t header = 0;  // the size of the ASF header object
    std::memcpy(&header, clip.data() + 16, sizeof header);
    std::string huge = clip, garbled = clip;  // 16000x16000 where the header says 160x120
    const std::string size("\xA0\0\0\0\x78\0\0\0", 8), claim("\x80\x3E\0\0\x80\x3E\0\0", 8);
    for (size_t at = huge.find(size); at < header; at = huge.find(size, at + 8)) {
        huge.replace(at, 8, claim);
    }
    for (size_t i = clip.size() / 3; i < clip.size() / 3 + 4000; i += 7) garbled[i] = 'Z';
    ASSERT_EQ(mkfifo((dir / "fifo.wmv").c_str(), 0600), 0);  // opening it would block
    const FileCase cases[] = {
        {"fifo.wmv", std::nullopt, E_INVALIDARG},
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
        const auto [number, info] = SelectVideo(reader.get());
        EXPECT_EQ(number, 1);
        const std::vector<Read> reads = ReadAll(reader.get(), 0);
        EXPECT_GE(static_cast<int>(reads.size()), c.nMinFrames < 0 ? all : c.nMinFrames);
        EXPECT_LE(static_cast<int>(reads.size()), c.nMaxFrames < 0 ? all : c.nMaxFrames);
        // The clip's frames at their times, a clean point every 10th, as the header says; the
        // audio encoder's priming puts the first a little after the file's start.
        for (size_t i = 0; c.nMinFrames < 0 && i < reads.size(); ++i) {
            EXPECT_TRUE(i > 0 || reads[0].cnsTime < 2 * kNtscFrame);
            EXPECT_NEAR(reads[i].cnsTime * 1.0, reads[0].cnsTime + i * kNtscFrame, 10000) << i;
            EXPECT_NEAR(reads[i].cnsDuration * 1.0, info.AvgTimePerFrame, 10000) << i;
            EXPECT_EQ(reads[i].dwFlags & WM_SF_CLEANPOINT, i % 10 == 0 ? WM_SF_CLEANPOINT : 0u);
        }
    }
}

// The real files of the shared test data as its README lists them, a table row a file: name,
// video, audio, frames. "5 (4 decodable)" counts 4; "-" (no video) means a file that opens
// without a video stream when it has audio, and one that must not open when it has none.
struct RealFile {
    std::string name;
    long frames;  // -1: the file must fail to open
};

std::vector<RealFile> ReadmeFiles() {
    std::vector<RealFile> files;
    std::ifstream readme(fs::path(VARNEL_TESTDATA_DIR) / "README.md");
    const std::regex row(R"(^\| (\S+\.\w+) \|[^|]*\| (\w+)[^|]*\| (?:\d+ \()?(\d+|-))");
    std::smatch cells;  // name, the audio's first word, frames
    for (std::string line; std::getline(readme, line);) {
        if (!std::regex_search(line, cells, row)) continue;
        const long frames = std::atol(cells[3].str().c_str());
        files.push_back({cells[1], frames > 0 || cells[2] != "none" ? frames : -1});
    }
    return files;
}

class RealFileTest : public ::testing::TestWithParam<RealFile> {};
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RealFileTest);

TEST_P(RealFileTest, ReadsToTheEndWithTheKnownFrameCount) {
    const fs::path file = TestDataFile(GetParam().name);
    if (file.empty()) GTEST_SKIP() << "test data absent: " << GetParam().name;
    Ref<IWMSyncReader> reader = NewReader();
    ASSERT_EQ(SUCCEEDED(Open(reader.get(), file)), GetParam().frames >= 0);
    if (GetParam().frames < 0) return;
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
