// SPDX-License-Identifier: GPL-3.0-or-later
// Speed of the writer: 600 frames of 1280x720 converted from bottom-up BGR24 and encoded to
// WMV2 in ASF through IWMWriter, beside the ffmpeg command encoding the same frames at the same
// bit rate and key-frame spacing, in the same run. Target: at most 1.2 times FFmpeg's time.
//
// The frames are a 60-frame clip of FFmpeg's testsrc2 pattern, played 10 times by both sides.
// Each side runs --runs times (default 3) and its fastest run counts.
//
//   write_bench [--runs N] [--keep]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/wmf/profile/Profile.h"
#include "platform/wmf/shared/SampleBuffer.h"
#include "platform/wmf/wmsdk.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr LONG kWidth = 1280;
constexpr LONG kHeight = 720;
constexpr int kClipFrames = 60;
constexpr int kLoops = 10;
constexpr int kFrames = kClipFrames * kLoops;
constexpr DWORD kBitRate = 2500000;
constexpr REFERENCE_TIME kFrameTime = 333667;  // 1/29.97 s
constexpr int kKeyFrameSpacing = 90;           // what the writer picks at 29.97 frames/s

struct ReleaseDeleter {
    void operator()(IUnknown* p) const {
        if (p != nullptr) p->Release();
    }
};
template <typename T>
using Ref = std::unique_ptr<T, ReleaseDeleter>;

bool RunCommand(const std::string& command) { return std::system(command.c_str()) == 0; }

// The clip as DIB samples: rows bottom-up, padded to the DIB stride.
std::vector<Ref<CSampleBuffer>> LoadClip(const fs::path& raw) {
    std::vector<Ref<CSampleBuffer>> frames;
    std::ifstream in(raw, std::ios::binary);
    const size_t nRow = static_cast<size_t>(kWidth) * 3;
    const DWORD nStride = DibStride(kWidth);
    std::vector<char> row(nRow);
    for (int f = 0; f < kClipFrames; ++f) {
        Ref<CSampleBuffer> pSample(CSampleBuffer::Create(nStride * kHeight));
        for (LONG y = 0; y < kHeight; ++y) {
            if (!in.read(row.data(), static_cast<std::streamsize>(nRow))) return {};
            std::memcpy(pSample->Bytes() + static_cast<size_t>(kHeight - 1 - y) * nStride,
                        row.data(), nRow);
        }
        frames.push_back(std::move(pSample));
    }
    return frames;
}

// One run through the writer; the seconds from BeginWriting to the end of EndWriting, or a
// negative value when a call fails.
double TimeWriter(const std::vector<Ref<CSampleBuffer>>& clip, const fs::path& output) {
    wmf::VideoStreamInfo info;
    info.nWidth = kWidth;
    info.nHeight = kHeight;
    info.dwFourcc = MakeFourcc('W', 'M', 'V', '2');
    info.dwBitRate = kBitRate;
    info.nAvgTimePerFrame = kFrameTime;
    IWMProfile* pRawProfile = nullptr;
    IWMWriter* pRawWriter = nullptr;
    if (FAILED(wmf::CreateProfile({wmf::DescribeVideoStream(1, info)}, &pRawProfile)) ||
        FAILED(WMCreateWriter(nullptr, &pRawWriter))) {
        return -1;
    }
    Ref<IWMProfile> pProfile(pRawProfile);
    Ref<IWMWriter> pWriter(pRawWriter);
    if (FAILED(pWriter->SetProfile(pProfile.get())) ||
        FAILED(pWriter->SetOutputFilename(output.wstring().c_str()))) {
        return -1;
    }

    const auto start = Clock::now();
    if (FAILED(pWriter->BeginWriting())) return -1;
    for (int k = 0; k < kFrames; ++k) {
        const QWORD time = static_cast<QWORD>(k) * kFrameTime;
        if (FAILED(pWriter->WriteSample(0, time, 0, clip[k % kClipFrames].get()))) return -1;
    }
    if (FAILED(pWriter->EndWriting())) return -1;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One run of the ffmpeg command on the same frames; its wall time, start-up included.
double TimeFfmpeg(const fs::path& raw, const fs::path& output) {
    const std::string command =
        "ffmpeg -nostdin -v error -y -stream_loop " + std::to_string(kLoops - 1) +
        " -f rawvideo -pix_fmt bgr24 -video_size " + std::to_string(kWidth) + "x" +
        std::to_string(kHeight) + " -framerate 30000/1001 -i '" + raw.string() +
        "' -c:v wmv2 -b:v " + std::to_string(kBitRate) + " -g " + std::to_string(kKeyFrameSpacing) +
        " -f asf '" + output.string() + "'";
    const auto start = Clock::now();
    if (!RunCommand(command)) return -1;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    int nRuns = 3;
    bool bKeep = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            nRuns = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--keep") == 0) {
            bKeep = true;
        } else {
            std::fprintf(stderr, "usage: %s [--runs N] [--keep]\n", argv[0]);
            return 2;
        }
    }

    char pattern[] = "/tmp/varnel-write-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const fs::path dir = pattern;
    const fs::path raw = dir / "clip.bgr";
    const std::string make =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" + std::to_string(kWidth) + "x" +
        std::to_string(kHeight) + ":rate=30000/1001 -frames:v " + std::to_string(kClipFrames) +
        " -f rawvideo -pix_fmt bgr24 '" + raw.string() + "'";
    std::vector<Ref<CSampleBuffer>> clip;
    if (RunCommand(make)) clip = LoadClip(raw);
    if (clip.size() != kClipFrames) {
        std::fprintf(stderr, "could not make the test clip with ffmpeg\n");
        fs::remove_all(dir);
        return 1;
    }

    double dWriter = 1e30;
    double dFfmpeg = 1e30;
    for (int run = 0; run < nRuns; ++run) {
        const double w = TimeWriter(clip, dir / "writer.wmv");
        const double f = TimeFfmpeg(raw, dir / "ffmpeg.wmv");
        if (w < 0 || f < 0) {
            std::fprintf(stderr, "run %d failed (writer %s, ffmpeg %s)\n", run + 1,
                         w < 0 ? "failed" : "ok", f < 0 ? "failed" : "ok");
            fs::remove_all(dir);
            return 1;
        }
        std::printf("run %d: writer %.3f s, ffmpeg %.3f s\n", run + 1, w, f);
        dWriter = std::min(dWriter, w);
        dFfmpeg = std::min(dFfmpeg, f);
    }

    std::printf("%d frames %ldx%ld bgr24 -> WMV2 at %u bit/s, fastest of %d runs\n", kFrames,
                static_cast<long>(kWidth), static_cast<long>(kHeight), kBitRate, nRuns);
    std::printf("writer: %.3f s (%.1f frames/s), %ju bytes\n", dWriter, kFrames / dWriter,
                static_cast<uintmax_t>(fs::file_size(dir / "writer.wmv")));
    std::printf("ffmpeg: %.3f s (%.1f frames/s), %ju bytes\n", dFfmpeg, kFrames / dFfmpeg,
                static_cast<uintmax_t>(fs::file_size(dir / "ffmpeg.wmv")));
    std::printf("ratio writer/ffmpeg: %.2f (target at most 1.20)\n", dWriter / dFfmpeg);
    if (bKeep) {
        std::printf("files kept in %s\n", dir.c_str());
    } else {
        fs::remove_all(dir);
    }
    return 0;
}
