// Wide file names to the bytes the file system takes.
#pragma once

#include <string>

#include "platform/wmf/wmsdk.h"

namespace wmf {

// Byte-transparent narrowing: each wide character of 0..255 becomes the byte of that value, so
// names with accents reach the file system exactly as the narrow text they were widened from.
// False (and *pNarrow untouched) for a null name or a character above 255.
bool NarrowFromWide(LPCWSTR pwszText, std::string* pNarrow);

}  // namespace wmf
