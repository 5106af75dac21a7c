// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/VideoFileTypes.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace wmf {
namespace {

// Usual video extensions and FFmpeg's name of the reader for each; many readers claim no
// extension of their own (ASF, MPEG program and transport streams), so the list is ours.
struct VideoExtension {
    const char* pszExtension;
    const char* pszDemuxer;
};

constexpr VideoExtension kVideoExtensions[] = {
    {"wmv", "asf"},
    {"asf", "asf"},
    {"wm", "asf"},
    {"dvr-ms", "asf"},
    {"mp4", "mov"},
    {"m4v", "mov"},
    {"mov", "mov"},
    {"3gp", "mov"},
    {"3g2", "mov"},
    {"f4v", "mov"},
    {"mkv", "matroska"},
    {"webm", "matroska"},
    {"avi", "avi"},
    {"flv", "flv"},
    {"mpg", "mpeg"},
    {"mpeg", "mpeg"},
    {"vob", "mpeg"},
    {"ts", "mpegts"},
    {"mts", "mpegts"},
    {"m2ts", "mpegts"},
    {"ogv", "ogg"},
    {"mxf", "mxf"},
    {"dv", "dv"},
    {"wtv", "wtv"},
    {"rm", "rm"},
    {"rmvb", "rm"},
    {"nut", "nut"},
    {"ivf", "ivf"},
    {"y4m", "yuv4mpegpipe"},
    {"h264", "h264"},
    {"264", "h264"},
    {"hevc", "hevc"},
    {"265", "hevc"},
    {"m2v", "mpegvideo"},
};

}  // namespace

std::vector<std::string> ReadableVideoExtensions() {
    std::vector<std::string> extensions;
    for (const VideoExtension& entry : kVideoExtensions) {
        if (av_find_input_format(entry.pszDemuxer) != nullptr) {
            extensions.emplace_back(entry.pszExtension);
        }
    }
    return extensions;
}

}  // namespace wmf
