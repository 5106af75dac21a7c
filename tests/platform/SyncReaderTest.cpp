#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/wmf/shared/Runtime.h"
#include "platform/wmf/wmsdk.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ProfileQueries.h"

namespace {

namespace fs = std::filesystem;
using namespace varnel_test;

constexpr QWORD kNtscFrame = 333667;  // 1/29.97 s
constexpr QWORD kMillisecond = 10000;

// One sample as GetNextSample gave it.
struct Read {
    Ref<INSSBuffer> pSample;
    QWORD cnsTime = 0;
    QWORD cnsDuration = 0;
    DWORD dwFlags = 0;
    DWORD dwOutput = 0;
    WORD wStream = 0;

    const BYTE* Bytes() const {
        BYTE* bytes = nullptr;
        EXPECT_EQ(pSample->GetBuffer(&bytes), S_OK);
        return bytes;
    }
    DWORD Length() const {
        DWORD length = 0;
        EXPECT_EQ(pSample->GetLength(&length), S_OK);
        return length;
    }
};

// The video stream of a profile: its number and the header of its media type.
struct VideoStream {
    WORD wNumber = 0;
    BITMAPINFOHEADER header{};
    WMVIDEOINFOHEADER info{};
};

Ref<IWMSyncReader> NewReader() {
    IWMSyncReader* reader = nullptr;
    EXPECT_EQ(WMCreateSyncReader(nullptr, 0, &reader), S_OK);
    return Ref<IWMSyncReader>(reader);
}

Ref<IWMProfile> ProfileOf(IWMSyncReader* reader) {
    IWMProfile* profile = nullptr;
    EXPECT_EQ(reader->QueryInterface(IID_IWMProfile, reinterpret_cast<void**>(&profile)), S_OK);
    return Ref<IWMProfile>(profile);
}

// The last video stream of the profile (number 0 when there is none).
VideoStream FindVideo(IWMProfile* profile) {
    VideoStream video;
    const auto streams = Streams(profile);
    for (DWORD i = 0; i < streams.size(); ++i) {
        if (streams[i].first != WMMEDIATYPE_Video) continue;
        video.wNumber = streams[i].second;
        const std::vector<BYTE> buffer = MediaTypeOf(StreamAt(profile, i).get());
        EXPECT_EQ(MediaType(buffer)->formattype, WMFORMAT_VideoInfo);
        video.info = *reinterpret_cast<const WMVIDEOINFOHEADER*>(MediaType(buffer)->pbFormat);
        video.header = video.info.bmiHeader;
    }
    return video;
}

HRESULT SelectOnly(IWMSyncReader* reader, WORD number) {
    WMT_STREAM_SELECTION on = WMT_ON;
    return reader->SetStreamsSelected(1, &number, &on);
}

// Selects the video stream of the open file alone.
VideoStream SelectVideo(IWMSyncReader* reader) {
    Ref<IWMProfile> profile = ProfileOf(reader);
    if (!profile) return {};
    for (auto [type, number] : Streams(profile.get())) {
        WMT_STREAM_SELECTION selection = type == WMMEDIATYPE_Video ? WMT_ON : WMT_OFF;
        EXPECT_EQ(reader->SetStreamsSelected(1, &number, &selection), S_OK);
    }
    VideoStream video = FindVideo(profile.get());
    EXPECT_EQ(reader->SetReadStreamSamples(video.wNumber, FALSE), S_OK);
    return video;
}

HRESULT Open(IWMSyncReader* reader, const fs::path& file) {
    return reader->Open(Widened(file.string()).c_str());
}

// Opens `file` and selects its video stream alone.
VideoStream OpenVideo(IWMSyncReader* reader, const fs::path& file) {
    EXPECT_EQ(Open(reader, file), S_OK) << file;
    return SelectVideo(reader);
}

HRESULT ReadOne(IWMSyncReader* reader, WORD stream, Read* read) {
    INSSBuffer* sample = nullptr;
    const HRESULT hr = reader->GetNextSample(stream, &sample, &read->cnsTime, &read->cnsDuration,
                                             &read->dwFlags, &read->dwOutput, &read->wStream);
    read->pSample.reset(sample);
    return hr;
}

// Every sample of `stream` up to the end; *pEnd receives the status that ended the reading.
std::vector<Read> ReadAll(IWMSyncReader* reader, WORD stream, HRESULT* pEnd = nullptr) {
    std::vector<Read> reads;
    for (;;) {
        Read read;
        const HRESULT hr = ReadOne(reader, stream, &read);
        if (FAILED(hr)) {
            if (pEnd != nullptr) *pEnd = hr;
            EXPECT_EQ(read.pSample, nullptr);
            return reads;
        }
        reads.push_back(std::move(read));
    }
}

// The mean of one colour channel (0 blue, 1 green, 2 red) over one buffer row.
double RowMean(const Read& read, const BITMAPINFOHEADER& header, LONG row, int channel) {
    const BYTE* p = read.Bytes() + static_cast<size_t>(row) * DibStride(header.biWidth);
    double sum = 0;
    for (LONG x = 0; x < header.biWidth; ++x) sum += p[3 * x + channel];
    return sum / header.biWidth;
}

// Clips made once for the whole suite.
class ReaderTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_pDir = new CTempDir();
        const std::string colour = "-f lavfi -i color=size=64x48:rate=10:duration=0.3:c=0x";
        const std::pair<const char*, std::string> clips[] = {
            {"av.wmv",
             "-f lavfi -i testsrc=size=320x240:rate=30000/1001:duration=3 -f lavfi -i "
             "sine=frequency=440:duration=3 -c:v wmv2 -g 10 -c:a wmav2 -b:a 64k"},
            {"halves.wmv",
             "-f lavfi -i color=c=black:size=64x48:rate=10:duration=0.5,"
             "drawbox=x=0:y=0:w=64:h=24:color=white:t=fill -c:v wmv2"},
            {"red.wmv", colour + "FF0000 -c:v wmv2"},
            {"green.wmv", colour + "00FF00 -c:v wmv2"},
            {"blue.wmv", colour + "0000FF -c:v wmv2"},
            {"odd.avi",
             "-f lavfi -i testsrc=size=65x37:rate=10:duration=1 -c:v rawvideo -pix_fmt bgr24"}};
        s_bMade = true;
        for (const auto& [name, arguments] : clips)
            s_bMade = s_bMade && MakeClip(arguments, Clip(name));
    }
    static void TearDownTestSuite() {
        delete s_pDir;
        s_pDir = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(s_bMade) << "the ffmpeg command could not make the test clips";
        m_pReader = NewReader();
        ASSERT_NE(m_pReader, nullptr);
    }

    static fs::path Clip(const std::string& name) { return s_pDir->Path() / name; }

    static CTempDir* s_pDir;
    static bool s_bMade;
    Ref<IWMSyncReader> m_pReader;
};

CTempDir* ReaderTest::s_pDir = nullptr;
bool ReaderTest::s_bMade = false;

TEST_F(ReaderTest, ProfileAndHeaderDescribeTheClipAsStored) {
    ASSERT_EQ(Open(m_pReader.get(), Clip("av.wmv")), S_OK);
    Ref<IWMProfile> profile = ProfileOf(m_pReader.get());
    const auto streams = Streams(profile.get());
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0], std::make_pair(WMMEDIATYPE_Video, WORD{1}));
    EXPECT_EQ(streams[1], std::make_pair(WMMEDIATYPE_Audio, WORD{2}));

    const VideoStream video = FindVideo(profile.get());
    EXPECT_EQ(video.wNumber, 1);
    EXPECT_EQ(video.header.biSize, 40u);
    EXPECT_EQ(video.header.biWidth, 320);
    EXPECT_EQ(video.header.biHeight, 240);
    EXPECT_EQ(video.header.biPlanes, 1);
    EXPECT_EQ(video.header.biBitCount, 24);
    EXPECT_EQ(video.header.biCompression, MakeFourcc('W', 'M', 'V', '2'));
    EXPECT_EQ(video.info.rcSource.right, 320);
    EXPECT_EQ(video.info.rcTarget.bottom, 240);
    EXPECT_NEAR(static_cast<double>(video.info.AvgTimePerFrame), kNtscFrame, 2.0);

    IWMHeaderInfo* info = nullptr;
    ASSERT_EQ(m_pReader->QueryInterface(IID_IWMHeaderInfo, reinterpret_cast<void**>(&info)), S_OK);
    Ref<IWMHeaderInfo> hold(info);
    WORD stream = 0;
    WMT_ATTR_DATATYPE type = WMT_TYPE_DWORD;
    WORD length = 0;
    ASSERT_EQ(info->GetAttributeByName(&stream, g_wszWMDuration, &type, nullptr, &length), S_OK);
    ASSERT_EQ(length, sizeof(QWORD));
    QWORD duration = 0;
    ASSERT_EQ(info->GetAttributeByName(&stream, g_wszWMDuration, &type,
                                       reinterpret_cast<BYTE*>(&duration), &length),
              S_OK);
    EXPECT_EQ(type, WMT_TYPE_QWORD);
    EXPECT_NEAR(static_cast<double>(duration), 3e7, 2e6);  // the clip's 3 s
    EXPECT_EQ(info->GetAttributeByName(&stream, L"Title", &type, nullptr, &length), ASF_E_NOTFOUND);
}

TEST_F(ReaderTest, ReadsEveryFrameFFmpegDecodesAtItsTimeWithKeyFramesAsCleanPoints) {
    const VideoStream video = OpenVideo(m_pReader.get(), Clip("av.wmv"));
    HRESULT end = S_OK;
    const std::vector<Read> reads = ReadAll(m_pReader.get(), video.wNumber, &end);
    EXPECT_EQ(end, NS_E_NO_MORE_SAMPLES);
    ASSERT_EQ(static_cast<long>(reads.size()), ProbeFrameCount(Clip("av.wmv")));
    ASSERT_GT(reads.size(), 80u);
    // The audio encoder's priming puts the first picture a little after the file's start.
    EXPECT_LT(reads[0].cnsTime, kNtscFrame * 2);
    for (size_t i = 0; i < reads.size(); ++i) {
        const double expected = static_cast<double>(reads[0].cnsTime + i * kNtscFrame);
        EXPECT_NEAR(static_cast<double>(reads[i].cnsTime), expected, kMillisecond) << "frame " << i;
        EXPECT_NEAR(static_cast<double>(reads[i].cnsDuration), kNtscFrame, kMillisecond);
        EXPECT_EQ(reads[i].wStream, video.wNumber);
        EXPECT_EQ(reads[i].Length(), DibStride(320) * 240);
        // A key frame every 10 frames.
        EXPECT_EQ(reads[i].dwFlags & WM_SF_CLEANPOINT, i % 10 == 0 ? WM_SF_CLEANPOINT : 0u)
            << "frame " << i;
    }
}

TEST_F(ReaderTest, CleanPointSelectionGivesKeyFramesOnly) {
    WORD number = OpenVideo(m_pReader.get(), Clip("av.wmv")).wNumber;
    WMT_STREAM_SELECTION keys = WMT_CLEANPOINT_ONLY;
    ASSERT_EQ(m_pReader->SetStreamsSelected(1, &number, &keys), S_OK);
    const std::vector<Read> reads = ReadAll(m_pReader.get(), number);
    ASSERT_EQ(reads.size(), 9u);  // 90 frames, a key frame every 10
    for (const Read& read : reads) EXPECT_EQ(read.dwFlags & WM_SF_CLEANPOINT, WM_SF_CLEANPOINT);
}

TEST_F(ReaderTest, RowsComeBottomUp) {
    const VideoStream video = OpenVideo(m_pReader.get(), Clip("halves.wmv"));
    const std::vector<Read> reads = ReadAll(m_pReader.get(), video.wNumber);
    ASSERT_FALSE(reads.empty());
    for (int channel = 0; channel < 3; ++channel) {
        // The first rows of the buffer are the bottom of the picture: black.
        EXPECT_LT(RowMean(reads[0], video.header, 2, channel), 30);
        EXPECT_GT(RowMean(reads[0], video.header, video.header.biHeight - 3, channel), 225);
    }
}

TEST_F(ReaderTest, ColoursComeInBlueGreenRedOrder) {
    struct Expected {
        const char* name;
        double blue, green, red;
    };
    for (const Expected& colour : {Expected{"red.wmv", 0, 0, 255}, Expected{"green.wmv", 0, 255, 0},
                                   Expected{"blue.wmv", 255, 0, 0}}) {
        Ref<IWMSyncReader> reader = NewReader();
        const VideoStream video = OpenVideo(reader.get(), Clip(colour.name));
        const std::vector<Read> reads = ReadAll(reader.get(), video.wNumber);
        ASSERT_FALSE(reads.empty()) << colour.name;
        const LONG row = video.header.biHeight / 2;
        EXPECT_NEAR(RowMean(reads[0], video.header, row, 0), colour.blue, 16) << colour.name;
        EXPECT_NEAR(RowMean(reads[0], video.header, row, 1), colour.green, 16) << colour.name;
        EXPECT_NEAR(RowMean(reads[0], video.header, row, 2), colour.red, 16) << colour.name;
    }
}

TEST_F(ReaderTest, RowsOfAWidthNotAMultipleOfFourArePadded) {
    const VideoStream video = OpenVideo(m_pReader.get(), Clip("odd.avi"));
    ASSERT_EQ(video.header.biWidth, 65);
    ASSERT_EQ(video.header.biHeight, 37);
    const std::vector<Read> reads = ReadAll(m_pReader.get(), video.wNumber);
    ASSERT_EQ(static_cast<long>(reads.size()), ProbeFrameCount(Clip("odd.avi")));
    // FFmpeg's own decoding, packed top-down rows, must be found row by row at the DIB stride.
    const std::string expected =
        RunCommand("ffmpeg -nostdin -v error -i " + Quoted(Clip("odd.avi")) +
                   " -frames:v 1 -f rawvideo -pix_fmt bgr24 -");
    ASSERT_EQ(expected.size(), 65u * 37u * 3u);
    const DWORD stride = DibStride(65);
    ASSERT_EQ(stride, 196u);
    ASSERT_EQ(reads[0].Length(), stride * 37);
    for (LONG y = 0; y < 37; ++y) {
        const BYTE* row = reads[0].Bytes() + static_cast<size_t>(36 - y) * stride;
        ASSERT_EQ(std::string(reinterpret_cast<const char*>(row), 65 * 3),
                  expected.substr(static_cast<size_t>(y) * 65 * 3, 65 * 3))
            << "picture row " << y;
    }
}

TEST_F(ReaderTest, StreamZeroReadsEverySelectedStream) {
    ASSERT_EQ(Open(m_pReader.get(), Clip("av.wmv")), S_OK);
    long video = 0, audio = 0;
    for (const Read& read : ReadAll(m_pReader.get(), 0)) {
        if (read.wStream == 1) {
            ++video;
            EXPECT_EQ(read.dwOutput, 0u);
        } else if (read.wStream == 2) {
            ++audio;
            EXPECT_EQ(read.dwOutput, 1u);
            EXPECT_GT(read.Length(), 0u);
        } else {
            ADD_FAILURE() << "stream " << read.wStream;
        }
    }
    EXPECT_EQ(video, ProbeFrameCount(Clip("av.wmv")));
    EXPECT_GT(audio, 0);
    // With the audio switched off, neither read asks for it.
    const VideoStream only = OpenVideo(m_pReader.get(), Clip("av.wmv"));
    Read read;
    EXPECT_EQ(ReadOne(m_pReader.get(), 2, &read), NS_E_INVALID_REQUEST);
    for (const Read& r : ReadAll(m_pReader.get(), 0)) EXPECT_EQ(r.wStream, only.wNumber);
}

TEST_F(ReaderTest, SamplesOutliveTheReader) {
    const VideoStream video = OpenVideo(m_pReader.get(), Clip("halves.wmv"));
    std::vector<Read> reads = ReadAll(m_pReader.get(), video.wNumber);
    ASSERT_FALSE(reads.empty());
    m_pReader.reset();
    // Still readable and writable in place.
    BYTE* bytes = nullptr;
    ASSERT_EQ(reads.back().pSample->GetBuffer(&bytes), S_OK);
    bytes[0] = 7;
    EXPECT_GT(RowMean(reads.back(), video.header, video.header.biHeight - 3, 1), 225);
}

TEST_F(ReaderTest, OpenFileIsRegisteredUntilClosed) {
    struct stat info {};
    ASSERT_EQ(::stat(Clip("halves.wmv").c_str(), &info), 0);
    OpenVideo(m_pReader.get(), Clip("halves.wmv"));
    EXPECT_TRUE(wmf::IsOpenInput(info.st_dev, info.st_ino));
    EXPECT_EQ(m_pReader->Close(), S_OK);
    EXPECT_FALSE(wmf::IsOpenInput(info.st_dev, info.st_ino));
    OpenVideo(m_pReader.get(), Clip("halves.wmv"));
    EXPECT_TRUE(wmf::IsOpenInput(info.st_dev, info.st_ino));
    m_pReader.reset();
    EXPECT_FALSE(wmf::IsOpenInput(info.st_dev, info.st_ino));
}

TEST_F(ReaderTest, NamesWithAccentsOrProtocolPrefixesArePlainFiles) {
    const fs::path accented = s_pDir->Path() / "clip \xE9t\xE9.wmv";
    // A colon in a name must not make FFmpeg read anything but that file.
    const fs::path odd = s_pDir->Path() / "concat:halves.wmv";
    for (const fs::path& name : {accented, odd}) {
        fs::copy_file(Clip("halves.wmv"), name, fs::copy_options::overwrite_existing);
        const VideoStream video = OpenVideo(m_pReader.get(), name);
        EXPECT_EQ(ReadAll(m_pReader.get(), video.wNumber).size(), 5u) << name;
    }
    const std::string relative = "subfile,,start,0,end,0,,:" + Clip("halves.wmv").string();
    EXPECT_EQ(m_pReader->Open(Widened(relative).c_str()), NS_E_FILE_NOT_FOUND);
}

TEST_F(ReaderTest, ReopeningStartsFromTheFirstFrame) {
    VideoStream video = OpenVideo(m_pReader.get(), Clip("av.wmv"));
    Read first;
    ASSERT_EQ(ReadOne(m_pReader.get(), video.wNumber, &first), S_OK);
    ASSERT_EQ(ReadOne(m_pReader.get(), video.wNumber, &first), S_OK);
    video = OpenVideo(m_pReader.get(), Clip("av.wmv"));
    ASSERT_EQ(ReadOne(m_pReader.get(), video.wNumber, &first), S_OK);
    EXPECT_LT(first.cnsTime, kNtscFrame * 2);  // the first frame again, not the third
}

TEST_F(ReaderTest, CoverArtIsNotAStream) {
    const fs::path cover = s_pDir->Path() / "cover.png";
    const fs::path clip = s_pDir->Path() / "cover.mp4";
    if (!MakeClip("-f lavfi -i color=c=red:size=32x32 -frames:v 1", cover) ||
        !MakeClip("-i " + Quoted(cover) +
                      " -f lavfi -i testsrc=size=64x48:rate=10:duration=0.5 -map 0 -map 1 "
                      "-c:v:0 png -disposition:v:0 attached_pic -c:v:1 mpeg4",
                  clip)) {
        GTEST_SKIP() << "the ffmpeg command could not make a clip with cover art";
    }
    const VideoStream video = OpenVideo(m_pReader.get(), clip);
    Ref<IWMProfile> profile = ProfileOf(m_pReader.get());
    const auto streams = Streams(profile.get());
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].second, 1);
    EXPECT_EQ(video.header.biWidth, 64);
    EXPECT_EQ(ReadAll(m_pReader.get(), 0).size(), 5u);
}

// Statuses

TEST_F(ReaderTest, NothingOpenIsAnInvalidRequest) {
    Read read;
    EXPECT_EQ(ReadOne(m_pReader.get(), 1, &read), NS_E_INVALID_REQUEST);
    EXPECT_EQ(ReadOne(m_pReader.get(), 0, &read), NS_E_INVALID_REQUEST);
    EXPECT_EQ(SelectOnly(m_pReader.get(), 1), NS_E_INVALID_REQUEST);
    EXPECT_EQ(m_pReader->SetReadStreamSamples(1, FALSE), NS_E_INVALID_REQUEST);
    IWMProfile* profile = nullptr;
    EXPECT_TRUE(
        FAILED(m_pReader->QueryInterface(IID_IWMProfile, reinterpret_cast<void**>(&profile))));
    EXPECT_EQ(profile, nullptr);
}

TEST_F(ReaderTest, ReadingPastTheEndFailsEveryTime) {
    const VideoStream video = OpenVideo(m_pReader.get(), Clip("halves.wmv"));
    HRESULT end = S_OK;
    ReadAll(m_pReader.get(), video.wNumber, &end);
    EXPECT_EQ(end, NS_E_NO_MORE_SAMPLES);
    Read read;
    EXPECT_EQ(ReadOne(m_pReader.get(), video.wNumber, &read), NS_E_NO_MORE_SAMPLES);
    EXPECT_EQ(ReadOne(m_pReader.get(), video.wNumber, &read), NS_E_NO_MORE_SAMPLES);
    EXPECT_EQ(read.pSample, nullptr);
}

TEST_F(ReaderTest, SelectingStreamZeroOrAnUnknownNumberFails) {
    OpenVideo(m_pReader.get(), Clip("av.wmv"));
    EXPECT_EQ(SelectOnly(m_pReader.get(), 0), NS_E_INVALID_STREAM);
    EXPECT_EQ(SelectOnly(m_pReader.get(), 3), NS_E_INVALID_STREAM);
    EXPECT_EQ(m_pReader->SetReadStreamSamples(0, FALSE), NS_E_INVALID_STREAM);
    Read read;
    EXPECT_EQ(ReadOne(m_pReader.get(), 9, &read), NS_E_INVALID_STREAM);
    WORD numbers[2] = {1, 3};
    WMT_STREAM_SELECTION selections[2] = {WMT_OFF, WMT_ON};
    EXPECT_EQ(m_pReader->SetStreamsSelected(2, numbers, selections), NS_E_INVALID_STREAM);
    // Nothing took effect: stream 1 is still on.
    EXPECT_EQ(ReadOne(m_pReader.get(), 1, &read), S_OK);
    // Within the enumeration's range, but no selection.
    WMT_STREAM_SELECTION bogus = static_cast<WMT_STREAM_SELECTION>(3);
    EXPECT_EQ(m_pReader->SetStreamsSelected(1, numbers, &bogus), E_INVALIDARG);
}

TEST_F(ReaderTest, ClosingTwiceSucceedsAndAHeldProfileStaysValid) {
    OpenVideo(m_pReader.get(), Clip("av.wmv"));
    Ref<IWMProfile> profile = ProfileOf(m_pReader.get());
    EXPECT_EQ(m_pReader->Close(), S_OK);
    EXPECT_EQ(m_pReader->Close(), S_OK);
    EXPECT_EQ(Streams(profile.get()).size(), 2u);
    Read read;
    EXPECT_EQ(ReadOne(m_pReader.get(), 1, &read), NS_E_INVALID_REQUEST);
}

TEST_F(ReaderTest, MissingFilesAndFilesThatAreNotMediaFailToOpen) {
    EXPECT_EQ(Open(m_pReader.get(), s_pDir->Path() / "nothing.wmv"), NS_E_FILE_NOT_FOUND);
    EXPECT_EQ(m_pReader->Open(L""), NS_E_FILE_NOT_FOUND);
    EXPECT_EQ(m_pReader->Open(nullptr), E_POINTER);
    const fs::path text = s_pDir->Path() / "notes.wmv";
    std::ofstream(text) << "These are not the frames you are looking for.\n";
    const fs::path empty = s_pDir->Path() / "empty.wmv";
    std::ofstream{empty};
    const fs::path cut = s_pDir->Path() / "cut.wmv";
    {
        std::ifstream in(Clip("av.wmv"), std::ios::binary);
        std::string head(600, '\0');
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        std::ofstream(cut, std::ios::binary) << head;
    }
    const fs::path fifo = s_pDir->Path() / "fifo.wmv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // opening it for reading would block
    for (const fs::path& file : {text, empty, cut, fifo, s_pDir->Path()}) {
        EXPECT_TRUE(FAILED(Open(m_pReader.get(), file))) << file;
        Read read;
        EXPECT_EQ(ReadOne(m_pReader.get(), 1, &read), NS_E_INVALID_REQUEST) << file;
    }
}

TEST_F(ReaderTest, DamagedOrCutFilesReadToACleanEnd) {
    std::ifstream in(Clip("av.wmv"), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string damaged = bytes;
    for (size_t i = bytes.size() / 3; i < bytes.size() / 3 + 4000; i += 7) damaged[i] = '\x5A';
    const fs::path cut = s_pDir->Path() / "half.wmv";
    const fs::path garbled = s_pDir->Path() / "garbled.wmv";
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    std::ofstream(garbled, std::ios::binary) << damaged;
    const long all = ProbeFrameCount(Clip("av.wmv"));
    for (const fs::path& file : {cut, garbled}) {
        Ref<IWMSyncReader> reader = NewReader();
        const VideoStream video = OpenVideo(reader.get(), file);
        HRESULT end = S_OK;
        const long frames = static_cast<long>(ReadAll(reader.get(), video.wNumber, &end).size());
        EXPECT_EQ(end, NS_E_NO_MORE_SAMPLES) << file;
        EXPECT_GT(frames, all / 4) << file;
        EXPECT_LE(frames, all) << file;
    }
}

// The real files beside the repository

struct RealFile {
    const char* name;
    long frames;  // -1: the file must fail to open; 0: it has no video stream
};

class RealFileTest : public ::testing::TestWithParam<RealFile> {};

TEST_P(RealFileTest, ReadsToTheEndWithTheKnownFrameCount) {
    const fs::path file = fs::path(VARNEL_TESTDATA_DIR) / GetParam().name;
    if (!fs::exists(file)) GTEST_SKIP() << "test data absent: " << file;
    Ref<IWMSyncReader> reader = NewReader();
    const HRESULT hr = Open(reader.get(), file);
    if (GetParam().frames < 0) {
        EXPECT_TRUE(FAILED(hr));
        Read read;
        EXPECT_EQ(ReadOne(reader.get(), 1, &read), NS_E_INVALID_REQUEST);
        return;
    }
    ASSERT_EQ(hr, S_OK);
    if (GetParam().frames == 0) {
        EXPECT_EQ(FindVideo(ProfileOf(reader.get()).get()).wNumber, 0);
        EXPECT_EQ(SelectOnly(reader.get(), 0), NS_E_INVALID_STREAM);
        return;
    }
    const VideoStream video = SelectVideo(reader.get());
    HRESULT end = S_OK;
    const std::vector<Read> reads = ReadAll(reader.get(), video.wNumber, &end);
    EXPECT_EQ(end, NS_E_NO_MORE_SAMPLES);
    EXPECT_EQ(static_cast<long>(reads.size()), GetParam().frames);
    QWORD previous = 0;
    for (const Read& read : reads) {
        EXPECT_EQ(read.Length(),
                  DibStride(video.header.biWidth) * static_cast<DWORD>(video.header.biHeight));
        EXPECT_GE(read.cnsTime + kMillisecond, previous);  // forward, give or take reordering
        previous = read.cnsTime;
    }
}

INSTANTIATE_TEST_SUITE_P(
    TestData, RealFileTest,
    ::testing::Values(RealFile{"a01_wmv3_moviemaker6_640x480_red2s-then-green.wmv", 916},
                      RealFile{"a02_wmv3_320x240_ball_0.9s.wmv", 28},
                      RealFile{"a04_wmv3_320x240_wine-iwmwriter_2s.wmv", 61},
                      RealFile{"a06_wmv3_320x240_15fps_numbers_60s.wmv", 253},
                      RealFile{"b03_vc1adv_512x288_ladybug_wmapro_12s.wmv", 301},
                      RealFile{"c08_wmv1_160x120_bee_wma-8k_10s.wmv", 149},
                      RealFile{"c09_wmv1_208x160_blue-green-red_sparse_30s.wmv", 62},
                      RealFile{"c13_wmv1_64x48_wine-ffmpeg-made_2s.wmv", 50},
                      RealFile{"c14_mp43_160x120_elephant_28s.asf", 153},
                      RealFile{"c15_wmv2_560x320_4.4s.asf", 161},
                      RealFile{"d01_mp43_852x480_bear_noaudio_43s.wmv", 1296},
                      RealFile{"e06_wmv1_320x240_gstreamer-asfmux_5frames.wmv", 4},
                      RealFile{"e08_crafted_CWE-835_no-streams.wma", -1},
                      RealFile{"e09_audio-only_wma2_ringtone_9s.wma", 0}),
    [](const ::testing::TestParamInfo<RealFile>& info) {
        return std::string(info.param.name).substr(0, 3);
    });

}  // namespace
