// The files that sync readers hold open, by device and inode, so that a writer can refuse to
// overwrite the input it would be reading from (Windows refuses that with a sharing violation).
#pragma once

#include <sys/types.h>

namespace wmf {

// Both calls are thread-safe. Registrations are counted: a file opened twice stays registered
// until both readers have closed it.
void RegisterOpenInput(dev_t device, ino_t inode);
void UnregisterOpenInput(dev_t device, ino_t inode);
bool IsOpenInput(dev_t device, ino_t inode);

}  // namespace wmf
