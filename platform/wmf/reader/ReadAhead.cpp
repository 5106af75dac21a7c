// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/reader/ReadAhead.h"

#include <utility>

namespace wmf {
namespace {

// Samples queued ahead of the caller before the thread waits, and the bytes they may hold (the
// thread queues one sample whatever its size). The caller measures a frame in less time than the
// decoder takes to make one, and the converter has the next frames on their way, so a deeper
// queue would hold frames without gaining speed.
constexpr size_t kReadAhead = 1;
constexpr size_t kReadAheadBytes = size_t{16} << 20;
// Idle frame blocks the pool keeps for the frames to come. The caller gives frames back in
// bursts (the processor, a window at a time); blocks kept for the frames read next add nothing
// to the most the run holds at once, while blocks given back and made again cost page faults.
constexpr size_t kPoolKeep = 24;
constexpr size_t kPoolKeepBytes = size_t{192} << 20;

size_t BytesOf(const ReadySample& ready) {
    DWORD length = 0;
    if (ready.pSample) ready.pSample->GetMaxLength(&length);
    return length;
}
// Unreadable packets in a row after which the rest of the file counts as unreadable.
constexpr int kMaxReadFailures = 1000;

}  // namespace

CReadAhead::CReadAhead(std::unique_ptr<CInputFile> pFile)
    : m_pFile(std::move(pFile)),
      m_pPool(CFramePool::Create(kPoolKeep, kPoolKeepBytes)),
      m_streams(m_pFile->Streams().size()) {}

CReadAhead::~CReadAhead() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bStop = true;
    }
    m_pFile->Interrupt();
    m_readerWake.notify_all();
    if (m_thread.joinable()) m_thread.join();
    // The decoders' converters deliver into the queues: stop them while the queues still exist.
    for (StreamState& stream : m_streams) stream.pDecoder.reset();
}

void CReadAhead::Select(WORD wStreamNumber, WMT_STREAM_SELECTION selection) {
    const int position = m_pFile->ProfileIndex(wStreamNumber);
    if (position < 0) return;
    std::lock_guard<std::mutex> guard(m_lock);
    StreamState& stream = m_streams[position];
    stream.selection = selection;
    if (selection == WMT_OFF) {
        m_nQueued -= stream.queue.size();
        for (const auto& queued : stream.queue) m_nQueuedBytes -= BytesOf(queued.second);
        stream.queue.clear();
        m_readerWake.notify_all();
    }
}

WMT_STREAM_SELECTION CReadAhead::Selection(WORD wStreamNumber) {
    const int position = m_pFile->ProfileIndex(wStreamNumber);
    if (position < 0) return WMT_OFF;
    std::lock_guard<std::mutex> guard(m_lock);
    return m_streams[position].selection;
}

void CReadAhead::SetCompressed(WORD wStreamNumber, bool bCompressed) {
    const int position = m_pFile->ProfileIndex(wStreamNumber);
    if (position < 0) return;
    std::lock_guard<std::mutex> guard(m_lock);
    m_streams[position].bCompressed = bCompressed;
}

HRESULT CReadAhead::Next(WORD wStreamNumber, ReadySample* pReady) {
    const int wanted = wStreamNumber == 0 ? -1 : m_pFile->ProfileIndex(wStreamNumber);
    std::unique_lock<std::mutex> lock(m_lock);
    if (!m_thread.joinable() && !m_bEnded) m_thread = std::thread(&CReadAhead::Run, this);
    for (;;) {
        StreamState* from = nullptr;
        for (size_t i = 0; i < m_streams.size(); ++i) {
            StreamState& stream = m_streams[i];
            if ((wanted >= 0 && static_cast<size_t>(wanted) != i) || stream.queue.empty()) continue;
            if (from == nullptr || stream.queue.front().first < from->queue.front().first) {
                from = &stream;
            }
        }
        if (from != nullptr) {
            *pReady = std::move(from->queue.front().second);
            from->queue.pop_front();
            --m_nQueued;
            m_nQueuedBytes -= BytesOf(*pReady);
            m_bCallerWaiting = false;
            m_readerWake.notify_all();
            return S_OK;
        }
        if (m_bEnded) return NS_E_NO_MORE_SAMPLES;
        m_bCallerWaiting = true;
        m_readerWake.notify_all();
        m_callerWake.wait(lock);
    }
}

void CReadAhead::Run() {
    AvPacketHolder packet(av_packet_alloc());
    int failures = 0;
    while (packet) {
        {
            std::unique_lock<std::mutex> lock(m_lock);
            // Read on while the queue has room, or while the caller waits for a stream whose
            // samples are not queued yet (samples of other streams fill the queue meanwhile).
            m_readerWake.wait(lock, [this] {
                return m_bStop || m_bCallerWaiting ||
                       (m_nQueued < kReadAhead && m_nQueuedBytes < kReadAheadBytes);
            });
            if (m_bStop) return;
        }
        const int result = m_pFile->ReadPacket(packet.get());
        if (result == AVERROR_EOF) break;
        if (result == AVERROR(EAGAIN)) continue;
        if (result < 0) {
            // A damaged packet: skip it, unless the file has nothing more to give.
            if (m_pFile->AtEnd() || result == AVERROR_EXIT || ++failures > kMaxReadFailures) break;
            continue;
        }
        failures = 0;
        Route(*packet);
        av_packet_unref(packet.get());
    }
    Finish();
}

void CReadAhead::Route(const AVPacket& packet) {
    const WORD number = m_pFile->NumberOfIndex(packet.stream_index);
    if (number == 0) return;
    const size_t position = static_cast<size_t>(m_pFile->ProfileIndex(number));
    StreamState& stream = m_streams[position];
    WMT_STREAM_SELECTION selection;
    bool bCompressed;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        selection = stream.selection;
        bCompressed = stream.bCompressed;
    }
    if (selection == WMT_OFF) return;
    if (selection == WMT_CLEANPOINT_ONLY && !(packet.flags & AV_PKT_FLAG_KEY)) return;

    const StreamDescription& description = m_pFile->Streams()[position];
    const AVStream& avStream = *m_pFile->StreamByNumber(number);
    if (description.IsVideo() && !bCompressed) {
        if (!stream.pDecoder && !stream.bNoDecoder) {
            const auto* vih = reinterpret_cast<const WMVIDEOINFOHEADER*>(description.format.data());
            auto sink = [this, position](ReadySample&& ready) {
                Queue(position, std::move(ready));
            };
            stream.bNoDecoder = FAILED(
                CVideoDecoder::Create(avStream, vih->bmiHeader.biWidth, vih->bmiHeader.biHeight,
                                      m_pFile->StartTime(), m_pPool, sink, &stream.pDecoder));
        }
        if (stream.pDecoder) stream.pDecoder->Decode(packet);
        return;
    }
    ReadySample ready;
    ready.pSample.reset(NewPacketSample(&packet));
    if (!ready.pSample) return;
    if (!stream.packetClock) {
        stream.packetClock.emplace(avStream.time_base, m_pFile->StartTime(), FrameTimeOf(avStream));
    }
    stream.packetClock->Stamp(packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts,
                              packet.duration, &ready.cnsTime, &ready.cnsDuration);
    ready.dwFlags = (packet.flags & AV_PKT_FLAG_KEY) ? WM_SF_CLEANPOINT : 0;
    Queue(position, std::move(ready));
}

void CReadAhead::Queue(size_t position, ReadySample&& ready) {
    ready.wStreamNumber = m_pFile->Streams()[position].wStreamNumber;
    ready.dwOutputNum = static_cast<DWORD>(position);
    std::lock_guard<std::mutex> guard(m_lock);
    StreamState& stream = m_streams[position];
    if (stream.selection == WMT_OFF) return;
    m_nQueuedBytes += BytesOf(ready);
    stream.queue.emplace_back(m_nNextOrder++, std::move(ready));
    ++m_nQueued;
    m_callerWake.notify_all();
}

void CReadAhead::Finish() {
    // The pictures the decoders still hold come out now.
    for (StreamState& stream : m_streams) {
        if (!stream.pDecoder) continue;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_bStop) return;
        }
        stream.pDecoder->Finish();
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_bEnded = true;
    m_callerWake.notify_all();
}

}  // namespace wmf
