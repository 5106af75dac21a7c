#include "platform/wmf/OpenInputs.h"

#include <map>
#include <mutex>
#include <utility>

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

}  // namespace wmf
