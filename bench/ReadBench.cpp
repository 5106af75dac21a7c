// SPDX-License-Identifier: GPL-3.0-or-later
// Reading speed: decode and convert every frame of a 20 s 1280x720 WMV2 clip through the sync
// reader, beside `ffmpeg -i CLIP -an -pix_fmt bgr24 -f null -` on the same clip in the same run.
// The clip is made with the ffmpeg command in a temporary folder. Each side runs several times
// in turn and its best time counts. Target: the reader at most 1.2 times FFmpeg's time.
//
// Usage: read_bench [rounds]   (default 3)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "platform/wmf/wmsdk.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Reads every video frame of `clip`; the frame count, or -1 when the clip does not open.
long ReadAllFrames(const std::string& clip) {
    IWMSyncReader* reader = nullptr;
    if (FAILED(WMCreateSyncReader(nullptr, 0, &reader))) return -1;
    std::wstring name(clip.begin(), clip.end());
    long frames = -1;
    WORD video = 1;  // the clip's only stream
    WMT_STREAM_SELECTION on = WMT_ON;
    if (SUCCEEDED(reader->Open(name.c_str())) &&
        SUCCEEDED(reader->SetStreamsSelected(1, &video, &on)) &&
        SUCCEEDED(reader->SetReadStreamSamples(video, FALSE))) {
        frames = 0;
        INSSBuffer* sample = nullptr;
        QWORD time = 0, duration = 0;
        DWORD flags = 0, output = 0;
        WORD stream = 0;
        while (SUCCEEDED(
            reader->GetNextSample(video, &sample, &time, &duration, &flags, &output, &stream))) {
            sample->Release();
            ++frames;
        }
    }
    reader->Release();
    return frames;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    char pattern[] = "/tmp/varnel-readbench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const fs::path dir = pattern;
    const std::string clip = (dir / "clip.wmv").string();
    const std::string make =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=1280x720:rate=30000/1001:duration=20 "
        "-c:v wmv2 -b:v 4M '" +
        clip + "'";
    if (std::system(make.c_str()) != 0 || !fs::exists(clip)) {
        std::fprintf(stderr, "read_bench: the ffmpeg command could not make the clip\n");
        fs::remove_all(dir);
        return 1;
    }
    const std::string ffmpeg =
        "ffmpeg -nostdin -v error -i '" + clip + "' -an -pix_fmt bgr24 -f null -";

    double best_ffmpeg = 1e9, best_ours = 1e9;
    long frames = 0;
    for (int round = 0; round < rounds; ++round) {
        Clock::time_point start = Clock::now();
        if (std::system(ffmpeg.c_str()) != 0) {
            std::fprintf(stderr, "read_bench: the ffmpeg command failed\n");
            fs::remove_all(dir);
            return 1;
        }
        best_ffmpeg = std::min(best_ffmpeg, Seconds(start));
        start = Clock::now();
        frames = ReadAllFrames(clip);
        best_ours = std::min(best_ours, Seconds(start));
        if (frames <= 0) {
            std::fprintf(stderr, "read_bench: the sync reader could not read the clip\n");
            fs::remove_all(dir);
            return 1;
        }
    }
    fs::remove_all(dir);
    const double ratio = best_ours / best_ffmpeg;
    std::printf("clip: 20 s 1280x720 WMV2, %ld frames; best of %d rounds\n", frames, rounds);
    std::printf("ffmpeg -an -pix_fmt bgr24 -f null: %.3f s\n", best_ffmpeg);
    std::printf("sync reader, decode + BGR DIB:     %.3f s (%.1f frames/s)\n", best_ours,
                frames / best_ours);
    std::printf("ratio: %.2f (target at most 1.20) %s\n", ratio, ratio <= 1.2 ? "met" : "NOT met");
    return 0;
}
