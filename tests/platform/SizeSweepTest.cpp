// Every frame size from 1 to 130 pixels wide, read and written end to end through the real
// runtime. FFmpeg's code is not instrumented, so an overrun there is invisible to the
// sanitizers: the frame pool's guard bytes catch writes past a frame, and this test's own
// executable runs under glibc's malloc checking where it is available, which catches the rest
// when the heap is next touched.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/wmf/reader/ReaderSamples.h"
#include "tests/platform/RuntimeTestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace varnel_test;

constexpr int kMaxWidth = 130;
constexpr int kFrames = 3;

struct SweepCodec {
    const char* name;
    const char* encode;  // ffmpeg output options
    const char* extension;
    bool bEvenSizesOnly;
};

// Decoders and containers whose pictures reach the converter in different pixel formats.
const SweepCodec kCodecs[] = {
    {"raw_yuv420p_avi", "-c:v rawvideo -pix_fmt yuv420p", ".avi", false},
    {"raw_rgb24_nut", "-c:v rawvideo -pix_fmt rgb24", ".nut", false},
    {"wmv2_asf", "-c:v wmv2", ".wmv", true},
    {"mpeg4_mp4", "-c:v mpeg4", ".mp4", true},
    {"h264_mkv", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p", ".mkv", true},
};

// A few heights, taken in turn as the width grows.
int HeightFor(int width, bool bEven) {
    static const int kHeights[] = {1, 2, 7, 16, 33};
    const int height = kHeights[width % 5];
    return bEven ? (height + 1) & ~1 : height;
}

// Every width up to kMaxWidth (even ones only for codecs that need them) ends at kMaxWidth.
int WidthStep(const SweepCodec& codec) { return codec.bEvenSizesOnly ? 2 : 1; }

class SizeSweepTest : public ::testing::TestWithParam<SweepCodec> {
  protected:
    static void SetUpTestSuite() { wmf::CFramePool::SetGuardMode(true); }

    fs::path ClipName(int width) const {
        return m_dir / (std::to_string(width) + GetParam().extension);
    }

    // One ffmpeg process makes the clip of every width, each its own output.
    bool MakeClips() const {
        std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" +
                              std::to_string(kMaxWidth + 2) + "x40:rate=25,format=rgb24";
        for (int width = WidthStep(GetParam()); width <= kMaxWidth;
             width += WidthStep(GetParam())) {
            const int height = HeightFor(width, GetParam().bEvenSizesOnly);
            command += " -frames:v " + std::to_string(kFrames) +
                       " -vf crop=" + std::to_string(width) + ":" + std::to_string(height) +
                       ":0:0 " + GetParam().encode + " " + Quoted(ClipName(width));
        }
        const std::string errors = RunCommand(command + " 2>&1");
        EXPECT_EQ(errors, "");
        return fs::exists(ClipName(kMaxWidth));
    }

    CTempDir m_dir;
};

// Reads every frame of `clip` and writes each to `output`; the frames read.
int ReadAndWrite(const fs::path& clip, const fs::path& output, LONG width, LONG height) {
    Ref<IWMSyncReader> pReader = NewReader();
    Ref<IWMWriter> pWriter = NewWriter();
    EXPECT_EQ(Open(pReader.get(), clip), S_OK);
    EXPECT_EQ(pWriter->SetProfile(ProfileOf(pReader.get()).get()), S_OK);
    EXPECT_EQ(pWriter->SetOutputFilename(Widened(output.string()).c_str()), S_OK);
    EXPECT_EQ(pWriter->BeginWriting(), S_OK);
    int frames = 0;
    for (Read read; SUCCEEDED(ReadOne(pReader.get(), 0, &read)); ++frames) {
        EXPECT_EQ(read.dwLength, DibStride(width) * static_cast<DWORD>(height));
        EXPECT_EQ(
            pWriter->WriteSample(0, 333667 * static_cast<QWORD>(frames), 0, read.pSample.get()),
            S_OK);
    }
    EXPECT_EQ(pWriter->EndWriting(), S_OK);
    return frames;
}

TEST_P(SizeSweepTest, EveryWidthReadsAndWritesWithinItsFrames) {
    ASSERT_TRUE(MakeClips()) << "ffmpeg could not make the " << GetParam().name << " clips";
    const unsigned faultsBefore = wmf::CFramePool::GuardFaults();
    for (int width = WidthStep(GetParam()); width <= kMaxWidth; width += WidthStep(GetParam())) {
        const int height = HeightFor(width, GetParam().bEvenSizesOnly);
        const fs::path output = m_dir / (std::to_string(width) + "-out.wmv");
        EXPECT_EQ(ReadAndWrite(ClipName(width), output, width, height), kFrames)
            << width << "x" << height;
        // FFmpeg reads back a sample of the outputs: the widths that used to overrun.
        if (width % 16 == 10) {
            EXPECT_EQ(ProbeFrameCount(output), kFrames) << width << "x" << height;
        }
        ASSERT_EQ(wmf::CFramePool::GuardFaults(), faultsBefore)
            << "a frame's guard bytes were overwritten at " << width << "x" << height;
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, SizeSweepTest, ::testing::ValuesIn(kCodecs),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
