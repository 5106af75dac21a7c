// SPDX-License-Identifier: GPL-3.0-or-later
// Process-wide plumbing of the runtime layer: file names in the bytes the file system takes, and
// the files that sync readers hold open. (CoInitialize, declared in wmsdk.h, lives beside them.)
#pragma once

#include <string>

#include <sys/types.h>

#include "platform/wmf/wmsdk.h"

namespace wmf {

// Byte-transparent narrowing: each wide character of 0..255 becomes the byte of that value, so
// names with accents reach the file system exactly as the narrow text they were widened from.
// False (and *pNarrow untouched) for a null name or a character above 255.
bool NarrowFromWide(LPCWSTR pwszText, std::string* pNarrow);

// The files that sync readers hold open, by device and inode, so that a writer can refuse to
// overwrite the input it would be reading from (Windows refuses that with a sharing violation).
// The calls are thread-safe. Registrations are counted: a file opened twice stays registered
// until both readers have closed it.
void RegisterOpenInput(dev_t device, ino_t inode);
void UnregisterOpenInput(dev_t device, ino_t inode);
bool IsOpenInput(dev_t device, ino_t inode);

// Makes the C library map every block of 1 MiB and more (frames, pictures, encoder buffers) on
// its own and give it back when freed, for the whole process, once. By default glibc raises that
// threshold to the largest block freed so far, after which frames come from the heap, where the
// blocks freed by one thread's arena cannot serve another's: a whole run then holds a fifth more
// memory than its frames need. Called by the sync reader and the writer when they are made.
void MapLargeBlocks();

}  // namespace wmf
