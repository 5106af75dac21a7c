// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/shared/Runtime.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include <malloc.h>
#include <sched.h>

#include "platform/wmf/ThreadBudget.h"

HRESULT CoInitialize(void* /*pvReserved*/) { return S_OK; }

namespace wmf {
namespace {

std::mutex& Lock() {
    static std::mutex lock;
    return lock;
}

std::map<std::pair<dev_t, ino_t>, int>& Registry() {
    static std::map<std::pair<dev_t, ino_t>, int> registry;
    return registry;
}

}  // namespace

bool NarrowFromWide(LPCWSTR pwszText, std::string* pNarrow) {
    if (pwszText == nullptr || pNarrow == nullptr) return false;
    std::string narrow;
    for (const WCHAR* p = pwszText; *p != L'\0'; ++p) {
        if (*p < 0 || *p > 0xFF) return false;
        narrow.push_back(static_cast<char>(static_cast<unsigned char>(*p)));
    }
    *pNarrow = std::move(narrow);
    return true;
}

void RegisterOpenInput(dev_t device, ino_t inode) {
    std::lock_guard<std::mutex> guard(Lock());
    ++Registry()[{device, inode}];
}

void UnregisterOpenInput(dev_t device, ino_t inode) {
    std::lock_guard<std::mutex> guard(Lock());
    auto it = Registry().find({device, inode});
    if (it != Registry().end() && --it->second <= 0) Registry().erase(it);
}

bool IsOpenInput(dev_t device, ino_t inode) {
    std::lock_guard<std::mutex> guard(Lock());
    return Registry().count({device, inode}) != 0;
}

namespace {
std::atomic<int> g_nThreadBudget{0};
}  // namespace

void SetThreadBudget(int nThreads) { g_nThreadBudget.store(std::max(1, nThreads)); }

int ThreadBudget() {
    const int nBudget = g_nThreadBudget.load();
    if (nBudget > 0) return nBudget;
    // The cores this process may run on (a job scheduler may give it fewer than the machine has).
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (sched_getaffinity(0, sizeof cores, &cores) == 0) return std::max(1, CPU_COUNT(&cores));
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

int DecoderThreads() { return std::max(1, ThreadBudget() - 1); }

void MapLargeBlocks() {
    static std::once_flag once;
    std::call_once(once, [] { mallopt(M_MMAP_THRESHOLD, 1 << 20); });
}

}  // namespace wmf
