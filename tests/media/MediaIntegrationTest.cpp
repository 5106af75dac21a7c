// The reader and the writer over the FFmpeg runtime layer, on clips made by the ffmpeg command
// and on the real files beside the repository.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "media/MediaReader.h"
#include "media/MediaWriter.h"
#include "tests/media/ErrorLog.h"
#include "tests/media/WorkingDir.h"

namespace fs = std::filesystem;
using varnel_test::MakeClip;
using varnel_test::ProbeFrameCount;
using varnel_test::RunCommand;

namespace {

const char kClip[] = "-f lavfi -i testsrc=size=64x48:rate=25:duration=1 -c:v wmv2";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

bool HaveTool(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

struct ReadFrame {
    int nFrame;
    double dTime;
};

// Steps through the input as "Next >" does, handing each sample to `take` (which releases it),
// until a read fails; returns the frames read.
template <class Take>
std::vector<ReadFrame> ReadToEnd(CMediaReader& reader, Take take, int nLimit = 100000) {
    std::vector<ReadFrame> frames;
    for (int i = 0; i < nLimit; ++i) {
        const int nFrame = reader.NextFrameNumber();
        const double dTime = reader.GetFrameTime();
        INSSBuffer* pSample = nullptr;
        BITMAPINFOHEADER* pFormat = nullptr;
        if (FAILED(reader.GetNextFrame(&pSample, &pFormat))) break;
        frames.push_back({nFrame, dTime});
        take(pSample, pFormat);
    }
    return frames;
}

std::vector<ReadFrame> ReadToEnd(CMediaReader& reader) {
    return ReadToEnd(reader, [](INSSBuffer* pSample, BITMAPINFOHEADER*) { pSample->Release(); });
}

}  // namespace

class MediaIntegrationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveTool("ffmpeg") || !HaveTool("ffprobe")) GTEST_SKIP() << "ffmpeg is not installed";
        ClearRecordedErrors();
    }

    // A second of 64x48 test pattern at 25 frames a second, as "in.wmv", opened by `reader`,
    // its profile derived by `writer`.
    void OpenInput(CMediaReader& reader, CMediaWriter& writer) {
        ASSERT_TRUE(MakeClip(kClip, "in.wmv"));
        ASSERT_EQ(reader.OpenByName("in.wmv"), S_OK);
        EXPECT_EQ(writer.DeriveOutputProfile(reader.GetProfile()), S_OK);
    }

    // The input's frames written at 1/29.97 s steps from `dStart` on; returns how many.
    int WriteFrames(CMediaReader& reader, CMediaWriter& writer, int nCount, double dStart = 0.0) {
        int nWritten = 0;
        ReadToEnd(
            reader,
            [&](INSSBuffer* pSample, BITMAPINFOHEADER*) {
                writer.WriteFrame(pSample, dStart + nWritten / 29.97);
                ++nWritten;
                pSample->Release();
            },
            nCount);
        return nWritten;
    }

    static std::vector<std::string> StreamsOf(const std::string& file) {
        return Lines(
            RunCommand("ffprobe -v error -show_entries stream=codec_name,codec_type -of csv=p=0 '" +
                       file + "' 2>&1"));
    }
    static std::vector<double> PacketTimesOf(const std::string& file) {
        std::vector<double> times;
        for (const std::string& line : Lines(RunCommand(
                 "ffprobe -v error -select_streams v:0 -show_entries packet=pts_time -of "
                 "csv=p=0 '" +
                 file + "'"))) {
            times.push_back(std::atof(line.c_str()));
        }
        return times;
    }

    CScopedWorkingDir m_dir;
};

TEST_F(MediaIntegrationTest, ClipWithAnAccentedNameIsReadToItsEndWithFrameNumbersAndTimes) {
    ASSERT_TRUE(MakeClip(kClip, "caf\xc3\xa9.wmv"));
    CMediaReader reader;
    ASSERT_EQ(reader.OpenByName("caf\xc3\xa9.wmv"), S_OK);

    std::vector<ReadFrame> frames =
        ReadToEnd(reader, [](INSSBuffer* pSample, BITMAPINFOHEADER* pFormat) {
            ASSERT_NE(pFormat, nullptr);
            EXPECT_EQ(pFormat->biWidth, 64);
            EXPECT_EQ(pFormat->biHeight, 48);
            EXPECT_EQ(pFormat->biBitCount, 24);
            DWORD length = 0;
            pSample->GetLength(&length);
            EXPECT_EQ(length, DibStride(64) * 48);
            pSample->Release();
        });
    ASSERT_EQ(frames.size(), 25u);
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].nFrame, static_cast<int>(i) + 1);
        EXPECT_NEAR(frames[i].dTime, i * 0.04, 0.0011);
    }
    // The end of the input: recorded for the time and for the frame of the last step.
    EXPECT_EQ(g_lastErrorCode, NS_E_NO_MORE_SAMPLES);
    EXPECT_EQ(RecordedMessages(), std::vector<std::string>(2, "Could not get video sample"));
}

TEST_F(MediaIntegrationTest, InputWithAudioGivesAnOutputProfileWithOneVideoStream) {
    ASSERT_TRUE(
        MakeClip("-f lavfi -i testsrc=size=64x48:rate=25:duration=1 -f lavfi -i "
                 "sine=frequency=440:duration=1 -c:v wmv2 -c:a wmav2",
                 "av.wmv"));
    CMediaReader reader;
    ASSERT_EQ(reader.OpenByName("av.wmv"), S_OK);
    CMediaWriter writer;
    EXPECT_EQ(writer.DeriveOutputProfile(reader.GetProfile()), S_OK);

    ASSERT_NE(writer.GetProfile(), nullptr);
    DWORD count = 0;
    ASSERT_EQ(writer.GetProfile()->GetStreamCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(writer.GetVideoStreamNumber(), reader.GetVideoStreamNumber());
    // The reader's own profile keeps both streams, and so does lastprofile.xml.
    ASSERT_EQ(reader.GetProfile()->GetStreamCount(&count), S_OK);
    EXPECT_EQ(count, 2u);
    const std::string text = ReadFile("lastprofile.xml");
    EXPECT_NE(text.find("<profile"), std::string::npos);
    EXPECT_EQ(CountOf(text, "<streamconfig"), 2u);
    EXPECT_TRUE(RecordedErrors().empty());
}

TEST_F(MediaIntegrationTest, FramesWrittenThenEndedAreInTheFileAtTheirTimes) {
    CMediaReader reader;
    CMediaWriter writer;
    OpenInput(reader, writer);
    ASSERT_EQ(writer.OpenOutput("out.wmv"), S_OK);
    const int nWritten = WriteFrames(reader, writer, 12);
    ASSERT_EQ(nWritten, 12);
    ASSERT_EQ(writer.CloseOutput(), S_OK);

    EXPECT_EQ(StreamsOf("out.wmv"), std::vector<std::string>{"wmv2,video"});
    const std::vector<double> times = PacketTimesOf("out.wmv");
    ASSERT_EQ(times.size(), 12u);
    for (int i = 0; i < 12; ++i) {
        // Written in 100-ns units truncated, kept by ASF in whole milliseconds.
        const double dUnits = std::trunc(i / 29.97 * 10000000.0);
        EXPECT_NEAR(times[i], std::floor(dUnits / 10000.0) / 1000.0, 0.0011) << "frame " << i;
    }
    EXPECT_EQ(ProbeFrameCount("out.wmv"), 12);
    EXPECT_TRUE(RecordedErrors().empty());
}

TEST_F(MediaIntegrationTest, OddSizedInputWrites) {
    ASSERT_TRUE(
        MakeClip("-f lavfi -i testsrc=size=63x47:rate=25:duration=0.4 -c:v ffv1", "odd.mkv"));
    CMediaReader reader;
    ASSERT_EQ(reader.OpenByName("odd.mkv"), S_OK);
    CMediaWriter writer;
    writer.DeriveOutputProfile(reader.GetProfile());
    ASSERT_EQ(writer.OpenOutput("out.wmv"), S_OK);
    EXPECT_EQ(WriteFrames(reader, writer, 100), 10);
    ASSERT_EQ(writer.CloseOutput(), S_OK);
    EXPECT_EQ(ProbeFrameCount("out.wmv"), 10);
}

TEST_F(MediaIntegrationTest, NameInAFolderThatDoesNotExistFailsAndCreatesNothing) {
    CMediaReader reader;
    CMediaWriter writer;
    OpenInput(reader, writer);

    EXPECT_LT(writer.OpenOutput("no-such-folder/out.wmv"), 0);
    ASSERT_FALSE(RecordedErrors().empty());
    const std::string message = RecordedErrors().back().message;
    EXPECT_TRUE(message == "Could not begin writing file" ||
                message == "Didn't like the output file name")
        << message;
    EXPECT_EQ(m_dir.Entries(), (std::vector<std::string>{"in.wmv", "lastprofile.xml"}));
}

TEST_F(MediaIntegrationTest, OutputCommittedAgainOrWriterDestroyedWhileWritingLeavesFinishedFiles) {
    CMediaReader reader;
    {
        CMediaWriter writer;
        OpenInput(reader, writer);
        ASSERT_EQ(writer.OpenOutput("first.wmv"), S_OK);
        ASSERT_EQ(WriteFrames(reader, writer, 8), 8);

        ASSERT_EQ(writer.OpenOutput("second.wmv"), S_OK);
        EXPECT_EQ(ProbeFrameCount("first.wmv"), 8);  // finished before the second began
        ASSERT_EQ(WriteFrames(reader, writer, 5, 1.0), 5);
    }
    EXPECT_EQ(ProbeFrameCount("first.wmv"), 8);
    EXPECT_EQ(ProbeFrameCount("second.wmv"), 5);
    EXPECT_TRUE(RecordedErrors().empty());
}

// The real files beside the repository, with the frame counts their README gives.
struct TestdataFile {
    const char* name;
    int nFrames;  // -1: the open fails
};

void PrintTo(const TestdataFile& file, std::ostream* pOut) { *pOut << file.name; }

class TestdataFileTest : public ::testing::TestWithParam<TestdataFile> {
  protected:
    CScopedWorkingDir m_dir;
};

TEST_P(TestdataFileTest, GivesItsFrameCount) {
    const fs::path path = fs::path(VARNEL_TESTDATA_DIR) / GetParam().name;
    if (!fs::exists(path)) GTEST_SKIP() << path << " is absent";
    ClearRecordedErrors();
    CMediaReader reader;
    const HRESULT hr = reader.OpenByName(path.c_str());
    if (GetParam().nFrames < 0) {
        EXPECT_LT(hr, 0);
        EXPECT_EQ(ReadToEnd(reader).size(), 0u);
        return;
    }
    ASSERT_EQ(hr, S_OK);
    double dPrevious = -1.0;
    int nFrames = 0;
    const std::vector<ReadFrame> frames = ReadToEnd(reader);
    for (const ReadFrame& frame : frames) {
        EXPECT_EQ(frame.nFrame, ++nFrames);
        EXPECT_GE(frame.dTime, 0.0);
        EXPECT_GE(frame.dTime, dPrevious) << "frame " << frame.nFrame;
        dPrevious = frame.dTime;
    }
    EXPECT_EQ(nFrames, GetParam().nFrames);
}

INSTANTIATE_TEST_SUITE_P(
    Files, TestdataFileTest,
    ::testing::Values(TestdataFile{"a01_wmv3_moviemaker6_640x480_red2s-then-green.wmv", 916},
                      TestdataFile{"a02_wmv3_320x240_ball_0.9s.wmv", 28},
                      TestdataFile{"a04_wmv3_320x240_wine-iwmwriter_2s.wmv", 61},
                      TestdataFile{"a06_wmv3_320x240_15fps_numbers_60s.wmv", 253},
                      TestdataFile{"b03_vc1adv_512x288_ladybug_wmapro_12s.wmv", 301},
                      TestdataFile{"c08_wmv1_160x120_bee_wma-8k_10s.wmv", 149},
                      TestdataFile{"c09_wmv1_208x160_blue-green-red_sparse_30s.wmv", 62},
                      TestdataFile{"c13_wmv1_64x48_wine-ffmpeg-made_2s.wmv", 50},
                      TestdataFile{"c14_mp43_160x120_elephant_28s.asf", 153},
                      TestdataFile{"c15_wmv2_560x320_4.4s.asf", 161},
                      TestdataFile{"d01_mp43_852x480_bear_noaudio_43s.wmv", 1296},
                      TestdataFile{"e06_wmv1_320x240_gstreamer-asfmux_5frames.wmv", 4},
                      TestdataFile{"e08_crafted_CWE-835_no-streams.wma", -1},
                      TestdataFile{"e09_audio-only_wma2_ringtone_9s.wma", -1}),
    [](const ::testing::TestParamInfo<TestdataFile>& info) {
        return std::string(info.param.name).substr(0, 3);
    });
