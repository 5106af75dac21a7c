// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a file's selected streams ahead of the caller, on a thread of its own.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/wmf/reader/InputFile.h"
#include "platform/wmf/reader/ReaderSamples.h"
#include "platform/wmf/reader/SampleClock.h"
#include "platform/wmf/reader/VideoDecoder.h"

namespace wmf {

// Owns an open input and, from the first Next on, a thread that reads its packets in file
// order, decodes the video streams that are asked for decoded, and queues the samples of the
// selected streams, a few ahead of the caller, so that decoding overlaps the caller's work.
// Other streams, and video asked for compressed, come as stored (one packet a sample).
//
// Memory, in frames: the thread reads no further while a sample is queued (unless the caller
// waits for a stream that has none), and the converter holds one decoded picture waiting and one
// being converted into its frame, which it queues all the same. So the reader holds at most 3
// frames of its own, 2 decoded pictures besides the decoder's references (the decoder has one
// picture in flight per frame thread, and none of them beyond 4K, see CVideoDecoder), and idle
// frame blocks in its pool, at most 24 and 192 MiB of them, which only stand for frames it held
// before. No frame is larger than CInputFile allows.
//
// Every stream starts selected (WMT_ON) and decoded. WMT_CLEANPOINT_ONLY passes key frames
// only; WMT_OFF drops the stream, its queued samples included. Selections and compression may
// change at any time and apply to the packets read after the change.
//
// Next hands out the earliest queued sample of the given stream (0: of any stream), waiting for
// the thread when none is queued; the caller owns the sample's reference. Once the file is read
// to its end (or cannot be read any further: unreadable packets are skipped, but not forever)
// and the queue is empty, Next gives NS_E_NO_MORE_SAMPLES, then and on every later call.
// Destruction stops the thread, releases the queued samples and closes the file; samples handed
// out stay valid until their holders release them.
class CReadAhead {
  public:
    explicit CReadAhead(std::unique_ptr<CInputFile> pFile);
    ~CReadAhead();
    CReadAhead(const CReadAhead&) = delete;
    CReadAhead& operator=(const CReadAhead&) = delete;

    const CInputFile& File() const { return *m_pFile; }

    // wStreamNumber must be a stream of the file.
    void Select(WORD wStreamNumber, WMT_STREAM_SELECTION selection);
    WMT_STREAM_SELECTION Selection(WORD wStreamNumber);
    void SetCompressed(WORD wStreamNumber, bool bCompressed);

    HRESULT Next(WORD wStreamNumber, ReadySample* pReady);

  private:
    struct StreamState {
        // Guarded by m_lock.
        WMT_STREAM_SELECTION selection = WMT_ON;
        bool bCompressed = false;
        std::deque<std::pair<uint64_t, ReadySample>> queue;  // with the order of queueing
        // Used by the reading thread only.
        std::unique_ptr<CVideoDecoder> pDecoder;
        bool bNoDecoder = false;
        std::optional<CSampleClock> packetClock;
    };

    void Run();
    void Route(const AVPacket& packet);
    void Queue(size_t position, ReadySample&& ready);
    void Finish();

    std::unique_ptr<CInputFile> m_pFile;
    std::shared_ptr<CFramePool> m_pPool;
    std::vector<StreamState> m_streams;  // profile order

    std::mutex m_lock;
    std::condition_variable m_readerWake;  // the thread may read on
    std::condition_variable m_callerWake;  // a sample was queued, or the end was reached
    size_t m_nQueued = 0;
    size_t m_nQueuedBytes = 0;
    uint64_t m_nNextOrder = 0;
    bool m_bCallerWaiting = false;
    bool m_bStop = false;
    bool m_bEnded = false;
    std::thread m_thread;
};

}  // namespace wmf
