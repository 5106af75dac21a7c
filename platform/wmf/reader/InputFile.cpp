// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/reader/InputFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>

#include <sys/stat.h>

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/mathematics.h>
}

#include "platform/wmf/StillImages.h"
#include "platform/wmf/reader/SampleClock.h"
#include "platform/wmf/shared/ReaderStatus.h"
#include "platform/wmf/shared/Runtime.h"

namespace wmf {
namespace {

constexpr AVRational k100ns = {1, 10000000};
// Opening (probing included) and each packet read must finish within these.
constexpr int64_t kOpenDeadlineSeconds = 20;
constexpr int64_t kReadDeadlineSeconds = 10;
// Bounds of the probe: bytes, and stream time in microseconds.
constexpr const char* kProbeSize = "5000000";
constexpr const char* kAnalyzeDuration = "5000000";

// Whether a video stream's picture fits the frame ceiling (sizes not known yet pass).
bool FitsFrameCeiling(const AVStream& stream) {
    const AVCodecParameters& par = *stream.codecpar;
    if (par.codec_type != AVMEDIA_TYPE_VIDEO ||
        (stream.disposition & AV_DISPOSITION_ATTACHED_PIC)) {
        return true;
    }
    return par.width <= kMaxFrameSide && par.height <= kMaxFrameSide &&
           static_cast<int64_t>(par.width) * par.height <= kMaxFramePixels;
}

bool AllFitFrameCeiling(const AVFormatContext& context) {
    for (unsigned i = 0; i < context.nb_streams; ++i) {
        if (!FitsFrameCeiling(*context.streams[i])) return false;
    }
    return true;
}

int64_t SteadyNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

DWORD ClampedBitRate(int64_t bitRate) {
    return static_cast<DWORD>(std::clamp<int64_t>(bitRate, 0, 0xFFFFFFFF));
}

DWORD VideoFourcc(const AVCodecParameters& par) {
    if (par.codec_tag != 0) return par.codec_tag;
    const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
    return av_codec_get_tag(tables, par.codec_id);
}

WORD AudioFormatTag(const AVCodecParameters& par) {
    if (par.codec_tag != 0 && par.codec_tag <= 0xFFFF) return static_cast<WORD>(par.codec_tag);
    const AVCodecTag* const tables[] = {avformat_get_riff_audio_tags(), nullptr};
    return static_cast<WORD>(av_codec_get_tag(tables, par.codec_id));
}

StreamDescription Describe(WORD number, const AVStream& stream) {
    const AVCodecParameters& par = *stream.codecpar;
    if (par.codec_type == AVMEDIA_TYPE_VIDEO && par.width > 0 && par.height > 0) {
        VideoStreamInfo info;
        info.nWidth = par.width;
        info.nHeight = par.height;
        info.dwFourcc = VideoFourcc(par);
        info.dwBitRate = ClampedBitRate(par.bit_rate);
        info.nAvgTimePerFrame = FrameTimeOf(stream);
        return DescribeVideoStream(number, info);
    }
    if (par.codec_type == AVMEDIA_TYPE_AUDIO) {
        AudioStreamInfo info;
        info.format.wFormatTag = AudioFormatTag(par);
        info.format.nChannels = static_cast<WORD>(std::clamp(par.ch_layout.nb_channels, 0, 0xFFFF));
        info.format.nSamplesPerSec = static_cast<DWORD>(std::max(par.sample_rate, 0));
        info.format.nAvgBytesPerSec = ClampedBitRate(par.bit_rate / 8);
        info.format.nBlockAlign = static_cast<WORD>(std::clamp(par.block_align, 0, 0xFFFF));
        info.format.wBitsPerSample =
            static_cast<WORD>(std::clamp(par.bits_per_coded_sample, 0, 0xFFFF));
        if (par.extradata != nullptr && par.extradata_size > 0) {
            info.codecData.assign(par.extradata, par.extradata + par.extradata_size);
        }
        return DescribeAudioStream(number, info);
    }
    return DescribeOtherStream(number, par.codec_tag);
}

}  // namespace

CInputFile::CInputFile(dev_t device, ino_t inode) : m_device(device), m_inode(inode) {
    RegisterOpenInput(m_device, m_inode);
}

CInputFile::~CInputFile() {
    m_pContext.reset();
    m_pIo.reset();
    UnregisterOpenInput(m_device, m_inode);
}

HRESULT CInputFile::Open(const std::string& path, std::unique_ptr<CInputFile>* ppFile) {
    if (ppFile == nullptr) return E_POINTER;
    ppFile->reset();
    std::vector<std::string> stills;
    if (IsStillImageSequence(path)) {
        stills = ListStillImages(path);
        if (stills.empty()) return NS_E_FILE_NOT_FOUND;
    }
    // A sequence of stills is described by its first image and registered by it.
    const std::string& first = stills.empty() ? path : stills.front();
    struct stat info {};
    if (::stat(first.c_str(), &info) != 0) return StatusFromReadError(AVERROR(errno));
    // Directories, pipes, devices: nothing FFmpeg could read as a file, and a pipe would block.
    if (!S_ISREG(info.st_mode)) return E_INVALIDARG;

    std::unique_ptr<CInputFile> file(new CInputFile(info.st_dev, info.st_ino));
    file->m_stills = std::move(stills);
    file->m_stillRate = av_d2q(StillImageRate(), 1001000);
    file->ArmDeadline(kOpenDeadlineSeconds);
    AVFormatContext* context = nullptr;
    IoContextHolder pIo;
    int result = file->OpenContext(first, &pIo, &context);
    // The demuxer's own code is no cause: it gives -1, AVERROR(EIO) or AVERROR(ENOMEM) for
    // damaged content as readily as AVERROR_INVALIDDATA. Only the open of the bytes and the
    // reads they record name one.
    if (result < 0) return StatusFromReadError(pIo ? pIo->error : result);
    file->m_pIo = std::move(pIo);
    AVIOContext* const pFileIo = file->m_pIo.get();
    file->m_pContext.reset(context);
    // A header that claims a picture no real video has is refused before anything is decoded;
    // the probe's decoders get the same ceiling, for sizes that only the pictures tell.
    if (!AllFitFrameCeiling(*context)) return NS_E_INVALID_INPUT_FORMAT;
    std::vector<AVDictionary*> probeOptions(context->nb_streams, nullptr);
    for (AVDictionary*& streamOptions : probeOptions) {
        av_dict_set_int(&streamOptions, "max_pixels", kMaxFramePixels, 0);
    }
    result = avformat_find_stream_info(context, probeOptions.data());
    for (AVDictionary*& streamOptions : probeOptions) av_dict_free(&streamOptions);
    if (result < 0) return StatusFromReadError(pFileIo->error);
    if (!AllFitFrameCeiling(*context)) return NS_E_INVALID_INPUT_FORMAT;
    if (!file->m_stills.empty()) {
        // One frame per image at the rate of stills, from 0.
        if (context->nb_streams != 1) return NS_E_INVALID_INPUT_FORMAT;
        context->streams[0]->avg_frame_rate = context->streams[0]->r_frame_rate = file->m_stillRate;
        file->m_nDuration = av_rescale_q(static_cast<int64_t>(file->m_stills.size()),
                                         av_inv_q(file->m_stillRate), k100ns);
        file->DescribeStreams();
        *ppFile = std::move(file);
        return S_OK;
    }
    if (context->start_time != AV_NOPTS_VALUE) {
        file->m_nStartTime = av_rescale_q(context->start_time, AV_TIME_BASE_Q, k100ns);
    }
    if (context->duration != AV_NOPTS_VALUE && context->duration > 0) {
        file->m_nDuration = av_rescale_q(context->duration, AV_TIME_BASE_Q, k100ns);
    }
    file->DescribeStreams();
    *ppFile = std::move(file);
    return S_OK;
}

void CInputFile::DescribeStreams() {
    m_numberOfIndex.assign(m_pContext->nb_streams, 0);
    for (unsigned i = 0; i < m_pContext->nb_streams && i < 0xFFFF; ++i) {
        AVStream* stream = m_pContext->streams[i];
        // Cover art is not a stream of the file; its packet is never read.
        if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) {
            stream->discard = AVDISCARD_ALL;
            continue;
        }
        m_streams.push_back(Describe(static_cast<WORD>(i + 1), *stream));
        m_streamIndexes.push_back(static_cast<int>(i));
        m_numberOfIndex[i] = static_cast<WORD>(i + 1);
    }
}

AVStream* CInputFile::StreamByNumber(WORD wStreamNumber) const {
    const int position = ProfileIndex(wStreamNumber);
    return position < 0 ? nullptr : m_pContext->streams[m_streamIndexes[position]];
}

int CInputFile::ProfileIndex(WORD wStreamNumber) const {
    for (size_t i = 0; i < m_streams.size(); ++i) {
        if (m_streams[i].wStreamNumber == wStreamNumber) return static_cast<int>(i);
    }
    return -1;
}

WORD CInputFile::NumberOfIndex(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= m_numberOfIndex.size()) return 0;
    return m_numberOfIndex[index];
}

int CInputFile::OpenContext(const std::string& path, IoContextHolder* pIo,
                            AVFormatContext** ppContext) {
    *ppContext = nullptr;
    const AVIOInterruptCB interrupt = {&CInputFile::OnInterruptCheck, this};
    // The bytes come through an I/O context of our own: its open and the reads that it records
    // are the system's part, the only one whose errors name a cause. The "file:" prefix keeps
    // names with a colon from being taken for other protocols.
    const std::string url = "file:" + path;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVIOContext* pOpened = nullptr;
    int result = avio_open2(&pOpened, url.c_str(), AVIO_FLAG_READ, &interrupt, &options);
    av_dict_free(&options);
    if (result < 0) return result;
    pIo->reset(pOpened);

    AVFormatContext* context = avformat_alloc_context();
    if (context == nullptr) return AVERROR(ENOMEM);
    context->pb = pOpened;  // stays ours: FFmpeg neither closes nor frees it
    context->interrupt_callback = interrupt;
    av_dict_set(&options, "probesize", kProbeSize, 0);
    av_dict_set(&options, "analyzeduration", kAnalyzeDuration, 0);
    // Only the file itself: no playlist or reference inside it may open other protocols.
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    // The image demuxers stamp their one picture at 0 in a time base of 1 / this.
    if (!m_stills.empty()) {
        av_dict_set(
            &options, "framerate",
            (std::to_string(m_stillRate.num) + "/" + std::to_string(m_stillRate.den)).c_str(), 0);
    }
    result = avformat_open_input(&context, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (result < 0) return result;  // FFmpeg freed the context
    *ppContext = context;
    return 0;
}

bool CInputFile::AtEnd() const {
    if (!m_stills.empty()) return m_nNextStill >= m_stills.size();
    return m_pContext->pb != nullptr && avio_feof(m_pContext->pb);
}

int CInputFile::ReadPacket(AVPacket* pPacket) {
    ArmDeadline(kReadDeadlineSeconds);
    if (!m_stills.empty()) return ReadStill(pPacket);
    return av_read_frame(m_pContext.get(), pPacket);
}

int CInputFile::ReadStill(AVPacket* pPacket) {
    const AVStream& described = *m_pContext->streams[0];
    while (m_nNextStill < m_stills.size()) {
        const size_t index = m_nNextStill++;
        // The first image's demuxer describes the stream and stays open; the others are opened
        // and closed in turn.
        IoContextHolder pImageIo;
        InputContextHolder pImage;  // goes before its bytes
        AVFormatContext* context = m_pContext.get();
        if (index > 0) {
            AVFormatContext* opened = nullptr;
            const int result = OpenContext(m_stills[index], &pImageIo, &opened);
            if (result == AVERROR_EXIT) return result;
            pImage.reset(opened);
            // An image that cannot be read, or of another kind than the first (whose decoder
            // reads them all), is left out; the next one takes its place.
            if (result < 0 || opened->nb_streams != 1 ||
                opened->streams[0]->codecpar->codec_id != described.codecpar->codec_id) {
                continue;
            }
            context = opened;
        }
        const int result = av_read_frame(context, pPacket);
        if (result == AVERROR_EXIT) return result;
        if (result < 0) continue;
        pPacket->stream_index = 0;
        pPacket->pts = pPacket->dts =
            av_rescale_q(m_nStillFrames++, av_inv_q(m_stillRate), described.time_base);
        pPacket->duration = av_rescale_q(1, av_inv_q(m_stillRate), described.time_base);
        pPacket->flags |= AV_PKT_FLAG_KEY;
        return 0;
    }
    return AVERROR_EOF;
}

void CInputFile::ArmDeadline(int64_t seconds) { m_nDeadline = SteadyNow() + seconds * 1000000000; }

int CInputFile::OnInterruptCheck(void* opaque) {
    auto* file = static_cast<CInputFile*>(opaque);
    return file->m_bInterrupted || SteadyNow() > file->m_nDeadline ? 1 : 0;
}

}  // namespace wmf
