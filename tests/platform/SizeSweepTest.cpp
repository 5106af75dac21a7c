// SPDX-License-Identifier: GPL-3.0-or-later
// Every frame size from 1 to 130 pixels wide, read and written end to end through the real
// runtime. FFmpeg's code is not instrumented, so an overrun there is invisible to the
// sanitizers: the frame pool's guard bytes catch writes past a frame, and this test's own
// executable runs under glibc's malloc checking where it is available, which catches the rest
// when the heap is next touched.
#include <array>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/wmf/reader/ReaderSamples.h"
#include "tests/platform/RuntimeTestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace varnel_test;

constexpr int kMaxWidth = 130;
constexpr int kFrames = 3;

// Decoders and containers whose pictures reach the converter in different pixel formats; those
// that need even sizes take the even widths and heights alone.
struct SweepCodec {
    const char* name;
    const char* encode;  // ffmpeg output options
    const char* extension;
    int step;  // from one width to the next
};
const SweepCodec kCodecs[] = {
    {"raw_yuv420p_avi", "-c:v rawvideo -pix_fmt yuv420p", ".avi", 1},
    {"raw_rgb24_nut", "-c:v rawvideo -pix_fmt rgb24", ".nut", 1},
    {"wmv2_asf", "-c:v wmv2", ".wmv", 2},
    {"mpeg4_mp4", "-c:v mpeg4", ".mp4", 2},
    {"h264_mkv", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p", ".mkv", 2},
};

class SizeSweepTest : public ::testing::TestWithParam<SweepCodec> {};

TEST_P(SizeSweepTest, EveryWidthReadsAndWritesWithinItsFrames) {
    const SweepCodec& c = GetParam();
    wmf::CFramePool::SetGuardMode(true);
    CTempDir dir;
    // One ffmpeg process makes the clip of every width, each its own output, with a few heights
    // taken in turn as the width grows.
    std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" + std::to_string(kMaxWidth + 2) +
        "x40:rate=25,format=rgb24";
    std::vector<std::pair<int, int>> sizes;
    for (int width = c.step; width <= kMaxWidth; width += c.step) {
        const int height = (std::array{1, 2, 7, 16, 33}[width % 5] + c.step - 1) / c.step * c.step;
        sizes.emplace_back(width, height);
        command += " -frames:v " + std::to_string(kFrames) + " -vf crop=" + std::to_string(width) +
                   ":" + std::to_string(height) + ":0:0 " + c.encode + " " +
                   Quoted(dir / (std::to_string(width) + c.extension));
    }
    ASSERT_EQ(RunCommand(command + " 2>&1"), "")
        << "ffmpeg could not make the " << c.name << " clips";
    const unsigned faultsBefore = wmf::CFramePool::GuardFaults();
    // Each clip read to its end, every frame written as it comes.
    for (const auto& [width, height] : sizes) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        const fs::path output = dir / (std::to_string(width) + "-out.wmv");
        Ref<IWMSyncReader> reader = NewReader();
        Ref<IWMWriter> writer = NewWriter();
        ASSERT_EQ(Open(reader.get(), dir / (std::to_string(width) + c.extension)), S_OK);
        ASSERT_EQ(writer->SetProfile(Query<IWMProfile>(reader.get(), IID_IWMProfile).get()), S_OK);
        ASSERT_EQ(writer->SetOutputFilename(Widened(output.string()).c_str()), S_OK);
        ASSERT_EQ(writer->BeginWriting(), S_OK);
        QWORD frames = 0;
        for (Read read; SUCCEEDED(ReadOne(reader.get(), 0, &read)); ++frames) {
            EXPECT_EQ(read.dwLength, DibStride(width) * static_cast<DWORD>(height));
            EXPECT_EQ(writer->WriteSample(0, kNtscFrame * frames, 0, read.pSample.get()), S_OK);
        }
        EXPECT_EQ(writer->EndWriting(), S_OK);
        EXPECT_EQ(frames, kFrames);
        // FFmpeg reads back a sample of the outputs: the widths that used to overrun.
        if (width % 16 == 10) {
            EXPECT_EQ(ProbeFrameCount(output), kFrames);
        }
        ASSERT_EQ(wmf::CFramePool::GuardFaults(), faultsBefore)
            << "a frame's guard bytes were overwritten";
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, SizeSweepTest, ::testing::ValuesIn(kCodecs),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
