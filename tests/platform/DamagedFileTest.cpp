// SPDX-License-Identifier: GPL-3.0-or-later
// Damaged files of every container the reader meets most: each either fails to open as an input
// of the wrong format or reads its video to a clean end; no damage is reported as a system error.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/platform/RuntimeTestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace varnel_test;

// `bytes` with `with` written over them `offset` bytes after the first `marker` (which must be
// there); with an empty marker, from `offset` on.
std::string Overwritten(std::string bytes, const std::string& marker, size_t offset,
                        const std::string& with) {
    const size_t at = marker.empty() ? 0 : bytes.find(marker);
    EXPECT_NE(at, std::string::npos) << "no marker";
    if (at != std::string::npos) bytes.replace(at + offset, with.size(), with);
    return bytes;
}

TEST(DamagedFileTest, FailsAsTheWrongFormatOrReadsToACleanEnd) {
    CTempDir dir;
    const std::string source = "-f lavfi -i testsrc=size=160x120:rate=25:duration=1 -g 10 ";
    const std::string ff(8, '\xFF');
    // The GUID of ASF's stream properties object, whose stream type follows 24 bytes on.
    const std::string asfStream("\x91\x07\xDC\xB7\xB7\xA9\xCF\x11\x8E\xE6\x00\xC0\x0C\x20\x53\x65",
                                16);
    const std::pair<const char*, std::string> containers[] = {
        {"clip.asf", "-c:v wmv2"},
        {"clip.mp4", "-c:v libx264 -pix_fmt yuv420p"},
        {"clip.mkv", "-c:v libx264 -pix_fmt yuv420p"},
        {"clip.avi", "-c:v mpeg4"},
    };
    for (const auto& [name, codec] : containers) {
        ASSERT_TRUE(MakeClip(source + codec, dir / name)) << name;
        const std::string clip = ReadFile(dir / name);
        const size_t n = clip.size();
        std::vector<std::pair<std::string, std::string>> damaged = {
            // Matroska cut inside its header: the demuxer answers AVERROR(EIO).
            {"cut to 200 bytes", clip.substr(0, 200)},
            {"cut to a third", clip.substr(0, n / 3)},
            {"cut to two thirds", clip.substr(0, 2 * n / 3)},
            {"0xFF at byte 100", Overwritten(clip, "", 100, ff)},
            {"0xFF at byte 400", Overwritten(clip, "", 400, ff)},
            {"zeros in the middle", Overwritten(clip, "", n / 2, std::string(2000, '\0'))},
        };
        // An unknown ASF stream type: -1 (AVERROR(EPERM)) from the demuxer. A second 'ctts' box
        // in MP4: AVERROR(ENOMEM) from FFmpeg 5.1's demuxer, where nothing ran out.
        if (fs::path(name).extension() == ".asf") {
            damaged.emplace_back("unknown stream type", Overwritten(clip, asfStream, 24, ff));
        }
        if (fs::path(name).extension() == ".mp4") {
            damaged.emplace_back("stss box named ctts", Overwritten(clip, "stss", 0, "ctts"));
        }
        for (const auto& [damage, bytes] : damaged) {
            SCOPED_TRACE(std::string(name) + ", " + damage);
            const fs::path file = dir / ("damaged " + std::string(name));
            WriteFile(file, bytes);
            Ref<IWMSyncReader> reader = NewReader();
            const HRESULT hr = Open(reader.get(), file);
            if (hr != S_OK) {
                EXPECT_EQ(hr, NS_E_INVALID_INPUT_FORMAT);
                continue;
            }
            ReadAll(reader.get(), SelectVideo(reader.get()).first);
        }
    }
}

}  // namespace
