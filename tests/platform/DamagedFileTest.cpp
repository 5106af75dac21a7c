// SPDX-License-Identifier: GPL-3.0-or-later
// Damaged files of every container the reader meets most: each either fails to open as an input
// of the wrong format or reads its video to a clean end; no damage is reported as a system error.
#include <filesystem>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "tests/platform/RuntimeTestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace varnel_test;

TEST(DamagedFileTest, FailsAsTheWrongFormatOrReadsToACleanEnd) {
    CTempDir dir;
    const std::string ff(8, '\xFF');
    // The GUID of ASF's stream properties object, whose stream type follows 24 bytes on.
    const std::string asfStream("\x91\x07\xDC\xB7\xB7\xA9\xCF\x11\x8E\xE6\x00\xC0\x0C\x20\x53\x65",
                                16);
    for (const char* name : {"clip.asf", "clip.mp4", "clip.mkv", "clip.avi"}) {
        const std::string codec = fs::path(name).extension() == ".asf" ? "wmv2"
                                  : fs::path(name).extension() == ".avi"
                                      ? "mpeg4"
                                      : "libx264 -pix_fmt yuv420p";
        ASSERT_TRUE(MakeClip(
            "-f lavfi -i testsrc=size=160x120:rate=25:duration=1 -g 10 -c:v " + codec, dir / name));
        const std::string clip = ReadFile(dir / name);
        const size_t n = clip.size();
        // The clip with `with` written `offset` bytes after `marker`; empty without the marker.
        const auto overwritten = [&clip](const std::string& marker, size_t offset,
                                         const std::string& with) {
            std::string bytes = clip;
            const size_t at = bytes.find(marker);
            return at == std::string::npos ? "" : bytes.replace(at + offset, with.size(), with);
        };
        const std::pair<const char*, std::string> damaged[] = {
            // Matroska cut inside its header: the demuxer answers AVERROR(EIO).
            {"cut to 200 bytes", clip.substr(0, 200)},
            {"cut to a third", clip.substr(0, n / 3)},
            {"cut to two thirds", clip.substr(0, 2 * n / 3)},
            {"0xFF at byte 100", overwritten("", 100, ff)},
            {"0xFF at byte 400", overwritten("", 400, ff)},
            {"zeros in the middle", overwritten("", n / 2, std::string(2000, '\0'))},
            // -1, which is AVERROR(EPERM), from the ASF demuxer.
            {"an unknown ASF stream type", overwritten(asfStream, 24, ff)},
            // AVERROR(ENOMEM) from FFmpeg 5.1's MP4 demuxer at a second 'ctts' box; nothing ran
            // out.
            {"MP4's stss box named ctts", overwritten("stss", 0, "ctts")},
        };
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
