#include "platform/wmf/reader/ReaderSamples.h"

#include <new>

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/mem.h>
}

#include "platform/wmf/shared/FFmpegHolders.h"

namespace wmf {

void AlignedFree::operator()(BYTE* p) const { av_free(p); }

// A decoded frame's sample; its block goes back to the pool at the last Release.
class CPooledSample final : public CSampleBase {
  public:
    CPooledSample(std::shared_ptr<CFramePool> pPool, AlignedBytes pBytes, DWORD length)
        : CSampleBase(pBytes.get(), length),
          m_pPool(std::move(pPool)),
          m_pBytes(std::move(pBytes)),
          m_dwLength(length) {}

  private:
    ~CPooledSample() override { m_pPool->Give(std::move(m_pBytes), m_dwLength); }

    std::shared_ptr<CFramePool> m_pPool;
    AlignedBytes m_pBytes;
    DWORD m_dwLength;
};

std::shared_ptr<CFramePool> CFramePool::Create(size_t keep) {
    return std::shared_ptr<CFramePool>(new CFramePool(keep));
}

CSampleBase* CFramePool::NewSample(DWORD length) {
    AlignedBytes bytes = Take(length);
    if (!bytes) return nullptr;
    return new (std::nothrow) CPooledSample(shared_from_this(), std::move(bytes), length);
}

AlignedBytes CFramePool::Take(DWORD length) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (auto it = m_idle.begin(); it != m_idle.end(); ++it) {
            if (it->first == length) {
                AlignedBytes bytes = std::move(it->second);
                m_idle.erase(it);
                return bytes;
            }
        }
    }
    return AlignedBytes(static_cast<BYTE*>(av_malloc(length == 0 ? 1 : length)));
}

void CFramePool::Give(AlignedBytes bytes, DWORD length) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_idle.size() >= m_nKeep) m_idle.erase(m_idle.begin());
    m_idle.emplace_back(length, std::move(bytes));
}

namespace {

// Holds its own reference to the packet's data.
class CPacketSample final : public CSampleBase {
  public:
    explicit CPacketSample(AvPacketHolder pPacket)
        : CSampleBase(pPacket->data, static_cast<DWORD>(pPacket->size)),
          m_pPacket(std::move(pPacket)) {}

  private:
    ~CPacketSample() override = default;
    AvPacketHolder m_pPacket;
};

}  // namespace

CSampleBase* NewPacketSample(const AVPacket* pPacket) {
    AvPacketHolder copy(av_packet_alloc());
    if (!copy || av_packet_ref(copy.get(), pPacket) < 0 ||
        av_packet_make_writable(copy.get()) < 0) {
        return nullptr;
    }
    return new (std::nothrow) CPacketSample(std::move(copy));
}

}  // namespace wmf
