// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/writer/WriterEncoder.h"

#include <algorithm>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/cpu.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
}

#include "platform/wmf/ThreadBudget.h"
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
// The time base of the outputs that are not Windows Media: 1001 ticks a frame at the output rate.
constexpr AVRational kNtscTimeBase = {1, 30000};
constexpr AVRational kNtscFrameRate = {30000, 1001};
// Frame spacing when the profile gives none: that of the output rate. A spacing outside 1 ms to
// 10 s is taken as the nearest of the two, to keep the rate control's budget sensible.
constexpr REFERENCE_TIME kDefaultFrameTime = 333667;
constexpr REFERENCE_TIME kShortestFrameTime = 10000;
constexpr REFERENCE_TIME kLongestFrameTime = 100000000;
// A 4:2:0 picture beyond 4K (4096 x 2304 pixels).
constexpr int64_t kLargePictureBytes = int64_t{4096} * 2304 * 3 / 2;
// A key frame about every three seconds, as Windows Media profiles usually ask.
constexpr REFERENCE_TIME kKeyFrameSpacing = 30000000;

// About 0.1 bit a pixel at 30 frames a second, and no less than 256 kbit/s.
int64_t DefaultBitRate(const WriterVideoFormat& format) {
    return std::max<int64_t>(256000, int64_t{format.nWidth} * format.nHeight * 3);
}

// The bit rate that a bit-rate control asks for.
int64_t ChosenBitRate(const WriterVideoFormat& format, const WriterRateControl& rate) {
    if (rate.bBitRate && rate.dwBitRate != 0) return rate.dwBitRate;
    return format.dwBitRate != 0 ? int64_t{format.dwBitRate} : DefaultBitRate(format);
}

// Encoder options beyond the rate control. At the same rate factor x264's "faster" gives files a
// few per cent smaller than its default "medium" at an SSIM within 0.15 dB, in about two thirds of
// the time, which a whole run needs to keep up with ffmpeg's decode-and-encode ("veryfast" loses
// half a decibel). VP9 at speed 4 with row threads: good quality in reasonable time.
void SetSpeedOptions(AVCodecID codec, AVDictionary** ppOptions) {
    if (codec == AV_CODEC_ID_H264) {
        av_dict_set(ppOptions, "preset", "faster", 0);
    } else if (codec == AV_CODEC_ID_VP9) {
        av_dict_set(ppOptions, "deadline", "good", 0);
        av_dict_set(ppOptions, "cpu-used", "4", 0);
        av_dict_set(ppOptions, "row-mt", "1", 0);
    }
}

// What the encoders keep ahead of the picture they code, bounded by the picture's size, so that
// the look-ahead of 8K pictures does not take gigabytes; up to high definition the presets'
// own choices stand. x264 keeps about 4 times a 4:2:0 picture for each picture it holds (its
// half-pixel planes beside the picture): its look-ahead gets 512 MiB of them (20 pictures, the
// preset's, up to 1440p; 10 at 4K), and beyond 4K it also codes on one thread without B-frames
// and from a single reference, which leaves it 3 pictures or so. VP9's look-ahead (25 pictures
// by default) gets 256 MiB of pictures (20 at 4K, 4 at 8K); libvpx needs about 2.4 GB for its
// own buffers at 8K whatever the options.
void SetMemoryBounds(AVCodecContext* c, AVDictionary** ppOptions) {
    const int64_t nPictureBytes = int64_t{c->width} * c->height * 3 / 2;
    if (c->codec_id == AV_CODEC_ID_H264) {
        // x264 keeps about four pictures' worth of memory for each frame of look-ahead: 128 MiB
        // of it leaves the default 20 frames up to 720p, gives 10 at 1080p (about 75 MB less, at
        // the same size of output) and 2 at 8K.
        const int64_t nLookAhead = std::max<int64_t>(2, (int64_t{128} << 20) / (4 * nPictureBytes));
        if (nLookAhead < 20) av_dict_set_int(ppOptions, "rc-lookahead", nLookAhead, 0);
        if (nPictureBytes > kLargePictureBytes) {
            c->thread_count = 1;
            c->max_b_frames = 0;
            c->refs = 1;
        }
    } else if (c->codec_id == AV_CODEC_ID_VP9) {
        const int64_t nLag = (int64_t{256} << 20) / nPictureBytes;
        if (nLag < 25) av_dict_set_int(ppOptions, "lag-in-frames", nLag, 0);
    }
}

// Options for an FFmpeg call, freed at the end of their scope (the call leaves behind those it
// did not take).
struct COptions {
    AVDictionary* p = nullptr;
    COptions() = default;
    COptions(const COptions&) = delete;
    COptions& operator=(const COptions&) = delete;
    ~COptions() { av_dict_free(&p); }
};

}  // namespace

int64_t CWriterEncoder::NtscTicks(REFERENCE_TIME time) {
    // 30000 ticks a second of a clock whose frames, at the output rate, are 1001 ticks apart:
    // 29999.97 ticks a second.
    return av_rescale_rnd(time, 2999997, 1000000000, AV_ROUND_NEAR_INF);
}

int64_t CWriterEncoder::FileTicks(const WriterContainer& container, REFERENCE_TIME time) {
    if (container.IsWindowsMedia()) return av_rescale_q(time, kSampleTimeBase, kMilliseconds);
    const int64_t nTicks = NtscTicks(time);
    return container.bMilliseconds ? av_rescale_q(nTicks, kNtscTimeBase, kMilliseconds) : nTicks;
}

HRESULT CWriterEncoder::Open(const std::string& path, const WriterVideoFormat& format,
                             const WriterContainer& container, const WriterRateControl& rate,
                             std::unique_ptr<CWriterEncoder>* ppEncoder) {
    if (ppEncoder == nullptr) return E_POINTER;
    av_log_set_level(AV_LOG_ERROR);
    const AVOutputFormat* pMuxer = av_guess_format(container.pszMuxer, nullptr, nullptr);
    if (pMuxer == nullptr) return NS_E_INVALID_OUTPUT_FORMAT;
    std::unique_ptr<CWriterEncoder> pEncoder(new CWriterEncoder());
    HRESULT hr = container.IsWindowsMedia()
                     ? pEncoder->OpenWindowsMediaCodec(format, rate)
                     : pEncoder->OpenCodec(format, container, rate,
                                           (pMuxer->flags & AVFMT_GLOBALHEADER) != 0);
    if (FAILED(hr)) return hr;
    hr = pEncoder->OpenContainer(path, container);
    if (FAILED(hr)) return hr;
    *ppEncoder = std::move(pEncoder);
    return S_OK;
}

CWriterEncoder::~CWriterEncoder() = default;

HRESULT CWriterEncoder::OpenCodec(const WriterVideoFormat& format, const WriterContainer& container,
                                  const WriterRateControl& rate, bool bGlobalHeader) {
    const char* pszEncoder = EncoderName(container);
    const AVCodec* pCodec =
        pszEncoder != nullptr ? avcodec_find_encoder_by_name(pszEncoder) : nullptr;
    if (pCodec == nullptr) return NS_E_INVALID_OUTPUT_FORMAT;
    const int nQuality = rate.nQuality < 0 ? container.nDefaultQuality : rate.nQuality;
    if (!rate.bBitRate && nQuality > container.nMaxQuality) return E_INVALIDARG;
    m_pCodec.reset(avcodec_alloc_context3(pCodec));
    m_pPacket.reset(av_packet_alloc());
    if (!m_pCodec || !m_pPacket) return E_OUTOFMEMORY;

    AVCodecContext* c = m_pCodec.get();
    c->width = format.PaddedWidth();
    c->height = format.PaddedHeight();
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    // What the converter's scaler gives: BT.601 in the limited range.
    c->color_range = AVCOL_RANGE_MPEG;
    c->colorspace = AVCOL_SPC_SMPTE170M;
    c->time_base = kNtscTimeBase;
    c->framerate = kNtscFrameRate;
    // One thread a core of the budget. Left to itself x264 takes half as many again, to keep the
    // cores busy while its frame threads wait for each other; here the decoder and the reader's
    // conversion fill them, and each frame thread holds pictures of its own.
    c->thread_count = ThreadBudget();
    if (bGlobalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    COptions options;
    SetSpeedOptions(pCodec->id, &options.p);
    SetMemoryBounds(c, &options.p);
    if (rate.bBitRate) {
        c->bit_rate = ChosenBitRate(format, rate);
    } else {
        av_dict_set_int(&options.p, "crf", nQuality, 0);
        c->bit_rate = 0;  // VP9: constant quality, no bit-rate cap
    }
    const int err = avcodec_open2(c, pCodec, &options.p);
    if (err < 0) return err == AVERROR(ENOMEM) ? E_OUTOFMEMORY : NS_E_INVALID_OUTPUT_FORMAT;
    return S_OK;
}

HRESULT CWriterEncoder::OpenWindowsMediaCodec(const WriterVideoFormat& format,
                                              const WriterRateControl& rate) {
    m_bCountsPictures = true;
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
    c->bit_rate = ChosenBitRate(format, rate);
    c->gop_size = static_cast<int>(
        std::clamp<REFERENCE_TIME>((kKeyFrameSpacing + nFrameTime / 2) / nFrameTime, 1, 600));
    c->max_b_frames = 0;                      // packets come out in input order
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;  // ASF carries the codec data in its header
    const int err = avcodec_open2(c, pCodec, nullptr);
    if (err < 0) return err == AVERROR(ENOMEM) ? E_OUTOFMEMORY : NS_E_INVALID_OUTPUT_FORMAT;
    return S_OK;
}

HRESULT CWriterEncoder::OpenContainer(const std::string& path, const WriterContainer& container) {
    AVFormatContext* pRaw = nullptr;
    int err = avformat_alloc_output_context2(&pRaw, nullptr, container.pszMuxer, nullptr);
    if (err < 0 || pRaw == nullptr) return StatusFromAvError(err < 0 ? err : AVERROR(ENOMEM), 0);
    m_pContainer.reset(pRaw);

    m_pStream = avformat_new_stream(pRaw, nullptr);
    if (m_pStream == nullptr) return E_OUTOFMEMORY;
    m_pStream->time_base = m_bCountsPictures ? kSampleTimeBase : kNtscTimeBase;
    m_pStream->avg_frame_rate = m_pCodec->framerate;
    m_pStream->r_frame_rate = m_pCodec->framerate;
    err = avcodec_parameters_from_context(m_pStream->codecpar, m_pCodec.get());
    if (err < 0) return StatusFromAvError(err, 0);

    // "file:" keeps a colon in the name from being read as a protocol. The muxer may open the
    // file again by its url (to move the index in front).
    const std::string url = "file:" + path;
    pRaw->url = av_strdup(url.c_str());
    if (pRaw->url == nullptr) return E_OUTOFMEMORY;
    err = avio_open(&pRaw->pb, url.c_str(), AVIO_FLAG_WRITE);
    if (err < 0) return StatusFromFileError(err);
    COptions options;
    if (container.bFaststart) {
        av_dict_set(&options.p, "movflags", "faststart", 0);
        // The edit list that starts the pictures at their first time counts in the movie's
        // time scale: in ticks of 1/30000 s it is exact, in the default milliseconds it is not.
        av_dict_set(&options.p, "movie_timescale", "30000", 0);
    }
    err = avformat_write_header(pRaw, &options.p);
    if (err < 0) return StatusFromAvError(err, FileError());
    return S_OK;
}

int CWriterEncoder::FileError() const {
    return m_pContainer && m_pContainer->pb != nullptr ? m_pContainer->pb->error : 0;
}

HRESULT CWriterEncoder::Encode(AVFrame* pPicture, REFERENCE_TIME time) {
    if (m_bFinished) return NS_E_INVALID_REQUEST;
    pPicture->pts = m_bCountsPictures ? m_nFramesSent : NtscTicks(time);
    const int err = avcodec_send_frame(m_pCodec.get(), pPicture);
    if (err < 0) return StatusFromAvError(err, 0);
    if (m_bCountsPictures) m_times.push_back(time);
    ++m_nFramesSent;
    return Drain();
}

HRESULT CWriterEncoder::Drain() {
    for (;;) {
        int err = avcodec_receive_packet(m_pCodec.get(), m_pPacket.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return S_OK;
        if (err < 0) return StatusFromAvError(err, 0);
        if (m_bCountsPictures) {
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
        } else {
            // Stamped by the encoder in the codec's time base; each picture lasts one frame.
            m_pPacket->duration = kNtscFrameRate.den;
            av_packet_rescale_ts(m_pPacket.get(), m_pCodec->time_base, m_pStream->time_base);
        }
        m_pPacket->stream_index = m_pStream->index;
        // Takes the packet's data; the packet comes back empty.
        err = av_interleaved_write_frame(m_pContainer.get(), m_pPacket.get());
        if (err < 0) return StatusFromAvError(err, FileError());
    }
}

HRESULT CWriterEncoder::Finish() {
    if (m_bFinished) return NS_E_INVALID_REQUEST;
    m_bFinished = true;
    int err = avcodec_send_frame(m_pCodec.get(), nullptr);
    if (err < 0 && err != AVERROR_EOF) return StatusFromAvError(err, 0);
    HRESULT hr = Drain();
    if (FAILED(hr)) return hr;
    err = av_write_trailer(m_pContainer.get());
    if (err < 0) return StatusFromAvError(err, FileError());
    AVIOContext* pFile = m_pContainer->pb;
    avio_flush(pFile);
    // A write that failed on the way (a full disk) is only known here.
    const int ioError = pFile->error;
    err = avio_closep(&m_pContainer->pb);
    if (ioError < 0) return StatusFromFileError(ioError);
    if (err < 0) return StatusFromFileError(err);
    return S_OK;
}

}  // namespace wmf
