// SPDX-License-Identifier: GPL-3.0-or-later
// The samples a sync reader hands out: decoded frames in pooled memory, and packets as stored.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/wmf/shared/SampleBase.h"

struct AVPacket;

namespace wmf {

struct AlignedFree {
    void operator()(BYTE* p) const;
};
using AlignedBytes = std::unique_ptr<BYTE, AlignedFree>;

// Blocks of frame memory that released samples give back, so that reading a file does not
// allocate a frame for every frame. Thread-safe. Samples hold the pool (shared), so it lives
// until the last of them is released; it keeps at most `keep` idle blocks and at most
// `keepBytes` bytes of them.
//
// Guard mode (off by default, for tests): every block gets guard bytes of a known pattern before
// and after the sample's bytes; CheckGuards, and the return of a block to the pool, count every
// block whose guards were overwritten. That is how writes past a frame by code that no sanitizer
// sees (FFmpeg's) are caught.
class CFramePool : public std::enable_shared_from_this<CFramePool> {
  public:
    static std::shared_ptr<CFramePool> Create(size_t keep, size_t keepBytes);

    // A sample of exactly `length` bytes (contents undefined) with one reference for the
    // caller; null when memory runs out. Its bytes are aligned for vector instructions.
    CSampleBase* NewSample(DWORD length);
    // Counts the sample (made by NewSample) as damaged when its guards were overwritten.
    static void CheckGuards(CSampleBase* pSample);

    // Guard mode for the pools made from now on.
    static void SetGuardMode(bool bOn);
    // Blocks found damaged since the program started.
    static unsigned GuardFaults();

  private:
    friend class CPooledSample;
    struct Block {
        AlignedBytes pBase;
        DWORD length = 0;
    };
    CFramePool(size_t keep, size_t keepBytes, bool bGuards)
        : m_nKeep(keep), m_nKeepBytes(keepBytes), m_bGuards(bGuards) {}
    Block Take(DWORD length);
    void Give(Block block);
    size_t Offset() const;

    const size_t m_nKeep;
    const size_t m_nKeepBytes;
    const bool m_bGuards;
    std::mutex m_lock;
    std::vector<Block> m_idle;
    size_t m_nIdleBytes = 0;
};

struct SampleReleaser {
    void operator()(INSSBuffer* p) const {
        if (p != nullptr) p->Release();
    }
};
// One counted reference to a sample.
using SampleRef = std::unique_ptr<INSSBuffer, SampleReleaser>;

// A sample ready to be handed out with what GetNextSample reports beside it.
struct ReadySample {
    SampleRef pSample;
    QWORD cnsTime = 0;
    QWORD cnsDuration = 0;
    DWORD dwFlags = 0;
    WORD wStreamNumber = 0;
    DWORD dwOutputNum = 0;
};

// A sample over a packet's data (a new reference to the packet, made writable). One reference
// for the caller; null when memory runs out.
CSampleBase* NewPacketSample(const AVPacket* pPacket);

}  // namespace wmf
