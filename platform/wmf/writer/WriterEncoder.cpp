#include "platform/wmf/writer/WriterEncoder.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
}

#include "platform/wmf/shared/WriterStatus.h"

namespace wmf {

void OutputContextDeleter::operator()(AVFormatContext* p) const {
    if (p == nullptr) return;
    if (p->oformat != nullptr && !(p->oformat->flags & AVFMT_NOFILE)) avio_closep(&p->pb);
    avformat_free_context(p);
}

namespace {

// Sample times, in 100-ns units.
constexpr AVRational kSampleTimeBase = {1, 10000000};
constexpr AVRational kMilliseconds = {1, 1000};
// Frame spacing when the profile gives none: 29.97 frames a second. A spacing outside 1 ms to
// 10 s is taken as the nearest of the two, to keep the rate control's budget sensible.
constexpr REFERENCE_TIME kDefaultFrameTime = 333667;
constexpr REFERENCE_TIME kShortestFrameTime = 10000;
constexpr REFERENCE_TIME kLongestFrameTime = 100000000;
// A key frame about every three seconds, as Windows Media profiles usually ask.
constexpr REFERENCE_TIME kKeyFrameSpacing = 30000000;

// About 0.1 bit a pixel at 30 frames a second, and no less than 256 kbit/s.
int64_t DefaultBitRate(const WriterVideoFormat& format) {
    return std::max<int64_t>(256000, int64_t{format.nWidth} * format.nHeight * 3);
}

}  // namespace

int64_t CWriterEncoder::FileMilliseconds(REFERENCE_TIME time) {
    return av_rescale_q(time, kSampleTimeBase, kMilliseconds);
}

HRESULT CWriterEncoder::Open(const std::string& path, const WriterVideoFormat& format,
                             std::unique_ptr<CWriterEncoder>* ppEncoder) {
    if (ppEncoder == nullptr) return E_POINTER;
    av_log_set_level(AV_LOG_ERROR);
    std::unique_ptr<CWriterEncoder> pEncoder(new CWriterEncoder());
    HRESULT hr = pEncoder->OpenCodec(format);
    if (FAILED(hr)) return hr;
    hr = pEncoder->OpenContainer(path);
    if (FAILED(hr)) return hr;
    *ppEncoder = std::move(pEncoder);
    return S_OK;
}

CWriterEncoder::~CWriterEncoder() = default;

HRESULT CWriterEncoder::OpenCodec(const WriterVideoFormat& format) {
    const bool bWmv1 = format.dwFourcc == MakeFourcc('W', 'M', 'V', '1');
    const AVCodec* pCodec = avcodec_find_encoder(bWmv1 ? AV_CODEC_ID_WMV1 : AV_CODEC_ID_WMV2);
    if (pCodec == nullptr) return NS_E_INVALID_OUTPUT_FORMAT;
    m_pCodec.reset(avcodec_alloc_context3(pCodec));
    m_pPacket.reset(av_packet_alloc());
    if (!m_pCodec || !m_pPacket) return E_OUTOFMEMORY;

    const REFERENCE_TIME nFrameTime =
        format.nAvgTimePerFrame > 0
            ? std::clamp(format.nAvgTimePerFrame, kShortestFrameTime, kLongestFrameTime)
            : kDefaultFrameTime;
    AVCodecContext* c = m_pCodec.get();
    c->width = format.PaddedWidth();
    c->height = format.PaddedHeight();
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    // The rate control budgets each picture one tick of the time base, so the encoder counts
    // in frames of the profile's rate; the samples' own times go to the file (see Drain).
    av_reduce(&c->time_base.num, &c->time_base.den, nFrameTime, kSampleTimeBase.den, INT32_MAX);
    c->framerate = av_inv_q(c->time_base);
    c->bit_rate = format.dwBitRate != 0 ? int64_t{format.dwBitRate} : DefaultBitRate(format);
    c->gop_size = static_cast<int>(
        std::clamp<REFERENCE_TIME>((kKeyFrameSpacing + nFrameTime / 2) / nFrameTime, 1, 600));
    c->max_b_frames = 0;                      // packets come out in input order
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;  // ASF carries the codec data in its header
    const int err = avcodec_open2(c, pCodec, nullptr);
    if (err < 0) return err == AVERROR(ENOMEM) ? E_OUTOFMEMORY : NS_E_INVALID_OUTPUT_FORMAT;
    return S_OK;
}

HRESULT CWriterEncoder::OpenContainer(const std::string& path) {
    AVFormatContext* pRaw = nullptr;
    int err = avformat_alloc_output_context2(&pRaw, nullptr, "asf", nullptr);
    if (err < 0 || pRaw == nullptr) return StatusFromAvError(err < 0 ? err : AVERROR(ENOMEM));
    m_pContainer.reset(pRaw);

    m_pStream = avformat_new_stream(pRaw, nullptr);
    if (m_pStream == nullptr) return E_OUTOFMEMORY;
    m_pStream->time_base = kSampleTimeBase;
    m_pStream->avg_frame_rate = m_pCodec->framerate;
    err = avcodec_parameters_from_context(m_pStream->codecpar, m_pCodec.get());
    if (err < 0) return StatusFromAvError(err);

    // "file:" keeps a colon in the name from being read as a protocol.
    err = avio_open(&pRaw->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE);
    if (err < 0) return StatusFromAvError(err);
    err = avformat_write_header(pRaw, nullptr);
    if (err < 0) return StatusFromAvError(err);
    return S_OK;
}

HRESULT CWriterEncoder::Encode(AVFrame* pPicture, REFERENCE_TIME time) {
    if (m_bFinished) return NS_E_INVALID_REQUEST;
    pPicture->pts = m_nFramesSent;
    const int err = avcodec_send_frame(m_pCodec.get(), pPicture);
    if (err < 0) return StatusFromAvError(err);
    m_times.push_back(time);
    ++m_nFramesSent;
    return Drain();
}

HRESULT CWriterEncoder::Drain() {
    for (;;) {
        int err = avcodec_receive_packet(m_pCodec.get(), m_pPacket.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return S_OK;
        if (err < 0) return StatusFromAvError(err);
        // The packet's pts is the number of its picture; it goes out at that picture's time.
        const int64_t nFirst = m_nFramesSent - static_cast<int64_t>(m_times.size());
        const int64_t nIndex = m_pPacket->pts - nFirst;
        if (nIndex < 0 || nIndex >= static_cast<int64_t>(m_times.size())) {
            av_packet_unref(m_pPacket.get());
            return E_UNEXPECTED;
        }
        m_pPacket->pts = m_times[static_cast<size_t>(nIndex)];
        m_pPacket->dts = m_pPacket->pts;
        m_pPacket->duration = 0;
        m_times.erase(m_times.begin(), m_times.begin() + nIndex + 1);
        av_packet_rescale_ts(m_pPacket.get(), kSampleTimeBase, m_pStream->time_base);
        m_pPacket->stream_index = m_pStream->index;
        // Takes the packet's data; the packet comes back empty.
        err = av_interleaved_write_frame(m_pContainer.get(), m_pPacket.get());
        if (err < 0) return StatusFromAvError(err);
    }
}

HRESULT CWriterEncoder::Finish() {
    if (m_bFinished) return NS_E_INVALID_REQUEST;
    m_bFinished = true;
    int err = avcodec_send_frame(m_pCodec.get(), nullptr);
    if (err < 0 && err != AVERROR_EOF) return StatusFromAvError(err);
    HRESULT hr = Drain();
    if (FAILED(hr)) return hr;
    err = av_write_trailer(m_pContainer.get());
    if (err < 0) return StatusFromAvError(err);
    AVIOContext* pFile = m_pContainer->pb;
    avio_flush(pFile);
    // A write that failed on the way (a full disk) is only known here.
    const int ioError = pFile->error;
    err = avio_closep(&m_pContainer->pb);
    if (ioError < 0) return StatusFromAvError(ioError);
    if (err < 0) return StatusFromAvError(err);
    return S_OK;
}

}  // namespace wmf
