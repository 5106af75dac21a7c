// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/reader/ReaderSamples.h"

#include <atomic>
#include <cstring>
#include <new>

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/mem.h>
}

#include "platform/wmf/shared/FFmpegHolders.h"

namespace wmf {

void AlignedFree::operator()(BYTE* p) const { av_free(p); }

namespace {

// Guard bytes on each side of a block's sample in guard mode; a multiple of the alignment that
// vector code expects, so the sample's bytes stay aligned.
constexpr size_t kGuardBytes = 64;
constexpr BYTE kGuardValue = 0xA5;

std::atomic<bool> g_bGuardMode{false};
std::atomic<unsigned> g_nGuardFaults{0};

bool GuardsIntact(const BYTE* pBase, DWORD length) {
    const BYTE* pAfter = pBase + kGuardBytes + length;
    for (size_t i = 0; i < kGuardBytes; ++i) {
        if (pBase[i] != kGuardValue || pAfter[i] != kGuardValue) return false;
    }
    return true;
}

}  // namespace

// A decoded frame's sample; its block goes back to the pool at the last Release.
class CPooledSample final : public CSampleBase {
  public:
    CPooledSample(std::shared_ptr<CFramePool> pPool, CFramePool::Block block)
        : CSampleBase(block.pBase.get() + pPool->Offset(), block.length),
          m_pPool(std::move(pPool)),
          m_block(std::move(block)) {}

    const AVFrame* Picture() const override { return m_pPicture.get(); }
    bool KeepPicture(const AVFrame& picture) override {
        m_pPicture.reset(av_frame_clone(&picture));
        return m_pPicture != nullptr;
    }

    void CheckGuards() const {
        if (m_pPool->m_bGuards && !GuardsIntact(m_block.pBase.get(), m_block.length)) {
            g_nGuardFaults.fetch_add(1);
        }
    }

  private:
    ~CPooledSample() override { m_pPool->Give(std::move(m_block)); }

    std::shared_ptr<CFramePool> m_pPool;
    CFramePool::Block m_block;
    AvFrameHolder m_pPicture;  // the decoded picture of the bytes, when kept
};

std::shared_ptr<CFramePool> CFramePool::Create(size_t keep, size_t keepBytes) {
    return std::shared_ptr<CFramePool>(new CFramePool(keep, keepBytes, g_bGuardMode.load()));
}

void CFramePool::SetGuardMode(bool bOn) { g_bGuardMode.store(bOn); }

unsigned CFramePool::GuardFaults() { return g_nGuardFaults.load(); }

void CFramePool::CheckGuards(CSampleBase* pSample) {
    if (const auto* pPooled = dynamic_cast<const CPooledSample*>(pSample)) pPooled->CheckGuards();
}

size_t CFramePool::Offset() const { return m_bGuards ? kGuardBytes : 0; }

CSampleBase* CFramePool::NewSample(DWORD length) {
    Block block = Take(length);
    if (!block.pBase) return nullptr;
    return new (std::nothrow) CPooledSample(shared_from_this(), std::move(block));
}

CFramePool::Block CFramePool::Take(DWORD length) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (auto it = m_idle.begin(); it != m_idle.end(); ++it) {
            if (it->length == length) {
                Block block = std::move(*it);
                m_idle.erase(it);
                m_nIdleBytes -= length;
                return block;
            }
        }
    }
    const size_t size = static_cast<size_t>(length) + 2 * Offset();
    Block block{AlignedBytes(static_cast<BYTE*>(av_malloc(size == 0 ? 1 : size))), length};
    if (block.pBase && m_bGuards) std::memset(block.pBase.get(), kGuardValue, size);
    return block;
}

void CFramePool::Give(Block block) {
    if (m_bGuards && !GuardsIntact(block.pBase.get(), block.length)) {
        g_nGuardFaults.fetch_add(1);
        return;  // a damaged block is not handed out again
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_nIdleBytes += block.length;
    m_idle.push_back(std::move(block));
    while (!m_idle.empty() && (m_idle.size() > m_nKeep || m_nIdleBytes > m_nKeepBytes)) {
        m_nIdleBytes -= m_idle.front().length;
        m_idle.erase(m_idle.begin());
    }
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
