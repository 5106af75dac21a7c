// Owning holders of the FFmpeg objects that the writer uses. FFmpeg's own headers stay in the
// .cpp files; these declarations are enough to hold the objects.
#pragma once

#include <memory>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwsContext;

namespace wmf {

struct FormatContextDeleter {
    void operator()(AVFormatContext* p) const;  // closes the file it opened, then frees
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* p) const;
};
struct FrameDeleter {
    void operator()(AVFrame* p) const;
};
struct PacketDeleter {
    void operator()(AVPacket* p) const;
};
struct SwsContextDeleter {
    void operator()(SwsContext* p) const;
};

using OutputContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;

}  // namespace wmf
