#include "platform/wmf/WriterFFmpeg.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace wmf {

void FormatContextDeleter::operator()(AVFormatContext* p) const {
    if (p == nullptr) return;
    if (p->oformat != nullptr && !(p->oformat->flags & AVFMT_NOFILE)) avio_closep(&p->pb);
    avformat_free_context(p);
}

void CodecContextDeleter::operator()(AVCodecContext* p) const { avcodec_free_context(&p); }

void FrameDeleter::operator()(AVFrame* p) const { av_frame_free(&p); }

void PacketDeleter::operator()(AVPacket* p) const { av_packet_free(&p); }

void SwsContextDeleter::operator()(SwsContext* p) const { sws_freeContext(p); }

}  // namespace wmf
