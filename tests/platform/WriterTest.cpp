// SPDX-License-Identifier: GPL-3.0-or-later
// The writer over FFmpeg: what it writes, read back with ffprobe, and what it refuses.
#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sys/resource.h>

#include "platform/wmf/profile/Profile.h"
#include "platform/wmf/shared/SampleBuffer.h"
#include "platform/wmf/writer/WriterFormat.h"
#include "tests/platform/RuntimeTestSupport.h"
#include "tests/support/TestStreams.h"

namespace {

namespace fs = std::filesystem;
using namespace varnel_test;

constexpr DWORD kWmv2 = MakeFourcc('W', 'M', 'V', '2');

// Sets a profile of one video stream (a negative height: rows top-down) and the file's name.
HRESULT Prepare(IWMWriter* writer, const fs::path& file, LONG width = 64, LONG height = 48,
                DWORD fourcc = kWmv2) {
    wmf::StreamDescription video = TestVideo(1, width, std::abs(height), fourcc);
    reinterpret_cast<WMVIDEOINFOHEADER*>(video.format.data())->bmiHeader.biHeight = height;
    const HRESULT hr = writer->SetProfile(Ref<IWMProfile>(wmf::CProfile::Create({video})).get());
    return FAILED(hr) ? hr : writer->SetOutputFilename(Widened(file.string()).c_str());
}

// A frame whose upper half (as the picture is seen) is red and lower half blue, DIB rows
// bottom-up; with a seed, coarse noise, which no encoder squeezes much.
Ref<CSampleBuffer> Frame(LONG width = 64, LONG height = 48, uint32_t seed = 0) {
    const DWORD stride = DibStride(width), rows = static_cast<DWORD>(height);
    Ref<CSampleBuffer> pSample(CSampleBuffer::Create(stride * rows));
    for (DWORD i = 0; i < stride * rows; ++i) {
        const bool bLit = i % stride % 3 == (i / stride < rows / 2 ? 0u : 2u);
        seed = seed == 0 ? 0 : seed * 1103515245u + 12345u;
        pSample->Bytes()[i] = seed != 0 ? static_cast<BYTE>(seed >> 24) : bLit ? 255 : 0;
    }
    return pSample;
}

// The packet times of the first video stream, in order.
std::vector<long long> PacketTimes(const fs::path& file) {
    std::istringstream packets(
        RunCommand("ffprobe -v error -select_streams v:0 -show_entries packet=pts -of csv=p=0 " +
                   Quoted(file)));
    std::vector<long long> pts{std::istream_iterator<long long>(packets), {}};
    std::sort(pts.begin(), pts.end());
    return pts;
}

// The name picks the file: container (by the type its header names), codec, every frame at
// k x 1001 ticks of 1/30000 s (ASF and the Matroska family keep milliseconds), 29.97 frames a
// second, the picture upright whichever way its rows run, odd sizes padded with the edge, and
// the MP4 family's index in front of the pictures. The file is staged: one of that name keeps
// its contents until EndWriting, and no temporary stays. The writer lets go of every sample.
struct Format {
    const char* extension;
    DWORD fourcc;
    LONG height;
    const char* pszFileType;  // in the file's first bytes; "ftyp..." for the MP4 family
    const char* pszCodec;
    LONG width = 63;  // odd sizes go through swscale, even ones through libyuv
};

class WriterFormatTest : public ::testing::TestWithParam<Format> {};

TEST_P(WriterFormatTest, NamePicksContainerAndCodecWithEveryFrameAtItsNtscTime) {
    const Format& f = GetParam();
    const bool bMp4 = std::string(f.pszFileType).rfind("ftyp", 0) == 0;
    CTempDir dir;
    const fs::path file = dir / (std::string("sortie \xC3\xA9t\xC3\xA9") + f.extension);
    WriteFile(file, "previous content");
    Ref<IWMWriter> writer = NewWriter();
    ASSERT_EQ(Prepare(writer.get(), file, f.width, f.height, f.fourcc), S_OK);
    ASSERT_EQ(writer->BeginWriting(), S_OK);
    Ref<CSampleBuffer> pFrame = Frame(f.width, std::abs(f.height));  // blue rows first
    std::vector<long long> times;                                    // in the file's units
    for (int k = 1; k <= 12; ++k) {
        ASSERT_EQ(writer->WriteSample(0, k * kNtscFrame, 0, pFrame.get()), S_OK);
        times.push_back(bMp4 ? k * 1001 : std::llround(k * 1001 / 30.0));
    }
    EXPECT_EQ(ReadFile(file), "previous content");
    ASSERT_EQ(writer->EndWriting(), S_OK);
    EXPECT_EQ(pFrame->RefCount(), 1u);
    EXPECT_EQ(DirEntries(dir.Path()), std::vector<std::string>{file.filename().string()});

    const std::string bytes = ReadFile(file);
    EXPECT_NE(bytes.substr(0, 64).find(f.pszFileType), std::string::npos);
    EXPECT_TRUE(!bMp4 || bytes.find("moov") < bytes.find("mdat"));
    EXPECT_EQ(RunCommand("ffprobe -v error -show_entries "
                         "stream=codec_name,width,height,r_frame_rate -of csv=p=0 " +
                         Quoted(file)),
              std::string(f.pszCodec) + ",64,48,30000/1001\n");
    EXPECT_EQ(PacketTimes(file), times);
    const std::string rgb = RunCommand("ffmpeg -nostdin -v error -i " + Quoted(file) +
                                       " -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
    ASSERT_EQ(rgb.size(), 64u * 48u * 3u);
    // Rows 2 and 47 (the padding) in either half, column 63 the padding.
    for (const int at : {2 * 64 + 32, 2 * 64 + 63, 47 * 64 + 32, 47 * 64 + 63}) {
        const int lit = (at < 24 * 64) == (f.height > 0) ? 0 : 2;  // red above, blue below
        EXPECT_GT(static_cast<BYTE>(rgb[3 * at + lit]), 200) << at;
        EXPECT_LT(static_cast<BYTE>(rgb[3 * at + 2 - lit]), 60) << at;
    }
}

constexpr const char* kAsf = "\x30\x26\xB2\x75";
const Format kFormats[] = {{".wmv", kWmv2, 47, kAsf, "wmv2"},
                           {".asf", MakeFourcc('W', 'M', 'V', '1'), 47, kAsf, "wmv1"},
                           {".avi", kWmv2, -47, kAsf, "wmv2"},
                           {".mp4", kWmv2, 47, "ftypisom", "h264"},
                           {".M4V", kWmv2, 47, "ftypisom", "h264"},
                           {".mov", kWmv2, 47, "ftypqt", "h264"},
                           {".mkv", kWmv2, 47, "matroska", "h264"},
                           {".webm", kWmv2, 47, "webm", "vp9"},
                           {".wmv", kWmv2, 48, kAsf, "wmv2", 64},
                           {".mkv", kWmv2, -48, "matroska", "h264", 64}};
INSTANTIATE_TEST_SUITE_P(Names, WriterFormatTest, ::testing::ValuesIn(kFormats),
                         [](const auto& info) {
                             return std::string(info.param.extension + 1) +
                                    (info.param.width % 2 == 0 ? "_even" : "");
                         });

// One writer taken through its states, a call a row: a refused call changes nothing and leaves
// a file under way going, and a BeginWriting that fails leaves nothing behind.
TEST(WriterTest, StatesAndStatuses) {
    CTempDir dir;
    Ref<IWMWriter> writer = NewWriter();
    IWMWriter* w = writer.get();
    const auto settings = Query<IVarnelWriterSettings>(w, IID_IVarnelWriterSettings);
    const auto profile = [w](const std::vector<wmf::StreamDescription>& streams) {
        return w->SetProfile(Ref<IWMProfile>(wmf::CProfile::Create(streams)).get());
    };
    const auto file = [w, &dir](const char* name) {
        return w->SetOutputFilename(Widened((dir / name).string()).c_str());
    };
    // A frame at `time` on `input`, of `length` bytes where the profile wants 192 * 48.
    const auto write = [w](QWORD time, DWORD input = 0, DWORD length = DibStride(64) * 48) {
        Ref<CSampleBuffer> pFrame = Frame();
        pFrame->SetLength(length);
        return w->WriteSample(input, time, 0, pFrame.get());
    };
    const wmf::StreamDescription audio = TestAudio(1), video = TestVideo(2, 64, 48);
    const auto begin = [w] { return w->BeginWriting(); };
    const auto end = [w] { return w->EndWriting(); };
    const std::pair<std::function<HRESULT()>, HRESULT> steps[] = {
        {begin, NS_E_INVALID_REQUEST},  // nothing set
        {[&] { return profile({audio}); }, NS_E_INVALIDPROFILE},
        {[&] {
             return profile({TestVideo(1, 64, 48), video});
         },
         NS_E_INVALIDPROFILE},
        {[&] { return profile({TestVideo(1, 0, 48)}); }, NS_E_INVALIDPROFILE},
        {[&] {
             return profile({audio, video});
         },
         S_OK},
        {begin, NS_E_INVALID_REQUEST},  // no name
        {[w] { return w->SetOutputFilename(L""); }, E_INVALIDARG},
        {[w] { return w->SetOutputFilename(L"caf\u0153.wmv"); }, E_INVALIDARG},  // above 255
        {[&] { return file("out.mp4"); }, S_OK},
        {[w] {
             wmf::ReplaceEncoderNameForTesting("libx264", "varnel-missing-encoder");
             const HRESULT hr = w->BeginWriting();
             wmf::ReplaceEncoderNameForTesting(nullptr, nullptr);
             return hr;
         },
         NS_E_INVALID_OUTPUT_FORMAT},
        {[&] { return settings->SetQuality(52); }, S_OK},
        {begin, E_INVALIDARG},  // beyond the H.264 scale
        {[&] { return settings->SetQuality(-1); }, S_OK},
        {[&] { return file("out.wmv"); }, S_OK},
        {begin, S_OK},
        {begin, NS_E_INVALID_REQUEST},
        {[&] { return profile({TestVideo(1, 32, 32)}); }, NS_E_INVALID_REQUEST},
        {[&] { return file("other.wmv"); }, NS_E_INVALID_REQUEST},
        {[&] { return write(kNtscFrame); }, S_OK},
        {[&] { return write(2 * kNtscFrame, 0, 192 * 48 - 1); }, NS_E_INVALID_INPUT_FORMAT},
        {[&] { return write(2 * kNtscFrame, 1); }, E_INVALIDARG},
        {[&] { return write(kNtscFrame + 1); }, E_INVALIDARG},  // the previous one's millisecond
        {[&] { return write(2 * kNtscFrame); }, S_OK},
        {end, S_OK},
        {end, NS_E_INVALID_REQUEST},
        {[&] { return write(3 * kNtscFrame); }, NS_E_INVALID_REQUEST},
    };
    for (size_t i = 0; i < std::size(steps); ++i)
        EXPECT_EQ(steps[i].first(), steps[i].second) << "row " << i;
    EXPECT_EQ(DirEntries(dir.Path()), std::vector<std::string>{"out.wmv"});
    EXPECT_EQ(PacketTimes(dir / "out.wmv"), (std::vector<long long>{33, 67}));
}

// Writing stops at the first failure (a file size limit stands in for a full disk), and the
// earlier file of that name stays as it was, with no temporary beside it.
TEST(WriterTest, AFailureOnTheWayLeavesNothingBehind) {
    CTempDir dir;
    const fs::path file = dir / "full.wmv";
    WriteFile(file, "previous content");
    Ref<IWMWriter> writer = NewWriter();
    ASSERT_EQ(Prepare(writer.get(), file, 320, 240), S_OK);
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit { 64 * 1024, saved.rlim_max };
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    ASSERT_EQ(writer->BeginWriting(), S_OK);
    HRESULT hr = S_OK;
    for (int k = 1; k <= 60 && SUCCEEDED(hr); ++k) {
        hr = writer->WriteSample(0, k * kNtscFrame, 0, Frame(320, 240, k).get());
    }
    const HRESULT hrEnd = writer->EndWriting();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_TRUE(FAILED(hr) || FAILED(hrEnd));
    EXPECT_EQ(ReadFile(file), "previous content");
    EXPECT_EQ(DirEntries(dir.Path()), std::vector<std::string>{"full.wmv"});
}

// The file a reader has open, under its own name or another, is not written over; once the
// reader lets go it may be. A writer let go while writing finishes its file.
TEST(WriterTest, TheOpenInputIsNotOverwritten) {
    CTempDir dir;
    const fs::path input = dir / "input.wmv";
    ASSERT_TRUE(MakeClip("-f lavfi -i testsrc=size=64x48:duration=0.2 -c:v wmv2", input));
    fs::create_symlink(input, dir / "link.wmv");
    const std::string before = ReadFile(input);
    Ref<IWMSyncReader> reader = NewReader();
    ASSERT_EQ(Open(reader.get(), input), S_OK);
    Ref<IWMWriter> writer = NewWriter();
    for (const fs::path& name : {dir / "link.wmv", input}) {
        ASSERT_EQ(Prepare(writer.get(), name), S_OK);
        EXPECT_EQ(writer->BeginWriting(), HRESULT_SHARING_VIOLATION) << name;
    }
    EXPECT_EQ(ReadFile(input), before);
    EXPECT_EQ(DirEntries(dir.Path()), (std::vector<std::string>{"input.wmv", "link.wmv"}));
    reader.reset();
    ASSERT_EQ(writer->BeginWriting(), S_OK);
    ASSERT_EQ(writer->WriteSample(0, kNtscFrame, 0, Frame().get()), S_OK);
    writer.reset();
    EXPECT_EQ(PacketTimes(input).size(), 1u);
}

// A reader's sample written with WM_SF_VARNEL_PIXELS_AS_READ goes out as the picture it was
// decoded from, held to the range a converted picture has; without the flag, as its bytes. Here
// the bytes of a super-white picture (luma 250) are blackened after reading, so the output tells
// which was used: 235 (white) from the picture, 16 from the bytes, in every format.
TEST(WriterTest, PixelsAsReadEncodeTheDecodedPictureOnlyWhenTheCallerSaysSo) {
    CTempDir dir;
    const fs::path input = dir / "white.mp4";
    ASSERT_TRUE(
        MakeClip("-f lavfi -i color=c=white:size=64x48:duration=0.1 -vf lutyuv=y=250 "
                 "-c:v libx264 -pix_fmt yuv420p",
                 input));
    const auto meanLuma = [&](const fs::path& file) {
        // The luma plane of the first picture as stored, before any range conversion.
        const std::string bytes = RunCommand("ffmpeg -v error -i " + Quoted(file) +
                                             " -frames:v 1 -f rawvideo -pix_fmt yuv420p -");
        if (bytes.size() < 64 * 48) return -1.0;
        double dSum = 0.0;
        for (size_t i = 0; i < 64 * 48; ++i) dSum += static_cast<unsigned char>(bytes[i]);
        return dSum / (64 * 48);
    };
    struct Case {
        const char* name;
        DWORD dwFlags;
        bool bWhite;
    };
    for (const Case& c :
         {Case{"as-read.mp4", WM_SF_VARNEL_PIXELS_AS_READ, true},
          Case{"as-read.webm", WM_SF_VARNEL_PIXELS_AS_READ, true}, Case{"bytes.mp4", 0, false},
          Case{"as-read.wmv", WM_SF_VARNEL_PIXELS_AS_READ, true}}) {
        Ref<IWMSyncReader> reader = NewReader();
        ASSERT_EQ(Open(reader.get(), input), S_OK);
        Read read;
        ASSERT_EQ(ReadOne(reader.get(), SelectVideo(reader.get()).first, &read), S_OK);
        std::fill(read.pBytes, read.pBytes + read.dwLength, BYTE{0});
        Ref<IWMWriter> writer = NewWriter();
        ASSERT_EQ(Prepare(writer.get(), dir / c.name), S_OK);
        ASSERT_EQ(writer->BeginWriting(), S_OK);
        ASSERT_EQ(writer->WriteSample(0, 0, c.dwFlags, read.pSample.get()), S_OK);
        ASSERT_EQ(writer->EndWriting(), S_OK);
        const double dLuma = meanLuma(dir / c.name);
        EXPECT_TRUE(c.bWhite ? dLuma > 225.0 && dLuma < 237.0 : dLuma >= 0.0 && dLuma < 40.0)
            << c.name << " " << dLuma;
    }
}

// The settings reach the encoder: on noise, which no encoder squeezes much, a lower rate factor
// or a higher bit rate makes a clearly larger file (half as large again at least), in H.264 and VP9
// alike, and Windows Media follows the bit rate too.
TEST(WriterTest, QualityAndBitRateReachTheEncoder) {
    CTempDir dir;
    const auto size = [&](const char* name, std::function<HRESULT(IVarnelWriterSettings*)> set) {
        Ref<IWMWriter> writer = NewWriter();
        auto settings = Query<IVarnelWriterSettings>(writer.get(), IID_IVarnelWriterSettings);
        EXPECT_EQ(set(settings.get()), S_OK);
        EXPECT_EQ(Prepare(writer.get(), dir / name), S_OK);
        EXPECT_EQ(writer->BeginWriting(), S_OK);
        for (uint32_t k = 0; k < 15; ++k) {
            EXPECT_EQ(writer->WriteSample(0, k * kNtscFrame, 0, Frame(64, 48, k + 1).get()), S_OK);
        }
        EXPECT_EQ(writer->EndWriting(), S_OK);
        return fs::file_size(dir / name);
    };
    for (const char* ext : {".mp4", ".webm"}) {
        const std::string fine = std::string("fine") + ext, coarse = std::string("coarse") + ext;
        EXPECT_GT(size(fine.c_str(), [](auto* p) { return p->SetQuality(5); }),
                  2 * size(coarse.c_str(), [](auto* p) { return p->SetQuality(50); }))
            << ext;
    }
    for (const char* ext : {".mkv", ".wmv"}) {
        const std::string high = std::string("high") + ext, low = std::string("low") + ext;
        EXPECT_GT(2 * size(high.c_str(), [](auto* p) { return p->SetBitRate(4000000); }),
                  3 * size(low.c_str(), [](auto* p) { return p->SetBitRate(100000); }))
            << ext;
    }
}

}  // namespace
