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
// until the last of them is released; it keeps at most `keep` idle blocks.
class CFramePool : public std::enable_shared_from_this<CFramePool> {
  public:
    static std::shared_ptr<CFramePool> Create(size_t keep);

    // A sample of exactly `length` bytes (contents undefined) with one reference for the
    // caller; null when memory runs out. Its bytes are aligned for vector instructions.
    CSampleBase* NewSample(DWORD length);

  private:
    friend class CPooledSample;
    explicit CFramePool(size_t keep) : m_nKeep(keep) {}
    AlignedBytes Take(DWORD length);
    void Give(AlignedBytes bytes, DWORD length);

    const size_t m_nKeep;
    std::mutex m_lock;
    std::vector<std::pair<DWORD, AlignedBytes>> m_idle;
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
